#include "app/OrvaUI.h"
#include "records/Record.h"
#include "summary/OperationSummaries.h"
#include "support/Files.h"
#include "support/WindowSuite.h"
#include "ui/HistoryTab.h"
#include "ui/ProbePanels.h"
#include "ui/StaleValues.h"

#include <QDesktopServices>
#include <QImageReader>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>

using namespace window;

// What the operator sees at the desk beyond the probe panels: the state field, the operation
// summaries and their progress, values grown old, the menus, the keyboard, the icon, the
// start-up values and the command line.
namespace {

QStringList menuTexts(const QWidget *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

}  // namespace

class TestDesk : public Suite
{
    Q_OBJECT

    QList<QUrl> openedUrls;

public slots:
    void openUrl(const QUrl &url) { openedUrls << url; }

private slots:
    // The field names the port and its state; a failed connect says why, in the field and in
    // the log right after "Device not connected". Other features keep items of their own there.
    // The port list is watched whenever no port is open, after a failed reconnect too; the first
    // connection unlocks the workflow for good.
    void stateField()
    {
        OrvaUI window;
        StateField &field = window.stateField();
        QVERIFY(window.statusBar()->isAncestorOf(&field));
        const auto connectSays = [&window](bool opens) {
            QCOMPARE(window.statusBar()->currentMessage(),
                     opens ? "Устройство подключено" : "Устройство не подключено");
            const QStringList log = files::logMessages();
            QVERIFY(opens ? log.last() == "0 Device Connected"
                          : log.mid(log.size() - 2)
                                .join('|')
                                .startsWith("0 Device not connected|0 Reason: not found"));
            QCOMPARE(window.port().isOpen(), opens);
            QCOMPARE(window.portPoll().isActive(), !opens);
        };
        const auto workflowEnabled = [&window]() {
            return window.ui.pb_line_meas_update_air->isEnabled() &&
                   window.ui.pb_line_meas_get->isEnabled();
        };
        const QString missing = QStringLiteral("/nonexistent/ttyT7R");
        choosePort(window, missing);
        QCOMPARE(field.text(), missing + ": не подключен, не найден");
        connectSays(false);
        QVERIFY(!workflowEnabled());

        // Another program holds the port.
        {
            QSerialPort holder(bench->line.slavePath());
            QVERIFY(holder.open(QIODevice::ReadWrite));
            choosePort(window, bench->line.slavePath());
            QCOMPARE(field.text(),
                     bench->line.slavePath() + ": не подключен, занят другой программой");
            QCOMPARE(files::logMessages().last().left(14), QStringLiteral("0 Reason: busy"));
        }

        choosePort(window, bench->line.slavePath());
        const QString connected = bench->line.slavePath() + ": подключен";
        QCOMPARE(field.text(), connected);
        connectSays(true);
        // The reason's advice went with the reason: the tip holds the whole text alone.
        QCOMPARE(field.toolTip(), field.text());

        field.setItem("records", "записи не ведутся", "tip");
        field.setItem("continuous", "непрерывное измерение");
        QCOMPARE(field.text(), connected + "  |  записи не ведутся  |  непрерывное измерение");
        field.setItem("records", QString());
        QCOMPARE(field.text(), connected + "  |  непрерывное измерение");

        // The port is at the probe bus's settings, 460800 8N1 without flow control, and every
        // connect starts the line's health afresh: read errors of the previous connection, short
        // of a lost line, do not count towards this one's.
        const QSerialPort &port = window.port();
        QCOMPARE((QList<int>{port.baudRate(), port.dataBits(), port.parity(), port.stopBits(),
                             port.flowControl()}),
                 (QList<int>{460800, QSerialPort::Data8, QSerialPort::NoParity,
                             QSerialPort::OneStop, QSerialPort::NoFlowControl}));
        auto &reporting = const_cast<QSerialPort &>(port);
        for (int i = 1; i < LinkHealth::burstErrors; ++i)
            emit reporting.errorOccurred(QSerialPort::ReadError);
        QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
        emit reporting.errorOccurred(QSerialPort::ReadError);
        connectSays(true);
        QCOMPARE(files::logMessages().count("0 Device Connected"), 2);
        choosePort(window, missing);
        connectSays(false);
        QVERIFY(workflowEnabled());

        // The adapter is pulled.
        choosePort(window, bench->line.slavePath());
        bench->pull();
        QTRY_VERIFY_WITH_TIMEOUT(!window.port().isOpen(), 2000);
        QVERIFY2(field.item("port").endsWith(": не подключен, не найден"),
                 qPrintable(field.item("port")));

        // The port last connected to is taken again when a later list offers it.
        const QString slave = bench->line.slavePath();
        QVERIFY(
            OrvaUI::userSettingsPath().startsWith(QFile::decodeName(qgetenv("XDG_CONFIG_HOME"))));
        OrvaUI next;
        next.ui.cb_ports->addItems({QStringLiteral("ttyS0"), slave});
        QCOMPARE(next.ui.cb_ports->currentText(), slave);
        next.ui.cb_ports->clear();
        next.ui.cb_ports->addItems({QStringLiteral("ttyS0"), QStringLiteral("ttyS1")});
        QCOMPARE(next.ui.cb_ports->currentText(), QStringLiteral("ttyS0"));
    }

    void refusedConnect_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("tip");
        QTest::newRow("busy") << "занят другой программой"
                              << "другой программой";
        QTest::newRow("no permission") << "нет доступа (группа dialout)"
                                       << "dialout";
    }

    // On a Russian desktop the system's words for a busy port are Russian ("Устройство или
    // ресурс занято"); it is still shown as busy. This process holds the port in exclusive
    // mode.
    void refusedConnect()
    {
        QFETCH(QString, reason);
        QFETCH(QString, tip);
        const bool busy = QTest::currentDataTag() == QByteArray("busy");
        const QString language = QLatin1String(busy ? "ru_RU.UTF-8" : "C.UTF-8");
        QString port = bench->line.slavePath();
        int held = -1;
        if (busy) {
            held = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            QVERIFY(held >= 0);
            QCOMPARE(::ioctl(held, TIOCEXCL), 0);
        } else {
            port = QDir::current().absoluteFilePath(QStringLiteral("locked-port"));
            QVERIFY(files::write(port, QByteArray()));
            QVERIFY(QFile::setPermissions(port, {}));
        }
        // What a window in a child process, without root's rights over files and ports, says of
        // the connect: the library's error, the port's state item and the field's tooltip.
        QTemporaryDir childDir;
        QProcess child;
        child.setWorkingDirectory(childDir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LANG", "LC_ALL", "LC_MESSAGES"})
            environment.insert(QLatin1String(name), language);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--connect-child"), port});
        QVERIFY(child.waitForFinished(20000));
        if (held >= 0)
            ::close(held);
        QCOMPARE(child.exitCode(), 0);
        const QStringList said = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
        QCOMPARE(said.size(), 4);
        // The set-up holds: the library's words are the system's Russian ones.
        QVERIFY2(!busy || said[0].contains(QStringLiteral("занято")), qPrintable(said[0]));
        QCOMPARE(said[1], port + ": не подключен, " + reason);
        QVERIFY(said[2].contains(tip));
    }

    // An export that cannot be written says so, and leaves the file that was there as it was;
    // one that can replaces it. Files may grow to 16 bytes here, as on a full disk: a limit
    // that holds for root too.
    void historyExport()
    {
        HistoryTab history(QStringLiteral("records"));
        history.resize(640, 480);
        const std::pair<QByteArray, QByteArray> formats[] = {
            {"csv", records::header()}, {"png", "\x89PNG"}, {"svg", "<?xml"}};
        for (const auto &[format, starts] : formats) {
            const QString path = QStringLiteral("history.") + QString::fromLatin1(format);
            QVERIFY(files::write(path, "there before"));
            struct rlimit limit = {};
            QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
            const struct rlimit small = {16, limit.rlim_max};
            const auto previous = std::signal(SIGXFSZ, SIG_IGN);
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
            const QString failure = history.exportTo(path, format);
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, previous);
            QVERIFY2(!failure.isEmpty(), format.constData());
            QCOMPARE(files::read(path), QByteArray("there before"));
            QVERIFY(!history.exportTo(QStringLiteral("no-such-folder/") + path, format).isEmpty());
            QCOMPARE(history.exportTo(path, format), QString());
            QVERIFY2(files::read(path).startsWith(starts), format.constData());
        }
    }

    void summaries_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QList<int>>("cleared");
        QTest::addColumn<QString>("summary");
        QTest::addRow("air") << "pb_line_meas_update_air" << QList<int>{4}
                             << "Обновить \"Воздух\": приборов 7, успешно 5; ошибка: канал 1 — "
                                "Busy; нет ответа: канал 3; не корректный адрес: канал 4";
        QTest::addRow("measurement")
            << "pb_line_meas_get" << QList<int>{5, 8}
            << "Запуск измерения: приборов 6, успешно 4; ошибка: канал 1 — Busy; нет ответа: "
               "канал 3; не корректный адрес: каналы 5, 8";
    }

    // One line after each operation: probes commanded, answered well, and the channels that
    // failed, whatever the way they failed. Each invalid field is said in turn, the last message
    // runs its full time out before the summary follows; invalid fields are not commanded, nor
    // counted, and the summary names them.
    void summaries()
    {
        QFETCH(QString, button);
        QFETCH(QList<int>, cleared);
        QFETCH(QString, summary);
        OrvaUI window;
        // The probes answer from this thread, which the sanitizers' full stacks slow many times
        // over: a longer limit keeps a slowed answer from passing for none, and a silent probe
        // is still told by the next request.
        window.lineCommands().setAnswerTimeLimit(250);
        choosePort(window, bench->line.slavePath());
        // Channel 3 names a device that is not there; the first answer reports Busy.
        window.ui.le_addr_3->setText(QStringLiteral("99"));
        bench->faults.script(probesim::Fault::Busy);
        // The connect's message has had its time.
        window.statusBar()->clearMessage();
        for (const int channel : cleared)
            probePanels(window.ui)[channel - 1].address->clear();
        QSignalSpy messages(window.statusBar(), &QStatusBar::messageChanged);
        QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.statusBar()->currentMessage(), summary, 20000);
        QList<QVariantList> expected;
        for (const int channel : cleared)
            expected << QVariantList{QStringLiteral("Не корректный адрес, канал %1").arg(channel)};
        QCOMPARE(QList<QVariantList>(messages),
                 expected << QVariantList{QString()} << QVariantList{summary});

        QTest::mouseClick(window.ui.pb_line_meas_zero_2, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.statusBar()->currentMessage(),
                                  "Ноль: приборов 1, успешно 1", 1000);

        // With the port closed nothing reaches the line: the message of the click stays.
        OrvaUI closed;
        closed.ui.le_addr_2->clear();
        QTest::mouseClick(closed.ui.pb_line_meas_zero_1, Qt::LeftButton);
        QTest::mouseClick(closed.ui.pb_line_meas_zero_2, Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(closed.statusBar()->currentMessage(), "Не корректный адрес, канал 2");
    }

    // The verdicts the line cannot be made to give on cue: a request refused by the gap, a late
    // second report of an exchange, a report that never comes. A channel's progress counts once
    // all its commands have an outcome; commands announced without a channel do not count.
    void summaryVerdicts()
    {
        using frames::Command;
        using Status = ExchangeOutcome::Status;
        OperationSummaries summaries;
        QSignalSpy lines(&summaries, &OperationSummaries::summary_Signal);
        QSignalSpy progress(&summaries, &OperationSummaries::progress_Signal);
        const auto report = [&summaries](Command command, uint8_t sequence, Status status,
                                         const QString &detail = QString()) {
            ExchangeOutcome outcome;
            outcome.sequence = sequence;
            outcome.command = command;
            outcome.address = sequence;
            outcome.status = status;
            outcome.detail = detail;
            summaries.outcome(outcome);
        };

        const int round = summaries.begin(QStringLiteral("Проверка"));
        for (int i = 0; i < 5; ++i)
            summaries.expect(round);
        summaries.close(round);
        summaries.issuing(round, 1, Command::CheckAirCode, 12, true);
        report(Command::CheckAirCode, 12, Status::NoResponse);
        summaries.issuing(round, 2, Command::CheckAirCode, 13, true);
        // The answer to channel 1 arrives after all: not channel 2's.
        report(Command::CheckAirCode, 12, Status::Ok);
        report(Command::CheckAirCode, 13, Status::NotSent);
        summaries.issuing(round, 3, Command::CheckAirCode, 14, true);
        report(Command::CheckAirCode, 14, Status::BadAnswer);
        summaries.issuing(round, 4, Command::CheckAirCode, 15, true);
        report(Command::CheckAirCode, 15, Status::Ok);
        QCOMPARE(lines.count(), 0);
        QCOMPARE(progress.count(), 0);
        // Channel 5's report never comes (the port closed under it).
        summaries.issuing(round, 5, Command::CheckAirCode, 16, true);
        QVERIFY(lines.wait(OperationSummaries::lateOutcomeMs + 500));
        QCOMPARE(lines.takeFirst().at(0).toString(),
                 "Проверка: приборов 5, успешно 1; ошибка: канал 3; нет ответа: каналы 1, 5; "
                 "не отправлено: канал 2");

        // Two commands for one channel: the worse verdict counts.
        const int measurement = summaries.begin(QStringLiteral("Запуск измерения"));
        for (int channel : {1, 1, 2, 2, 7, 7})
            summaries.expect(measurement, channel);
        summaries.close(measurement);
        QCOMPARE(progress.count(), 0);
        summaries.issuing(measurement, 1, Command::StartMeasurement, 1, true);
        summaries.issuing(measurement, 2, Command::StartMeasurement, 2, false);
        summaries.issuing(measurement, 7, Command::StartMeasurement, 18, true);
        report(Command::StartMeasurement, 18, Status::DeviceError, "Incorrect parameters");
        report(Command::StartMeasurement, 1, Status::Ok);
        summaries.issuing(measurement, 1, Command::GetMeasurementResult, 4, true);
        summaries.issuing(measurement, 2, Command::GetMeasurementResult, 5, false);
        summaries.issuing(measurement, 7, Command::GetMeasurementResult, 19, true);
        report(Command::GetMeasurementResult, 19, Status::Ok);
        report(Command::GetMeasurementResult, 4, Status::NoResponse);
        QCOMPARE(lines.takeFirst().at(0).toString(),
                 "Запуск измерения: приборов 3, успешно 0; ошибка: канал 7 — Incorrect "
                 "parameters; нет ответа: канал 1; не отправлено: канал 2");
        const QString measuring = QStringLiteral("Запуск измерения");
        QCOMPARE(QList<QList<QVariant>>(progress),
                 (QList<QList<QVariant>>{
                     {measuring, 0, 3}, {measuring, 1, 3}, {measuring, 2, 3}, {measuring, 3, 3}}));
    }

    void menus()
    {
        OrvaUI window;
        QCOMPARE(menuTexts(window.menuBar()), QStringList({"Файл", "Приборы", "Справка"}));
        QCOMPARE(menuTexts(window.findChild<QMenu *>(QStringLiteral("menu_devices"))).value(0),
                 QStringLiteral("Найти приборы на линии"));
        QCOMPARE(
            menuTexts(window.operatorMenus().fileMenu()),
            QStringList({"Открыть папку журнала", "Открыть папку записей", "Отчёт…", "Публикация…",
                         "-", "Сохранить адреса в settings.cfg", "-", "Выход"}));

        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
        window.findChild<QAction *>(QStringLiteral("actionOpenLogFolder"))->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(workDir.filePath("log"))});

        const QString about = window.operatorMenus().aboutText();
        for (const QString &part :
             {QStringLiteral("T7R Demo v1.1.1"), QStringLiteral("линии, 460800 бод."),
              QString::fromLatin1(qVersion()), workDir.filePath("log/log.txt"),
              workDir.filePath("settings.cfg"), OrvaUI::userSettingsPath(),
              QStringLiteral("Дата сборки: 20"),
              QStringLiteral("Рабочая папка: ") + workDir.path()})
            QVERIFY2(about.contains(part), qPrintable(part));
        window.findChild<QAction *>(QStringLiteral("actionAbout"))->trigger();
        QMessageBox *box = window.findChild<QMessageBox *>();
        QVERIFY(box && box->isVisible() && box->text() == about);
        box->close();

        // The guide names every button in the order of a working day, and every entry of the
        // "Файл" and "Приборы" menus, and the history page.
        const QString guide = OperatorMenus::guideText();
        int at = 0;
        for (const char *step :
             {"Подключить", "Воздух", "Ноль", "Мера", "Запуск измерения", "Сброс"}) {
            const int next = guide.indexOf(QString::fromUtf8(step), at);
            QVERIFY2(next >= 0, step);
            at = next;
        }
        for (const QString &entry :
             menuTexts(window.findChild<QMenu *>(QStringLiteral("menuFile"))) +
                 menuTexts(window.findChild<QMenu *>(QStringLiteral("menu_devices"))) +
                 QStringList{QStringLiteral("История")}) {
            const QString named = QLatin1Char('"') + QString(entry).remove('&') + QLatin1Char('"');
            QVERIFY2(entry == "-" || entry == "Выход" || guide.contains(named), qPrintable(named));
        }

        // The icon, and the files for the desktop, drawn at build time.
        QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));
        const QImage small = window.windowIcon().pixmap(16, 16).toImage();
        QVERIFY(small.pixelColor(8, 8).alpha() > 0 && small.pixelColor(0, 0).alpha() < 255);

        for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
            QImageReader png(QStringLiteral(ICON_DIR "/t7r-demo-%1.png").arg(side));
            QCOMPARE(png.size(), QSize(side, side));
        }
        QFile svg(QStringLiteral(ICON_DIR "/t7r-demo.svg"));
        QVERIFY(svg.open(QIODevice::ReadOnly) && svg.readAll().contains("<svg"));
        // Tab walks panel by panel, address first; Return in an address goes to the next one.
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto panels = probePanels(window.ui);
        QList<QWidget *> expected;
        for (const ProbePanel &panel : panels)
            expected << panel.address << panel.value << panel.reset << panel.zero << panel.measure;
        expected << window.ui.le_line_meas_setpoint;

        panels[0].address->setFocus();
        QList<QWidget *> walked{QApplication::focusWidget()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget();
        }
        QCOMPARE(walked, expected);

        panels[0].address->setFocus();
        for (int probe = 1; probe < probeCount; ++probe) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), panels[probe].address);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), window.ui.le_line_meas_setpoint);
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!window.isVisible());

        // Without a file manager the folder's path is shown instead.
        QTemporaryDir emptyPath;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", emptyPath.path().toLocal8Bit());
        window.findChild<QAction *>(QStringLiteral("actionOpenRecordsFolder"))->trigger();
        qputenv("PATH", path);
        box = window.findChild<QMessageBox *>(QStringLiteral("folderNotOpened"));
        QVERIFY(box && box->isVisible() &&
                box->text().contains(QDir::current().absoluteFilePath("records")));
        delete box;
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("--version") << QStringList{"--version"} << "" << 0 << "t7r-demo 1.1.1\n";
        QTest::newRow("--help") << QStringList{"--help"} << "" << 0 << "--version";
        QTest::newRow("no display") << QStringList{} << "" << 1 << "xvfb-run";
        QTest::newRow("display that is not there") << QStringList{} << ":97" << 1 << "ssh -X";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QTemporaryDir folder;
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (!display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), display);
        tool.setProcessEnvironment(environment);
        tool.setWorkingDirectory(folder.path());
        tool.start(QStringLiteral(TOOL_PATH), arguments);
        QVERIFY(tool.waitForFinished(10000));
        const QString out = QString::fromUtf8(tool.readAllStandardOutput());
        const QString err = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), exitCode);
        // Help and version on standard output; a missing display in one line on the errors.
        const QString said = exitCode == 0 ? out : err;
        QVERIFY((exitCode == 0 ? err : out).isEmpty());
        QVERIFY2(said.contains(output) && (exitCode == 0 || (err.count(QLatin1Char('\n')) == 1 &&
                                                             err.contains("display"))),
                 qPrintable(said));
        // Nothing is started: no log.
        QVERIFY(!QDir(folder.filePath(QStringLiteral("log"))).exists());
    }

    // The state field follows a round on the line and says when it has ended. Values grow old
    // after a calibration step of their own probe or a closed port, and are current with the
    // next value. A port closed on request is free for another program at once, and connecting
    // again works as before.
    void staleValues()
    {
        OrvaUI window;
        const auto operation = [&window] {
            return window.stateField().item(QStringLiteral("operation"));
        };
        choosePort(window, bench->line.slavePath());
        // The probes answer from this thread, which the sanitizers' full stacks slow down.
        window.lineCommands().setAnswerTimeLimit(250);
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("100"));
        const auto panels = probePanels(window.ui);
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_VERIFY2(operation().startsWith(QStringLiteral("идёт измерение: ")) &&
                         operation().endsWith(QStringLiteral(" из 8")),
                     qPrintable(operation()));
        QTRY_COMPARE_WITH_TIMEOUT(operation(), QStringLiteral("измерение закончено"), 5000);
        // A round that a loaded machine held up may leave a panel without its value.
        if (panelValues(window).contains(QString()))
            settledRound(window, window.ui.pb_line_meas_get);
        // Per panel: 1 for a value marked old, 2 for one in italics.
        const auto marks = [&panels]() {
            QList<int> old;
            for (const ProbePanel &panel : panels)
                old << int(StaleValues::isStale(panel.value)) +
                           2 * int(panel.value->font().italic());
            return old;
        };
        QCOMPARE(marks(), (QList<int>{0, 0, 0, 0, 0, 0, 0, 0}));

        const QList<QPushButton *> steps{panels[1].reset, panels[2].zero, panels[3].measure};
        for (QPushButton *step : steps)
            QTest::mouseClick(step, Qt::LeftButton);
        QCOMPARE(marks(), (QList<int>{0, 3, 3, 3, 0, 0, 0, 0}));
        for (int i = 0; i < steps.size(); ++i)
            QVERIFY2(panels[i + 1].value->toolTip().contains(steps[i]->text()),
                     qPrintable(panels[i + 1].value->toolTip()));
        QVERIFY(!panelValues(window).contains(QString()));
        settledRound(window, window.ui.pb_line_meas_get);
        QCOMPARE(marks(), (QList<int>{0, 0, 0, 0, 0, 0, 0, 0}));

        window.findChild<QAction *>(QStringLiteral("action_disconnect"))->trigger();
        QVERIFY(!window.port().isOpen());
        QCOMPARE(window.stateField().item(QStringLiteral("port")),
                 bench->line.slavePath() + QStringLiteral(": отключен"));
        QCOMPARE(files::logMessages().last(), QStringLiteral("0 Device disconnected"));
        QVERIFY(QSerialPort(bench->line.slavePath()).open(QIODevice::ReadWrite));
        QCOMPARE(marks(), (QList<int>{3, 3, 3, 3, 3, 3, 3, 3}));
        QVERIFY(!panelValues(window).contains(QString()));
        QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
        QVERIFY(window.port().isOpen());
    }
};

// The child of refusedConnect: gives up the rights that let root open any file and any port
// (CI runs as root), connects a window to the port named and prints what it says.
int connectChild(int argc, char *argv[])
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct capabilities[2] = {};
    if (::syscall(SYS_capget, &header, capabilities) != 0)
        return 2;
    for (const int capability : {CAP_SYS_ADMIN, CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        capabilities[capability / 32].effective &= ~(1u << (capability % 32));
    if (::syscall(SYS_capset, &header, capabilities) != 0)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    OrvaUI window;
    choosePort(window, QString::fromLocal8Bit(argv[2]));
    QTextStream out(stdout);
    out.setCodec("UTF-8");
    out << window.port().errorString() << '\n'
        << window.stateField().item("port") << '\n'
        << window.stateField().toolTip().replace(QLatin1Char('\n'), QLatin1Char(' ')) << '\n';
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--connect-child") == 0)
        return connectChild(argc, argv);
    QApplication application(argc, argv);
    TestDesk test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_desk.moc"
