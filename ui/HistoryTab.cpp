#include "ui/HistoryTab.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QSvgGenerator>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <qwt_date.h>
#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_histogram.h>
#include <qwt_plot_magnifier.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_panner.h>
#include <qwt_plot_renderer.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_widget.h>
#include <qwt_symbol.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

constexpr int redrawDelayMs = 200;
constexpr int dateEditSettleMs = 400;
const QColor channelColours[records::channelCount] = {
    QColor(31, 119, 180),  QColor(255, 127, 14), QColor(44, 160, 44),   QColor(214, 39, 40),
    QColor(148, 103, 189), QColor(140, 86, 75),  QColor(227, 119, 194), QColor(127, 127, 127)};

QString age(qint64 msecs)
{
    const qint64 seconds = std::max<qint64>(0, msecs / 1000);
    if (seconds < 120)
        return QStringLiteral("%1 с").arg(seconds);
    if (seconds < 7200)
        return QStringLiteral("%1 мин").arg(seconds / 60);
    if (seconds < 2 * 86400)
        return QStringLiteral("%1 ч").arg(seconds / 3600);
    return QStringLiteral("%1 дн").arg(seconds / 86400);
}

QString number(double value)
{
    return QString::number(value, 'f', 2);
}

QString optionalNumber(const std::optional<double> &value)
{
    return value ? number(*value) : QStringLiteral("—");
}

// Beyond this many the marks would hide the curves: a year's journal is summed up by its table.
constexpr size_t mostMarks = 500;

// Below this many pixels a point, each value gets a mark; above, the marks would merge into a
// band and cost a year's redraw dearly.
constexpr int pixelsPerMark = 4;

// Zooms with the left button, one step back with the right; the cursor's time and value are
// read out beside it.
class TimeZoomer : public QwtPlotZoomer
{
public:
    explicit TimeZoomer(QWidget *canvas) : QwtPlotZoomer(canvas)
    {
        setTrackerMode(QwtPicker::AlwaysOn);
    }

protected:
    QwtText trackerTextF(const QPointF &position) const override
    {
        QwtText text(QwtDate::toDateTime(position.x(), Qt::LocalTime)
                         .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) +
                     QStringLiteral("\n") + number(position.y()) + QStringLiteral(" мкм"));
        text.setBackgroundBrush(QColor(255, 255, 255, 220));
        return text;
    }
};

// A trend whose line is not drawn across the series' gaps; a value alone between two gaps is
// still a dot.
class TrendCurve : public QwtPlotCurve
{
public:
    using QwtPlotCurve::QwtPlotCurve;

    void setReduced(const history::Reduced &reduced)
    {
        breaks = reduced.breaks;
        setSamples(reduced.points);
    }

protected:
    void drawCurve(QPainter *painter, int style, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                   const QRectF &canvasRect, int from, int to) const override
    {
        int start = from;
        const auto drawRun = [&](int end) {
            if (end > start) {
                QwtPlotCurve::drawCurve(painter, style, xMap, yMap, canvasRect, start, end);
            } else if (end == start) {
                const QPointF point = sample(size_t(start));
                painter->drawPoint(QPointF(xMap.transform(point.x()), yMap.transform(point.y())));
            }
        };
        for (const int next : breaks) {
            if (next <= start)
                continue;
            if (next > to)
                break;
            drawRun(next - 1);
            start = next;
        }
        drawRun(to);
    }

private:
    QVector<int> breaks;
};

}  // namespace

HistoryTab::HistoryTab(const QString &directory, QWidget *parent)
    : QWidget(parent), folder(directory)
{
    span = new QComboBox(this);
    span->addItems({QStringLiteral("Сегодня"), QStringLiteral("Последние 7 дней"),
                    QStringLiteral("Диапазон")});
    from = new QDateEdit(QDate::currentDate(), this);
    to = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit *edit : {from, to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        edit->setEnabled(false);
    }
    auto *resetButton = new QPushButton(QStringLiteral("Сбросить вид"), this);
    // One button for the three exports keeps the row within the window at every text scale.
    auto *exportButton = new QToolButton(this);
    exportButton->setText(QStringLiteral("Экспорт…"));
    exportButton->setPopupMode(QToolButton::InstantPopup);
    auto *exportMenu = new QMenu(exportButton);
    for (const char *format : {"csv", "excel", "png", "svg"}) {
        const QString title = qstrcmp(format, "excel") == 0 ? QStringLiteral("CSV для Excel")
                                                            : QString::fromLatin1(format).toUpper();
        exportMenu->addAction(title + QStringLiteral("…"), this,
                              [this, format] { chooseExport(format); });
    }
    exportButton->setMenu(exportMenu);
    skipped = new QLabel(this);
    progress = new QProgressBar(this);
    progress->setFormat(QStringLiteral("Чтение записей: %p%"));
    progress->hide();

    auto *controls = new QHBoxLayout;
    controls->addWidget(span);
    controls->addWidget(from);
    controls->addWidget(to);
    controls->addWidget(resetButton);
    sinceCalibration = new QCheckBox(QStringLiteral("Статистика с последней калибровки"), this);
    sinceCalibration->setObjectName(QStringLiteral("cb_since_calibration"));
    controls->addWidget(sinceCalibration);
    controls->addStretch();
    controls->addWidget(progress);
    controls->addWidget(skipped);
    controls->addWidget(exportButton);

    chart = new QwtPlot(this);
    chart->setCanvasBackground(Qt::white);
    chart->setAxisTitle(QwtPlot::yLeft, QStringLiteral("мкм"));
    // Numeric dates, as the rest of the window writes them.
    auto *timeScale = new QwtDateScaleDraw(Qt::LocalTime);
    timeScale->setDateFormat(QwtDate::Millisecond, QStringLiteral("hh:mm:ss.zzz\ndd.MM"));
    timeScale->setDateFormat(QwtDate::Second, QStringLiteral("hh:mm:ss\ndd.MM"));
    timeScale->setDateFormat(QwtDate::Minute, QStringLiteral("hh:mm\ndd.MM"));
    timeScale->setDateFormat(QwtDate::Hour, QStringLiteral("hh:mm\ndd.MM"));
    for (const auto unit : {QwtDate::Day, QwtDate::Week})
        timeScale->setDateFormat(unit, QStringLiteral("dd.MM.yyyy"));
    chart->setAxisScaleDraw(QwtPlot::xBottom, timeScale);
    chart->setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::LocalTime));
    // A click on a channel's name shows or hides its curve.
    chartLegend = new QwtLegend;
    chartLegend->setDefaultItemMode(QwtLegendData::Checkable);
    chart->insertLegend(chartLegend, QwtPlot::RightLegend);
    connect(chartLegend, &QwtLegend::checked, this, &HistoryTab::showChannel);
    // The axis labels alone would ask for more width than the window has; the chart takes
    // what the page gives it.
    chart->setMinimumSize(200, 120);
    auto *grid = new QwtPlotGrid;
    grid->setPen(QColor(220, 220, 220));
    grid->attach(chart);
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        // Under the curves, in the channel's colour: the band the values should stay in.
        auto *band = new QwtPlotZoneItem;
        QColor fill = channelColours[channel - 1];
        fill.setAlpha(40);
        band->setBrush(fill);
        band->setOrientation(Qt::Horizontal);
        band->setZ(5);
        band->setVisible(false);
        band->attach(chart);
        bands[size_t(channel - 1)] = band;
    }
    zoomer = new TimeZoomer(chart->canvas());
    auto *panner = new QwtPlotPanner(chart->canvas());
    panner->setMouseButton(Qt::MiddleButton);
    auto *magnifier = new QwtPlotMagnifier(chart->canvas());
    magnifier->setMouseButton(Qt::NoButton);
    // Whatever changed the view, the curves are reduced to what it shows, and the statistics
    // count what it shows.
    connect(chart->axisWidget(QwtPlot::xBottom), &QwtScaleWidget::scaleDivChanged, this, [this] {
        reduceToView();
        countSoon.start();
    });

    recordTable = new QTableView(this);
    recordTable->setModel(&tableModel);
    recordTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    recordTable->verticalHeader()->setDefaultSectionSize(recordTable->fontMetrics().height() + 4);
    recordTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    recordTable->setColumnWidth(
        0, recordTable->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000")) +
               2 * recordTable->fontMetrics().averageCharWidth());

    // A row per channel and address; "Не числа" counts the nan and inf values, which are in no
    // other figure.
    statisticsTable = new QTableWidget(0, 12, this);
    statisticsTable->setHorizontalHeaderLabels(
        {QStringLiteral("Канал"), QStringLiteral("Адрес"), QStringLiteral("Число"),
         QStringLiteral("Среднее"), QStringLiteral("СКО"), QStringLiteral("Мин."),
         QStringLiteral("Макс."), QStringLiteral("Последнее"), QStringLiteral("Не числа"),
         QStringLiteral("Вне допуска"), QStringLiteral("Cp"), QStringLiteral("Cpk")});
    statisticsTable->verticalHeader()->hide();
    statisticsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A header cut short ("Сырое, мк") leaves the operator guessing the unit.
    for (QTableView *table : {recordTable, static_cast<QTableView *>(statisticsTable)}) {
        QHeaderView *header = table->horizontalHeader();
        for (int column = 0; column < header->count(); ++column)
            table->setColumnWidth(
                column, std::max(table->columnWidth(column), header->sectionSizeHint(column)));
    }

    auto *lower = new QSplitter(Qt::Horizontal, this);
    lower->addWidget(recordTable);
    lower->addWidget(statisticsTable);
    // Beside the trend: how one channel's values spread against its limits.
    histogramChannel = new QComboBox(this);
    histogramChannel->setObjectName(QStringLiteral("cb_histogram_channel"));
    for (int channel = 1; channel <= records::channelCount; ++channel)
        histogramChannel->addItem(QStringLiteral("Канал %1").arg(channel), channel);
    histogramPlot = new QwtPlot(this);
    histogramPlot->setCanvasBackground(Qt::white);
    histogramPlot->setMinimumSize(160, 120);
    histogramPlot->setAxisTitle(QwtPlot::xBottom, QStringLiteral("мкм"));
    histogram = new QwtPlotHistogram;
    histogram->setStyle(QwtPlotHistogram::Columns);
    histogram->attach(histogramPlot);
    for (QwtPlotMarker *&limit : histogramLimits) {
        limit = new QwtPlotMarker;
        limit->setLineStyle(QwtPlotMarker::VLine);
        limit->setLinePen(QColor(200, 0, 0), 1.5);
        limit->attach(histogramPlot);
    }
    connect(histogramChannel, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &HistoryTab::drawHistogram);
    auto *histogramBox = new QWidget(this);
    auto *histogramLayout = new QVBoxLayout(histogramBox);
    histogramLayout->setContentsMargins(0, 0, 0, 0);
    histogramLayout->addWidget(histogramChannel);
    histogramLayout->addWidget(histogramPlot);
    auto *upper = new QSplitter(Qt::Horizontal, this);
    upper->addWidget(chart);
    upper->addWidget(histogramBox);
    upper->setStretchFactor(0, 3);
    upper->setStretchFactor(1, 1);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(upper);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(controls);
    layout->addWidget(split);

    redrawSoon.setSingleShot(true);
    redrawSoon.setInterval(redrawDelayMs);
    connect(&redrawSoon, &QTimer::timeout, this, &HistoryTab::redraw);
    countSoon.setSingleShot(true);
    countSoon.setInterval(0);
    connect(&countSoon, &QTimer::timeout, this, &HistoryTab::countStatistics);
    ageTicker.setInterval(1000);
    connect(&ageTicker, &QTimer::timeout, this, [this] {
        if (isVisible())
            showStatistics();
    });
    ageTicker.start();

    connect(span, qOverload<int>(&QComboBox::currentIndexChanged), this, &HistoryTab::spanChosen);
    reloadSoon.setSingleShot(true);
    reloadSoon.setInterval(dateEditSettleMs);
    connect(&reloadSoon, &QTimer::timeout, this, &HistoryTab::reload);
    connect(from, &QDateEdit::dateChanged, &reloadSoon, qOverload<>(&QTimer::start));
    connect(to, &QDateEdit::dateChanged, &reloadSoon, qOverload<>(&QTimer::start));
    connect(&loader, &history::Loader::progress, this, [this](quint64 load, int read, int days) {
        if (load != loading)
            return;
        progress->setMaximum(days);
        progress->setValue(read);
    });
    connect(&loader, &history::Loader::finished, this, &HistoryTab::showLoaded);
    connect(resetButton, &QPushButton::clicked, this, &HistoryTab::resetView);
    connect(sinceCalibration, &QCheckBox::toggled, this, &HistoryTab::setSinceCalibration);

    reload();
}

void HistoryTab::spanChosen()
{
    const bool range = span->currentIndex() == 2;
    from->setEnabled(range);
    to->setEnabled(range);
    reload();
}

void HistoryTab::showDays(history::DaySpan choice, const QDate &first, const QDate &last)
{
    const QSignalBlocker blockSpan(span), blockFrom(from), blockTo(to);
    span->setCurrentIndex(int(choice));
    if (first.isValid())
        from->setDate(first);
    if (last.isValid())
        to->setDate(last);
    from->setEnabled(choice == history::DaySpan::Range);
    to->setEnabled(choice == history::DaySpan::Range);
    reload();
}

void HistoryTab::reload()
{
    reloadSoon.stop();
    const auto [first, last] = history::days(history::DaySpan(span->currentIndex()),
                                             QDate::currentDate(), from->date(), to->date());
    loading = loader.load(folder, first, last, limits, viewWidth());
    liveDuringLoad.clear();
    progress->setValue(0);
    progress->show();
    emit loadStarted();
}

void HistoryTab::showLoaded(quint64 load, const std::shared_ptr<history::Loaded> &result)
{
    if (load != loading)
        return;
    loading = 0;
    progress->hide();
    data = std::move(result->model);
    curvesStale = true;
    const qint64 lastRead = data.records().empty() ? LLONG_MIN : data.records().back().msecs;
    bool liveAdded = false;
    for (const records::Record &record : liveDuringLoad) {
        if (record.msecs > lastRead)
            liveAdded = data.add(record) != history::Model::Added::NotShown || liveAdded;
    }
    liveDuringLoad.clear();
    for (QwtPlotMarker *mark : marks)
        delete mark;
    marks.clear();
    calibrations = std::move(result->calibrations);
    for (const auto &event : calibrations)
        markCalibration(event);
    tableModel.reset();
    skipped->setText(data.skipped() ? QStringLiteral("Пропущено строк: %1").arg(data.skipped())
                                    : QString());
    // The table, the chart and the statistics each take a turn of their own: together they
    // would hold up the line's timers for longer than a frame. Each turn is a timer's, not a
    // posted event's: the layout and the paint that the turn before posted run first, and the
    // line's timers get their turn in between.
    QTimer::singleShot(1, Qt::PreciseTimer, this, [this, result, liveAdded] {
        if (loading)
            return;
        redrawCurves(false);
        // The curves as the loader reduced them, unless a live value came since or the page
        // changed its width meanwhile.
        if (!liveAdded && result->width == viewWidth()) {
            for (const auto &[key, curve] : curves) {
                static_cast<TrendCurve *>(curve)->setReduced(result->reduced[key]);
                markPoints(curve, data.series(key), result->view, result->width);
            }
            reducedView = result->view;
            reducedWidth = result->width;
            curvesStale = false;
        }
        resetView();
        QTimer::singleShot(1, Qt::PreciseTimer, this, [this] {
            if (loading)
                return;
            countStatistics();
            emit loaded();
        });
    });
}

void HistoryTab::add(const records::Record &record)
{
    if (loading)
        liveDuringLoad.push_back(record);
    const auto how = data.add(record);
    tableModel.added(how);
    if (how != history::Model::Added::NotShown) {
        curvesStale = true;
        if (!redrawSoon.isActive())
            redrawSoon.start();
    }
}

void HistoryTab::redraw()
{
    redrawCurves();
    // A view the operator has not zoomed follows the live values.
    if (zoomer->zoomRectIndex() == 0 && !data.records().empty() &&
        double(data.records().back().msecs) > chart->axisScaleDiv(QwtPlot::xBottom).upperBound())
        resetView();
    countStatistics();
}

void HistoryTab::redrawCurves(bool replot)
{
    const std::vector<history::SeriesKey> keys = data.keys();
    for (const history::SeriesKey &key : keys) {
        QwtPlotCurve *&curve = curves[key];
        if (curve)
            continue;
        // The channel's colour; a second probe seen on the same channel is dashed.
        const auto sameChannel = std::count_if(keys.begin(), keys.end(), [&key](const auto &k) {
            return k.channel == key.channel && k.address < key.address;
        });
        curve = new TrendCurve(history::Model::legend(key));
        // A wider pen goes through the stroker: three times the cost of a year's redraw.
        curve->setPen(key.channel == 0 ? QColor(Qt::black) : channelColours[key.channel - 1], 1.0,
                      sameChannel == 0 ? Qt::SolidLine : Qt::DashLine);
        curve->setRenderHint(QwtPlotItem::RenderAntialiased, false);
        curve->attach(chart);
    }
    for (const auto &[key, curve] : curves) {
        const bool any = !data.series(key).x.empty();
        curve->setVisible(any && hidden.count(key) == 0);
        curve->setItemAttribute(QwtPlotItem::Legend, any);
    }
    syncLegend();
    drawLimits();
    if (replot) {
        reduceToView();
        chart->replot();
    }
}

// A legend entry comes back unchecked whenever its curve was left out of the legend.
void HistoryTab::syncLegend()
{
    for (const auto &[key, curve] : curves) {
        if (auto *label =
                qobject_cast<QwtLegendLabel *>(chartLegend->legendWidget(chart->itemToInfo(curve))))
            label->setChecked(hidden.count(key) == 0);
    }
}

void HistoryTab::showChannel(const QVariant &itemInfo, bool on)
{
    for (const auto &[key, curve] : curves) {
        if (curve != chart->infoToItem(itemInfo))
            continue;
        if (on)
            hidden.erase(key);
        else
            hidden.insert(key);
        curve->setVisible(on && !data.series(key).x.empty());
        chart->replot();
    }
}

void HistoryTab::setLimits(const quality::ChannelLimits &channelLimits)
{
    limits = channelLimits;
    // A load under way judges by the limits it was given: it starts again with these.
    if (loading)
        reload();
    else
        data.setLimits(limits);
    drawLimits();
    countStatistics();
    chart->replot();
}

void HistoryTab::drawLimits()
{
    for (int channel = 1; channel <= records::channelCount; ++channel) {
        const auto &limit = limits[size_t(channel - 1)];
        bool any = false;
        for (const history::SeriesKey &key : data.keys())
            any = any || (key.channel == channel && !data.series(key).x.empty());
        QwtPlotZoneItem *band = bands[size_t(channel - 1)];
        band->setVisible(limit && any);
        if (limit)
            band->setInterval(limit->lower, limit->upper);
    }
}

void HistoryTab::addCalibration(const quality::CalibrationEvent &event)
{
    if (QDateTime::fromMSecsSinceEpoch(event.msecs).date() > data.lastDay())
        return;
    calibrations.push_back(event);
    markCalibration(event);
    countStatistics();
    chart->replot();
}

void HistoryTab::markCalibration(const quality::CalibrationEvent &event)
{
    if (marks.size() >= mostMarks)
        return;
    auto *mark = new QwtPlotMarker;
    mark->setLineStyle(QwtPlotMarker::VLine);
    mark->setLinePen(QColor(230, 120, 0), 1, event.ok() ? Qt::DashLine : Qt::DotLine);
    mark->setXValue(double(event.msecs));
    mark->setLabel(QwtText(quality::commandTitle(event.command) +
                           (event.channel ? QStringLiteral(" %1").arg(event.channel) : QString())));
    mark->setLabelAlignment(Qt::AlignTop | Qt::AlignRight);
    mark->setZ(15);
    mark->attach(chart);
    marks.push_back(mark);
}

void HistoryTab::setSinceCalibration(bool since)
{
    if (sinceCalibration->isChecked() != since)
        sinceCalibration->setChecked(since);  // comes back here through toggled
    countStatistics();
}

quality::Statistics HistoryTab::qualityStatistics(const history::SeriesKey &key) const
{
    const auto it = rows.find(key);
    return it == rows.end() ? quality::Statistics() : it->second.statistics;
}

// Values of each channel and address in view, judged by the channel's limits; from the
// channel's last calibration the probe took when the operator asks for that.
void HistoryTab::countStatistics()
{
    countSoon.stop();
    rows.clear();
    const history::TimeRange shown = view();
    for (const history::SeriesKey &key : data.keys()) {
        history::TimeRange range = shown;
        if (sinceCalibration->isChecked() && key.channel != 0) {
            for (const auto &event : calibrations) {
                if (event.channel == key.channel && event.address == key.address && event.ok())
                    range.from = std::max(range.from,
                                          std::nextafter(double(event.msecs), double(LLONG_MAX)));
            }
        }
        rows[key] = {data.statistics(key, range), range};
    }
    drawHistogram();
    showStatistics();
}

// Equal bins over the values and the limits of the chosen channel, the statistics' range alone.
void HistoryTab::drawHistogram()
{
    constexpr int binCount = 24;
    const int channel = histogramChannel->currentData().toInt();
    const auto &limit = limits[size_t(channel - 1)];
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    for (const auto &[key, row] : rows) {
        if (key.channel == channel && row.statistics.count > 0) {
            low = std::min(low, row.statistics.min);
            high = std::max(high, row.statistics.max);
        }
    }
    QVector<QwtIntervalSample> bins;
    if (low <= high) {
        if (limit) {
            low = std::min(low, limit->lower);
            high = std::max(high, limit->upper);
        }
        if (!(high > low))
            high = low + 1;
        const double width = (high - low) / binCount;
        QVector<double> counts(binCount, 0);
        for (const auto &[key, row] : rows) {
            if (key.channel != channel)
                continue;
            const history::Series &series = data.series(key);
            const auto begin = std::lower_bound(series.x.begin(), series.x.end(), row.range.from);
            const auto end = std::upper_bound(begin, series.x.end(), row.range.to);
            for (auto at = begin; at != end; ++at) {
                const double value = series.y[size_t(at - series.x.begin())];
                counts[std::clamp(int((value - low) / width), 0, binCount - 1)] += 1;
            }
        }
        for (int bin = 0; bin < binCount; ++bin)
            bins.append(QwtIntervalSample(counts[bin], low + bin * width, low + (bin + 1) * width));
    }
    QColor fill = channelColours[channel - 1];
    histogram->setPen(fill.darker());
    fill.setAlpha(160);
    histogram->setBrush(fill);
    histogram->setSamples(bins);
    for (size_t i = 0; i < histogramLimits.size(); ++i) {
        histogramLimits[i]->setVisible(bool(limit) && !bins.isEmpty());
        if (limit)
            histogramLimits[i]->setXValue(i == 0 ? limit->lower : limit->upper);
    }
    histogramPlot->replot();
}

// From the first value to the last (the whole of the days shown while there is none), and every
// value with a little room above and below.
void HistoryTab::resetView()
{
    const history::TimeRange whole = data.wholeView();
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    for (const history::SeriesKey &key : data.keys()) {
        const quality::Statistics s = data.statistics(key);
        if (s.count) {
            low = std::min(low, s.min);
            high = std::max(high, s.max);
            // The band is part of what the values are read against.
            if (key.channel >= 1 && key.channel <= records::channelCount) {
                if (const auto &limit = limits[size_t(key.channel - 1)]) {
                    low = std::min(low, limit->lower);
                    high = std::max(high, limit->upper);
                }
            }
        }
    }
    if (low > high)
        low = 0, high = 1;
    const double margin = std::max(0.05 * (high - low), 0.5);
    chart->setAxisScale(QwtPlot::xBottom, whole.from, whole.to);
    chart->setAxisScale(QwtPlot::yLeft, low - margin, high + margin);
    chart->replot();
    zoomer->setZoomBase(true);
}

history::TimeRange HistoryTab::view() const
{
    const QwtScaleDiv &x = chart->axisScaleDiv(QwtPlot::xBottom);
    return {x.lowerBound(), x.upperBound()};
}

int HistoryTab::viewWidth() const
{
    return std::max(100, chart->canvas()->width());
}

void HistoryTab::reduceToView()
{
    const history::TimeRange shown = view();
    const int width = viewWidth();
    if (!curvesStale && shown == reducedView && width == reducedWidth)
        return;
    history::Reduced reduced;
    for (const auto &[key, curve] : curves) {
        history::reduce(data.series(key), shown.from, shown.to, width, reduced);
        static_cast<TrendCurve *>(curve)->setReduced(reduced);
        markPoints(curve, data.series(key), shown, width);
    }
    reducedView = shown;
    reducedWidth = width;
    curvesStale = false;
}

void HistoryTab::markPoints(QwtPlotCurve *curve, const history::Series &series,
                            const history::TimeRange &shown, int width)
{
    const auto inView = std::upper_bound(series.x.begin(), series.x.end(), shown.to) -
                        std::lower_bound(series.x.begin(), series.x.end(), shown.from);
    const bool few = inView * pixelsPerMark <= width;
    if (few == (curve->symbol() != nullptr))
        return;
    if (few) {
        const QColor colour = curve->pen().color();
        curve->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, colour, colour, QSize(4, 4)));
    } else {
        curve->setSymbol(nullptr);
    }
}

int HistoryTab::drawnPoints(const history::SeriesKey &key) const
{
    const auto it = curves.find(key);
    return it == curves.end() ? 0 : int(it->second->dataSize());
}

void HistoryTab::showStatistics()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    statisticsTable->setRowCount(int(rows.size()));
    int row = 0;
    for (const auto &[key, entry] : rows) {
        const quality::Statistics &s = entry.statistics;
        const history::Series &series = data.series(key);
        const auto last = std::upper_bound(series.x.begin(), series.x.end(), entry.range.to);
        const QString none = QStringLiteral("—");
        const bool any = s.count > 0;
        const QStringList cells{
            key.channel ? QString::number(key.channel) : none,
            QString::number(key.address),
            QString::number(s.count),
            any ? number(s.mean) : none,
            any ? number(s.stddev) : none,
            any ? number(s.min) : none,
            any ? number(s.max) : none,
            any ? age(now - qint64(*(last - 1))) : none,
            QString::number(s.notFinite),
            s.outShare ? QString::number(*s.outShare * 100, 'f', 1) + QStringLiteral(" %") : none,
            optionalNumber(s.cp),
            optionalNumber(s.cpk)};
        for (int column = 0; column < cells.size(); ++column) {
            QTableWidgetItem *item = statisticsTable->item(row, column);
            if (!item)
                statisticsTable->setItem(row, column, item = new QTableWidgetItem);
            item->setText(cells[column]);
        }
        ++row;
    }
}

QString HistoryTab::exportTo(const QString &path, const QByteArray &format)
{
    // Written aside and put in place whole: a failed export never passes for the file that was
    // there before.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool written = false;
    if (format == "csv") {
        written = data.exportCsv(file);
    } else if (format == "excel") {
        written = data.exportExcelCsv(file);
    } else {
        const QByteArray chart = renderChart(format);
        written = !chart.isEmpty() && file.write(chart) == chart.size();
    }
    // Flushed here: commit() takes a failure of its own last flush for success.
    if (written && file.flush() && file.commit())
        return {};
    const QString reason =
        file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("ошибка записи");
    file.cancelWriting();
    return reason;
}

// The chart at its size on screen, at 96 dpi; drawn in memory, since the drawing classes do
// not tell of a write that fell short.
QByteArray HistoryTab::renderChart(const QByteArray &format)
{
    QwtPlotRenderer renderer;
    renderer.setDiscardFlag(QwtPlotRenderer::DiscardBackground, false);
    const QRectF area(QPointF(0, 0), QSizeF(chart->size()));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (format == "svg") {
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        generator.setResolution(96);
        generator.setSize(chart->size());
        generator.setViewBox(area);
        QPainter painter(&generator);
        renderer.render(chart, &painter, area);
        if (!painter.end())
            return {};
        return buffer.data();
    }
    QImage image(chart->size(), QImage::Format_ARGB32);
    const int dotsPerMetre = qRound(96 / 0.0254);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(chart, &painter, area);
    painter.end();
    return image.save(&buffer, format.constData()) ? buffer.data() : QByteArray();
}

void HistoryTab::chooseExport(const QByteArray &format)
{
    const bool excel = format == "excel";
    const QString suffix = excel ? QStringLiteral("csv") : QString::fromLatin1(format);
    const QString filter =
        excel ? QStringLiteral("CSV для Excel (*.csv)")
              : suffix.toUpper() + QStringLiteral(" (*.") + suffix + QLatin1Char(')');
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Экспорт"),
        (excel ? QStringLiteral("history-excel.") : QStringLiteral("history.")) + suffix, filter);
    if (path.isEmpty())
        return;
    const QString failure = exportTo(path, format);
    if (!failure.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Экспорт"),
                             QStringLiteral("Файл %1 не сохранён: %2").arg(path, failure));
}
