#include "quality/Limits.h"

#include <QFile>

#include <charconv>
#include <cmath>
#include <limits>

namespace quality {

namespace {

// Longer lines are not a person's limits file: a file of noise is stopped at its first line.
constexpr int longestLine = 200;
constexpr int largestFile = 64 * 1024;

struct Section
{
    int channel = 0;
    int line = 0;
    std::optional<double> nominal, lower, upper;
};

LimitsFile failure(int line, const QString &text)
{
    LimitsFile file;
    file.error = text;
    file.errorLine = line;
    return file;
}

// A finished section, or why it is not one.
QString close(const Section &section, ChannelLimits &channels)
{
    if (!section.lower || !section.upper)
        return QStringLiteral("[channel%1] needs both lower and upper").arg(section.channel);
    if (*section.lower > *section.upper)
        return QStringLiteral("[channel%1] has lower above upper").arg(section.channel);
    Limits limits;
    limits.lower = *section.lower;
    limits.upper = *section.upper;
    limits.nominal = section.nominal.value_or((limits.lower + limits.upper) / 2);
    if (limits.nominal < limits.lower || limits.nominal > limits.upper)
        return QStringLiteral("[channel%1] has its nominal outside its limits")
            .arg(section.channel);
    channels[size_t(section.channel - 1)] = limits;
    return {};
}

QByteArray formatNumber(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, int(result.ptr - text));
}

// Probes report 32-bit floats: a value shown as 95.1 is the float nearest 95.1, a little below
// the double 95.1. Limits are judged on the same grid, so what is shown on a limit is on it.
double onFloatGrid(double limit)
{
    return std::abs(limit) <= double(std::numeric_limits<float>::max()) ? double(float(limit))
                                                                        : limit;
}

}  // namespace

Verdict Limits::verdict(double value) const
{
    if (!std::isfinite(value))
        return Verdict::None;
    if (value < onFloatGrid(lower))
        return Verdict::Below;
    if (value > onFloatGrid(upper))
        return Verdict::Above;
    return Verdict::InTolerance;
}

LimitsFile parseLimits(QIODevice &device)
{
    LimitsFile result;
    std::optional<Section> section;
    int number = 0;
    std::array<bool, records::channelCount> seen{};
    qint64 total = 0;
    while (!device.atEnd()) {
        const QByteArray bytes = device.readLine(longestLine + 2);
        ++number;
        total += bytes.size();
        if (total > largestFile)
            return failure(number, QStringLiteral("the file is too long for a limits file"));
        if (bytes.size() > longestLine && !bytes.endsWith('\n'))
            return failure(number, QStringLiteral("the line is too long"));
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (section) {
                const QString error = close(*section, result.channels);
                if (!error.isEmpty())
                    return failure(section->line, error);
            }
            static const QString prefix = QStringLiteral("[channel");
            bool ok = false;
            const int channel =
                line.startsWith(prefix) && line.endsWith(QLatin1Char(']'))
                    ? line.mid(prefix.size(), line.size() - prefix.size() - 1).toInt(&ok)
                    : 0;
            if (!ok || channel < 1 || channel > records::channelCount)
                return failure(number,
                               QStringLiteral("not a section [channel1] to [channel8]: ") + line);
            if (seen[size_t(channel - 1)])
                return failure(number,
                               QStringLiteral("[channel%1] for the second time").arg(channel));
            seen[size_t(channel - 1)] = true;
            section = Section{channel, number, {}, {}, {}};
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return failure(number, QStringLiteral("neither a section nor key=value: ") + line);
        if (!section)
            return failure(number, QStringLiteral("a value before the first section: ") + line);
        const QString key = line.left(equals).trimmed();
        bool ok = false;
        const double value = line.mid(equals + 1).trimmed().toDouble(&ok);
        // Values are 32-bit floats: a limit beyond them judges nothing.
        if (!ok || !(std::abs(value) <= double(std::numeric_limits<float>::max())))
            return failure(number, QStringLiteral("not a number: ") + line);
        std::optional<double> *slot = key == QLatin1String("nominal") ? &section->nominal
                                      : key == QLatin1String("lower") ? &section->lower
                                      : key == QLatin1String("upper") ? &section->upper
                                                                      : nullptr;
        if (!slot)
            return failure(number, QStringLiteral("unknown key: ") + key);
        if (*slot)
            return failure(number, QStringLiteral("%1 for the second time").arg(key));
        *slot = value;
    }
    if (section) {
        const QString error = close(*section, result.channels);
        if (!error.isEmpty())
            return failure(section->line, error);
    }
    return result;
}

LimitsFile readLimits(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return failure(0, file.errorString());
    return parseLimits(file);
}

QByteArray formatLimits(const ChannelLimits &channels)
{
    QByteArray text;
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        const auto &limits = channels[size_t(channel - 1)];
        if (!limits)
            continue;
        if (!text.isEmpty())
            text += '\n';
        text += "[channel" + QByteArray::number(channel) + "]\n";
        text += "nominal=" + formatNumber(limits->nominal) + '\n';
        text += "lower=" + formatNumber(limits->lower) + '\n';
        text += "upper=" + formatNumber(limits->upper) + '\n';
    }
    return text;
}

void judge(records::Record &record, const ChannelLimits &channels)
{
    record.verdict = Verdict::None;
    record.lowerUm = record.upperUm = std::numeric_limits<float>::quiet_NaN();
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        const auto &limits = channels[size_t(channel - 1)];
        if (!record.hasChannel(channel))
            continue;
        if (limits) {
            record.verdict = limits->verdict(double(record.calibrated));
            record.lowerUm = float(limits->lower);
            record.upperUm = float(limits->upper);
        }
        return;
    }
}

}  // namespace quality
