// A report over a year of records (960,000 lines, a value in twenty out of tolerance and a
// calibration a day): gathering it from the files and writing its PDF, in this process and
// through t7r-cli report as a user runs it.

#include "Statistics.h"
#include "YearOfRecords.h"
#include "logging/ILog.h"
#include "quality/CalibrationJournal.h"
#include "quality/ReportContent.h"
#include "records/Record.h"
#include "report/ReportDocument.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace bench;

namespace {

constexpr double reportLimitMs = 3000;
constexpr int runs = 3;

void writeJournal(const QDate &first)
{
    m::DummyLog log;
    quality::CalibrationJournal journal(&log);
    for (QDate day = first; day <= QDate::currentDate(); day = day.addDays(1))
        journal.append(quality::makeEvent(QDateTime(day, QTime(7, 55)), 1, 11,
                                          quality::CalibrationCommand::Zero, std::nullopt,
                                          QStringLiteral("ok")));
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        return 2;
    QDate first;
    const int lines = writeYear(QStringLiteral("records"), first);
    if (lines < 0)
        return 2;
    writeJournal(first);

    quality::ReportRequest request;
    request.from = first.startOfDay();
    request.to = QDate::currentDate().endOfDay();
    request.fields = {QStringLiteral("З-1"), QStringLiteral("П-1"), QStringLiteral("Линия 1"),
                      QStringLiteral("Оператор")};
    // Each probe's band is its drift's middle: about one value in twenty falls outside.
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        const double middle = 100 + 10 * channel - 0.5 + 0.125;
        request.limits[size_t(channel - 1)] = quality::Limits{middle, middle - 1.05, middle + 1.05};
    }

    std::vector<double> gather, write, total;
    qint64 outOfTolerance = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        const quality::ReportContent content = quality::gatherReport(request);
        gather.push_back(double(clock.nsecsElapsed()) / 1e6);
        const qint64 written = clock.nsecsElapsed();
        if (!ReportDocument(content).writePdf(QStringLiteral("report.pdf")))
            return 2;
        write.push_back(double(clock.nsecsElapsed() - written) / 1e6);
        total.push_back(double(clock.nsecsElapsed()) / 1e6);
        outOfTolerance = content.outOfToleranceCount;
    }

    std::vector<double> cli;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        QProcess process;
        process.start(
            QStringLiteral(BENCH_CLI_PATH),
            {QStringLiteral("report"), QStringLiteral("--from"), first.toString(Qt::ISODate),
             QStringLiteral("--to"), QDate::currentDate().toString(Qt::ISODate),
             QStringLiteral("--out"), QStringLiteral("cli.pdf")});
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return 2;
        cli.push_back(double(clock.nsecsElapsed()) / 1e6);
    }

    std::printf("records: %d lines, %lld out of tolerance, %lld bytes of PDF\n", lines,
                static_cast<long long>(outOfTolerance),
                static_cast<long long>(QFileInfo(QStringLiteral("report.pdf")).size()));
    std::printf(
        "report in process, median of %d (max): gather %.0f (%.0f) ms, PDF %.0f (%.0f) ms, "
        "total %.0f (%.0f) ms\n",
        runs, median(gather), maximum(gather), median(write), maximum(write), median(total),
        maximum(total));
    std::printf("t7r-cli report, whole process, median of %d (max): %.0f (%.0f) ms\n", runs,
                median(cli), maximum(cli));
    const bool met = median(total) <= reportLimitMs && median(cli) <= reportLimitMs;
    std::printf("target: a year's report <= %.0f ms: %s\n", reportLimitMs, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
