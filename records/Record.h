#pragma once

#include "protocol/ProbeLine.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace records {

// Channels are the panels' numbers, 1 to channelCount.
constexpr int channelCount = probeline::probeCount;
// Columns of a line: files written before the tolerances have the first six.
constexpr int columnCount = 9;
constexpr int columnCountWithoutLimits = 6;

// Where a value stands against its channel's limits; none without limits or without a value.
enum class Verdict : uint8_t { None, InTolerance, Below, Above };

// One measurement result as kept in records/YYYY-MM-DD.csv.
struct Record
{
    qint64 msecs = 0;      // since the epoch, UTC
    int offsetSecs = 0;    // the writer's UTC offset: the line is written back as it was
    uint8_t channels = 0;  // bit N-1 set for panel N
    uint8_t address = 0;
    uint8_t quality = 0;
    float raw = 0;
    float calibrated = 0;
    // The limits in force when the value was taken; not a number without limits.
    Verdict verdict = Verdict::None;
    float lowerUm = std::numeric_limits<float>::quiet_NaN();
    float upperUm = std::numeric_limits<float>::quiet_NaN();

    bool hasLimits() const { return lowerUm == lowerUm; }

    bool hasChannel(int channel) const
    {
        return channel >= 1 && channel <= channelCount && (channels >> (channel - 1)) & 1u;
    }
    // The local day the line was written on, which names its file.
    QDate day() const;
};

// Panel numbers 1..8 as the bit set of Record::channels; anything else is dropped.
uint8_t channelMask(const QVector<int> &channels);
Record makeRecord(const QDateTime &time, const QVector<int> &channels, uint8_t address, float raw,
                  float calibrated, uint8_t quality);

// The file's first line.
QByteArray header();
// One line, CRLF-terminated as RFC 4180 has it; `columns` is 6 for a file with the old header.
QByteArray formatLine(const Record &record, int columns = columnCount);
// ISO 8601 local time with milliseconds and offset: 2026-12-08T09:15:02.125+03:00.
QByteArray formatTime(qint64 msecs, int offsetSecs);
// The shortest decimal that reads back as the same float.
QByteArray formatFloat(float value);
// "1;3"
QByteArray formatChannels(uint8_t channels);

// A time stamp as formatTime writes it, or with Z for UTC.
bool parseTime(std::string_view text, qint64 &msecs, int &offsetSecs);
// A line without its line end; nothing for anything but a whole, plausible record of
// `columns` columns (0: as many as either header names).
std::optional<Record> parseLine(std::string_view line, int columns = 0);
// The columns a header line names, 6 or 9; 0 for a line that is no header.
int headerColumns(std::string_view line);
inline bool isHeader(std::string_view line)
{
    return headerColumns(line) != 0;
}

// "ok", "below", "above", or empty without a verdict, as the records and the command line write
// it.
const char *verdictName(Verdict verdict);
std::optional<Verdict> verdictOfName(std::string_view name);

QString fileName(const QDate &day);
// The day a file's name gives; nothing for names the writer would not have made.
std::optional<QDate> dayOfFileName(const QString &name);

}  // namespace records
