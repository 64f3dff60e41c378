#include "settings/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <limits>

namespace {

const char settingsFileName[] = "settings.cfg";
constexpr int maxPortNameLength = 6;
// A real record is about 120 bytes; reading no further keeps a huge file from exhausting memory.
constexpr qint64 maxSettingsBytes = 64 * 1024;

// A missing file is created empty; one we may not write to is still read. Anything but a plain
// file counts as missing: reading a pipe or a device would block start-up or never end.
bool openSettings(QFile &file)
{
    file.setFileName(QString::fromLatin1(settingsFileName));
    const QFileInfo info(file.fileName());
    if (info.exists() && !info.isFile())
        return false;
    if (file.open(QIODevice::ReadWrite))
        return true;
    return info.exists() && file.open(QIODevice::ReadOnly);
}

// Reads the fixed layout "Port=%6s Probe1=%*d ... Probe8=%*d Delay=%d" the way a scanf would:
// letters match exactly, white space in the layout matches any run of white space, numbers
// are optionally signed decimals of any length. Unlike scanf it cannot overflow.
class SettingsScanner
{
public:
    explicit SettingsScanner(const QByteArray &text) : text(text) {}

    int offset() const { return position; }

    // Where `offset` lies: its line number from 1, and that line without its end.
    int lineNumber(int offset) const { return int(text.left(offset).count('\n')) + 1; }
    QByteArray lineAround(int offset) const
    {
        const int start = offset > 0 ? int(text.lastIndexOf('\n', offset - 1)) + 1 : 0;
        int end = int(text.indexOf('\n', start));
        if (end < 0)
            end = int(text.size());
        QByteArray line = text.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }
    bool atEnd() const { return position >= text.size(); }

    bool literal(const char *expected)
    {
        for (; *expected; ++expected, ++position) {
            if (at(position) != *expected)
                return false;
        }
        return true;
    }

    void skipSpace()
    {
        while (isSpace(at(position)))
            ++position;
    }

    bool word(QByteArray &out, int maxLength)
    {
        skipSpace();
        const int start = position;
        while (position - start < maxLength && at(position) != '\0' && !isSpace(at(position)))
            ++position;
        out = text.mid(start, position - start);
        return position > start;
    }

    // Any optionally signed run of digits; a magnitude beyond 64 bits saturates.
    bool number(int64_t &value)
    {
        skipSpace();
        bool negative = false;
        if (at(position) == '+' || at(position) == '-')
            negative = at(position++) == '-';
        if (!isDigit(at(position)))
            return false;
        uint64_t magnitude = 0;
        for (; isDigit(at(position)); ++position) {
            const unsigned digit = unsigned(at(position) - '0');
            if (magnitude > (uint64_t(std::numeric_limits<int64_t>::max()) - digit) / 10)
                magnitude = uint64_t(std::numeric_limits<int64_t>::max());
            else
                magnitude = magnitude * 10 + digit;
        }
        value = negative ? -int64_t(magnitude) : int64_t(magnitude);
        return true;
    }

private:
    char at(int index) const { return index < text.size() ? text.at(index) : '\0'; }
    static bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    const QByteArray &text;
    int position = 0;
};

std::map<uint8_t, uint8_t> readAddresses(m::ifc::ILog *log, bool keyedByAddress)
{
    std::map<uint8_t, uint8_t> map;
    QFile file;
    if (!openSettings(file))
        return map;
    QTextStream stream(file.read(maxSettingsBytes));
    const std::vector<uint8_t> addresses = parseProbeAddresses(stream, log);
    for (size_t ordinal = 0; ordinal < addresses.size(); ++ordinal) {
        if (keyedByAddress)
            map[addresses[ordinal]] = uint8_t(ordinal + 1);
        else
            map[uint8_t(ordinal)] = addresses[ordinal];
    }
    return map;
}

// The record's fields in order, as the operator should write them.
QString fieldLayout(int field)
{
    if (field == 0)
        return QStringLiteral("Port=<name of 1 to 6 characters>");
    if (field <= probeline::probeCount)
        return QStringLiteral("Probe%1=<address>").arg(field);
    return QStringLiteral("Delay=<milliseconds, 0 to 2147483647>");
}

// The log's words for a record that was not used. A field that ran on into more text on its own
// line (Port=ttyUSB1) is the culprit rather than the next field the scan then looked for.
QString mismatchText(const SettingsScanner &scanner, int field, int previousFieldLine)
{
    const int line = scanner.lineNumber(scanner.offset());
    const int culprit = field > 0 && line == previousFieldLine ? field - 1 : field;
    QString shown = QString::fromUtf8(scanner.lineAround(scanner.offset()).left(80));
    for (QChar &c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    const QString defaults =
        QStringLiteral(": the defaults are in use (Delay: %1)").arg(Settings().delay);
    if (scanner.atEnd() && shown.isEmpty())
        return QStringLiteral("settings.cfg has no line %1 (%2)")
                   .arg(line)
                   .arg(fieldLayout(culprit)) +
               defaults;
    return QStringLiteral("settings.cfg line %1 \"%2\" does not match %3")
               .arg(line)
               .arg(shown, fieldLayout(culprit)) +
           defaults;
}

}  // namespace

Settings parseSettings(const QByteArray &text)
{
    Settings defaults;
    SettingsScanner scanner(text);
    int previousFieldLine = 0;
    const auto mismatch = [&](int field) {
        defaults.mismatch = mismatchText(scanner, field, previousFieldLine);
        defaults.mismatchLine = scanner.lineNumber(scanner.offset());
        return defaults;
    };
    // An empty file is what a first start creates: nothing to say about it.
    if (text.isEmpty())
        return defaults;
    QByteArray port;
    if (!scanner.literal("Port=") || !scanner.word(port, maxPortNameLength))
        return mismatch(0);
    previousFieldLine = scanner.lineNumber(scanner.offset());
    int64_t value = 0;
    for (int probe = 1; probe <= probeline::probeCount; ++probe) {
        scanner.skipSpace();
        if (!scanner.literal(QByteArray("Probe" + QByteArray::number(probe) + "=").constData()) ||
            !scanner.number(value))
            return mismatch(probe);
        previousFieldLine = scanner.lineNumber(scanner.offset());
    }
    scanner.skipSpace();
    if (!scanner.literal("Delay=") || !scanner.number(value))
        return mismatch(probeline::probeCount + 1);
    // A negative delay would make every all-probe operation send nothing.
    if (value < 0 || value > std::numeric_limits<int32_t>::max()) {
        // Named as the line it is on, not the one after it.
        previousFieldLine = -1;
        return mismatch(probeline::probeCount + 1);
    }
    return Settings{int32_t(value), QString::fromUtf8(port), QString()};
}

std::vector<uint8_t> parseProbeAddresses(QTextStream &stream, m::ifc::ILog *log)
{
    std::vector<uint8_t> addresses;
    if (stream.readLine().isEmpty())
        return addresses;
    for (;;) {
        const QStringList parts = stream.readLine().split(QLatin1Char('='));
        if (parts.size() < 2 || int(addresses.size()) == probeline::probeCount)
            break;
        bool ok = false;
        const uint value = parts.at(1).toUInt(&ok, 10);
        // 300 would otherwise address device 44.
        if (!ok || value > 255) {
            log->write(0, "Bad probe address");
            break;
        }
        addresses.push_back(uint8_t(value));
    }
    return addresses;
}

Settings readSettings()
{
    QFile file;
    if (!openSettings(file))
        return Settings();
    QTextStream stream(file.read(maxSettingsBytes));
    return parseSettings(stream.readAll().toUtf8());
}

std::map<uint8_t, uint8_t> readAddrToProbe(m::ifc::ILog *log)
{
    return readAddresses(log, true);
}

std::map<uint8_t, uint8_t> readProbeToAddr(m::ifc::ILog *log)
{
    return readAddresses(log, false);
}
