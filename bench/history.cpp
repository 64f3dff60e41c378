// A year of records (8 probes, one result a minute, 8 hours a day, 250 days: 960,000 lines) in
// the history page: reading it, the longest the window's thread stands still meanwhile, drawing
// it, panning and zooming it, and what it costs in memory; then what one appended record costs
// the caller. With --limits every channel has a tolerance band and its statistics.

#include "Statistics.h"
#include "YearOfRecords.h"
#include "records/Record.h"
#include "records/RecordWriter.h"
#include "ui/HistoryTab.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_scale_div.h>

#include <cstdio>
#include <fstream>
#include <string>

using namespace bench;

namespace {

constexpr double frameLimitMs = 50;
constexpr double rssLimitMiB = 200;
constexpr double appendLimitMs = 0.2;
constexpr double stallLimitMs = 16;

double residentMiB(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stod(line.substr(line.find(':') + 1)) / 1024;
    }
    return -1;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("limits"),
                      QStringLiteral("Every channel with limits, a tolerance band on the chart.")});
    parser.addHelpOption();
    parser.process(application);
    QTemporaryDir directory;
    if (!directory.isValid() || !QDir::setCurrent(directory.path()))
        return 2;
    QDate first;
    const int lines = writeYear(QStringLiteral("records"), first);
    if (lines <= 0)
        return 2;
    const double rssBefore = residentMiB("VmRSS");

    QElapsedTimer clock;
    clock.start();
    HistoryTab tab(QStringLiteral("records"));
    tab.resize(1280, 900);
    tab.show();
    if (parser.isSet(QStringLiteral("limits"))) {
        quality::ChannelLimits limits;
        for (int channel = 1; channel <= records::channelCount; ++channel) {
            const double nominal = 100 + 10 * channel;
            limits[size_t(channel - 1)] = quality::Limits{nominal, nominal - 1, nominal + 1};
        }
        tab.setLimits(limits);
    }
    {
        QSignalSpy today(&tab, &HistoryTab::loaded);
        if (!today.wait(10000))
            return 2;
    }
    // A tick every millisecond on the window's thread; the longest gap between two is the
    // longest any timer of the line could have been held up.
    QElapsedTimer sinceTick;
    qint64 longestStallNs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStallNs = std::max(longestStallNs, sinceTick.nsecsElapsed());
        sinceTick.start();
    });
    QSignalSpy loaded(&tab, &HistoryTab::loaded);
    clock.start();
    sinceTick.start();
    ticker.start(1);
    tab.showDays(history::DaySpan::Range, first, QDate::currentDate());
    if (!loaded.wait(60000))
        return 2;
    const double loadMs = double(clock.nsecsElapsed()) / 1e6;
    // The turn that drew the year ends with the next tick.
    QTest::qWait(5);
    ticker.stop();
    const double stallMs = double(std::max(longestStallNs, sinceTick.nsecsElapsed())) / 1e6;
    QwtPlot *plot = tab.plot();
    const auto frame = [plot]() {
        QElapsedTimer timer;
        timer.start();
        plot->replot();
        plot->canvas()->repaint();
        return double(timer.nsecsElapsed()) / 1e6;
    };
    const double fullMs = frame();
    // Zoom in step by step to a single day, pan across the year, zoom out again.
    std::vector<double> frames;
    const QwtScaleDiv whole = plot->axisScaleDiv(QwtPlot::xBottom);
    const double left = whole.lowerBound(), width = whole.range();
    for (int step = 0; step < 40; ++step) {
        const double span = width * std::pow(0.88, step);
        const double middle = left + width / 2;
        plot->setAxisScale(QwtPlot::xBottom, middle - span / 2, middle + span / 2);
        frames.push_back(frame());
    }
    for (int step = 0; step < 60; ++step) {
        const double span = width / 30;
        const double at = left + (width - span) * step / 59;
        plot->setAxisScale(QwtPlot::xBottom, at, at + span);
        frames.push_back(frame());
    }
    for (int step = 0; step < 20; ++step) {
        const double span = width * std::pow(1.2, step) / 30;
        plot->setAxisScale(QwtPlot::xBottom, left, left + std::min(span, width));
        frames.push_back(frame());
    }
    const double rss = residentMiB("VmRSS");
    const double peak = residentMiB("VmHWM");
    const double frameMedian = median(frames), frameMax = maximum(frames);

    // Appends as the window makes them: one result at a time, each a line on its own.
    m::DummyLog log;
    std::vector<double> appends;
    {
        RecordWriter writer(&log, QStringLiteral("appended"));
        for (int i = 0; i < 2000; ++i) {
            // The result's time is taken anyway, for the panel's log line as well.
            const records::Record record = records::makeRecord(
                QDateTime::currentDateTime(), {1 + i % 8}, 12, 100.25f, 99.75f, 90);
            QElapsedTimer timer;
            timer.start();
            writer.append(record);
            appends.push_back(double(timer.nsecsElapsed()) / 1e6);
            // A result every 2 ms, faster than the shortest cycle: flushes overlap appends.
            QThread::msleep(2);
        }
    }

    std::printf("A year of records: %d lines in %d files, %zu read, %lld skipped%s\n", lines, 250,
                tab.model().records().size(), tab.model().skipped(),
                parser.isSet(QStringLiteral("limits")) ? ", limits on every channel" : "");
    std::printf("read and first draw: %.0f ms; whole year drawn again: %.1f ms\n", loadMs, fullMs);
    std::printf("longest stall of the window's thread while the year loads: %.1f ms (limit %.0f)\n",
                stallMs, stallLimitMs);
    std::printf("pan/zoom frames (%zu): median %.1f ms, p99 %.1f ms, max %.1f ms (limit %.0f)\n",
                frames.size(), frameMedian, percentile(frames, 0.99), frameMax, frameLimitMs);
    std::printf(
        "resident memory: %.1f MiB before, %.1f MiB with the year shown, peak %.1f MiB "
        "(limit %.0f)\n",
        rssBefore, rss, peak, rssLimitMiB);
    std::printf("append: median %.3f ms, p99 %.3f ms, max %.3f ms (limit %.1f median)\n",
                median(appends), percentile(appends, 0.99), maximum(appends), appendLimitMs);
    const bool met = frameMax <= frameLimitMs && stallMs <= stallLimitMs && peak < rssLimitMiB &&
                     median(appends) <= appendLimitMs &&
                     int(tab.model().records().size()) == lines && tab.model().skipped() == 0;
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}
