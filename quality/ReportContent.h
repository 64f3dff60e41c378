#pragma once

#include "quality/CalibrationJournal.h"
#include "quality/Limits.h"
#include "quality/Statistics.h"
#include "records/Record.h"

#include <QDateTime>
#include <QPointF>
#include <QString>
#include <QVector>

#include <array>
#include <vector>

// What a report says, gathered from the working folder without a widget or a painter: the
// window's dialog and the command line fill the request, the report library draws the result.
namespace quality {

// The header a QA engineer signs under; remembered per working folder in report.ini.
struct ReportFields
{
    QString order;
    QString batch;
    QString line;
    QString operatorName;
};

ReportFields loadReportFields(const QString &path = QStringLiteral("report.ini"));
bool saveReportFields(const ReportFields &fields,
                      const QString &path = QStringLiteral("report.ini"));

struct ReportRequest
{
    QDateTime from;
    QDateTime to;
    QVector<int> channels;  // empty: every channel with values
    ReportFields fields;
    QString recordsFolder = QStringLiteral("records");
    ChannelLimits limits;
};

// One value out of tolerance, as the report lists it.
struct OutOfTolerance
{
    qint64 msecs = 0;
    int offsetSecs = 0;
    int channel = 0;
    uint8_t address = 0;
    float value = 0;
    Verdict verdict = Verdict::None;
};

// One probe: a channel and an address. Two addresses recorded under one channel are two probes,
// never one series or one statistic.
struct ChannelReport
{
    int channel = 0;
    uint8_t address = 0;
    std::optional<Limits> limits;
    Statistics statistics;
    // The trend as a page can show it: a few points per slice of the range (first, lowest,
    // highest, last), so a year costs what a day does.
    QVector<QPointF> trend;
};

struct ReportContent
{
    ReportRequest request;
    std::vector<ChannelReport> channels;  // those with values, by channel, then address
    // The first ones, in time order; a year out of tolerance would fill a book.
    std::vector<OutOfTolerance> outOfTolerance;
    qint64 outOfToleranceCount = 0;
    std::vector<CalibrationEvent> calibrations;
    qint64 skippedLines = 0;
};

constexpr int trendSlices = 600;
constexpr int listedOutOfTolerance = 200;

ReportContent gatherReport(const ReportRequest &request);

}  // namespace quality
