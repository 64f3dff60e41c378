#include "quality/ReportContent.h"

#include "records/History.h"
#include "records/RecordReader.h"

#include <QSettings>

#include <algorithm>
#include <cmath>
#include <map>

namespace quality {

ReportFields loadReportFields(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    ReportFields fields;
    fields.order = settings.value(QStringLiteral("report/order")).toString();
    fields.batch = settings.value(QStringLiteral("report/batch")).toString();
    fields.line = settings.value(QStringLiteral("report/line")).toString();
    fields.operatorName = settings.value(QStringLiteral("report/operator")).toString();
    return fields;
}

bool saveReportFields(const ReportFields &fields, const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("report/order"), fields.order);
    settings.setValue(QStringLiteral("report/batch"), fields.batch);
    settings.setValue(QStringLiteral("report/line"), fields.line);
    settings.setValue(QStringLiteral("report/operator"), fields.operatorName);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

ReportContent gatherReport(const ReportRequest &request)
{
    ReportContent content;
    content.request = request;
    const qint64 from = request.from.toMSecsSinceEpoch();
    const qint64 to = request.to.toMSecsSinceEpoch();
    // A day's file holds the local days' lines; a day either side covers any offset.
    records::ReadResult read = records::readDays(
        request.recordsFolder, request.from.date().addDays(-1), request.to.date().addDays(1));
    content.skippedLines = read.skipped;
    std::vector<records::Record> &all = read.records;
    const auto byTime = [](const records::Record &a, const records::Record &b) {
        return a.msecs < b.msecs;
    };
    // Files are read in day order, lines as written; a clock set back is the rare exception.
    if (!std::is_sorted(all.begin(), all.end(), byTime))
        std::stable_sort(all.begin(), all.end(), byTime);

    std::array<bool, records::channelCount> wanted{};
    for (int channel = 1; channel <= records::channelCount; ++channel)
        wanted[size_t(channel - 1)] =
            request.channels.isEmpty() || request.channels.contains(channel);
    struct Probe
    {
        explicit Probe(const std::optional<Limits> &limits) : sums(limits) {}
        history::Series series;
        Accumulator sums;
    };
    std::map<history::SeriesKey, Probe> probes;

    const auto begin =
        std::lower_bound(all.begin(), all.end(), from,
                         [](const records::Record &r, qint64 t) { return r.msecs < t; });
    for (auto record = begin; record != all.end() && record->msecs <= to; ++record) {
        for (int channel = 1; channel <= records::channelCount; ++channel) {
            const size_t index = size_t(channel - 1);
            if (!wanted[index] || !record->hasChannel(channel))
                continue;
            const auto &limits = request.limits[index];
            Probe &probe = probes.try_emplace(history::SeriesKey{channel, record->address}, limits)
                               .first->second;
            // A value that is not finite is no measurement: neither drawn nor counted.
            if (std::isfinite(record->calibrated)) {
                probe.series.x.push_back(double(record->msecs));
                probe.series.y.push_back(double(record->calibrated));
            }
            probe.sums.add(record->calibrated);
            const Verdict verdict = limits ? limits->verdict(record->calibrated) : Verdict::None;
            if (verdict != Verdict::Below && verdict != Verdict::Above)
                continue;
            if (content.outOfTolerance.size() < size_t(listedOutOfTolerance))
                content.outOfTolerance.push_back({record->msecs, record->offsetSecs, channel,
                                                  record->address, record->calibrated, verdict});
            ++content.outOfToleranceCount;
        }
    }
    for (const auto &[key, probe] : probes) {
        if (probe.series.x.empty())
            continue;
        ChannelReport report;
        report.channel = key.channel;
        report.address = uint8_t(key.address);
        report.limits = request.limits[size_t(key.channel - 1)];
        report.statistics = probe.sums.result();
        history::Reduced trend;
        history::reduce(probe.series, double(from), double(to), trendSlices, trend);
        report.trend = std::move(trend.points);
        content.channels.push_back(std::move(report));
    }
    content.calibrations =
        readJournalFile(request.recordsFolder + QStringLiteral("/calibration.csv"), from, to);
    content.calibrations.erase(
        std::remove_if(content.calibrations.begin(), content.calibrations.end(),
                       [&](const CalibrationEvent &event) {
                           return event.channel != 0 && !wanted[size_t(event.channel - 1)];
                       }),
        content.calibrations.end());
    return content;
}

}  // namespace quality
