#include "app/OrvaUI.h"
#include "protocol/Schedule.h"
#include "ui/ProbePanels.h"

#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>

#include <cmath>

// The "Приборы" menu: the bus scan, which offers its finds for the address fields, and the
// continuous measurement, which repeats the "Запуск измерения" round. Dialogs are opened, not
// executed: the line keeps being served while one is up.

namespace {

QString addressList(const std::vector<uint8_t> &addresses)
{
    QStringList texts;
    for (const uint8_t address : addresses)
        texts << QString::number(address);
    return texts.join(QStringLiteral(", "));
}

}  // namespace

void OrvaUI::buildDevicesMenu()
{
    auto *menu = new QMenu(QStringLiteral("Приборы"), this);
    menu->setObjectName(QStringLiteral("menu_devices"));
    findProbesAction = menu->addAction(QStringLiteral("Найти приборы на линии"));
    findProbesAction->setObjectName(QStringLiteral("action_find_probes"));
    continuousAction = menu->addAction(QStringLiteral("Непрерывное измерение"));
    continuousAction->setObjectName(QStringLiteral("action_continuous_measurement"));
    continuousAction->setCheckable(true);
    // Help stays the last menu, wherever the form puts its own.
    QAction *before = nullptr;
    for (QAction *action : menuBar()->actions()) {
        if (action->text().remove(QLatin1Char('&')) == QStringLiteral("Справка"))
            before = action;
    }
    menuBar()->insertMenu(before, menu);

    connect(findProbesAction, &QAction::triggered, this, &OrvaUI::findProbes_Slot);
    connect(continuousAction, &QAction::toggled, this, &OrvaUI::continuousMeasurement_Slot);
    continuousTimer.setTimerType(Qt::PreciseTimer);
    // Qt keeps a repeating timer to its schedule, so a round begun late by a busy loop would get
    // less than the interval before the next one, and could overlap it. Each round re-arms the
    // whole interval from its own start instead.
    connect(&continuousTimer, &QTimer::timeout, this, [this] {
        continuousTimer.start();
        getLineMeasResult_Slot();
    });
    connect(&busScan, &BusScan::finished, this, &OrvaUI::probeSearchFinished);
}

void OrvaUI::findProbes_Slot()
{
    if (busScan.isRunning())
        return;
    if (!serial.isOpen()) {
        ui.statusBar->showMessage(QStringLiteral("Устройство не подключено"), 5000);
        return;
    }
    // Its rounds would share the line with the scan's requests.
    stopContinuousMeasurement();
    auto *progress = new QProgressDialog(QStringLiteral("Поиск приборов на линии…"),
                                         QStringLiteral("Отмена"), 0, BusScan::addressCount, this);
    progress->setObjectName(QStringLiteral("probeSearchProgress"));
    progress->setWindowTitle(QStringLiteral("Найти приборы на линии"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->setValue(0);
    connect(progress, &QProgressDialog::canceled, &busScan, &BusScan::cancel);
    connect(&busScan, &BusScan::progress, progress, [progress](int done, int total) {
        progress->setMaximum(total);
        progress->setValue(done);
    });
    connect(&busScan, &BusScan::finished, progress, [progress] {
        QObject::disconnect(progress, nullptr, nullptr, nullptr);
        progress->close();
    });
    m::writeLine(log, 0, QStringLiteral("Probe search started"));
    progress->show();
    busScan.start();
}

void OrvaUI::probeSearchFinished(bool completed)
{
    const std::vector<uint8_t> found = busScan.foundAddresses();
    m::writeLine(log, 0,
                 QStringLiteral("Probe search %1, found %2: %3")
                     .arg(completed ? QStringLiteral("finished") : QStringLiteral("stopped"))
                     .arg(found.size())
                     .arg(addressList(found)));
    if (!completed) {
        ui.statusBar->showMessage(QStringLiteral("Поиск приборов прерван"), 5000);
        return;
    }
    if (found.empty()) {
        ui.statusBar->showMessage(QStringLiteral("Приборы не найдены"), 5000);
        return;
    }
    if (int(found.size()) > probeCount) {
        auto *box =
            new QMessageBox(QMessageBox::Information, QStringLiteral("Найти приборы на линии"),
                            QStringLiteral("Найдено приборов: %1, больше восьми. Адреса: %2.")
                                .arg(found.size())
                                .arg(addressList(found)),
                            QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("probeSearchTooMany"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    offerFoundAddresses(found);
}

void OrvaUI::offerFoundAddresses(const std::vector<uint8_t> &found)
{
    bool typed = false;
    for (const ProbePanel &panel : probePanels(ui))
        typed = typed || !panel.address->text().isEmpty();
    QString text =
        QStringLiteral("Найдены приборы: %1. Заполнить поля адресов?").arg(addressList(found));
    if (typed)
        text += QStringLiteral(" Введённые адреса будут заменены.");
    auto *box = new QMessageBox(QMessageBox::Question, QStringLiteral("Найти приборы на линии"),
                                text, QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("probeSearchOffer"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, found] {
        if (box->clickedButton() != box->button(QMessageBox::Yes))
            return;
        // Ascending, from probe 1 on; the fields beyond the finds are emptied.
        const auto panels = probePanels(ui);
        for (int probe = 0; probe < probeCount; ++probe) {
            panels[probe].address->setText(
                size_t(probe) < found.size() ? QString::number(found[size_t(probe)]) : QString());
            addressEdited(probe);
        }
    });
    box->open();
}

int OrvaUI::measurementRoundMs(int32_t delay) const
{
    return schedule::measurementResultInterval(delay, probeCount - 1) + commands.answerTimeLimit();
}

void OrvaUI::continuousMeasurement_Slot(bool on)
{
    if (!on) {
        stopContinuousMeasurement();
        return;
    }
    if (continuousMeasurementRunning())
        return;
    const QSignalBlocker quiet(continuousAction);
    continuousAction->setChecked(false);
    if (!serial.isOpen()) {
        ui.statusBar->showMessage(QStringLiteral("Устройство не подключено"), 5000);
        return;
    }
    if (busScan.isRunning())
        return;
    const double shortest = std::ceil(measurementRoundMs(delay) / 100.0) / 10.0;
    auto *dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("continuousInterval"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Непрерывное измерение"));
    dialog->setLabelText(QStringLiteral("Интервал между измерениями, с:"));
    dialog->setInputMode(QInputDialog::DoubleInput);
    dialog->setDoubleDecimals(1);
    dialog->setDoubleRange(shortest, 3600.0);
    dialog->setDoubleValue(std::max(shortest, continuousTimer.interval() / 1000.0));
    connect(dialog, &QInputDialog::doubleValueSelected, this, [this](double seconds) {
        startContinuousMeasurement(int(std::lround(seconds * 1000.0)));
    });
    dialog->open();
}

void OrvaUI::startContinuousMeasurement(int intervalMs)
{
    if (!serial.isOpen())
        return;
    intervalMs = std::max(intervalMs, measurementRoundMs(delay));
    continuousTimer.start(intervalMs);
    {
        const QSignalBlocker quiet(continuousAction);
        continuousAction->setChecked(true);
    }
    m::writeLine(log, 0,
                 QStringLiteral("Continuous measurement started, every %1 ms").arg(intervalMs));
    ui.statusBar->showMessage(QStringLiteral("Непрерывное измерение запущено"), 5000);
    state->setItem(QStringLiteral("continuous"),
                   QStringLiteral("Непрерывное измерение, каждые %1 мс").arg(intervalMs));
    emit continuousMeasurementChanged(true);
    getLineMeasResult_Slot();
}

// A round already under way runs out: its commands are armed and the engine serves them.
void OrvaUI::stopContinuousMeasurement()
{
    if (!continuousMeasurementRunning())
        return;
    continuousTimer.stop();
    {
        const QSignalBlocker quiet(continuousAction);
        continuousAction->setChecked(false);
    }
    m::writeLine(log, 0, QStringLiteral("Continuous measurement stopped"));
    ui.statusBar->showMessage(QStringLiteral("Непрерывное измерение остановлено"), 5000);
    state->setItem(QStringLiteral("continuous"), QString());
    emit continuousMeasurementChanged(false);
}
