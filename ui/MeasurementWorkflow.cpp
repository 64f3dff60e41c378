#include "app/OrvaUI.h"
#include "protocol/FieldRules.h"
#include "protocol/Schedule.h"

// The all-probe operations never wait for a probe: each arms one timer per command, staggered
// by the settings' delay so that the requests reach the line one after another. The timers are
// precise because the engine refuses, rather than queues, a request that comes too early.

// Every command an operation arms is announced to the summaries just before it goes, so that
// the engine's report of it, by the number the engine gives it, counts for its probe.
void OrvaUI::announce(int round, int probe, frames::Command command)
{
    summaries.issuing(round, probe + 1, command, commands.nextSequence(), serial.isOpen());
}

void OrvaUI::test_Slot()
{
    const int round = summaries.begin(QStringLiteral("Тест памяти"));
    summaries.expect(round);
    announce(round, 0, frames::Command::TestMem);
    commands.testMem();
    summaries.close(round);
}

void OrvaUI::updateAirCode_Slot()
{
    const int round = summaries.begin(ui.pb_line_meas_update_air->text());
    for (int probe = 0; probe < probeCount; ++probe) {
        const auto addr = probeAddress(probe);
        if (!addr) {
            summaries.skipped(round, probe + 1);
            continue;
        }
        summaries.expect(round, probe + 1);
        QTimer::singleShot(schedule::commandInterval(delay, probe), Qt::PreciseTimer, this,
                           [this, round, probe, addr = *addr] {
                               announce(round, probe, frames::Command::UpdateAirCode);
                               commands.updateAirCode(addr);
                           });
    }
    summaries.close(round);
}

void OrvaUI::checkAirCode_Slot()
{
    armSettingsProbes(frames::Command::CheckAirCode, QStringLiteral("Проверка \"Воздуха\""));
}

void OrvaUI::startLineMeas_Slot()
{
    armSettingsProbes(frames::Command::StartMeasurement, QStringLiteral("Старт измерения"));
}

// Only the positions settings.cfg supplied are commanded: a missing one names no device.
void OrvaUI::armSettingsProbes(frames::Command command, const QString &name)
{
    const int round = summaries.begin(name);
    for (const auto &[probe, addr] : probeToAddr) {
        if (probe >= probeCount)
            continue;
        summaries.expect(round, probe + 1);
        QTimer::singleShot(schedule::commandInterval(delay, probe), Qt::PreciseTimer, this,
                           [this, command, round, probe = int(probe), addr = addr] {
                               announce(round, probe, command);
                               commands.issue(command, addr);
                           });
    }
    summaries.close(round);
}

void OrvaUI::getLineMeasResult_Slot()
{
    armMeasurementRound(this);
}

void OrvaUI::armMeasurementRound(QObject *context)
{
    const auto panels = probePanels(ui);
    const int round = summaries.begin(ui.pb_line_meas_get->text());
    for (int probe = 0; probe < probeCount; ++probe) {
        const auto addr = probeAddress(probe);
        if (!addr) {
            summaries.skipped(round, probe + 1);
            continue;
        }
        // An old value beside a new measurement would pass for its result if this one fails.
        panels[probe].value->clear();
        panels[probe].value->setPlaceholderText(QString());
        summaries.expect(round, probe + 1);
        summaries.expect(round, probe + 1);
        QTimer::singleShot(schedule::measurementStartInterval(delay, probe), Qt::PreciseTimer,
                           context, [this, round, probe, addr = *addr] {
                               announce(round, probe, frames::Command::StartMeasurement);
                               commands.startMeasurement(addr);
                           });
        QTimer::singleShot(schedule::measurementResultInterval(delay, probe), Qt::PreciseTimer,
                           context, [this, round, probe, addr = *addr] {
                               announce(round, probe, frames::Command::GetMeasurementResult);
                               commands.getMeasurementResult(addr);
                           });
    }
    summaries.close(round);
}

// A result that did not come leaves a grey "нет ответа" instead of a value; an answer that
// comes later still shows.
void OrvaUI::resultUnanswered(int channel)
{
    probePanels(ui)[channel - 1].value->setPlaceholderText(QStringLiteral("нет ответа"));
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
    if (channels.isEmpty())
        return;
    records::Record record =
        records::makeRecord(QDateTime::currentDateTime(), channels, addr, um, um_calib, quality);
    tolerance->judge(record);
    recordWriter.append(record);
}
