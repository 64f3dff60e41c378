#include "records/Record.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace records {

namespace {

constexpr qint64 msecsPerDay = 86400000;
constexpr qint64 julianDayOfEpoch = 2440588;
// Real offsets run from -12:00 to +14:00.
constexpr int largestOffsetSecs = 14 * 3600;

// Times before 1970 round towards the earlier day.
qint64 floorDiv(qint64 value, qint64 divisor)
{
    return value >= 0 ? value / divisor : -((-value - 1) / divisor) - 1;
}

bool digits(std::string_view text, size_t at, size_t count, int &value)
{
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

template <typename Number>
bool parseInteger(std::string_view text, Number &value, int low, int high)
{
    int parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || parsed < low ||
        parsed > high)
        return false;
    value = Number(parsed);
    return true;
}

// A probe's nan or inf reads back as it was written: the record is the probe's answer, and the
// history, not the reader, decides that it cannot be drawn.
bool parseFloat(std::string_view text, float &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// Empty: a result no channel was named for (t7r-cli's address without a probe line).
bool parseChannels(std::string_view text, uint8_t &channels)
{
    channels = 0;
    if (text.empty())
        return true;
    while (!text.empty()) {
        const size_t separator = text.find(';');
        const std::string_view one = text.substr(0, separator);
        int channel = 0;
        if (!parseInteger(one, channel, 1, channelCount) || (channels >> (channel - 1)) & 1u)
            return false;
        channels |= uint8_t(1u << (channel - 1));
        if (separator == std::string_view::npos)
            return true;
        text.remove_prefix(separator + 1);
        if (text.empty())
            return false;
    }
    return false;
}

// Limits both or neither, the lower not above the upper; a verdict only with limits (a value that
// is not finite has limits but no verdict).
bool parseJudgement(std::string_view verdict, std::string_view lower, std::string_view upper,
                    Record &record)
{
    const auto judged = verdictOfName(verdict);
    if (!judged)
        return false;
    record.verdict = *judged;
    if (lower.empty() && upper.empty())
        return record.verdict == Verdict::None;
    return parseFloat(lower, record.lowerUm) && parseFloat(upper, record.upperUm) &&
           record.lowerUm <= record.upperUm;
}

// A field as a spreadsheet may have quoted it; none of ours can hold a quote or a comma.
std::string_view unquote(std::string_view field, bool &ok)
{
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
        field = field.substr(1, field.size() - 2);
    ok = field.find('"') == std::string_view::npos;
    return field;
}

}  // namespace

bool parseTime(std::string_view text, qint64 &msecs, int &offsetSecs)
{
    int year, month, dayOfMonth, hour, minute, second, milli;
    if (text.size() < 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || !digits(text, 0, 4, year) ||
        !digits(text, 5, 2, month) || !digits(text, 8, 2, dayOfMonth) ||
        !digits(text, 11, 2, hour) || !digits(text, 14, 2, minute) ||
        !digits(text, 17, 2, second) || !digits(text, 20, 3, milli) || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    const QDate date(year, month, dayOfMonth);
    if (!date.isValid())
        return false;
    const std::string_view zone = text.substr(23);
    if (zone == "Z") {
        offsetSecs = 0;
    } else {
        int offsetHours, offsetMinutes;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' ||
            !digits(zone, 1, 2, offsetHours) || !digits(zone, 4, 2, offsetMinutes) ||
            offsetMinutes > 59)
            return false;
        offsetSecs = (offsetHours * 3600 + offsetMinutes * 60) * (zone[0] == '-' ? -1 : 1);
        if (std::abs(offsetSecs) > largestOffsetSecs)
            return false;
    }
    const qint64 wall = (date.toJulianDay() - julianDayOfEpoch) * msecsPerDay +
                        ((hour * 60 + minute) * 60 + second) * 1000 + milli;
    msecs = wall - qint64(offsetSecs) * 1000;
    return true;
}

QDate Record::day() const
{
    return QDate::fromJulianDay(julianDayOfEpoch +
                                floorDiv(msecs + qint64(offsetSecs) * 1000, msecsPerDay));
}

uint8_t channelMask(const QVector<int> &channels)
{
    uint8_t mask = 0;
    for (const int channel : channels) {
        if (channel >= 1 && channel <= channelCount)
            mask |= uint8_t(1u << (channel - 1));
    }
    return mask;
}

Record makeRecord(const QDateTime &time, const QVector<int> &channels, uint8_t address, float raw,
                  float calibrated, uint8_t quality)
{
    Record record;
    record.msecs = time.toMSecsSinceEpoch();
    record.offsetSecs = time.offsetFromUtc();
    record.channels = channelMask(channels);
    record.address = address;
    record.quality = quality;
    record.raw = raw;
    record.calibrated = calibrated;
    return record;
}

QByteArray header()
{
    return QByteArrayLiteral(
        "time,channel,address,raw_um,calibrated_um,quality,verdict,lower_um,upper_um\r\n");
}

const char *verdictName(Verdict verdict)
{
    switch (verdict) {
        case Verdict::InTolerance:
            return "ok";
        case Verdict::Below:
            return "below";
        case Verdict::Above:
            return "above";
        case Verdict::None:
            break;
    }
    return "";
}

std::optional<Verdict> verdictOfName(std::string_view name)
{
    for (const Verdict verdict :
         {Verdict::None, Verdict::InTolerance, Verdict::Below, Verdict::Above}) {
        if (name == verdictName(verdict))
            return verdict;
    }
    return std::nullopt;
}

QByteArray formatTime(qint64 msecs, int offsetSecs)
{
    const qint64 wall = msecs + qint64(offsetSecs) * 1000;
    const qint64 days = floorDiv(wall, msecsPerDay);
    const qint64 ofDay = wall - days * msecsPerDay;
    const QDate date = QDate::fromJulianDay(julianDayOfEpoch + days);
    const int offset = std::abs(offsetSecs) / 60;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", date.year(),
                  date.month(), date.day(), int(ofDay / 3600000), int(ofDay / 60000 % 60),
                  int(ofDay / 1000 % 60), int(ofDay % 1000), offsetSecs < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    return QByteArray(text);
}

QByteArray formatFloat(float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, int(result.ptr - text));
}

QByteArray formatChannels(uint8_t channels)
{
    QByteArray text;
    for (int channel = 1; channel <= channelCount; ++channel) {
        if ((channels >> (channel - 1)) & 1u) {
            if (!text.isEmpty())
                text += ';';
            text += char('0' + channel);
        }
    }
    return text;
}

QByteArray formatLine(const Record &record, int columns)
{
    QByteArray line;
    line.reserve(80);
    line += formatTime(record.msecs, record.offsetSecs);
    line += ',';
    line += formatChannels(record.channels);
    line += ',';
    line += QByteArray::number(record.address);
    line += ',';
    line += formatFloat(record.raw);
    line += ',';
    line += formatFloat(record.calibrated);
    line += ',';
    line += QByteArray::number(record.quality);
    if (columns == columnCount) {
        line += ',';
        line += verdictName(record.verdict);
        line += ',';
        if (record.hasLimits())
            line += formatFloat(record.lowerUm) + ',' + formatFloat(record.upperUm);
        else
            line += ',';
    }
    line += "\r\n";
    return line;
}

int headerColumns(std::string_view line)
{
    // A spreadsheet may have put a byte-order mark in front.
    if (line.substr(0, 3) == "\xEF\xBB\xBF")
        line.remove_prefix(3);
    if (line == "time,channel,address,raw_um,calibrated_um,quality")
        return columnCountWithoutLimits;
    if (line == "time,channel,address,raw_um,calibrated_um,quality,verdict,lower_um,upper_um")
        return columnCount;
    return 0;
}

std::optional<Record> parseLine(std::string_view line, int columns)
{
    std::string_view fields[columnCount];
    int count = 0;
    for (;;) {
        const size_t comma = line.find(',');
        if (count == columnCount)
            return std::nullopt;
        bool ok = false;
        fields[count++] = unquote(line.substr(0, comma), ok);
        if (!ok)
            return std::nullopt;
        if (comma == std::string_view::npos)
            break;
        line.remove_prefix(comma + 1);
    }
    Record record;
    if ((count != columnCountWithoutLimits && count != columnCount) ||
        (columns != 0 && count != columns) ||
        !parseTime(fields[0], record.msecs, record.offsetSecs) ||
        !parseChannels(fields[1], record.channels) ||
        !parseInteger(fields[2], record.address, 0, 255) || !parseFloat(fields[3], record.raw) ||
        !parseFloat(fields[4], record.calibrated) ||
        !parseInteger(fields[5], record.quality, 0, 255))
        return std::nullopt;
    if (count == columnCount && !parseJudgement(fields[6], fields[7], fields[8], record))
        return std::nullopt;
    return record;
}

QString fileName(const QDate &day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv");
}

std::optional<QDate> dayOfFileName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{4})-(\\d\\d)-(\\d\\d)\\.csv$"));
    const auto match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate day(match.captured(1).toInt(), match.captured(2).toInt(),
                    match.captured(3).toInt());
    if (!day.isValid())
        return std::nullopt;
    return day;
}

}  // namespace records
