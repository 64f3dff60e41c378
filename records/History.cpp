#include "records/History.h"

#include <algorithm>
#include <cmath>

namespace history {

std::pair<QDate, QDate> days(DaySpan span, const QDate &today, const QDate &from, const QDate &to)
{
    switch (span) {
        case DaySpan::Today:
            return {today, today};
        case DaySpan::LastWeek:
            return {today.addDays(-6), today};
        case DaySpan::Range:
            break;
    }
    if (!from.isValid() || !to.isValid())
        return {today, today};
    return from <= to ? std::pair{from, to} : std::pair{to, from};
}

void reduce(const Series &series, double from, double to, int buckets, QVector<QPointF> &out)
{
    out.clear();
    const std::vector<double> &x = series.x;
    const std::vector<double> &y = series.y;
    if (x.empty() || buckets <= 0 || !std::isfinite(from) || !std::isfinite(to) || !(to > from))
        return;
    const size_t begin = size_t(std::lower_bound(x.begin(), x.end(), from) - x.begin());
    const size_t end = size_t(std::upper_bound(x.begin(), x.end(), to) - x.begin());
    if (begin > 0)
        out.append({x[begin - 1], y[begin - 1]});
    if (end - begin <= size_t(4 * buckets)) {
        for (size_t i = begin; i < end; ++i)
            out.append({x[i], y[i]});
    } else {
        const double width = (to - from) / buckets;
        size_t i = begin;
        while (i < end) {
            const int bucket = std::min(buckets - 1, int((x[i] - from) / width));
            const double bucketEnd = bucket == buckets - 1 ? to : from + (bucket + 1) * width;
            // The first point always goes in, so that rounding at a bucket's edge cannot stall.
            const size_t first = i;
            size_t low = i, high = i;
            for (++i; i < end && (bucket == buckets - 1 || x[i] < bucketEnd); ++i) {
                if (y[i] < y[low])
                    low = i;
                if (y[i] > y[high])
                    high = i;
            }
            const size_t last = i - 1;
            // In time order, so that the line between them is drawn as on the full series.
            size_t previous = SIZE_MAX;
            for (const size_t pick : {first, std::min(low, high), std::max(low, high), last}) {
                if (pick != previous)
                    out.append({x[pick], y[pick]});
                previous = pick;
            }
        }
    }
    if (end < x.size())
        out.append({x[end], y[end]});
}

void Model::load(const QString &directory, const QDate &firstDay, const QDate &lastDay)
{
    set(records::readDays(directory, firstDay, lastDay), firstDay, lastDay);
}

void Model::set(records::ReadResult result, const QDate &firstDay, const QDate &lastDay)
{
    first = firstDay;
    last = lastDay;
    shown = std::move(result.records);
    skippedLines = result.skipped;
    // Files are read in day order, lines as written; a clock set back is the rare exception.
    std::stable_sort(
        shown.begin(), shown.end(),
        [](const records::Record &a, const records::Record &b) { return a.msecs < b.msecs; });
    rebuild();
}

Model::Added Model::add(const records::Record &record)
{
    const QDate day = record.day();
    if (!first.isValid() || day < first || day > last)
        return Added::NotShown;
    if (shown.empty() || shown.back().msecs <= record.msecs) {
        shown.push_back(record);
        index(record);
        return Added::AtEnd;
    }
    const auto at = std::upper_bound(
        shown.begin(), shown.end(), record,
        [](const records::Record &a, const records::Record &b) { return a.msecs < b.msecs; });
    shown.insert(at, record);
    rebuild();
    return Added::Inserted;
}

void Model::rebuild()
{
    lines.clear();
    for (const records::Record &record : shown)
        index(record);
}

void Model::index(const records::Record &record)
{
    if (record.channels == 0)
        return index({0, record.address}, record);
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        if (record.hasChannel(channel))
            index({channel, record.address}, record);
    }
}

// Welford's running mean and squared deviations: exact enough for a year of close values.
void Model::index(const SeriesKey &key, const records::Record &record)
{
    Line &line = lines[key];
    Sums &s = line.sums;
    const double value = double(record.calibrated);
    // One nan would make every figure nan and one inf would stretch the axis past every value.
    if (!std::isfinite(value)) {
        ++s.notFinite;
        return;
    }
    line.series.x.push_back(double(record.msecs));
    line.series.y.push_back(value);
    ++s.count;
    const double delta = value - s.mean;
    s.mean += delta / double(s.count);
    s.m2 += delta * (value - s.mean);
    s.min = s.count == 1 ? value : std::min(s.min, value);
    s.max = s.count == 1 ? value : std::max(s.max, value);
    s.lastMsecs = std::max(s.lastMsecs, record.msecs);
}

std::vector<SeriesKey> Model::keys() const
{
    std::vector<SeriesKey> all;
    all.reserve(lines.size());
    for (const auto &entry : lines)
        all.push_back(entry.first);
    return all;
}

const Series &Model::series(const SeriesKey &key) const
{
    static const Series none;
    const auto it = lines.find(key);
    return it == lines.end() ? none : it->second.series;
}

Statistics Model::statistics(const SeriesKey &key) const
{
    Statistics statistics;
    const auto it = lines.find(key);
    if (it == lines.end())
        return statistics;
    const Sums &s = it->second.sums;
    statistics.count = s.count;
    statistics.notFinite = s.notFinite;
    if (s.count == 0)
        return statistics;
    statistics.mean = s.mean;
    statistics.stddev = s.count > 1 ? std::sqrt(s.m2 / double(s.count - 1)) : 0.0;
    statistics.min = s.min;
    statistics.max = s.max;
    statistics.lastMsecs = s.lastMsecs;
    return statistics;
}

QString Model::legend(const SeriesKey &key)
{
    return (key.channel == 0 ? QStringLiteral("Без канала")
                             : QStringLiteral("Канал %1").arg(key.channel)) +
           QStringLiteral(", адрес %1").arg(key.address);
}

bool Model::exportCsv(QIODevice &device) const
{
    QByteArray text = records::header();
    for (const records::Record &record : shown) {
        text += records::formatLine(record);
        if (text.size() > (1 << 20)) {
            if (device.write(text) != text.size())
                return false;
            text.clear();
        }
    }
    return device.write(text) == text.size();
}

namespace {

const char *const columnTitles[] = {"Время",      "Канал",        "Адрес",
                                    "Сырое, мкм", "Калибр., мкм", "Качество"};

}  // namespace

TableModel::TableModel(const Model *model, QObject *parent)
    : QAbstractTableModel(parent), model(model)
{
}

int TableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows;
}

int TableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 6;
}

QVariant TableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows)
        return {};
    const records::Record &record = model->records()[size_t(index.row())];
    switch (index.column()) {
        case 0:
            return QDateTime::fromMSecsSinceEpoch(record.msecs, Qt::OffsetFromUTC,
                                                  record.offsetSecs)
                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        case 1:
            return QString::fromLatin1(records::formatChannels(record.channels));
        case 2:
            return int(record.address);
        case 3:
            return QString::fromLatin1(records::formatFloat(record.raw));
        case 4:
            return QString::fromLatin1(records::formatFloat(record.calibrated));
        case 5:
            return int(record.quality);
    }
    return {};
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return section >= 0 && section < 6 ? QString::fromUtf8(columnTitles[section]) : QVariant();
}

void TableModel::reset()
{
    beginResetModel();
    rows = int(model->records().size());
    endResetModel();
}

void TableModel::added(Model::Added how)
{
    if (how == Model::Added::NotShown)
        return;
    if (how == Model::Added::Inserted)
        return reset();
    beginInsertRows({}, rows, rows);
    ++rows;
    endInsertRows();
}

}  // namespace history
