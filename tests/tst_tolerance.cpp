#include "app/OrvaUI.h"
#include "support/Files.h"
#include "support/WindowSuite.h"
#include "ui/HistoryTab.h"
#include "ui/LimitsDialog.h"
#include "ui/ProbePanels.h"
#include "ui/ReportDialog.h"

#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_histogram.h>
#include <qwt_plot_item.h>

using namespace window;

// Tolerances at the desk: the panel's mark, the alarm, the records' verdicts, the limits
// editor, the report dialog, and the calibration journal on a real line.
namespace {

QString markOf(OrvaUI &window, int probe)
{
    const QLineEdit *value = probePanels(window.ui)[size_t(probe - 1)].value;
    for (const QAction *action : value->actions()) {
        if (action->objectName().startsWith("mark"))
            return action->objectName();
    }
    return {};
}

QList<QByteArray> fileLines(const QString &path)
{
    QList<QByteArray> lines = files::read(path).split('\n');
    lines.removeLast();  // after the last line end, or the text of a file that cannot be read
    return lines;
}

QAction *action(OrvaUI &window, const char *name)
{
    return window.findChild<QAction *>(QLatin1String(name));
}

}  // namespace

class TestTolerance : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;

private slots:
    void initTestCase() { qRegisterMetaType<uint8_t>("uint8_t"); }

    void init()
    {
        QVERIFY(files::enterEmpty(workDir));
        QVERIFY(files::write(QStringLiteral("settings.cfg"), files::settings({12, 13}, 20)));
    }

    // A value over the limit marks its panel and raises the alarm naming the channel; a value
    // on the limit is in tolerance and clears both; the operator's acknowledgement clears the
    // alarm but not the mark. Each record keeps its verdict and the limits of its time.
    void verdictAndAlarm()
    {
        QVERIFY(files::write("limits.ini",
                             "[channel2]\nnominal=100\nlower=95\nupper=105\n"
                             "[channel3]\nlower=1\nupper=2\n"));
        OrvaUI window;
        StateField &field = window.stateField();
        typeAddress(window, 1, "12");
        typeAddress(window, 2, "13");
        typeAddress(window, 3, "14");

        window.newMeasurement_Slot(13, 110, 107.5f, 90);
        QCOMPARE(markOf(window, 2), QStringLiteral("markAbove"));
        QCOMPARE(field.item("tolerance"), QStringLiteral("⚠ Вне допуска: канал 2"));
        window.newMeasurement_Slot(14, 0, 0.5f, 90);
        QCOMPARE(markOf(window, 3), QStringLiteral("markBelow"));
        QCOMPARE(field.item("tolerance"), QStringLiteral("⚠ Вне допуска: каналы 2, 3"));
        // The round's summary counts the channels out of tolerance, once.
        const QString summary = QStringLiteral("Запуск измерения: приборов 3, успешно 3");
        QCOMPARE(window.tolerances().annotate(summary), summary + "; вне допуска: каналы 2, 3");
        QCOMPARE(window.tolerances().annotate(summary), summary);
        // Channel 1 has no limits: no verdict, no mark, the alarm stays as it was.
        window.newMeasurement_Slot(12, 1000, 1000, 90);
        QCOMPARE(markOf(window, 1), QString());
        QCOMPARE(window.tolerances().alarmChannels(), (QList<int>{2, 3}));

        window.newMeasurement_Slot(13, 100, 105, 90);
        QCOMPARE(markOf(window, 2), QString());
        QCOMPARE(field.item("tolerance"), QStringLiteral("⚠ Вне допуска: канал 3"));

        QAction *acknowledge = action(window, "action_acknowledge_tolerance");
        QVERIFY(acknowledge && acknowledge->isEnabled());
        acknowledge->trigger();
        QCOMPARE(field.item("tolerance"), QString());
        QVERIFY(!acknowledge->isEnabled());
        QCOMPARE(markOf(window, 3), QStringLiteral("markBelow"));
        QVERIFY(files::logMessages().contains("0 Tolerance alarm acknowledged"));

        const QList<QByteArray> lines =
            fileLines("records/" + QDate::currentDate().toString(Qt::ISODate) + ".csv");
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[1].endsWith(",2,13,110,107.5,90,above,95,105\r"));
        QVERIFY(lines[2].endsWith(",3,14,0,0.5,90,below,1,2\r"));
        QVERIFY(lines[3].endsWith(",1,12,1000,1000,90,,,\r"));
        QVERIFY(lines[4].endsWith(",2,13,100,105,90,ok,95,105\r"));
    }

    // A malformed file is reported with its line and gives no limits; the tool goes on. The
    // editor writes limits.ini and takes effect at once; a row it cannot save is named.
    void limitsEditor()
    {
        const QByteArray malformed = "[channel2]\nlower=95\nupper=95,5\n";
        QVERIFY(files::write("limits.ini", malformed));
        OrvaUI window;
        QCOMPARE(window.stateField().item("limits"),
                 QStringLiteral("Допуски не прочитаны (строка 3)"));
        QVERIFY(files::logMessages().filter("0 Limits ignored: limits.ini:3: ").size() == 1);
        typeAddress(window, 2, "13");
        window.newMeasurement_Slot(13, 0, 1e6f, 90);
        QCOMPARE(markOf(window, 2), QString());
        QCOMPARE(window.stateField().item("tolerance"), QString());

        action(window, "action_limits")->trigger();
        auto *dialog = window.findChild<LimitsDialog *>();
        QVERIFY(dialog);
        QTableWidget *table = dialog->ui.table_limits;
        table->item(3, 1)->setText("10.5");
        table->item(3, 2)->setText("9");
        dialog->accept();
        QCOMPARE(dialog->ui.label_error->text(),
                 QStringLiteral("Канал 4: нижняя граница выше верхней"));
        QCOMPARE(files::read("limits.ini"), malformed);
        table->item(3, 2)->setText("11.5");
        dialog->accept();
        const quality::LimitsFile saved = quality::readLimits("limits.ini");
        QVERIFY(saved.ok());
        QCOMPARE(saved.of(4)->lower, 10.5);
        QCOMPARE(saved.of(4)->nominal, 11.0);
        QVERIFY(!saved.of(1));
        QCOMPARE(window.stateField().item("limits"), QString());
        typeAddress(window, 4, "14");
        window.newMeasurement_Slot(14, 0, 12, 90);
        QCOMPARE(markOf(window, 4), QStringLiteral("markAbove"));
    }

    // The history judges by the limits: a band per channel with limits, statistics with the
    // share out of tolerance and Cp/Cpk, calibration marks, and the statistics since the
    // channel's last calibration that the probe took.
    void historyByTheLimits()
    {
        QVERIFY(files::write("limits.ini", "[channel1]\nlower=97\nupper=103\n"));
        QVERIFY(QDir().mkpath("records"));
        const QDate today = QDate::currentDate();
        QByteArray day = records::header();
        // 99, 100, 101 repeated, and one 104 at the end, after the calibration.
        for (int i = 0; i < 10; ++i) {
            const QDateTime time(today, QTime(0, 10 + i));
            const float value = i == 9 ? 104.0f : float(99 + i % 3);
            day += records::formatLine(records::makeRecord(time, {1}, 12, value, value, 90));
            day += records::formatLine(records::makeRecord(time, {2}, 13, 5, 5, 90));
        }
        QVERIFY(files::write("records/" + records::fileName(today), day));
        QByteArray journal = quality::journalHeader();
        journal += quality::formatEvent(quality::makeEvent(QDateTime(today, QTime(0, 15, 30)), 1,
                                                           12, quality::CalibrationCommand::Zero,
                                                           std::nullopt, "ok"));
        // Not taken by the probe: no new start for the statistics.
        journal += quality::formatEvent(quality::makeEvent(QDateTime(today, QTime(0, 17, 30)), 1,
                                                           12, quality::CalibrationCommand::Reset,
                                                           std::nullopt, "no response"));
        QVERIFY(files::write("records/calibration.csv", journal));

        OrvaUI window;
        window.showHistory();
        HistoryTab *history = window.history();
        QVERIFY(history);
        // The days are read on a thread of their own.
        QSignalSpy loaded(history, &HistoryTab::loaded);
        QVERIFY(loaded.wait(5000));
        int bands = 0;
        for (const QwtPlotItem *item : history->plot()->itemList(QwtPlotItem::Rtti_PlotZone))
            bands += item->isVisible();
        QCOMPARE(bands, 1);
        QCOMPARE(history->calibrationMarks(), 2);
        const quality::Statistics all = history->qualityStatistics({1, 12});
        QCOMPARE(all.count, qint64(10));
        QCOMPARE(*all.outShare, 0.1);
        QVERIFY(all.cp && all.cpk);
        QVERIFY(!history->qualityStatistics({2, 13}).cp);
        QCOMPARE(history->statistics()->item(0, 9)->text(), QStringLiteral("10.0 %"));

        const auto histogramTotal = [history] {
            double total = 0;
            for (size_t i = 0; i < history->valueHistogram()->dataSize(); ++i)
                total += history->valueHistogram()->sample(i).value;
            return total;
        };
        QCOMPARE(histogramTotal(), 10.0);
        // The bins span the limits too, so that the band's edges can be read off.
        QCOMPARE(history->valueHistogram()->sample(0).interval.minValue(), 97.0);
        QCOMPARE(history->valueHistogram()->sample(23).interval.maxValue(), 104.0);

        history->setSinceCalibration(true);
        QCOMPARE(history->qualityStatistics({1, 12}).count, qint64(4));  // 00:16 .. 00:19
        QCOMPARE(history->qualityStatistics({2, 13}).count, qint64(10));
        QCOMPARE(history->statistics()->item(0, 2)->text(), QStringLiteral("4"));
        QCOMPARE(histogramTotal(), 4.0);

        // New limits from the editor judge the history at once.
        quality::ChannelLimits wider;
        wider[0] = quality::Limits{100, 90, 110};
        window.tolerances().setLimits(wider);
        QCOMPARE(*history->qualityStatistics({1, 12}).outShare, 0.0);
    }

    // The header fields are remembered for the next report of this folder.
    void reportDialog()
    {
        {
            OrvaUI window;
            action(window, "actionReport")->trigger();
            auto *dialog = window.findChild<ReportDialog *>();
            QVERIFY(dialog);
            dialog->ui.le_order->setText("З-5");
            dialog->ui.le_operator->setText("Сидоров");
            dialog->ui.cb_channel_2->setChecked(false);
            QCOMPARE(dialog->request().channels, (QVector<int>{1, 3, 4, 5, 6, 7, 8}));
            QVERIFY(dialog->writePdf("out.pdf") && QFileInfo("out.pdf").size() > 0);
        }
        OrvaUI window;
        action(window, "actionReport")->trigger();
        auto *dialog = window.findChild<ReportDialog *>();
        QCOMPARE(dialog->ui.le_order->text(), QStringLiteral("З-5"));
        QCOMPARE(dialog->ui.le_operator->text(), QStringLiteral("Сидоров"));
    }

    // Each calibration goes to the journal with the probe's answer once it has one: ok, the
    // probe's error, and a probe that does not answer.
    void calibrationJournal()
    {
        Bench bench({12});
        QVERIFY2(bench.open(), qPrintable(bench.line.errorString()));
        OrvaUI window;
        // The probe answers an adapter's latency late from this thread, which the sanitizers'
        // full stacks slow many times over: a longer limit keeps a slowed answer from passing
        // for none.
        window.lineCommands().setAnswerTimeLimit(250);
        QVERIFY(choosePort(window, bench.line.slavePath()));
        typeAddress(window, 1, "12");
        typeAddress(window, 3, "40");
        const QString journal = QStringLiteral("records/calibration.csv");
        // A click within the engine's gap after the last answer is refused, and journalled so;
        // the operator clicks again.
        const auto calibrate = [&](QPushButton *button) {
            for (int attempt = 0; attempt < 100; ++attempt) {
                const int before = std::max(1, int(fileLines(journal).size()));
                QTest::mouseClick(button, Qt::LeftButton);
                if (!QTest::qWaitFor([&] { return fileLines(journal).size() > before; }, 5000))
                    return false;
                if (!fileLines(journal).last().endsWith(",not sent\r"))
                    return true;
            }
            return false;
        };
        QVERIFY(calibrate(window.ui.pb_line_meas_zero_1));
        window.ui.le_line_meas_setpoint->setText("250.5");
        QVERIFY(calibrate(window.ui.pb_line_meas_setpoint_1));
        QVERIFY(calibrate(window.ui.pb_line_meas_reset_3));

        QList<QByteArray> lines;
        for (const QByteArray &line : fileLines(journal)) {
            if (!line.endsWith(",not sent\r"))
                lines << line;
        }
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QByteArray("time,channel,address,command,measure_um,answer\r"));
        QVERIFY2(lines[1].endsWith(",1,12,zero,,ok\r"), lines[1].constData());
        // The simulated probe takes no measure point before it has measured: its error text.
        QVERIFY2(lines[2].endsWith(",1,12,point,250.5,Incorrect parameters\r"),
                 lines[2].constData());
        QVERIFY2(lines[3].endsWith(",3,40,reset,,no response\r"), lines[3].constData());
    }
};

QTEST_MAIN(TestTolerance)
#include "tst_tolerance.moc"
