#include "probesim/Answers.h"
#include "protocol/Schedule.h"
#include "serial/PortList.h"
#include "serial/PortWatch.h"
#include "support/Files.h"
#include "support/Trace.h"
#include "support/WindowSuite.h"

#include <QLabel>
#include <QMenuBar>
#include <QToolBar>

#include <climits>

#include <QtTest>

using namespace window;
using frames::Command;
using trace::request;

namespace {

// The command, the address and when it is due, in milliseconds after the click.
using Frames = std::vector<std::tuple<Command, int, int>>;

// One command to each probe position, `stepMs` apart from `firstMs` on; -1 skips a position.
Frames series(Command command, const std::vector<int> &addresses, int firstMs, double stepMs)
{
    Frames frames;
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (addresses[i] >= 0)
            frames.emplace_back(command, addresses[i], firstMs + int(stepMs * double(i)));
    }
    return frames;
}

}  // namespace

Q_DECLARE_METATYPE(Frames)

// The window's workflows: what the operator sees at the start, what the fields accept, what goes
// on the line and when, and what the operator and the log see of the answers.
class TestWindowWorkflows : public Suite
{
    Q_OBJECT

private slots:
    // The start state; the fields show settings.cfg's valid probe lines, ready to use, and the
    // list ends at a bad one.
    void startState()
    {
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings({"12", "0", "300", "14"}, "190")));
        OrvaUI window;
        const auto panels = probePanels(window.ui);
        QCOMPARE(addressFields(window), QStringList({"12", "0", "", "", "", "", "", ""}));
        for (int probe = 0; probe < probeCount; ++probe) {
            QVERIFY(panels[probe].address->isEnabled() && !panels[probe].address->isReadOnly());
            QVERIFY(panels[probe].value->isReadOnly());
            for (QWidget *control : panels[probe].controls())
                QCOMPARE(control->isEnabled(), probe < 2);
        }
        QVERIFY(files::logMessages().contains(QStringLiteral("0 Bad probe address")));
        QCOMPARE(window.windowTitle(), QStringLiteral("T7R Demo v1.1.1"));
        QCOMPARE(QLocale().name(), QStringLiteral("ru_RU"));
        QCOMPARE(window.ui.tabWidget->tabText(0), QStringLiteral("Измерения"));
        QVERIFY(window.ui.mainToolBar->actions().isEmpty());
        QVERIFY(!window.continuousMeasurement().isRunning());
        QCOMPARE(window.ui.label_2->pixmap(Qt::ReturnByValue).size(), QSize(105, 284));
        QVERIFY(!window.ui.pb_line_meas_update_air->isEnabled() &&
                !window.ui.pb_line_meas_get->isEnabled());
        QVERIFY(window.ui.cb_ports->isEnabled() && window.ui.pb_connect->isEnabled());
        QVERIFY(window.ui.le_line_meas_setpoint->isEnabled() &&
                !window.ui.le_line_meas_setpoint->isReadOnly());
        QVERIFY(window.portPoll().isActive());
        // The port poll enumerates only when the device folders change: one look when it
        // starts, then none while nothing comes or goes.
        PortWatch watch;
        QVERIFY(watch.mayHaveChanged());
        int looks = 0;
        for (int poll = 0; poll < 10; ++poll)
            looks += watch.mayHaveChanged();
        // A device may come or go on the machine meanwhile.
        QVERIFY2(looks <= 1, qPrintable(QString::number(looks)));

        // Invoking a method by index reaches the slot of that place: the window adds no signal,
        // property or method of its own to the table.
        const QMetaObject &meta = OrvaUI::staticMetaObject;
        QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 0);
        QStringList table;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            QCOMPARE(meta.method(i).methodType(), QMetaMethod::Slot);
            table << QString::fromLatin1(meta.method(i).methodSignature());
        }
        QCOMPARE(table, (QStringList{"closeEvent(QCloseEvent*)", "checkConnection_Slot()",
                                     "serialConnect_Slot()", "test_Slot()", "updateAirCode_Slot()",
                                     "checkAirCode_Slot()", "startLineMeas_Slot()",
                                     "getLineMeasResult_Slot()", "resetCalibration_Slot(uint8_t)",
                                     "setZeroPoint_Slot(uint8_t)", "setMeasurePoint_Slot(uint8_t)",
                                     "newMeasurement_Slot(uint8_t,float,float,uint8_t)"}));
    }

    // The rule decides whether a panel is usable once its edit is finished, and whether a
    // click sends, judging the field as it stands at the click. 0 is a device. The same
    // fields say which panels show a result.
    void addressRuleAndResults()
    {
        const std::pair<QString, bool> texts[] = {
            {"12", true},  {"0", true}, {"255", true},  {"256", false}, {"4294967340", false},
            {"-1", false}, {"", false}, {"12a", false}, {"1.0", false}};
        OrvaUI window;
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("12.5"));
        for (const auto &[text, valid] : texts) {
            for (int probe = 1; probe <= probeCount; ++probe) {
                const ProbePanel controls = panel(window, probe);
                typeAddress(window, probe, QStringLiteral("7"));
                controls.address->setText(text);
                window.statusBar()->clearMessage();
                QTest::mouseClick(
                    std::array{controls.zero, controls.measure, controls.reset}[probe % 3],
                    Qt::LeftButton);
                QCOMPARE(
                    window.statusBar()->currentMessage(),
                    valid ? QString() : QStringLiteral("Не корректный адрес, канал %1").arg(probe));
                QTest::keyClick(controls.address, Qt::Key_Return);
                for (QWidget *control : controls.controls())
                    QVERIFY2(control->isEnabled() == valid, qPrintable(text));
            }
        }

        // Results are shown under the Russian default locale, yet with a decimal point and
        // without grouping, in every panel that holds the address; 300 is not 44.
        window.statusBar()->clearMessage();
        // The values shown in the eight panels, and what the log says between "1 Raw: " and
        // " Quality: 7".
        const std::tuple<uint8_t, float, float, QString, QString> cases[] = {
            {5, 123.456f, 120.04f, "-,120.0,-,-,-,120.0,-,-", "123.456 Calibrated: 120.04"},
            {44, 1.0f, 1.0f, "-,-,-,-,-,-,-,-", "1 Calibrated: 1"},
            {7, 0.0000125f, 1234567.0f, "-,-,-,-,1234567.0,-,-,-",
             "1.25e-05 Calibrated: 1.23457e+06"}};
        const QStringList fields{"1", "5", "abc", "", "7", "5", "300", "0"};
        for (const auto &[address, raw, calibrated, values, logged] : cases) {
            for (int probe = 1; probe <= probeCount; ++probe) {
                panel(window, probe).address->setText(fields[probe - 1]);
                panel(window, probe).value->setText(QStringLiteral("-"));
            }
            window.newMeasurement_Slot(address, raw, calibrated, 7);
            QCOMPARE(panelValues(window), values.split(QLatin1Char(',')));
            QCOMPARE(files::logMessages().last(), "1 Raw: " + logged + " Quality: 7");
            QVERIFY(window.statusBar()->currentMessage().isEmpty());
        }

        // A new measurement must not leave the previous value beside it; a skipped probe keeps
        // its value and the message names the last invalid field.
        for (int probe = 1; probe <= probeCount; ++probe)
            panel(window, probe).value->setText(QStringLiteral("9.9"));
        window.getLineMeasResult_Slot();
        QCOMPARE(panelValues(window), (QStringList{"", "", "9.9", "9.9", "", "", "9.9", ""}));
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Не корректный адрес, канал 7"));
    }

    // Command, measurement start and result request of one probe position: half milliseconds
    // truncate, a huge delay clamps, a negative one is taken unsigned.
    void schedule()
    {
        const std::tuple<int, int, QList<int>> cases[] = {{1, 7, {7, 10, 22}},
                                                          {INT_MAX, 7, {INT_MAX, INT_MAX, INT_MAX}},
                                                          {-5, 1, {INT_MAX, INT_MAX, INT_MAX}},
                                                          {178956970, 0, {0, 0, 2147483640}},
                                                          {178956971, 0, {0, 0, INT_MAX}}};
        for (const auto &[delay, position, intervals] : cases)
            QCOMPARE(QList<int>({schedule::commandInterval(delay, position),
                                 schedule::measurementStartInterval(delay, position),
                                 schedule::measurementResultInterval(delay, position)}),
                     intervals);
    }

    // COM1 where COM10 was, and the other way round, is a change.
    void portListRule()
    {
        const std::tuple<QStringList, QStringList, bool> cases[] = {
            {{"COM1", "COM3"}, {"COM1", "COM3"}, false},
            {{}, {"COM3"}, true},
            {{"COM1", "COM3"}, {"COM1"}, true},
            {{"COM1", "COM3"}, {"COM1", "COM4"}, true},
            {{"COM10"}, {"COM1"}, true},
            {{"COM1"}, {"COM10"}, true}};
        for (const auto &[known, current, changed] : cases)
            QVERIFY2(portListChanged(known, current) == changed, qPrintable(current.join(',')));
    }

    // Each panel's buttons send their frames to the address in its own field, whatever the
    // other panels hold. Refused input puts nothing on the line.
    void panelButtons()
    {
        OrvaUI window;
        connectWithAddresses(window);
        window.ui.le_addr_2->setText(QStringLiteral("300"));
        QTest::mouseClick(window.ui.pb_line_meas_zero_2, Qt::LeftButton);
        QTest::mouseClick(window.ui.pb_line_meas_reset_2, Qt::LeftButton);
        window.ui.le_addr_2->setText(QStringLiteral("13"));
        for (const char *measure : {"nan", "-inf", "1e39", "12,5", ""}) {
            window.ui.le_line_meas_setpoint->setText(QString::fromLatin1(measure));
            QTest::mouseClick(window.ui.pb_line_meas_setpoint_2, Qt::LeftButton);
            QCOMPARE(window.statusBar()->currentMessage(),
                     QStringLiteral("Не корректное значение меры"));
        }
        // It stays until replaced: the status bar has no time-out running for it.
        const auto timers = window.statusBar()->findChildren<QTimer *>();
        QVERIFY(std::none_of(timers.begin(), timers.end(),
                             [](const QTimer *timer) { return timer->isActive(); }));
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("12.5"));
        typeAddress(window, 3, QStringLiteral("0"));
        typeAddress(window, 8, QStringLiteral("12"));
        std::vector<QByteArray> expected;
        QElapsedTimer sinceClick;
        sinceClick.start();
        for (int probe = 1; probe <= probeCount; ++probe) {
            const ProbePanel controls = panel(window, probe);
            for (QPushButton *button : {controls.measure, controls.zero, controls.reset}) {
                // One request per gap of the line.
                QVERIFY(QTest::qWaitFor([&]() { return sinceClick.hasExpired(6); }, 1000));
                QTest::mouseClick(button, Qt::LeftButton);
                sinceClick.start();
                // A valid measure value answers the refusal of the earlier one at once.
                QVERIFY(probe > 1 || button != controls.measure ||
                        window.statusBar()->currentMessage().isEmpty());
            }
            const int address = probe == 3 ? 0 : probe == 8 ? 12 : busAddresses[probe - 1];
            expected.insert(expected.end(), {request(Command::SetMeasurePoint, address, 12.5f),
                                             request(Command::SetZeroPoint, address),
                                             request(Command::ResetCalibration, address)});
        }
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), expected.size(), 2000);
        for (size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(received()[i].bytes, expected[i]);
        const QStringList log = files::logMessages();
        QVERIFY(log.filter(QStringLiteral("Packet not sended")).isEmpty());
        QCOMPARE(log.count(QStringLiteral("1 Set Zero Point:")), probeCount);
        // Closing the window closes the port.
        QVERIFY(window.close());
        QVERIFY(!window.port().isOpen());
    }

    void schedules_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<Frames>("expected");
        // Addresses by probe position; -1 for an empty field.
        const std::vector<int> gap{12, 13, -1, 15, 16, 17, 18, 19};
        const std::vector<int> gapSame{12, 13, -1, 15, 16, 12, 18, 19};
        Frames measured = series(Command::StartMeasurement, gap, 0, 1.5 * delayMs);
        const Frames results =
            series(Command::GetMeasurementResult, gap, 12 * delayMs, 1.5 * delayMs);
        measured.insert(measured.end(), results.begin(), results.end());
        const QByteArray eight = files::settings(busAddresses, delayMs);
        QTest::addRow("air, third field empty, two fields one address")
            << eight << QStringList{"12", "13", "", "15", "16", "12", "18", "19"}
            << QByteArray("updateAirCode_Slot") << QStringLiteral("Обновить \"Воздух\"")
            << series(Command::UpdateAirCode, gapSame, 0, delayMs);
        QTest::addRow("measurement, third field empty")
            << eight << QStringList{"12", "13", "", "15", "16", "17", "18", "19"}
            << QByteArray("getLineMeasResult_Slot") << QStringLiteral("Запуск измерения")
            << measured;

        // The blank line ends the addresses after five probes; the delay is still read. These
        // two take the settings' addresses, not the fields'.
        const QByteArray five =
            "Port=COM3\r\nProbe1=16\r\nProbe2=12\r\nProbe3=0\r\nProbe4=19\r\n"
            "Probe5=13\r\n\r\nProbe6=14\r\nProbe7=15\r\nProbe8=17\r\nDelay=" +
            QByteArray::number(delayMs);
        const std::vector<int> settings{16, 12, 0, 19, 13};
        const QStringList ignored{"abc", "", "1", "2", "3", "4", "5", "6"};
        QTest::addRow("air check, five probes in the settings")
            << five << ignored << QByteArray("checkAirCode_Slot")
            << QStringLiteral("Проверка \"Воздуха\"")
            << series(Command::CheckAirCode, settings, 0, delayMs);
        QTest::addRow("start, five probes in the settings")
            << five << ignored << QByteArray("startLineMeas_Slot")
            << QStringLiteral("Старт измерения")
            << series(Command::StartMeasurement, settings, 0, delayMs);
    }

    // Every frame in order and on time, none refused by the line's minimum gap.
    void schedules()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, slot);
        QFETCH(QString, operation);
        QFETCH(Frames, expected);
        QVERIFY(files::write(QStringLiteral("settings.cfg"), settings));
        OrvaUI window;
        connectWithAddresses(window, fields);

        qint64 startUs = 0;
        const Round round = settledRound(window, operation, [&]() {
            startUs = probesim::steadyMicroseconds();
            QVERIFY(QMetaObject::invokeMethod(&window, slot.constData()));
        });
        QCOMPARE(received().size() - round.requestsFrom, expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const probesim::ProbeRequest &frame = received()[round.requestsFrom + i];
            const auto &[command, address, atMs] = expected[i];
            QCOMPARE(frame.bytes, request(command, address));
            // Qt rounds every wait up to whole milliseconds, so a chain of timers drifts late by
            // a fraction of a millisecond per step, more on a loaded machine; never early.
            const double lateMs = double(frame.timeUs - startUs) / 1000 - atMs;
            QVERIFY2(lateMs > -1.0 && lateMs < delayMs / 2,
                     qPrintable(QStringLiteral("frame %1 late by %2 ms").arg(i).arg(lateMs)));
        }
        QVERIFY(files::logMessages()
                    .mid(round.logFrom)
                    .filter(QStringLiteral("Packet not sended"))
                    .isEmpty());
    }

    // Settings with eight probes, connect, type the addresses, renew air, measure: every panel
    // shows its probe's value, and the log tells the whole exchange. The round leaves one record
    // per probe, field by field the probe's values, with the panels that hold its address; a
    // result no panel holds is not a record.
    void operatorStory()
    {
        QVERIFY(QDir(QStringLiteral("records")).removeRecursively());
        const QDateTime before = QDateTime::currentDateTime();
        int earlierRecords = 0;
        {
            OrvaUI window;
            connectWithAddresses(window);
            const Round air = settledRound(window, window.ui.pb_line_meas_update_air);
            const Round measurement = settledRound(window, window.ui.pb_line_meas_get);
            QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), shown, 2000);

            const QStringList log = files::logMessages();
            QCOMPARE(log.mid(0, 3),
                     (QStringList{"0 Delay: " + QString::number(delayMs),
                                  "1 Port low latency: refused, the port is used as it is",
                                  "0 Device Connected"}));
            QStringList renewed;
            for (int address : busAddresses)
                renewed << trace::acknowledged("Update Air Code", Command::UpdateAirCode, address);
            QCOMPARE(log.mid(air.logFrom, renewed.size()), renewed);
            QCOMPARE(log.mid(measurement.logFrom), measurementLog());
            if (air.attempts == 1 && measurement.attempts == 1)
                QCOMPARE(log.size(), 3 + renewed.size() + measurementLog().size());
            // Results of a round run again are records too.
            earlierRecords =
                log.mid(0, measurement.logFrom).filter(QStringLiteral("1 Raw: ")).size();
            window.newMeasurement_Slot(44, 1.0f, 2.0f, 3);
            typeAddress(window, 4, QStringLiteral("13"));
            window.newMeasurement_Slot(13, 0.1f, 99.25f, 255);
        }
        const QDateTime after = QDateTime::currentDateTime();
        QFile file(QStringLiteral("records/") + before.date().toString(Qt::ISODate) +
                   QStringLiteral(".csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + earlierRecords + probeCount + 1 + 1);
        lines.erase(lines.begin() + 1, lines.begin() + 1 + earlierRecords);
        QCOMPARE(lines[0], QByteArray("time,channel,address,raw_um,calibrated_um,quality,verdict,"
                                      "lower_um,upper_um\r"));
        QVERIFY(lines.last().isEmpty());
        for (int i = 0; i <= probeCount; ++i) {
            const QList<QByteArray> fields = lines[1 + i].chopped(1).split(',');
            const QDateTime time =
                QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
            QVERIFY2(time.isValid() && time >= before.addMSecs(-1) && time <= after,
                     fields[0].constData());
            // Milliseconds and the offset in full, "+00:00" rather than "Z".
            QCOMPARE(time.offsetFromUtc(), before.offsetFromUtc());
            QCOMPARE(fields[0].size(), 29);
            const QByteArray value = logged.value(i).toLatin1();
            // No limits in this folder: no verdict.
            QCOMPARE(fields.mid(1),
                     i == probeCount
                         ? (QList<QByteArray>{"2;4", "13", "0.1", "99.25", "255", "", "", ""})
                         : (QList<QByteArray>{QByteArray::number(i + 1),
                                              QByteArray::number(busAddresses[size_t(i)]), value,
                                              value, QByteArray::number(90 + i), "", "", ""}));
        }
    }

    // Each kind of status message clears itself after 5000 ms, by the status bar's own timer.
    void messageDurations()
    {
        OrvaUI window;
        const auto shownFor = [&window]() {
            int ms = -1;
            for (const QTimer *timer : window.statusBar()->findChildren<QTimer *>())
                ms = timer->isActive() ? timer->interval() : ms;
            return ms;
        };
        choosePort(window, QStringLiteral("/nonexistent/ttyT7R"));
        QList<int> times{shownFor()};
        connectWithAddresses(window);
        times << shownFor();
        panel(window, 4).address->setText(QStringLiteral("x"));
        QTest::mouseClick(window.ui.pb_line_meas_zero_4, Qt::LeftButton);
        times << shownFor();
        settledRound(window, window.ui.pb_line_meas_get);
        QCOMPARE(times << shownFor(), (QList<int>{5000, 5000, 5000, 5000}));
    }
};

QTEST_MAIN(TestWindowWorkflows)
#include "tst_window_workflows.moc"
