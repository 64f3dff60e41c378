#include "records/History.h"
#include "records/Record.h"
#include "support/Files.h"
#include "ui/HistoryTab.h"

#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>

// The history page on its own, over a records folder the test writes: where lines break, what a
// click in the legend hides, which values the statistics count, and what a spreadsheet is given.
namespace {

const QDate day(2026, 3, 9);
const QColor channelOne(31, 119, 180);

QDateTime at(const QString &time)
{
    return QDateTime(day, QTime::fromString(time, QStringLiteral("hh:mm:ss")));
}

double msecsAt(const QString &time)
{
    return double(at(time).toMSecsSinceEpoch());
}

// Channel 1, address 12, one value a minute from each start for `minutes` minutes.
QByteArray minutes(const QString &start, int minutes, float value = 100)
{
    QByteArray lines;
    for (int minute = 0; minute < minutes; ++minute)
        lines += records::formatLine(
            records::makeRecord(at(start).addSecs(60 * minute), {1}, 12, value, value, 90));
    return lines;
}

class Page
{
public:
    explicit Page(const QByteArray &lines)
    {
        QDir(folder.path()).mkpath(QStringLiteral("records"));
        files::write(folder.filePath(QStringLiteral("records/") + records::fileName(day)),
                     records::header() + lines);
        tab = std::make_unique<HistoryTab>(folder.filePath(QStringLiteral("records")));
        tab->resize(1200, 800);
        tab->show();
        QSignalSpy loaded(tab.get(), &HistoryTab::loaded);
        tab->showDays(history::DaySpan::Range, day, day);
        ok = loaded.wait(10000);
    }

    // Whether the canvas shows channel 1's colour at a time and value, give or take a pixel.
    bool drawnAt(double msecs, double value) const
    {
        QwtPlot *plot = tab->plot();
        plot->replot();
        const QImage image = plot->canvas()->grab().toImage();
        const int x = qRound(plot->transform(QwtPlot::xBottom, msecs));
        const int y = qRound(plot->transform(QwtPlot::yLeft, value));
        for (int dy = -1; dy <= 1; ++dy) {
            if (image.pixelColor(x, y + dy) == channelOne)
                return true;
        }
        return false;
    }

    QString statistic(int column) const { return tab->statistics()->item(0, column)->text(); }

    QTemporaryDir folder;
    std::unique_ptr<HistoryTab> tab;
    bool ok = false;
};

}  // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    // A pause in the work is no line; values a minute apart, two missed rounds included, are,
    // and each is marked where there are few to show. A click on a channel's name hides its
    // curve, live values do not bring it back, and a second click shows it again.
    void gapsAndLegend()
    {
        Page page(minutes(QStringLiteral("10:00:00"), 11) + minutes(QStringLiteral("10:13:00"), 5) +
                  minutes(QStringLiteral("10:40:00"), 10));
        QVERIFY(page.ok);
        for (const auto &[between, line] :
             {std::pair{"10:03:30", true}, {"10:11:30", true}, {"10:30:00", false}})
            QVERIFY2(page.drawnAt(msecsAt(QLatin1String(between)), 100) == line, between);
        const auto curves = page.tab->plot()->itemList(QwtPlotItem::Rtti_PlotCurve);
        QCOMPARE(curves.size(), 1);
        auto *curve = static_cast<QwtPlotCurve *>(curves[0]);
        QCOMPARE(curve->title().text(), QStringLiteral("Канал 1, адрес 12"));
        QVERIFY(curve->symbol());

        auto *legend = page.tab->findChild<QwtLegend *>();
        auto *label = qobject_cast<QwtLegendLabel *>(
            legend->legendWidget(page.tab->plot()->itemToInfo(curve)));
        QVERIFY(label);
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(!curve->isVisible());
        QVERIFY(!page.drawnAt(msecsAt(QStringLiteral("10:04:30")), 100));
        page.tab->add(records::makeRecord(at(QStringLiteral("10:50:00")), {1}, 12, 100, 100, 90));
        QTRY_COMPARE(page.tab->drawnPoints({1, 12}), 27);
        QVERIFY(!curve->isVisible());
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(curve->isVisible());
        QVERIFY(page.drawnAt(msecsAt(QStringLiteral("10:04:30")), 100));
    }

    // Zoomed to 10:02..10:04, the row counts the three values shown, both ends included; the
    // reset view counts all ten again. A spreadsheet is given the byte order mark, ';', a decimal
    // comma, the local time, and the channels "1;3" in quotes so that they stay one field.
    void statisticsAndExcel()
    {
        records::Record first =
            records::makeRecord(at(QStringLiteral("10:00:00")), {1, 3}, 12, 100.5f, 1, 90);
        first.verdict = records::Verdict::InTolerance;
        first.lowerUm = 95.5f;
        first.upperUm = 105;
        QByteArray lines = records::formatLine(first);
        for (int minute = 1; minute < 10; ++minute)
            lines += minutes(QTime(10, minute).toString(QStringLiteral("hh:mm:ss")), 1,
                             float(minute + 1));
        Page page(lines);
        QVERIFY(page.ok);
        QCOMPARE(page.statistic(2), QStringLiteral("10"));
        auto *zoomer = page.tab->plot()->canvas()->findChild<QwtPlotZoomer *>();
        QVERIFY(zoomer);
        const double from = msecsAt(QStringLiteral("10:02:00"));
        const double to = msecsAt(QStringLiteral("10:04:00"));
        zoomer->zoom(QRectF(QPointF(from, 0), QPointF(to, 20)));
        QTRY_COMPARE(page.statistic(2), QStringLiteral("3"));
        QCOMPARE(page.statistic(3), QStringLiteral("4.00"));
        QCOMPARE(page.statistic(5), QStringLiteral("3.00"));
        QCOMPARE(page.statistic(6), QStringLiteral("5.00"));
        page.tab->resetView();
        QTRY_COMPARE(page.statistic(2), QStringLiteral("10"));
        QCOMPARE(page.statistic(3), QStringLiteral("5.50"));

        const QString path = page.folder.filePath(QStringLiteral("excel.csv"));
        QCOMPARE(page.tab->exportTo(path, "excel"), QString());
        const QByteArray excel = files::read(path);
        QVERIFY2(excel.startsWith("\xEF\xBB\xBFtime;channel;address;raw_um;calibrated_um;quality;"
                                  "verdict;lower_um;upper_um\r\n"
                                  "2026-03-09 10:00:00.000;\"1;3\";12;100,5;1;90;ok;95,5;105\r\n"
                                  "2026-03-09 10:01:00.000;1;12;2;2;90;;;\r\n"),
                 excel.constData());
    }

    // A year's table is given to the view as it scrolls: the first rows at once, every row
    // in the end, the last one last.
    void tableFetchesEveryRow()
    {
        history::Model model;
        records::ReadResult read;
        for (int i = 0; i < 25'000; ++i)
            read.records.push_back(records::makeRecord(at(QStringLiteral("10:00:00")).addMSecs(i),
                                                       {1}, 12, float(i), float(i), 90));
        model.set(read, day, day);
        history::TableModel table(&model);
        table.reset();
        QCOMPARE(table.rowCount(), history::TableModel::firstRows);
        while (table.canFetchMore({}))
            table.fetchMore({});
        QCOMPARE(table.rowCount(), 25'000);
        QCOMPARE(table.index(24'999, 4).data().toString(), QStringLiteral("24999"));
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
