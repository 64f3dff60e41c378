#include "quality/CalibrationJournal.h"

#include "records/LineFile.h"
#include "records/Record.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace quality {

namespace {

// A probe's error text is a few words: a longer line is damage.
constexpr int longestLine = 400;

struct CommandName
{
    CalibrationCommand command;
    const char *name;
};

// The command line's words for the same commands.
const CommandName commandNames[] = {
    {CalibrationCommand::Zero, "zero"},
    {CalibrationCommand::MeasurePoint, "point"},
    {CalibrationCommand::Reset, "reset"},
};

const char *nameOf(CalibrationCommand command)
{
    for (const auto &entry : commandNames) {
        if (entry.command == command)
            return entry.name;
    }
    return "";
}

// RFC 4180: the probe's error text is free text.
QByteArray quoted(const QByteArray &field)
{
    if (!field.contains(',') && !field.contains('"') && !field.contains('\r') &&
        !field.contains('\n'))
        return field;
    QByteArray text = field;
    text.replace('"', "\"\"");
    return '"' + text + '"';
}

// Splits a line at its commas, quotes honoured; nothing for a quote left open.
std::optional<std::vector<QByteArray>> fields(std::string_view line)
{
    std::vector<QByteArray> result(1);
    bool inQuotes = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes) {
            if (c != '"')
                result.back() += c;
            else if (i + 1 < line.size() && line[i + 1] == '"')
                result.back() += line[++i];
            else
                inQuotes = false;
        } else if (c == '"') {
            inQuotes = true;
        } else if (c == ',') {
            result.emplace_back();
        } else {
            result.back() += c;
        }
    }
    if (inQuotes)
        return std::nullopt;
    return result;
}

}  // namespace

CalibrationEvent makeEvent(const QDateTime &time, int channel, uint8_t address,
                           CalibrationCommand command, std::optional<float> measureUm,
                           const QString &answer)
{
    CalibrationEvent event;
    event.msecs = time.toMSecsSinceEpoch();
    event.offsetSecs = time.offsetFromUtc();
    event.channel = channel;
    event.address = address;
    event.command = command;
    event.measureUm = measureUm;
    event.answer = answer;
    return event;
}

std::optional<CalibrationCommand> calibrationOf(frames::Command command)
{
    switch (command) {
        case frames::Command::SetZeroPoint:
            return CalibrationCommand::Zero;
        case frames::Command::SetMeasurePoint:
            return CalibrationCommand::MeasurePoint;
        case frames::Command::ResetCalibration:
            return CalibrationCommand::Reset;
        default:
            return std::nullopt;
    }
}

QString answerText(const ExchangeOutcome &outcome)
{
    switch (outcome.status) {
        case ExchangeOutcome::Status::Ok:
            return QStringLiteral("ok");
        case ExchangeOutcome::Status::NoResponse:
            return QStringLiteral("no response");
        case ExchangeOutcome::Status::NotSent:
            return QStringLiteral("not sent");
        default:
            return outcome.detail;
    }
}

QString commandTitle(CalibrationCommand command)
{
    switch (command) {
        case CalibrationCommand::Zero:
            return QStringLiteral("Ноль");
        case CalibrationCommand::MeasurePoint:
            return QStringLiteral("Мера");
        case CalibrationCommand::Reset:
            return QStringLiteral("Сброс");
    }
    return {};
}

QByteArray journalHeader()
{
    return QByteArrayLiteral("time,channel,address,command,measure_um,answer\r\n");
}

QByteArray formatEvent(const CalibrationEvent &event)
{
    QByteArray line = records::formatTime(event.msecs, event.offsetSecs);
    line += ',' + QByteArray::number(event.channel);
    line += ',' + QByteArray::number(event.address);
    line += ',';
    line += nameOf(event.command);
    line += ',';
    if (event.measureUm)
        line += records::formatFloat(*event.measureUm);
    line += ',' + quoted(event.answer.toUtf8());
    line += "\r\n";
    return line;
}

std::optional<CalibrationEvent> parseEvent(std::string_view line)
{
    const auto parts = fields(line);
    if (!parts || parts->size() != 6)
        return std::nullopt;
    const auto &field = *parts;
    CalibrationEvent event;
    if (!records::parseTime(std::string_view(field[0].constData(), size_t(field[0].size())),
                            event.msecs, event.offsetSecs))
        return std::nullopt;
    bool ok = false;
    event.channel = field[1].toInt(&ok);
    if (!ok || event.channel < 0 || event.channel > records::channelCount)
        return std::nullopt;
    const uint address = field[2].toUInt(&ok);
    if (!ok || address > 255)
        return std::nullopt;
    event.address = uint8_t(address);
    const auto *command =
        std::find_if(std::begin(commandNames), std::end(commandNames),
                     [&](const CommandName &entry) { return field[3] == entry.name; });
    if (command == std::end(commandNames))
        return std::nullopt;
    event.command = command->command;
    if (!field[4].isEmpty()) {
        const float value = field[4].toFloat(&ok);
        if (!ok || !std::isfinite(value))
            return std::nullopt;
        event.measureUm = value;
    }
    event.answer = QString::fromUtf8(field[5]);
    if (event.answer.isEmpty())
        return std::nullopt;
    return event;
}

std::vector<CalibrationEvent> readJournal(QIODevice &device, qint64 fromMsecs, qint64 toMsecs)
{
    std::vector<CalibrationEvent> events;
    while (!device.atEnd()) {
        QByteArray line = device.readLine(longestLine + 2);
        // A line without its end was cut short: its answer may be too.
        if (!line.endsWith('\n'))
            continue;
        line.chop(line.endsWith("\r\n") ? 2 : 1);
        const auto event = parseEvent(std::string_view(line.constData(), size_t(line.size())));
        if (event && event->msecs >= fromMsecs && event->msecs <= toMsecs)
            events.push_back(*event);
    }
    return events;
}

std::vector<CalibrationEvent> readJournalFile(const QString &path, qint64 fromMsecs, qint64 toMsecs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readJournal(file, fromMsecs, toMsecs);
}

CalibrationJournal::CalibrationJournal(m::ifc::ILog *log, const QString &path)
    : log(log),
      filePath(path),
      file(std::make_unique<records::LineFile>(
          [this](const QByteArray &first, const QByteArray &last) {
              std::lock_guard<std::mutex> lock(failureMutex);
              if (failedFirst.isEmpty())
                  failedFirst = first;
              failedLast = last;
          }))
{
}

CalibrationJournal::~CalibrationJournal() = default;

bool CalibrationJournal::append(const CalibrationEvent &event)
{
    const QByteArray line = formatEvent(event);
    bool written =
        (file->isOpen() || file->open(filePath, journalHeader())) &&
        file->append(line, filePath.toUtf8() + ": the event of " + line.left(line.indexOf(',')));
    // A flush that failed since the last event: the events it concerns may not be on the disk.
    QByteArray failed;
    {
        std::lock_guard<std::mutex> lock(failureMutex);
        failed.swap(failedFirst);
        if (!failed.isEmpty() && failedLast != failed)
            failed += " to " + failedLast.mid(failedLast.lastIndexOf(' ') + 1);
    }
    if (!failed.isEmpty()) {
        m::writeLine(log, 0,
                     QStringLiteral("Calibration journal: ") + QString::fromUtf8(failed) +
                         QStringLiteral(" may not be on the disk: its flush failed"));
    }
    if (!written)
        file->close();  // reopened next time: the folder may be back, or writable again
    if (written != keeping) {
        keeping = written;
        m::writeLine(log, 0,
                     written ? QStringLiteral("Calibration journal kept again")
                             : QStringLiteral("Calibration journal not kept: ") + file->error());
    }
    return written;
}

}  // namespace quality
