#include "report/ReportCommand.h"

#include "quality/ReportContent.h"
#include "report/ReportDocument.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <optional>

namespace report {

namespace {

const char *const description =
    "Writes the report of a time range as PDF (A4): the header fields, a trend per channel with\n"
    "its limits and calibrations, the statistics, the values out of tolerance and the calibration\n"
    "events, from the records folder and limits.ini of the working folder.\n"
    "\n"
    "DATE is a day (2026-12-08: from its start, or to its end) or a local time\n"
    "(2026-12-08T14:30). The header fields not given are those the window remembered.\n"
    "\n"
    "Exit status:\n"
    "  0  the report was written\n"
    "  1  the report could not be written\n"
    "  2  bad arguments, or a malformed limits file; nothing was written";

// A day counts from its first millisecond as the start and to its last as the end.
std::optional<QDateTime> parseDate(const QString &text, bool end)
{
    // QDate takes the day of a time stamp too, so the form is checked first.
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (day.isValid())
        return end ? day.endOfDay() : day.startOfDay();
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (time.isValid())
        return time;
    return std::nullopt;
}

std::optional<QVector<int>> parseChannels(const QString &text)
{
    QVector<int> channels;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int channel = part.trimmed().toInt(&ok);
        if (!ok || channel < 1 || channel > records::channelCount)
            return std::nullopt;
        channels.append(channel);
    }
    return channels;
}

}  // namespace

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("Start of the range."),
                                  QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("End of the range."),
                                QStringLiteral("DATE"));
    const QCommandLineOption output(QStringLiteral("out"), QStringLiteral("The PDF file to write."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption limits(QStringLiteral("limits"),
                                    QStringLiteral("Tolerances per channel (default limits.ini)."),
                                    QStringLiteral("FILE"), QStringLiteral("limits.ini"));
    const QCommandLineOption channels(
        QStringLiteral("channels"), QStringLiteral("Only these channels, e.g. 1,3 (default all)."),
        QStringLiteral("LIST"));
    const QCommandLineOption order(QStringLiteral("order"), QStringLiteral("The order."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption batch(QStringLiteral("batch"), QStringLiteral("The batch."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption line(QStringLiteral("line"), QStringLiteral("The production line."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption operatorName(QStringLiteral("operator"),
                                          QStringLiteral("The operator."), QStringLiteral("TEXT"));
    parser.addOptions({help, from, to, output, limits, channels, order, batch, line, operatorName});
    QStringList rest = arguments;
    if (rest.size() > 1)
        rest.removeAt(1);  // "report"
    const auto usage = [&err](const QString &text) {
        err << "t7r-cli report: " << text << "\n";
        return exitUsage;
    };
    if (!parser.parse(rest))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        out << "Usage: t7r-cli report --from DATE --to DATE --out FILE.pdf [options]\n\n"
            << parser.helpText().section(QLatin1Char('\n'), 2);
        return exitWritten;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument ") + parser.positionalArguments().first());
    if (!parser.isSet(from) || !parser.isSet(to) || !parser.isSet(output))
        return usage(QStringLiteral("--from, --to and --out are needed"));
    const auto first = parseDate(parser.value(from), false);
    const auto last = parseDate(parser.value(to), true);
    if (!first || !last)
        return usage(QStringLiteral("a date is YYYY-MM-DD or YYYY-MM-DDTHH:MM"));
    if (*first > *last)
        return usage(QStringLiteral("--from is after --to"));

    quality::ReportRequest request;
    request.from = *first;
    request.to = *last;
    if (parser.isSet(channels)) {
        const auto chosen = parseChannels(parser.value(channels));
        if (!chosen)
            return usage(QStringLiteral("--channels takes channels 1 to 8, e.g. 1,3"));
        request.channels = *chosen;
    }
    const quality::LimitsFile limitsFile = quality::readLimits(parser.value(limits));
    if (!limitsFile.ok())
        return usage(QStringLiteral("%1:%2: %3")
                         .arg(parser.value(limits))
                         .arg(limitsFile.errorLine)
                         .arg(limitsFile.error));
    request.limits = limitsFile.channels;
    request.fields = quality::loadReportFields();
    const auto take = [&parser](const QCommandLineOption &option, QString &field) {
        if (parser.isSet(option))
            field = parser.value(option);
    };
    take(order, request.fields.order);
    take(batch, request.fields.batch);
    take(line, request.fields.line);
    take(operatorName, request.fields.operatorName);

    const quality::ReportContent content = quality::gatherReport(request);
    QString error;
    if (!ReportDocument(content).writePdf(parser.value(output), &error)) {
        err << "t7r-cli report: " << error << "\n";
        return exitNotWritten;
    }
    return exitWritten;
}

}  // namespace report
