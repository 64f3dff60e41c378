#include "app/OrvaUI.h"
#include "summary/OperationSummaries.h"
#include "support/Files.h"
#include "support/WindowSuite.h"
#include "ui/ProbePanels.h"
#include "ui/StaleValues.h"

#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

// The operator sees what is running and what is old: the progress of an all-probe operation,
// values from before a calibration step or a closed port, a port closed on request, and a folder
// that no file manager opened.
using namespace window;

class TestRunning : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;
    QTemporaryDir configHome;
    std::unique_ptr<Bench> bench;

    void connectPort(OrvaUI &window) { choosePort(window, bench->line.slavePath()); }

    static QString operation(OrvaUI &window)
    {
        return window.stateField().item(QStringLiteral("operation"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(configHome.isValid());
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
        QVERIFY(files::write(QStringLiteral("settings.cfg"), files::settings(busAddresses, 20)));
        qRegisterMetaType<uint8_t>("uint8_t");
    }

    void init()
    {
        bench = std::make_unique<Bench>();
        QVERIFY2(bench->open(), qPrintable(bench->line.errorString()));
    }

    void cleanup() { bench.reset(); }

    // A channel counts once all its commands have an outcome, whatever the outcome; commands
    // announced without a channel do not count; nothing shows before a command went out.
    void progressCounted()
    {
        using frames::Command;
        OperationSummaries summaries;
        QSignalSpy progress(&summaries, &OperationSummaries::progress_Signal);
        const auto report = [&summaries](Command command, uint64_t sequence,
                                         ExchangeOutcome::Status status) {
            ExchangeOutcome outcome;
            outcome.sequence = sequence;
            outcome.command = command;
            outcome.status = status;
            summaries.outcome(outcome);
        };
        const int round = summaries.begin(QStringLiteral("Запуск измерения"));
        for (int channel : {1, 1, 2, 2, 3, 3})
            summaries.expect(round, channel);
        summaries.close(round);
        QCOMPARE(progress.count(), 0);
        summaries.issuing(round, 1, Command::StartMeasurement, 1, true);
        summaries.issuing(round, 2, Command::StartMeasurement, 2, true);
        summaries.issuing(round, 3, Command::StartMeasurement, 3, false);
        report(Command::StartMeasurement, 1, ExchangeOutcome::Status::Ok);
        report(Command::StartMeasurement, 2, ExchangeOutcome::Status::DeviceError);
        summaries.issuing(round, 1, Command::GetMeasurementResult, 4, true);
        summaries.issuing(round, 2, Command::GetMeasurementResult, 5, true);
        summaries.issuing(round, 3, Command::GetMeasurementResult, 6, false);
        report(Command::GetMeasurementResult, 5, ExchangeOutcome::Status::NoResponse);
        report(Command::GetMeasurementResult, 4, ExchangeOutcome::Status::Ok);
        QStringList seen;
        for (const QList<QVariant> &step : progress)
            seen << QStringLiteral("%1/%2").arg(step.at(1).toInt()).arg(step.at(2).toInt());
        QCOMPARE(seen, QStringList({"0/3", "1/3", "2/3", "3/3"}));
        QCOMPARE(progress.first().at(0).toString(), QStringLiteral("Запуск измерения"));
    }

    // The state field follows a round on the line and says when it has ended.
    void progressShown()
    {
        OrvaUI window;
        connectPort(window);
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_VERIFY2(operation(window).startsWith(QStringLiteral("идёт измерение: ")) &&
                         operation(window).endsWith(QStringLiteral(" из 8")),
                     qPrintable(operation(window)));
        QTRY_COMPARE_WITH_TIMEOUT(operation(window), QStringLiteral("измерение закончено"), 5000);
    }

    void staleValues_data()
    {
        QTest::addColumn<QString>("step");
        QTest::newRow("Сброс") << "Сброс";
        QTest::newRow("Ноль") << "Ноль";
        QTest::newRow("Мера") << "Мера";
        QTest::newRow("port closed") << "";
    }

    // Old after a calibration step of its own probe or a closed port; current with the next
    // value.
    void staleValues()
    {
        QFETCH(QString, step);
        OrvaUI window;
        connectPort(window);
        // The probes answer from this thread, which the sanitizers' full stacks slow down.
        window.lineCommands().setAnswerTimeLimit(250);
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("100"));
        const auto panels = probePanels(window.ui);
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(operation(window), QStringLiteral("измерение закончено"), 5000);
        QVERIFY(!panels[1].value->text().isEmpty() && !panels[2].value->text().isEmpty());

        if (step.isEmpty()) {
            window.findChild<QAction *>(QStringLiteral("action_disconnect"))->trigger();
        } else {
            for (QPushButton *button : {panels[1].reset, panels[1].zero, panels[1].measure}) {
                if (button->text() == step)
                    QTest::mouseClick(button, Qt::LeftButton);
            }
        }
        QVERIFY(StaleValues::isStale(panels[1].value));
        QVERIFY(panels[1].value->font().italic());
        QCOMPARE(StaleValues::isStale(panels[2].value), step.isEmpty());
        QVERIFY(!panels[1].value->text().isEmpty());
        if (step.isEmpty())
            return;
        QVERIFY2(panels[1].value->toolTip().contains(step), qPrintable(panels[1].value->toolTip()));
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(operation(window), QStringLiteral("измерение закончено"), 5000);
        QVERIFY(!StaleValues::isStale(panels[1].value) && !panels[1].value->font().italic());
    }

    // The port is free for another program at once; connecting again works as before.
    void disconnectFromWindow()
    {
        OrvaUI window;
        connectPort(window);
        QVERIFY(window.port().isOpen());
        window.findChild<QAction *>(QStringLiteral("action_disconnect"))->trigger();
        QVERIFY(!window.port().isOpen());
        QCOMPARE(window.stateField().item(QStringLiteral("port")),
                 bench->line.slavePath() + QStringLiteral(": отключен"));
        QCOMPARE(files::logMessages().last(), QStringLiteral("0 Device disconnected"));
        {
            QSerialPort other(bench->line.slavePath());
            QVERIFY(other.open(QIODevice::ReadWrite));
        }
        QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
        QVERIFY(window.port().isOpen());
    }

    // Every entry of the "Файл" and "Приборы" menus, and the history page, is in the guide.
    void guideCoversMenus()
    {
        OrvaUI window;
        const QString guide = OperatorMenus::guideText();
        QStringList missing;
        for (const char *name : {"menuFile", "menu_devices"}) {
            for (const QAction *action : window.findChild<QMenu *>(name)->actions()) {
                const QString text = action->text().remove(QLatin1Char('&'));
                if (!action->isSeparator() && text != QStringLiteral("Выход") &&
                    !guide.contains(QLatin1Char('"') + text + QLatin1Char('"')))
                    missing << text;
            }
        }
        if (!guide.contains(QStringLiteral("\"История\"")))
            missing << QStringLiteral("История");
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
    }

    // Without a file manager the folder's path is shown instead.
    void folderWithoutFileManager_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("folder");
        QTest::newRow("log") << "actionOpenLogFolder"
                             << "log";
        QTest::newRow("records") << "actionOpenRecordsFolder"
                                 << "records";
    }

    void folderWithoutFileManager()
    {
        QFETCH(QString, action);
        QFETCH(QString, folder);
        QTemporaryDir emptyPath;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", emptyPath.path().toLocal8Bit());
        OrvaUI window;
        window.findChild<QAction *>(action)->trigger();
        qputenv("PATH", path);
        auto *box = window.findChild<QMessageBox *>(QStringLiteral("folderNotOpened"));
        QVERIFY(box && box->isVisible());
        QVERIFY2(box->text().contains(QDir::current().absoluteFilePath(folder)),
                 qPrintable(box->text()));
    }
};

QTEST_MAIN(TestRunning)
#include "tst_running.moc"
