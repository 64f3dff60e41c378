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
    for (int probe = 0; probe < probeCount; ++probe) {
        const auto addr = probeAddress(probe);
        if (!addr)
            continue;
        // An old value beside a new measurement would pass for its result if this one fails.
        panels[probe].value->clear();
        QTimer::singleShot(schedule::measurementStartInterval(delay, probe), Qt::PreciseTimer, this,
                           [this, addr = *addr] { commands.startMeasurement(addr); });
        QTimer::singleShot(schedule::measurementResultInterval(delay, probe), Qt::PreciseTimer,
                           this, [this, addr = *addr] { commands.getMeasurementResult(addr); });
    }
}

void OrvaUI::newMeasurement_Slot(uint8_t addr, float um, float um_calib, uint8_t quality)
{
    QVector<int> channels;
    const auto panels = probePanels(ui);
    for (int probe = 0; probe < probeCount; ++probe) {
        if (fieldrules::parseProbeAddress(panels[probe].address->text()) == addr) {
            panels[probe].value->setText(QString::number(um_calib, 'f', 1));
            channels << probe + 1;
        }
    }
    m::writeLine(log, 1,
                 QStringLiteral("Raw: ") + QString::number(um, 'g', 6) +
                     QStringLiteral(" Calibrated: ") + QString::number(um_calib, 'g', 6) +
                     QStringLiteral(" Quality: ") + QString::number(quality));
    // Only what reached a panel is a record; the log has the rest.
    if (!channels.isEmpty())
        recordWriter.append(QDateTime::currentDateTime(), channels, addr, um, um_calib, quality);
}
