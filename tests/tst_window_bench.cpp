#include "probesim/Answers.h"
#include "probesim/ProbeSimulator.h"
#include "protocol/Frames.h"
#include "tst_window_helpers.h"

#include <QElapsedTimer>

#include <sys/resource.h>

using namespace windowtest;
using frames::Command;

namespace {

struct Frame
{
    Command command;
    int address;
    int atMs;
};
using Frames = std::vector<Frame>;

const std::vector<int> busAddresses{12, 13, 14, 15, 16, 17, 18, 19};
const QStringList busFields{"12", "13", "14", "15", "16", "17", "18", "19"};
constexpr int delayMs = 40;

QByteArray request(Command command, int address, std::optional<float> thickness = {})
{
    const auto bytes = thickness ? frames::buildRequest(command, uint8_t(address), *thickness)
                                 : frames::buildRequest(command, uint8_t(address));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

// The lines that one answered request leaves, in order.
QStringList exchangeLines(const char *commandLine, const QByteArray &sent, const QByteArray &answer)
{
    const auto hex = [](const QByteArray &bytes) {
        return QString::fromLatin1(frames::hexDump(
            reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())));
    };
    return {
        QStringLiteral("1 ") + commandLine,
        QStringLiteral("1 Tx expected: %1 bytes. Transmitted: %1 bytes. Tx: 0x ").arg(sent.size()) +
            hex(sent),
        QStringLiteral("1 Rx expected: %1 bytes.    Received: %1 bytes. Rx: 0x ")
                .arg(answer.size()) +
            hex(answer)};
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

Q_DECLARE_METATYPE(Frames)

// The window on a pseudo-terminal with simulated probes behind it: what goes on the line,
// when, and what the operator and the log see of the answers.
class TestWindowBench : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;
    QElapsedTimer sinceLastTest;
    std::unique_ptr<probesim::ProbeSimulator> simulator;

    const std::vector<probesim::ProbeRequest> &received() { return simulator->bus().requests(); }

    void addProbes(const std::vector<float> &thickness)
    {
        for (size_t i = 0; i < busAddresses.size(); ++i) {
            simulator->model().removeProbe(uint8_t(busAddresses[i]));
            probesim::ProbeSettings settings;
            settings.thickness = thickness[i];
            settings.quality = uint8_t(90 + i);
            QVERIFY(simulator->model().addProbe(uint8_t(busAddresses[i]), settings));
        }
    }

    void choosePort(OrvaUI &window, const QString &path)
    {
        window.ui.cb_ports->addItem(path);
        window.ui.cb_ports->setCurrentText(path);
        QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
    }

    void connectWithAddresses(OrvaUI &window, const QStringList &fields)
    {
        choosePort(window, simulator->portPath());
        for (int probe = 1; probe <= probeCount; ++probe)
            typeAddress(window, probe, fields[probe - 1]);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(enterWorkDirectory(workDir));
        sinceLastTest.start();
    }

    void init()
    {
        // The line keeps one minimum gap for the whole process: the previous test's last
        // request must not shorten this test's first.
        QTRY_VERIFY_WITH_TIMEOUT(sinceLastTest.elapsed() > 10, 1000);
        QVERIFY(writeSettings(settingsFile(busAddresses, delayMs)));
        simulator = std::make_unique<probesim::ProbeSimulator>();
        QVERIFY2(simulator->openPseudoTerminal(), qPrintable(simulator->errorString()));
        addProbes({100, 110, 120, 130, 140, 150, 160, 170});
    }

    void cleanup()
    {
        simulator.reset();
        sinceLastTest.restart();
    }

    // Searching, then Connected (twice: the port is reopened), then Lost; closing the window
    // closes the port.
    void connectStates()
    {
        OrvaUI window;
        for (int attempt = 1; attempt <= 2; ++attempt) {
            choosePort(window, simulator->portPath());
            QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Устройство подключено"));
            QCOMPARE(logMessages().count(QStringLiteral("0 Device Connected")), attempt);
            QVERIFY(window.port().isOpen());
            QCOMPARE(window.port().baudRate(), 460800);
            QVERIFY(!window.portPoll().isActive());
            QVERIFY(window.ui.pb_line_meas_update_air->isEnabled());
            QVERIFY(window.ui.pb_line_meas_get->isEnabled());
        }
        choosePort(window, QStringLiteral("/nonexistent/ttyT7R"));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Устройство не подключено"));
        QCOMPARE(logMessages().last(), QStringLiteral("0 Device not connected"));
        QVERIFY(!window.port().isOpen() && !window.portPoll().isActive());
        QVERIFY(window.ui.pb_line_meas_update_air->isEnabled());

        choosePort(window, simulator->portPath());
        QVERIFY(window.close());
        QVERIFY(!window.port().isOpen());
    }

    void panelButtons_data()
    {
        QTest::addColumn<int>("probe");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("button");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("success");
        for (int probe = 1; probe <= probeCount; ++probe) {
            const int address = busAddresses[probe - 1];
            const QString field = QString::number(address);
            QTest::addRow("probe %d zero", probe)
                << probe << field << 0 << request(Command::SetZeroPoint, address)
                << "1 Set Zero Point OK";
            QTest::addRow("probe %d measure", probe)
                << probe << field << 1 << request(Command::SetMeasurePoint, address, 12.5f)
                << "1 Set Measure Point OK";
            QTest::addRow("probe %d reset", probe)
                << probe << field << 2 << request(Command::ResetCalibration, address)
                << "1 Reset Calibration OK";
        }
        QTest::newRow("address 0")
            << 3 << "0" << 0 << request(Command::SetZeroPoint, 0) << "1 Set Zero Point OK";
        QTest::newRow("another panel's address")
            << 8 << "12" << 2 << request(Command::ResetCalibration, 12) << "1 Reset Calibration OK";
    }

    void panelButtons()
    {
        QFETCH(int, probe);
        QFETCH(QString, field);
        QFETCH(int, button);
        QFETCH(QByteArray, frame);
        QFETCH(QString, success);
        if (!simulator->model().probe(uint8_t(frame.at(1)))) {
            simulator->model().removeProbe(19);
            QVERIFY(simulator->model().addProbe(uint8_t(frame.at(1))));
        }
        OrvaUI window;
        choosePort(window, simulator->portPath());
        window.ui.le_line_meas_setpoint->setText(QStringLiteral("12.5"));
        typeAddress(window, probe, field);
        const ProbePanel controls = panel(window, probe);
        QTest::mouseClick(std::array{controls.zero, controls.measure, controls.reset}[button],
                          Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(logMessages().last(), success, 1000);
        QCOMPARE(received().size(), size_t(1));
        QCOMPARE(received().front().bytes, frame);
    }

    // Refused input puts nothing on the line: the first frame is the later valid click's.
    void refusedInputSendsNothing()
    {
        OrvaUI window;
        connectWithAddresses(window, busFields);
        window.ui.le_addr_2->setText(QStringLiteral("300"));
        QTest::mouseClick(window.ui.pb_line_meas_zero_2, Qt::LeftButton);
        QTest::mouseClick(window.ui.pb_line_meas_reset_2, Qt::LeftButton);
        window.ui.le_addr_2->setText(QStringLiteral("13"));
        for (const char *measure : {"nan", "inf", "12,5", ""}) {
            window.ui.le_line_meas_setpoint->setText(QString::fromLatin1(measure));
            QTest::mouseClick(window.ui.pb_line_meas_setpoint_2, Qt::LeftButton);
            QCOMPARE(window.statusBar()->currentMessage(),
                     QStringLiteral("Не корректное значение меры"));
        }
        QTest::mouseClick(window.ui.pb_line_meas_zero_2, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), size_t(1), 1000);
        QCOMPARE(received().front().bytes, request(Command::SetZeroPoint, 13));
        QCOMPARE(logMessages().count(QStringLiteral("1 Set Zero Point:")), 1);
    }

    void schedules_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<Frames>("expected");
        const QByteArray eight = settingsFile(busAddresses, delayMs);
        QStringList gap = busFields, same = busFields;
        gap[2].clear();
        same[5] = "12";
        Frames air, airGap, measure, measureGap, twice;
        for (int i = 0; i < probeCount; ++i) {
            air.push_back({Command::UpdateAirCode, busAddresses[i], delayMs * i});
            twice.push_back({Command::UpdateAirCode, i == 5 ? 12 : busAddresses[i], delayMs * i});
            measure.push_back({Command::StartMeasurement, busAddresses[i], 3 * delayMs * i / 2});
        }
        for (int i = 0; i < probeCount; ++i) {
            measure.push_back({Command::GetMeasurementResult, busAddresses[i],
                               12 * delayMs + 3 * delayMs * i / 2});
        }
        std::copy_if(air.begin(), air.end(), std::back_inserter(airGap),
                     [](const Frame &frame) { return frame.address != 14; });
        std::copy_if(measure.begin(), measure.end(), std::back_inserter(measureGap),
                     [](const Frame &frame) { return frame.address != 14; });
        QTest::newRow("air") << eight << busFields << QByteArray("updateAirCode_Slot") << air;
        QTest::newRow("air, third field empty")
            << eight << gap << QByteArray("updateAirCode_Slot") << airGap;
        QTest::newRow("air, two fields, one address")
            << eight << same << QByteArray("updateAirCode_Slot") << twice;
        QTest::newRow("measurement")
            << eight << busFields << QByteArray("getLineMeasResult_Slot") << measure;
        QTest::newRow("measurement, third field empty")
            << eight << gap << QByteArray("getLineMeasResult_Slot") << measureGap;

        // The blank line ends the addresses after five probes; the delay is still read.
        const QByteArray five =
            "Port=COM3\r\nProbe1=16\r\nProbe2=12\r\nProbe3=0\r\nProbe4=19\r\n"
            "Probe5=13\r\n\r\nProbe6=14\r\nProbe7=15\r\nProbe8=17\r\nDelay=" +
            QByteArray::number(delayMs);
        Frames check, start;
        for (int i = 0; i < 5; ++i) {
            const int address = std::array{16, 12, 0, 19, 13}[i];
            check.push_back({Command::CheckAirCode, address, delayMs * i});
            start.push_back({Command::StartMeasurement, address, delayMs * i});
        }
        const QStringList ignored{"abc", "", "1", "2", "3", "4", "5", "6"};
        QTest::newRow("air check, five probes in the settings")
            << five << ignored << QByteArray("checkAirCode_Slot") << check;
        QTest::newRow("start, five probes in the settings")
            << five << ignored << QByteArray("startLineMeas_Slot") << start;
    }

    // Every frame in order and on time, none refused by the line's minimum gap.
    void schedules()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, slot);
        QFETCH(Frames, expected);
        QVERIFY(writeSettings(settings));
        OrvaUI window;
        connectWithAddresses(window, fields);

        const qint64 startUs = probesim::steadyMicroseconds();
        QVERIFY(QMetaObject::invokeMethod(&window, slot.constData()));
        QTRY_COMPARE_WITH_TIMEOUT(received().size(), expected.size(), 100 * delayMs);
        for (size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(received()[i].bytes, request(expected[i].command, expected[i].address));
            // Qt rounds every wait up to whole milliseconds, so a chain of timers drifts late by
            // a fraction of a millisecond per step, more on a loaded machine; never early.
            const double lateMs = double(received()[i].timeUs - startUs) / 1000 - expected[i].atMs;
            QVERIFY2(lateMs > -1.0 && lateMs < delayMs / 2,
                     qPrintable(QStringLiteral("frame %1 late by %2 ms").arg(i).arg(lateMs)));
        }
        QVERIFY(!logMessages().join('\n').contains(QStringLiteral("Packet not sended")));
    }

    // Settings with eight probes, connect, type the addresses, renew air, measure: every panel
    // shows its probe's value, and the log tells the whole exchange.
    void operatorStory()
    {
        const std::vector<float> thickness{250.0f, 251.2f, 1002.7f, 3.1f,
                                           0.0f,   77.8f,  999.9f,  12345.6f};
        const QStringList logged{"250", "251.2", "1002.7", "3.1", "0", "77.8", "999.9", "12345.6"};
        addProbes(thickness);
        OrvaUI window;
        connectWithAddresses(window, busFields);
        QTest::mouseClick(window.ui.pb_line_meas_update_air, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(logMessages().count(QStringLiteral("1 Update Air Code OK")), 8,
                                  100 * delayMs);
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(
            panelValues(window),
            (QStringList{"250.0", "251.2", "1002.7", "3.1", "0.0", "77.8", "999.9", "12345.6"}),
            100 * delayMs);

        QStringList expected{"0 Delay: " + QString::number(delayMs), "0 Device Connected"};
        for (int address : busAddresses) {
            expected << exchangeLines("Update Air Code:", request(Command::UpdateAirCode, address),
                                      probesim::acknowledgeFrame(uint8_t(address), 0x17, 0))
                     << "1 Update Air Code OK";
        }
        for (int address : busAddresses) {
            expected << exchangeLines(
                            "Start Measurement:", request(Command::StartMeasurement, address),
                            probesim::acknowledgeFrame(uint8_t(address), 0x1B, 0))
                     << "1 Start Measurement OK";
        }
        for (int i = 0; i < probeCount; ++i) {
            const int address = busAddresses[i];
            expected
                << exchangeLines(
                       "Get Measurement Result:", request(Command::GetMeasurementResult, address),
                       probesim::resultFrame(uint8_t(address), 0, thickness[i], thickness[i],
                                             uint8_t(90 + i)))
                << QStringLiteral("1 Raw: %1 Calibrated: %1 Quality: %2").arg(logged[i]).arg(90 + i)
                << "1 Get Measurement Result OK";
        }
        QCOMPARE(logMessages(), expected);
    }

    // A pulled adapter: the port is closed once, the operator is told, the port list is watched
    // again, and nothing spins on the dead line.
    void deviceLoss()
    {
        OrvaUI window;
        connectWithAddresses(window, busFields);
        QVERIFY(window.port().isOpen());
        simulator->pullDevice();
        QTRY_VERIFY_WITH_TIMEOUT(!window.port().isOpen(), 2000);
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Устройство не подключено"));
        QVERIFY(window.portPoll().isActive());

        // A loop spinning on the dead line would burn all the time it is given.
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QSignalSpy polls(&window.portPoll(), &QTimer::timeout);
        QTRY_COMPARE_WITH_TIMEOUT(polls.count(), 2, 2000);
        QVERIFY2(cpuSeconds() - cpuBefore < 0.6 * double(wall.elapsed()) / 1000,
                 "busy while the line is dead");

        QTest::mouseClick(window.ui.pb_line_meas_update_air, Qt::LeftButton);
        const QStringList log = logMessages();
        QCOMPARE(log.count(QStringLiteral("0 Device not connected")), 1);
        QCOMPARE(log.last(), QStringLiteral("0 Device not connected"));
    }
};

QTEST_MAIN(TestWindowBench)
#include "tst_window_bench.moc"
