#include "ui/ContinuousResume.h"

#include "app/OrvaUI.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include <algorithm>

namespace {

const QString intervalKey = QStringLiteral("continuousIntervalMs");

QSettings userSettings()
{
    return QSettings(OrvaUI::userSettingsPath(), QSettings::IniFormat);
}

}  // namespace

ContinuousResume::ContinuousResume(OrvaUI *window) : QObject(window), window(window)
{
    window->presetContinuousInterval(std::max(0, userSettings().value(intervalKey, 0).toInt()));
    connect(window, &OrvaUI::continuousMeasurementChanged, this, [this](bool running) {
        if (!running)
            return;
        interruptedMs = 0;
        userSettings().setValue(intervalKey, this->window->continuousIntervalMs());
    });
    connect(window, &OrvaUI::continuousMeasurementInterrupted, this,
            [this](int intervalMs) { interruptedMs = intervalMs; });
    connect(window, &OrvaUI::portOpened, this, &ContinuousResume::offerResume);
}

// Asked, not done: the probes on the port that came back may not be the ones measured before.
void ContinuousResume::offerResume()
{
    if (!interruptedMs)
        return;
    const int intervalMs = interruptedMs;
    interruptedMs = 0;
    auto *box = new QMessageBox(
        QMessageBox::Question, QStringLiteral("Непрерывное измерение"),
        QStringLiteral("Порт подключен снова. Возобновить непрерывное измерение, каждые %1 мс?")
            .arg(intervalMs),
        QMessageBox::Yes | QMessageBox::No, window);
    box->setObjectName(QStringLiteral("continuousResume"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box->button(QMessageBox::Yes), &QPushButton::clicked, this, [this, intervalMs] {
        if (window->port().isOpen() && !window->continuousMeasurementRunning())
            window->startContinuousMeasurement(intervalMs);
    });
    box->open();
}
