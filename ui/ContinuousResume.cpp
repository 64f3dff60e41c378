#include "ui/ContinuousResume.h"

#include "app/OrvaUI.h"
#include "ui/ContinuousMeasurement.h"

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
    ContinuousMeasurement &continuous = window->continuousMeasurement();
    continuous.presetInterval(std::max(0, userSettings().value(intervalKey, 0).toInt()));
    connect(&continuous, &ContinuousMeasurement::runningChanged, this, [this](bool running) {
        if (!running)
            return;
        interruptedMs = 0;
        userSettings().setValue(intervalKey, this->window->continuousMeasurement().intervalMs());
    });
    connect(&window->portEvents(), &PortEvents::continuousInterrupted, this,
            [this](int intervalMs) { interruptedMs = intervalMs; });
    connect(&window->portEvents(), &PortEvents::opened, this, &ContinuousResume::offerResume);
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
    connect(box->button(QMessageBox::Yes), &QPushButton::clicked, this,
            [this, intervalMs] { window->continuousMeasurement().start(intervalMs); });
    box->open();
}
