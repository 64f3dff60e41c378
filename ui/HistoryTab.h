#pragma once

#include "quality/CalibrationJournal.h"
#include "quality/Limits.h"
#include "quality/Statistics.h"
#include "records/History.h"
#include "records/HistoryLoader.h"

#include <QDateTime>
#include <QTimer>
#include <QWidget>

#include <array>
#include <map>
#include <memory>
#include <set>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QTableView;
class QTableWidget;
class QwtLegend;
class QwtPlot;
class QwtPlotCurve;
class QwtPlotHistogram;
class QwtPlotMarker;
class QwtPlotZoneItem;
class QwtPlotZoomer;

// The page "История": the records of the chosen days as a trend per channel, a table and
// statistics of the time shown, with export. It only draws history::Model; built when the page
// is first shown. The days are read, counted and reduced for the first view on a thread of
// their own: the page shows their progress, and the window's thread goes on serving the line.
class HistoryTab : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryTab(const QString &directory, QWidget *parent = nullptr);

    // A result just recorded; shown if its day is among those shown.
    void add(const records::Record &record);
    // Starts reading the days; loaded() tells when the page shows them.
    void showDays(history::DaySpan span, const QDate &from = {}, const QDate &to = {});
    bool isLoading() const { return loading != 0; }
    void resetView();

    // "csv", "excel" (CSV for a spreadsheet), "png" or "svg". Why the file was not saved, empty
    // when it was: a file that was there before is left as it was.
    QString exportTo(const QString &path, const QByteArray &format);

    const history::Model &model() const { return data; }
    QwtPlot *plot() const { return chart; }
    QTableView *table() const { return recordTable; }
    QTableWidget *statistics() const { return statisticsTable; }
    QLabel *skippedLabel() const { return skipped; }
    // Points the chart draws for a channel's address at the present view.
    int drawnPoints(const history::SeriesKey &key) const;

    // The tolerance band of each channel on the trend, and the statistics judged by it.
    void setLimits(const quality::ChannelLimits &limits);
    // A calibration just journalled: marked on the trend, and a new start for its channel's
    // statistics when those are limited to the time since the last calibration.
    void addCalibration(const quality::CalibrationEvent &event);
    // Statistics of each channel only from its last calibration that the probe took.
    void setSinceCalibration(bool since);
    // The figures of a statistics row: the values in view, since the calibration when asked.
    quality::Statistics qualityStatistics(const history::SeriesKey &key) const;
    int calibrationMarks() const { return int(marks.size()); }
    // The chosen channel's values in bins, with its limits.
    QwtPlotHistogram *valueHistogram() const { return histogram; }

signals:
    void loadStarted();
    void loaded();

private:
    void spanChosen();
    void reload();
    void showLoaded(quint64 load, const std::shared_ptr<history::Loaded> &result);
    void redraw();
    // Without `replot`, the view is about to be set anew, which draws them.
    void redrawCurves(bool replot = true);
    history::TimeRange view() const;
    int viewWidth() const;
    void reduceToView();
    static void markPoints(QwtPlotCurve *curve, const history::Series &series,
                           const history::TimeRange &shown, int width);
    void showChannel(const QVariant &itemInfo, bool on);
    void syncLegend();
    void countStatistics();
    void showStatistics();
    void chooseExport(const QByteArray &format);
    QByteArray renderChart(const QByteArray &format);
    void drawHistogram();
    void drawLimits();
    void markCalibration(const quality::CalibrationEvent &event);

    QString folder;
    history::Model data;
    history::TableModel tableModel{&data};
    history::Loader loader;
    // The load whose days the page waits for; 0 when it shows what it has.
    quint64 loading = 0;
    // Results recorded while a load runs; its files may not hold them yet.
    std::vector<records::Record> liveDuringLoad;

    QComboBox *span;
    QDateEdit *from;
    QDateEdit *to;
    QLabel *skipped;
    QProgressBar *progress;
    QwtPlot *chart;
    // One per channel and address shown; made as keys first appear, kept while the page lives.
    std::map<history::SeriesKey, QwtPlotCurve *> curves;
    // The curves as last reduced, for this view and width; stale once the model changes.
    history::TimeRange reducedView;
    int reducedWidth = 0;
    bool curvesStale = true;
    // Channels the operator hid with a click in the legend.
    std::set<history::SeriesKey> hidden;
    QwtLegend *chartLegend;
    QwtPlotZoomer *zoomer;
    QTableView *recordTable;
    QTableWidget *statisticsTable;
    QCheckBox *sinceCalibration;
    quality::ChannelLimits limits;
    std::array<QwtPlotZoneItem *, records::channelCount> bands{};
    std::vector<quality::CalibrationEvent> calibrations;
    std::vector<QwtPlotMarker *> marks;
    // Per key: the statistics of its row, and the time it counts from and to.
    struct Row
    {
        quality::Statistics statistics;
        history::TimeRange range;
    };
    std::map<history::SeriesKey, Row> rows;
    QComboBox *histogramChannel;
    QwtPlot *histogramPlot;
    QwtPlotHistogram *histogram;
    std::array<QwtPlotMarker *, 2> histogramLimits{};
    // Live results are drawn together, at most a few times a second.
    QTimer redrawSoon;
    // A pan is many views: the statistics follow the last.
    QTimer countSoon;
    // A date typed field by field is one change.
    QTimer reloadSoon;
    QTimer ageTicker;
};
