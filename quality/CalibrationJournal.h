#pragma once

#include "logging/ILog.h"
#include "protocol/ExchangeOutcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace records {
class LineFile;
}

// Every zero, measure point and reset sent to a probe, from the window or the command line, in
// records/calibration.csv:
//
//     time,channel,address,command,measure_um,answer
//     2026-03-09T09:05:02.007+03:00,2,12,point,250.5,ok
//
// A value taken after a calibration is judged by the probe's state since then, so the journal
// is kept as durably as the records themselves.
namespace quality {

enum class CalibrationCommand { Zero, MeasurePoint, Reset };

struct CalibrationEvent
{
    qint64 msecs = 0;  // since the epoch, UTC
    int offsetSecs = 0;
    int channel = 0;  // the panel, 1 to 8; 0 when the command line named no panel
    uint8_t address = 0;
    CalibrationCommand command = CalibrationCommand::Zero;
    std::optional<float> measureUm;  // the measure point's value
    // "ok", the probe's error text ("Busy", "Bad hash", ...) or "no response".
    QString answer;

    bool ok() const { return answer == QLatin1String("ok"); }
};

// What a command does to a probe's calibration; nothing for a command that leaves it alone.
std::optional<CalibrationCommand> calibrationOf(frames::Command command);

CalibrationEvent makeEvent(const QDateTime &time, int channel, uint8_t address,
                           CalibrationCommand command, std::optional<float> measureUm,
                           const QString &answer);
// The journal's answer for an exchange's outcome, worded as the command line's rows word it.
QString answerText(const ExchangeOutcome &outcome);
// The operator's word for the command: "Ноль", "Мера", "Сброс".
QString commandTitle(CalibrationCommand command);

QByteArray journalHeader();
QByteArray formatEvent(const CalibrationEvent &event);
// A line without its line end; nothing for anything but a whole event.
std::optional<CalibrationEvent> parseEvent(std::string_view line);

// Events from `fromMsecs` to `toMsecs` inclusive, in the file's order; damaged lines are skipped.
std::vector<CalibrationEvent> readJournal(QIODevice &device, qint64 fromMsecs, qint64 toMsecs);
std::vector<CalibrationEvent> readJournalFile(const QString &path, qint64 fromMsecs,
                                              qint64 toMsecs);

// Appends events; a journal that cannot be written costs its events, never the caller: the
// reason goes to the log at level 0 once, and the next event tries again.
class CalibrationJournal
{
public:
    explicit CalibrationJournal(m::ifc::ILog *log,
                                const QString &path = QStringLiteral("records/calibration.csv"));
    ~CalibrationJournal();

    bool append(const CalibrationEvent &event);
    QString path() const { return filePath; }

private:
    m::ifc::ILog *log;
    QString filePath;
    // The events of flushes that failed, told with the next event. Set on the flushing thread;
    // declared before the file, whose thread sets them, so they outlive that thread.
    std::mutex failureMutex;
    QByteArray failedFirst;
    QByteArray failedLast;
    std::unique_ptr<records::LineFile> file;
    bool keeping = true;
};

}  // namespace quality
