#include "console/Rows.h"

#include "records/Record.h"

#include <cmath>

namespace console {

namespace {

const QStringList fieldNames{"time",    "address", "raw_um",  "calibrated_um", "quality",
                             "command", "outcome", "verdict", "lower_um",      "upper_um"};
const int tableWidths[] = {29, 7, 13, 13, 7, 7, 11, 7, 13, 13};
constexpr int fieldsWithoutLimits = 7;

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString jsonString(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\') + QString(c);
        else if (c.unicode() < 0x20)
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString text(const std::optional<int> &value)
{
    return value ? QString::number(*value) : QString();
}

// The records' spelling, so that a value reads the same in a row and in the day's file.
QString number(float value)
{
    return QString::fromLatin1(records::formatFloat(value));
}

QString text(const std::optional<float> &value)
{
    return value ? number(*value) : QString();
}

// JSON has no NaN or infinity: a probe that sends one gives null, and the line stays valid.
QString json(const std::optional<float> &value)
{
    return value && std::isfinite(*value) ? number(*value) : QStringLiteral("null");
}

QString json(const std::optional<int> &value)
{
    return value ? QString::number(*value) : QStringLiteral("null");
}

}  // namespace

void RowWriter::write(const Row &row)
{
    const QString time = QString::fromLatin1(
        records::formatTime(row.time.toMSecsSinceEpoch(), row.time.offsetFromUtc()));
    QStringList fields{
        time,        text(row.address), text(row.raw), text(row.calibrated), text(row.quality),
        row.command, row.outcome};
    if (withLimits)
        fields << row.verdict << text(row.lowerUm) << text(row.upperUm);
    const QStringList names = fieldNames.mid(0, fields.size());
    QString line;
    switch (format) {
        case Format::Table: {
            if (!headerDone) {
                QString header;
                for (int i = 0; i < names.size(); ++i) {
                    const int width = i + 1 < names.size() ? tableWidths[i] : 0;
                    header += names[i].leftJustified(width) +
                              (i + 1 < names.size() ? QStringLiteral(" ") : QString());
                }
                out << header.trimmed() << '\n';
            }
            for (int i = 0; i < fields.size(); ++i) {
                // Numbers line up on the right, texts on the left.
                const bool numeric = (i >= 1 && i <= 4) || i > fieldsWithoutLimits;
                const int width = i + 1 < fields.size() ? tableWidths[i] : 0;
                line += numeric ? fields[i].rightJustified(width) : fields[i].leftJustified(width);
                if (i + 1 < fields.size())
                    line += QLatin1Char(' ');
            }
            line = line.trimmed();
            break;
        }
        case Format::Csv:
            if (!headerDone)
                out << names.join(QLatin1Char(',')) << '\n';
            {
                QStringList quoted;
                for (const QString &field : fields)
                    quoted << csvField(field);
                line = quoted.join(QLatin1Char(','));
                break;
            }
        case Format::Json:
            line =
                QStringLiteral(
                    "{\"time\":%1,\"address\":%2,\"raw_um\":%3,\"calibrated_um\":%4,"
                    "\"quality\":%5,\"command\":%6,\"outcome\":%7}")
                    .arg(jsonString(time), json(row.address), json(row.raw), json(row.calibrated),
                         json(row.quality), jsonString(row.command), jsonString(row.outcome));
            if (withLimits) {
                line.chop(1);
                line += QStringLiteral(",\"verdict\":%1,\"lower_um\":%2,\"upper_um\":%3}")
                            .arg(row.verdict.isEmpty() ? QStringLiteral("null")
                                                       : jsonString(row.verdict),
                                 json(row.lowerUm), json(row.upperUm));
            }
            break;
    }
    headerDone = true;
    out << line << '\n';
    out.flush();
}

void RowWriter::writePort(const QString &name, const QString &description)
{
    switch (format) {
        case Format::Table:
            if (!headerDone)
                out << "port             description\n";
            out << (name.leftJustified(16) + QLatin1Char(' ') + description).trimmed() << '\n';
            break;
        case Format::Csv:
            if (!headerDone)
                out << "port,description\n";
            out << csvField(name) << ',' << csvField(description) << '\n';
            break;
        case Format::Json:
            out << "{\"port\":" << jsonString(name)
                << ",\"description\":" << jsonString(description) << "}\n";
            break;
    }
    headerDone = true;
    out.flush();
}

}  // namespace console
