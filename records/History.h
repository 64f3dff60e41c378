#pragma once

#include "records/Record.h"
#include "records/RecordReader.h"

#include <QAbstractTableModel>
#include <QIODevice>
#include <QPointF>
#include <QString>
#include <QVector>

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

struct Statistics
{
    qint64 count = 0;
    // Values the probe gave as nan or inf: neither drawn nor in the figures below.
    qint64 notFinite = 0;
    double mean = 0;
    double stddev = 0;  // sample standard deviation; 0 for a single value
    double min = 0;
    double max = 0;
    qint64 lastMsecs = 0;  // time of the latest value
};

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
};

// At most four points per bucket (first, lowest, highest, last) of `buckets` equal slices of
// [from, to], plus the neighbours just outside so that the line runs on to the edges: what a
// plot `buckets` pixels wide can show of the series, exactly.
void reduce(const Series &series, double from, double to, int buckets, QVector<QPointF> &out);

class Model
{
public:
    // Replaces everything with the records of `first`..`last` in `directory`.
    void load(const QString &directory, const QDate &first, const QDate &last);
    void set(records::ReadResult result, const QDate &first, const QDate &last);
    // A live record: kept if its day is among those shown.
    enum class Added { NotShown, AtEnd, Inserted };
    Added add(const records::Record &record);

    const std::vector<records::Record> &records() const { return shown; }
    // Every key with a record shown, by channel, then address.
    std::vector<SeriesKey> keys() const;
    const Series &series(const SeriesKey &key) const;
    Statistics statistics(const SeriesKey &key) const;
    qint64 skipped() const { return skippedLines; }
    QDate firstDay() const { return first; }
    QDate lastDay() const { return last; }
    // "Канал 3, адрес 14"; "Без канала, адрес 14"
    static QString legend(const SeriesKey &key);

    // The records shown, in the record files' format.
    bool exportCsv(QIODevice &device) const;

private:
    struct Sums
    {
        qint64 count = 0;
        qint64 notFinite = 0;
        double mean = 0, m2 = 0, min = 0, max = 0;
        qint64 lastMsecs = 0;
    };
    struct Line
    {
        Series series;
        Sums sums;
    };
    void index(const records::Record &record);
    void index(const SeriesKey &key, const records::Record &record);
    void rebuild();

    std::vector<records::Record> shown;
    std::map<SeriesKey, Line> lines;
    qint64 skippedLines = 0;
    QDate first, last;
};

// The table of the records shown; call reset() after Model::load/set, added() after add.
class TableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit TableModel(const Model *model, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void reset();
    void added(Model::Added how);

private:
    const Model *model;
    int rows = 0;
};

}  // namespace history
