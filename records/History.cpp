#include "records/History.h"

#include <algorithm>
#include <cmath>
#include <numeric>

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

double gapOf(const Series &series)
{
    const std::vector<double> &x = series.x;
    if (x.size() < 3)
        return std::numeric_limits<double>::infinity();
    std::vector<double> spacings(x.size() - 1);
    std::adjacent_difference(x.begin() + 1, x.end(), spacings.begin());
    spacings.front() = x[1] - x[0];
    const auto middle = spacings.begin() + std::ptrdiff_t(spacings.size() / 2);
    std::nth_element(spacings.begin(), middle, spacings.end());
    return 5 * std::max(*middle, 1.0);
}

void reduce(const Series &series, double from, double to, int buckets, Reduced &out)
{
    out.points.clear();
    out.breaks.clear();
    const std::vector<double> &x = series.x;
    const std::vector<double> &y = series.y;
    if (x.empty() || buckets <= 0 || !std::isfinite(from) || !std::isfinite(to) || !(to > from))
        return;
    const size_t begin = size_t(std::lower_bound(x.begin(), x.end(), from) - x.begin());
    const size_t end = size_t(std::upper_bound(x.begin(), x.end(), to) - x.begin());
    // Each point's spacings to the one before are looked at once: the picks go forward.
    size_t previous = SIZE_MAX;
    const auto take = [&](size_t pick) {
        if (pick == previous)
            return;
        if (previous != SIZE_MAX && std::isfinite(series.gap)) {
            for (size_t i = previous + 1; i <= pick; ++i) {
                if (x[i] - x[i - 1] > series.gap) {
                    out.breaks.append(out.points.size());
                    break;
                }
            }
        }
        out.points.append({x[pick], y[pick]});
        previous = pick;
    };
    if (begin > 0)
        take(begin - 1);
    if (end - begin <= size_t(4 * buckets)) {
        for (size_t i = begin; i < end; ++i)
            take(i);
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
            // In time order, so that the line between them is drawn as on the full series.
            for (const size_t pick : {first, std::min(low, high), std::max(low, high), i - 1})
                take(pick);
        }
    }
    if (end < x.size())
        take(end);
}

void Model::load(const QString &directory, const QDate &firstDay, const QDate &lastDay)
{
    set(records::readDays(directory, firstDay, lastDay), firstDay, lastDay);
}

void Model::set(records::ReadResult result, const QDate &firstDay, const QDate &lastDay,
                const quality::ChannelLimits &channelLimits)
{
    limits = channelLimits;
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

void Model::setLimits(const quality::ChannelLimits &channelLimits)
{
    limits = channelLimits;
    rebuild();
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

void Model::index(const SeriesKey &key, const records::Record &record)
{
    auto at = lines.find(key);
    if (at == lines.end()) {
        const bool judged = key.channel >= 1 && key.channel <= records::channelCount;
        at = lines
                 .emplace(key, Line{{},
                                    {},
                                    quality::Accumulator(judged ? limits[size_t(key.channel - 1)]
                                                                : std::nullopt)})
                 .first;
    }
    Line &line = at->second;
    const double value = double(record.calibrated);
    line.whole.add(value);
    // One nan would make every figure nan and one inf would stretch the axis past every value.
    if (!std::isfinite(value)) {
        line.notFinite.push_back(double(record.msecs));
        return;
    }
    line.series.x.push_back(double(record.msecs));
    line.series.y.push_back(value);
    if (line.series.x.size() >= 2 * line.gapMeasuredAt) {
        line.series.gap = gapOf(line.series);
        line.gapMeasuredAt = line.series.x.size();
    }
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

quality::Statistics Model::statistics(const SeriesKey &key, const TimeRange &range) const
{
    const auto it = lines.find(key);
    if (it == lines.end())
        return {};
    const Line &line = it->second;
    const std::vector<double> &x = line.series.x;
    const auto within = [&range](const std::vector<double> &times) {
        return std::pair(std::lower_bound(times.begin(), times.end(), range.from) - times.begin(),
                         std::upper_bound(times.begin(), times.end(), range.to) - times.begin());
    };
    const auto [begin, end] = within(x);
    const auto [notFiniteBegin, notFiniteEnd] = within(line.notFinite);
    if (begin == 0 && size_t(end) == x.size() && notFiniteBegin == 0 &&
        size_t(notFiniteEnd) == line.notFinite.size())
        return line.whole.result();
    quality::Accumulator slice(key.channel >= 1 && key.channel <= records::channelCount
                                   ? limits[size_t(key.channel - 1)]
                                   : std::nullopt);
    for (auto i = begin; i < end; ++i)
        slice.add(line.series.y[size_t(i)]);
    quality::Statistics statistics = slice.result();
    statistics.notFinite = notFiniteEnd - notFiniteBegin;
    return statistics;
}

TimeRange Model::wholeView() const
{
    double left = std::numeric_limits<double>::max();
    double right = std::numeric_limits<double>::lowest();
    for (const auto &entry : lines) {
        const std::vector<double> &x = entry.second.series.x;
        if (!x.empty()) {
            left = std::min(left, x.front());
            right = std::max(right, x.back());
        }
    }
    if (left > right)
        return {double(first.startOfDay().toMSecsSinceEpoch()),
                double(last.addDays(1).startOfDay().toMSecsSinceEpoch())};
    const double room = std::max(0.02 * (right - left), 1'000.0);
    return {left - room, right + room};
}

QString Model::legend(const SeriesKey &key)
{
    return (key.channel == 0 ? QStringLiteral("Без канала")
                             : QStringLiteral("Канал %1").arg(key.channel)) +
           QStringLiteral(", адрес %1").arg(key.address);
}

namespace {

// A field with the separator, a quote or a line end in it goes in quotes, its quotes doubled.
QByteArray excelField(const QByteArray &text)
{
    if (!text.contains(';') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    return '"' + QByteArray(text).replace('"', "\"\"") + '"';
}

QByteArray excelNumber(float value)
{
    return records::formatFloat(value).replace('.', ',');
}

QByteArray excelLine(const records::Record &record)
{
    const QDateTime time =
        QDateTime::fromMSecsSinceEpoch(record.msecs, Qt::OffsetFromUTC, record.offsetSecs);
    QByteArrayList fields{time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1(),
                          excelField(records::formatChannels(record.channels)),
                          QByteArray::number(record.address),
                          excelNumber(record.raw),
                          excelNumber(record.calibrated),
                          QByteArray::number(record.quality),
                          records::verdictName(record.verdict)};
    fields << (record.hasLimits() ? excelNumber(record.lowerUm) : QByteArray())
           << (record.hasLimits() ? excelNumber(record.upperUm) : QByteArray());
    return fields.join(';') + "\r\n";
}

// Written a megabyte at a time: a year's export never doubles in memory.
template <typename Format>
bool writeRecords(QIODevice &device, QByteArray text, const std::vector<records::Record> &shown,
                  Format format)
{
    for (const records::Record &record : shown) {
        text += format(record);
        if (text.size() > (1 << 20)) {
            if (device.write(text) != text.size())
                return false;
            text.clear();
        }
    }
    return device.write(text) == text.size();
}

}  // namespace

bool Model::exportCsv(QIODevice &device) const
{
    return writeRecords(device, records::header(), shown,
                        [](const records::Record &record) { return records::formatLine(record); });
}

bool Model::exportExcelCsv(QIODevice &device) const
{
    return writeRecords(device, "\xEF\xBB\xBF" + records::header().replace(',', ';'), shown,
                        excelLine);
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

bool TableModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && rows < available();
}

void TableModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    const int more = std::min(available() - rows, std::max(rows, firstRows));
    beginInsertRows({}, rows, rows + more - 1);
    rows += more;
    endInsertRows();
}

void TableModel::reset()
{
    beginResetModel();
    rows = std::min(available(), firstRows);
    endResetModel();
}

void TableModel::added(Model::Added how)
{
    if (how == Model::Added::NotShown)
        return;
    if (how == Model::Added::Inserted)
        return reset();
    // Rows not given to the view yet are fetched with the rest.
    if (rows + 1 != available())
        return;
    beginInsertRows({}, rows, rows);
    ++rows;
    endInsertRows();
}

}  // namespace history
