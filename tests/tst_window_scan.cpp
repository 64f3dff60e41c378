#include "support/Files.h"
#include "support/Trace.h"
#include "support/WindowSuite.h"
#include "ui/SecondsDialog.h"

#include <QMessageBox>
#include <QProgressDialog>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include <QtTest>

using namespace window;
using frames::Command;
using trace::request;

// The probe search and continuous measurement from the window's menu, each owning the line while
// it runs.
class TestWindowScan : public Suite
{
    Q_OBJECT

private slots:
    // The scan from the menu, with its progress dialog. Cancel ends it and says so. More probes
    // than panels: the operator is told and given the list; nothing is offered. Otherwise every
    // request is logged as any other command's, and the finds are offered for the address
    // fields in ascending order, replacing what was typed only when the operator agrees.
    void findProbes()
    {
        bench->model.setCapacity(9);
        QVERIFY(bench->model.addProbe(200));
        OrvaUI window;
        // The probes answer within a millisecond; the full answer time limit would only make
        // the scan longer. The spy's wait runs the event loop itself, so no answer is held up.
        const auto scanWholeLine = [&window]() {
            window.lineCommands().setAnswerTimeLimit(quickAnswerLimitMs);
            QSignalSpy finished(&window.probeSearch(), &ProbeSearch::finished);
            window.findChild<QAction *>(QStringLiteral("action_find_probes"))->trigger();
            // The last search's dialog may still wait for the loop to delete it.
            const auto dialogs =
                window.findChildren<QProgressDialog *>(QStringLiteral("probeSearchProgress"));
            return std::any_of(dialogs.begin(), dialogs.end(),
                               [](const QWidget *dialog) { return dialog->isVisible(); }) &&
                   finished.wait(30000) && finished.first().first().toBool();
        };
        choosePort(window, bench->line.slavePath());
        for (const ProbePanel &panel : probePanels(window.ui))
            panel.address->clear();
        typeAddress(window, 3, QStringLiteral("99"));
        const QStringList typed{"", "", "99", "", "", "", "", ""};
        window.findChild<QAction *>(QStringLiteral("action_find_probes"))->trigger();
        auto *progress = window.findChild<QProgressDialog *>(QStringLiteral("probeSearchProgress"));
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 3, 2000);
        const auto buttons = progress->findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons.first()->text(), QStringLiteral("Отмена"));
        QTest::mouseClick(buttons.first(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.probeSearch().isRunning(), 1000);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Поиск приборов прерван"));

        QVERIFY(scanWholeLine());
        auto *told = window.findChild<QMessageBox *>(QStringLiteral("probeSearchTooMany"));
        QVERIFY(told);
        QVERIFY2(told->text().contains(QStringLiteral("9")) &&
                     told->text().contains(QStringLiteral("12, 13, 14, 15, 16, 17, 18, 19, 200")),
                 qPrintable(told->text()));
        QVERIFY(!window.findChild<QMessageBox *>(QStringLiteral("probeSearchOffer")));
        QCOMPARE(addressFields(window), typed);
        told->close();

        bench->model.removeProbe(200);
        bench->model.removeProbe(19);
        QVERIFY(bench->model.addProbe(5));
        const int logFrom = files::logMessages().size();
        QVERIFY(scanWholeLine());
        auto *offer = window.findChild<QMessageBox *>(QStringLiteral("probeSearchOffer"));
        QVERIFY(offer);
        QVERIFY2(offer->text().contains(QStringLiteral("5, 12, 13, 14, 15, 16, 17, 18.")) &&
                     offer->text().contains(QStringLiteral("заменены")),
                 qPrintable(offer->text()));
        QCOMPARE(addressFields(window), typed);
        offer->button(QMessageBox::Yes)->click();
        QCOMPARE(addressFields(window),
                 (QStringList{"5", "12", "13", "14", "15", "16", "17", "18"}));
        QVERIFY(panel(window, 8).zero->isEnabled());

        const QStringList log = files::logMessages().mid(logFrom);
        QCOMPARE(log.count(QStringLiteral("1 Check Air Code:")), 256);
        QCOMPARE(log.count(QStringLiteral("1 Check Air Code OK")), 8);
        QCOMPARE(log.count(QStringLiteral("1 No response")), 248);
        QVERIFY(log.contains(trace::txLine(request(Command::CheckAirCode, 255))));
        QVERIFY(log.contains(
            QStringLiteral("0 Probe search finished, found 8: 5, 12, 13, 14, 15, 16, 17, 18")));
    }

    // Rounds at the operator's interval, each shown and logged as a clicked one; a click on the
    // menu entry stops them (a pulled adapter too: tst_kept). A loop held up past a round's time
    // starts that round late, and the next one still keeps the whole interval after it.
    void continuousMeasurement()
    {
        OrvaUI window;
        connectWithAddresses(window);
        QSignalSpy running(&window.continuousMeasurement(), &ContinuousMeasurement::runningChanged);
        // The sending controls wait, their tips saying why, or are free without a tip.
        const auto sendingHeldBy = [&window](const QString &reason) {
            for (QPushButton *button :
                 {window.ui.pb_line_meas_get, window.ui.pb_line_meas_update_air,
                  panel(window, 2).zero, panel(window, 8).measure, panel(window, 8).reset})
                QVERIFY2(button->isEnabled() == reason.isEmpty() &&
                             (reason.isEmpty() ? button->toolTip().isEmpty()
                                               : button->toolTip().contains(reason)),
                         qPrintable(button->objectName()));
        };
        QAction *action =
            window.findChild<QAction *>(QStringLiteral("action_continuous_measurement"));
        // The shortest interval offered is a round: 22.5 delays and the engine's answer limit as
        // set now, offered in tenths of a second; a delay too long for a timer gives the longest
        // interval a timer holds.
        window.lineCommands().setAnswerTimeLimit(110);
        action->trigger();
        auto *dialog = window.findChild<SecondsDialog *>(QStringLiteral("continuousInterval"));
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(ContinuousMeasurement::roundMs(delayMs, 40), 940);
        QCOMPARE(ContinuousMeasurement::roundMs(-1, 110), INT_MAX);
        QCOMPARE(dialog->spinBox()->minimum(), 1.1);
        dialog->spinBox()->setValue(1.2);
        QTimer::singleShot(1150, Qt::PreciseTimer,
                           [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
        dialog->accept();
        QCOMPARE(QList<QList<QVariant>>(running), QList<QList<QVariant>>{{true}});
        QVERIFY(action->isChecked());
        // Nothing else sends while the rounds run, and the buttons say why; the entry that stops
        // them stays live, and an address typed meanwhile enables no button.
        typeAddress(window, 2, QStringLiteral("13"));
        sendingHeldBy(QStringLiteral("идёт непрерывное измерение"));
        QVERIFY(action->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(files::logMessages().count("1 Get Measurement Result OK") >= 24,
                                 6000);
        // Each round clears the panels at its start: all eight show between two rounds.
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 5000);

        action->trigger();
        QCOMPARE(QList<QList<QVariant>>(running), (QList<QList<QVariant>>{{true}, {false}}));
        QVERIFY(!action->isChecked() && !window.continuousMeasurement().isRunning());
        sendingHeldBy(QString());
        QTRY_VERIFY_WITH_TIMEOUT(probesim::steadyMicroseconds() - received().back().timeUs > 300000,
                                 3000);
        const size_t after = received().size();
        // Every round is logged whole; one held up by the machine may have had a request refused.
        const QStringList log = files::logMessages();
        int wholeRounds = 0;
        for (int from = log.indexOf(measurementLog().first()); from >= 0;
             from = log.indexOf(measurementLog().first(), from + 1))
            wholeRounds += log.mid(from, measurementLog().size()) == measurementLog();
        QVERIFY2(wholeRounds >= 2, qPrintable(log.join(QLatin1Char('\n'))));
        // When each measurement of the probe at 12 started.
        std::vector<qint64> starts;
        for (const probesim::ProbeRequest &request : received()) {
            if (request.code() == uint8_t(Command::StartMeasurement) && request.address() == 12)
                starts.push_back(request.timeUs);
        }
        QVERIFY(starts.size() >= 3);
        for (size_t i = 1; i < starts.size(); ++i)
            QVERIFY2(starts[i] - starts[i - 1] >= 1190000,
                     qPrintable(QString::number(starts[i] - starts[i - 1])));
        QTest::qWait(1300);
        QCOMPARE(received().size(), after);

        // The scan owns the line: it stops continuous rounds before its first request, their
        // armed commands never go, the sending controls wait behind a window-modal dialog, and
        // all comes back when it ends.
        window.lineCommands().setAnswerTimeLimit(quickAnswerLimitMs);
        ContinuousMeasurement &continuous = window.continuousMeasurement();
        continuous.start(0);
        // An interval shorter than a round is lengthened to it.
        QCOMPARE(continuous.intervalMs(), continuous.roundMs());
        QTRY_VERIFY_WITH_TIMEOUT(received().size() > after, 2000);
        QSignalSpy finished(&window.probeSearch(), &ProbeSearch::finished);
        window.probeSearch().action()->trigger();

        QVERIFY(!continuous.isRunning() && !continuous.action()->isEnabled());
        const auto *progress =
            window.findChild<QProgressDialog *>(QStringLiteral("probeSearchProgress"));
        QVERIFY(progress && progress->isVisible());
        QCOMPARE(progress->windowModality(), Qt::WindowModal);
        sendingHeldBy(QStringLiteral("поиск приборов"));
        QVERIFY(finished.wait(30000));
        QVERIFY(finished.first().first().toBool());

        QStringList during = files::logMessages();
        during = during.mid(during.indexOf("0 Probe search started"));
        QCOMPARE(during
                     .filter(QRegularExpression("^1 (Start Measurement|Get Measurement "
                                                "Result):$"))
                     .size(),
                 0);
        QCOMPARE(int(window.probeSearch().scan().foundAddresses().size()), probeCount);
        QVERIFY(continuous.action()->isEnabled());
        sendingHeldBy(QString());
    }
};

QTEST_MAIN(TestWindowScan)
#include "tst_window_scan.moc"
