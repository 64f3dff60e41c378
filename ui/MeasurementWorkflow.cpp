#include "app/OrvaUI.h"
#include "ui/FieldRules.h"
#include "ui/ProbePanels.h"
#include "ui/Schedule.h"

// The all-probe operations never wait for a probe: each arms one timer per command, staggered
// by the settings' delay so that the requests reach the line one after another. The timers are
// precise because the engine refuses, rather than queues, a request that comes too early.

void OrvaUI::test_Slot()
{
    commands.testMem();
}

void OrvaUI::updateAirCode_Slot()
{
    for (int probe = 0; probe < probeCount; ++probe) {
        const auto addr = probeAddress(probe);
        if (!addr)
            continue;
        QTimer::singleShot(schedule::commandInterval(delay, probe), Qt::PreciseTimer, this,
                           [this, addr = *addr] { commands.updateAirCode(addr); });
    }
}

void OrvaUI::checkAirCode_Slot()
{
    armSettingsProbes(&OstraCommands::checkAirCode);
}

void OrvaUI::startLineMeas_Slot()
{
    armSettingsProbes(&OstraCommands::startMeasurement);
}

// Only the positions settings.cfg supplied are commanded: a missing one names no device.
void OrvaUI::armSettingsProbes(void (OstraCommands::*command)(uint8_t))
{
    for (const auto &[probe, addr] : probeToAddr) {
        if (probe >= probeCount)
            continue;
        QTimer::singleShot(schedule::commandInterval(delay, probe), Qt::PreciseTimer, this,
                           [this, command, addr = addr] { (commands.*command)(addr); });
    }
}

void OrvaUI::getLineMeasResult_Slot()
{
    const auto panels = probePanels(ui);
    std::vector<OperationRound::Channel> channels;
    for (int probe = 0; probe < probeCount; ++probe) {
        const auto addr = probeAddress(probe);
        if (!addr)
            continue;
        channels.push_back({probe + 1, *addr});
        // An old value beside a new measurement would pass for its result if this one fails.
        panels[probe].value->clear();
        panels[probe].value->setPlaceholderText(QString());
        QTimer::singleShot(schedule::measurementStartInterval(delay, probe), Qt::PreciseTimer, this,
                           [this, addr = *addr] { commands.startMeasurement(addr); });
        QTimer::singleShot(schedule::measurementResultInterval(delay, probe), Qt::PreciseTimer,
                           this, [this, addr = *addr] { commands.getMeasurementResult(addr); });
    }
    measureRound.begin(frames::Command::GetMeasurementResult, channels);
}

// A result that did not come leaves a grey "нет ответа" instead of a value; at the end of the
// round the status bar names the silent channels. An answer that comes later still shows.
void OrvaUI::exchangeFinished_Slot(const ExchangeOutcome &outcome)
{
    const int probe = measureRound.settle(outcome);
    if (probe == 0)
        return;
    if (OperationRound::isUnanswered(outcome.status))
        probePanels(ui)[probe - 1].value->setPlaceholderText(QStringLiteral("нет ответа"));
    if (!measureRound.finished())
        return;
    measureRound.end();
    const std::vector<int> silent = measureRound.unanswered();
    if (silent.empty())
        return;
    QStringList channels;
    for (const int channel : silent)
        channels << QString::number(channel);
    ui.statusBar->showMessage((silent.size() == 1 ? QStringLiteral("Нет ответа, канал ")
                                                  : QStringLiteral("Нет ответа, каналы ")) +
                                  channels.join(QStringLiteral(", ")),
                              5000);
}

void OrvaUI::newMeasurement_Slot(uint8_t addr, float um, float um_calib, uint8_t quality)
{
    for (const ProbePanel &panel : probePanels(ui)) {
        if (fieldrules::parseProbeAddress(panel.address->text()) == addr)
            panel.value->setText(QString::number(um_calib, 'f', 1));
    }
    m::writeLine(log, 1,
                 QStringLiteral("Raw: ") + QString::number(um, 'g', 6) +
                     QStringLiteral(" Calibrated: ") + QString::number(um_calib, 'g', 6) +
                     QStringLiteral(" Quality: ") + QString::number(quality));
}
