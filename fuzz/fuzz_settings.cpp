// Any bytes as settings.cfg, through the delay scan and the probe-address reader.

#include "FuzzCheck.h"
#include "settings/Settings.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextStream>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

bool sameSettings(const Settings &a, const Settings &b)
{
    return a.delay == b.delay && a.port == b.port;
}

bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The delay as the C library's own scan reads the file; values too large for an int, or below
// zero, must come back as the defaults.
Settings scanWithLibc(const QByteArray &text)
{
    // sscanf stops at the first NUL, which is also where the scan under test must stop.
    const std::string nulTerminated(text.constData(), size_t(text.size()));
    char port[7] = {};
    int delayStart = -1;
    int delayEnd = -1;
    // The delay is skipped and measured rather than stored: storing an overflowing %d is undefined.
    const int converted = std::sscanf(nulTerminated.c_str(),
                                      "Port=%6s\r\nProbe1=%*d\r\nProbe2=%*d\r\nProbe3=%*d\r\n"
                                      "Probe4=%*d\r\nProbe5=%*d\r\nProbe6=%*d\r\nProbe7=%*d\r\n"
                                      "Probe8=%*d\r\nDelay=%n%*d%n",
                                      port, &delayStart, &delayEnd);
    if (converted != 1 || delayEnd < 0)
        return Settings();

    std::string digits(nulTerminated, size_t(delayStart), size_t(delayEnd - delayStart));
    size_t first = 0;
    while (isSpace(digits[first]))
        ++first;
    bool negative = false;
    if (digits[first] == '+' || digits[first] == '-')
        negative = digits[first++] == '-';
    while (first + 1 < digits.size() && digits[first] == '0')
        ++first;
    digits.erase(0, first);
    if (digits.size() > 10)
        return Settings();
    const uint64_t value = std::stoull(digits);
    if (value > uint64_t(std::numeric_limits<int32_t>::max()) || (negative && value != 0))
        return Settings();
    return Settings{int32_t(value), QString::fromUtf8(port), QString()};
}

Settings checkedSettings(const QByteArray &text)
{
    const Settings settings = parseSettings(text);
    FUZZ_CHECK(settings.delay >= 0);
    // Not "at least one": a port name that is only a byte order mark decodes to nothing.
    FUZZ_CHECK(settings.port.size() <= 6);
    FUZZ_CHECK(sameSettings(settings, scanWithLibc(text)));
    return settings;
}

struct Addresses
{
    std::vector<uint8_t> addresses;
    std::vector<std::pair<uint32_t, std::string>> lines;

    bool operator==(const Addresses &other) const
    {
        return addresses == other.addresses && lines == other.lines;
    }
};

Addresses readAddresses(QTextStream &stream)
{
    RecordingLog log;
    Addresses result;
    result.addresses = parseProbeAddresses(stream, &log);
    result.lines = std::move(log.lines);
    FUZZ_CHECK(result.addresses.size() <= 8);
    FUZZ_CHECK(result.lines.size() <= 1);
    for (const auto &line : result.lines)
        FUZZ_CHECK(line.first == 0 && line.second == "Bad probe address");
    return result;
}

// Each address taken is the whole number on its line: one that does not fit a byte must stop the
// reading, never wrap round to another probe's address.
void checkAddressesAreWritten(const QString &text, const Addresses &read)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (size_t ordinal = 0; ordinal < read.addresses.size(); ++ordinal) {
        QString line = lines.value(int(ordinal) + 1);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        bool ok = false;
        FUZZ_CHECK(line.section(QLatin1Char('='), 1, 1).toULongLong(&ok) ==
                   read.addresses[ordinal]);
        FUZZ_CHECK(ok);
    }
}

Addresses readAddresses(QString text)
{
    QTextStream stream(&text, QIODevice::ReadOnly);
    return readAddresses(stream);
}

// Line ends must not matter: an editor that saves CR LF gives the same settings.
QString withCrLf(const QString &text)
{
    QString converted;
    converted.reserve(text.size() * 2);
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n') && (i == 0 || text.at(i - 1) != QLatin1Char('\r')))
            converted.append(QLatin1Char('\r'));
        converted.append(text.at(i));
    }
    return converted;
}

// The readers work on settings.cfg in the working directory; give them one of their own, only
// while they run, so libFuzzer still finds its corpus and artifact paths.
class InScratchDirectory
{
public:
    InScratchDirectory() : previous(QDir::currentPath())
    {
        static QTemporaryDir scratch;
        FUZZ_CHECK(scratch.isValid() && QDir::setCurrent(scratch.path()));
    }
    ~InScratchDirectory() { QDir::setCurrent(previous); }

private:
    const QString previous;
};

void checkFileReaders(const QByteArray &bytes, const Settings &expected,
                      const Addresses &expectedAddresses)
{
    const InScratchDirectory inScratchDirectory;
    QFile file(QStringLiteral("settings.cfg"));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
    file.close();

    FUZZ_CHECK(sameSettings(readSettings(), expected));

    RecordingLog log;
    const std::map<uint8_t, uint8_t> probeToAddr = readProbeToAddr(&log);
    const std::map<uint8_t, uint8_t> addrToProbe = readAddrToProbe(&log);
    std::map<uint8_t, uint8_t> expectedProbeToAddr;
    std::map<uint8_t, uint8_t> expectedAddrToProbe;
    for (size_t ordinal = 0; ordinal < expectedAddresses.addresses.size(); ++ordinal) {
        expectedProbeToAddr[uint8_t(ordinal)] = expectedAddresses.addresses[ordinal];
        expectedAddrToProbe[expectedAddresses.addresses[ordinal]] = uint8_t(ordinal + 1);
    }
    FUZZ_CHECK(probeToAddr == expectedProbeToAddr);
    FUZZ_CHECK(addrToProbe == expectedAddrToProbe);
    FUZZ_CHECK(log.lines.size() == 2 * expectedAddresses.lines.size());

    // The readers never write the file.
    FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == bytes);
}

// The file round trip costs ten times the parsing; one input in sixteen takes it, chosen by
// content so that a finding replays.
bool takesFilePath(const uint8_t *data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash % 16 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The stream's default codec follows the host; fix it so a finding replays anywhere. UTF-8
    // also has the most to get wrong: byte order marks, broken and overlong sequences.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    checkedSettings(bytes);

    QBuffer buffer(&bytes);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    QTextStream stream(&buffer);
    const Addresses addresses = readAddresses(stream);

    // What the file reader scans: the text as the stream decodes it, back in UTF-8.
    buffer.seek(0);
    QTextStream wholeStream(&buffer);
    const QString text = wholeStream.readAll();
    const Settings settings = checkedSettings(text.toUtf8());

    FUZZ_CHECK(readAddresses(text) == addresses);
    checkAddressesAreWritten(text, addresses);
    const QString crLfText = withCrLf(text);
    FUZZ_CHECK(sameSettings(parseSettings(crLfText.toUtf8()), settings));
    FUZZ_CHECK(readAddresses(crLfText) == addresses);

    if (takesFilePath(data, size))
        checkFileReaders(bytes, settings, addresses);
    return 0;
}
