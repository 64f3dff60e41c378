#pragma once

#include "quality/Limits.h"
#include "quality/Statistics.h"
#include "records/Record.h"
#include "records/RecordReader.h"

#include <QAbstractTableModel>
#include <QIODevice>
#include <QPointF>
#include <QString>
#include <QVector>

#include <limits>
#include <map>
#include <utility>
#include <vector>

// What the history tab shows, without a widget: the records of the chosen days, one series per
// channel and address, the statistics, the table and the export. The tab only draws it.
namespace history {

enum class DaySpan { Today, LastWeek, Range };

// First and last day of the choice; a range given backwards is turned round.
std::pair<QDate, QDate> days(DaySpan span, const QDate &today, const QDate &from = {},
                             const QDate &to = {});

// What one curve and one row of statistics belong to: one probe, seen on one channel. Two
// addresses on a channel are two probes, never one curve. Channel 0 holds the records that name
// no channel.
struct SeriesKey
{
    int channel = 0;
    int address = 0;
    bool operator<(const SeriesKey &other) const
    {
        return channel != other.channel ? channel < other.channel : address < other.address;
    }
    bool operator==(const SeriesKey &other) const
    {
        return channel == other.channel && address == other.address;
    }
};

// One key's finite calibrated values against time (ms since the epoch), in time order.
struct Series
{
    std::vector<double> x;
    std::vector<double> y;
    // A longer spacing is a gap the line does not cross; infinite while there are too few values
    // to tell.
    double gap = std::numeric_limits<double>::infinity();
};

// Five times the median spacing, at least 5 ms: a missed round or two still joins its
// neighbours, a pause in the work (a night, a stopped line) does not. Infinite below three
// values.
double gapOf(const Series &series);

// What a plot shows of a series: its points, and where the line between them breaks.
struct Reduced
{
    QVector<QPointF> points;
    // Indices into points: no line is drawn to each from the point before it.
    QVector<int> breaks;
};

// A slice of time in ms since the epoch, both ends included; the whole of time by default.
struct TimeRange
{
    double from = -std::numeric_limits<double>::infinity();
    double to = std::numeric_limits<double>::infinity();
    bool operator==(const TimeRange &other) const { return from == other.from && to == other.to; }
};

// At most four points per bucket (first, lowest, highest, last) of `buckets` equal slices of
// [from, to], plus the neighbours just outside so that the line runs on to the edges: what a
// plot `buckets` pixels wide can show of the series, exactly. The line breaks between two
// points that have one of the series' gaps between them.
void reduce(const Series &series, double from, double to, int buckets, Reduced &out);

class Model
{
public:
    // Replaces everything with the records of `first`..`last` in `directory`.
    void load(const QString &directory, const QDate &first, const QDate &last);
    // The statistics judge each channel's values by its limits.
    void set(records::ReadResult result, const QDate &first, const QDate &last,
             const quality::ChannelLimits &limits = {});
    void setLimits(const quality::ChannelLimits &limits);
    // A live record: kept if its day is among those shown.
    enum class Added { NotShown, AtEnd, Inserted };
    Added add(const records::Record &record);

    const std::vector<records::Record> &records() const { return shown; }
    // Every key with a record shown, by channel, then address.
    std::vector<SeriesKey> keys() const;
    const Series &series(const SeriesKey &key) const;
    // The key's values within `range`, judged by its channel's limits. The whole of a key is
    // kept up to date as records come, so that a year's figures cost nothing to show.
    quality::Statistics statistics(const SeriesKey &key, const TimeRange &range = {}) const;
    // From the first value to the last with a little room; the whole of the days shown while
    // there is none.
    TimeRange wholeView() const;
    qint64 skipped() const { return skippedLines; }
    QDate firstDay() const { return first; }
    QDate lastDay() const { return last; }
    // "Канал 3, адрес 14"; "Без канала, адрес 14"
    static QString legend(const SeriesKey &key);

    // The records shown, in the record files' format.
    bool exportCsv(QIODevice &device) const;
    // The same columns as a spreadsheet with a Russian locale opens them: UTF-8 with a byte
    // order mark, ';' between fields, a decimal comma, the local time without its offset.
    bool exportExcelCsv(QIODevice &device) const;

private:
    struct Line
    {
        Series series;
        // Times of the values that were not finite: in no series, but counted.
        std::vector<double> notFinite;
        quality::Accumulator whole;
        // The series' size when its gap was last measured: measured again whenever the series
        // has doubled, so that live values cost a constant each.
        size_t gapMeasuredAt = 0;
    };
    void index(const records::Record &record);
    void index(const SeriesKey &key, const records::Record &record);
    void rebuild();

    std::vector<records::Record> shown;
    std::map<SeriesKey, Line> lines;
    quality::ChannelLimits limits;
    qint64 skippedLines = 0;
    QDate first, last;
};

// The table of the records shown; call reset() after Model::load/set, added() after add. A year
// is a million rows: the view is given them as it scrolls to the end, in batches that double,
// since every row a view holds costs it time on each reset and layout.
class TableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit TableModel(const Model *model, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    void reset();
    void added(Model::Added how);

    static constexpr int firstRows = 10'000;

private:
    int available() const { return int(model->records().size()); }

    const Model *model;
    int rows = 0;
};

}  // namespace history
