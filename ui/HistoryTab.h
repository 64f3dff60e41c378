#pragma once

#include "records/History.h"

#include <QDateTime>
#include <QTimer>
#include <QWidget>

#include <map>

class QComboBox;
class QDateEdit;
class QLabel;
class QTableView;
class QTableWidget;
class QwtPlot;
class QwtPlotCurve;
class QwtPlotZoomer;

// The page "История": the records of the chosen days as a trend per channel, a table and
// statistics, with export. It only draws history::Model; built when the page is first shown.
class HistoryTab : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryTab(const QString &directory, QWidget *parent = nullptr);

    // A result just recorded; shown if its day is among those shown.
    void add(const records::Record &record);
    void showDays(history::DaySpan span, const QDate &from = {}, const QDate &to = {});
    void resetView();

    // "csv", "png" or "svg". Why the file was not saved, empty when it was: a file that was there
    // before is left as it was.
    QString exportTo(const QString &path, const QByteArray &format);

    const history::Model &model() const { return data; }
    QwtPlot *plot() const { return chart; }
    QTableView *table() const { return recordTable; }
    QTableWidget *statistics() const { return statisticsTable; }
    QLabel *skippedLabel() const { return skipped; }
    // Points the chart draws for a channel's address at the present view.
    int drawnPoints(const history::SeriesKey &key) const;

private:
    void spanChosen();
    void reload();
    void redraw();
    void redrawCurves();
    void reduceToView();
    void updateStatistics();
    void chooseExport(const QByteArray &format);
    QByteArray renderChart(const QByteArray &format);

    QString folder;
    history::Model data;
    history::TableModel tableModel{&data};

    QComboBox *span;
    QDateEdit *from;
    QDateEdit *to;
    QLabel *skipped;
    QwtPlot *chart;
    // One per channel and address shown; made as keys first appear, kept while the page lives.
    std::map<history::SeriesKey, QwtPlotCurve *> curves;
    QwtPlotZoomer *zoomer;
    QTableView *recordTable;
    QTableWidget *statisticsTable;
    // Live results are drawn together, at most a few times a second.
    QTimer redrawSoon;
    QTimer ageTicker;
};
