#include "ChildProcess.h"
#include "Operator.h"
#include "PortNamespace.h"
#include "VirtualDisplay.h"
#include "probesim/PseudoTerminal.h"
#include "support/Files.h"
#include "support/Trace.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using frames::Command;
using trace::acknowledged;

namespace {

const std::vector<int> probeAddresses{3, 7, 12, 20, 33, 64, 100, 250};
// Wide enough that every answer is in before the next request, even on a loaded machine.
constexpr int delayMs = 250;
// The adapter the operator must pick; the first one in the list leads nowhere.
const QString idlePortName = QStringLiteral("ttyUSB0");
const QString probePortName = QStringLiteral("ttyUSB1");

// Renewing the air codes of all probes, as the log tells it.
QStringList airRenewal()
{
    QStringList lines;
    for (const int address : probeAddresses)
        lines << acknowledged("Update Air Code", Command::UpdateAirCode, address);
    return lines;
}

}  // namespace

// The built tool driven as an operator drives it, on a virtual display, against the probe
// simulator plugged into a private /dev: every exchange must reach the log, every result the
// panels, and a pulled device must not hang the tool.
class TestOperator : public QObject
{
    Q_OBJECT

public:
    explicit TestOperator(QString skipReason) : skipReason(std::move(skipReason)) {}

private:
    QString skipReason;
    Operator user;
    QTemporaryDir workDir;
    std::unique_ptr<probesim::PseudoTerminal> idlePort;
    std::unique_ptr<ChildProcess> simulator;
    std::unique_ptr<ChildProcess> tool;

    QStringList log() const { return files::logMessages(workDir.filePath("log/log.txt")); }

    bool startSimulator(QString *error)
    {
        simulator = std::make_unique<ChildProcess>();
        simulator->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        simulator->start(QStringLiteral(PROBESIM), {"--settings", workDir.filePath("settings.cfg"),
                                                    "--thickness", "512.5", "--quality", "77"});
        while (!simulator->canReadLine() && simulator->waitForReadyRead(10000)) {
        }
        const QString path = QString::fromLocal8Bit(simulator->readLine()).trimmed();
        *error = QStringLiteral("probesim did not name its port");
        return !path.isEmpty() && portns::plug(probePortName, path, error);
    }

    // Picks the probes' port and connects; true once the log says so.
    bool connectTool()
    {
        const int before = log().count("0 Device Connected");
        if (!user.chooseLastPort() || !user.click("pb_connect"))
            return false;
        if (QTest::qWaitFor([&]() { return log().count("0 Device Connected") > before; }, 5000))
            return true;
        user.setError(QStringLiteral("no \"Device Connected\" in the log 5 s after the click"));
        return false;
    }

    void keepArtefacts(const QString &name)
    {
        const QString base = QStringLiteral(ARTEFACT_DIR "/") + name;
        user.screenshot().save(base + ".png");
        QFile::remove(base + "-log.txt");
        QFile::copy(workDir.filePath("log/log.txt"), base + "-log.txt");
    }

private slots:
    void initTestCase()
    {
        if (!skipReason.isEmpty())
            QSKIP(qPrintable(skipReason));
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed");
        QVERIFY2(user.measureForm(), qPrintable(user.lastError()));
        QVERIFY(QDir().mkpath(QStringLiteral(ARTEFACT_DIR)));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            keepArtefacts(QLatin1String(QTest::currentTestFunction()) + "-failed");
        tool.reset();
        simulator.reset();
        idlePort.reset();
        QString error;
        QVERIFY2(portns::unplug(idlePortName, &error) && portns::unplug(probePortName, &error),
                 qPrintable(error));
    }

    // Start the tool, pick the port and type the addresses; renew the air codes, measure, set a
    // zero and a measure point; pull the device out and plug it back; close.
    void measurementRound()
    {
        QVERIFY(workDir.isValid());
        QVERIFY(files::write(workDir.filePath("settings.cfg"),
                             files::settings(probeAddresses, delayMs)));
        QString error;
        idlePort = std::make_unique<probesim::PseudoTerminal>();
        QVERIFY2(idlePort->open(), qPrintable(idlePort->errorString()));
        QVERIFY2(portns::plug(idlePortName, idlePort->slavePath(), &error), qPrintable(error));
        QVERIFY2(startSimulator(&error), qPrintable(error));

        tool = std::make_unique<ChildProcess>();
        tool->setWorkingDirectory(workDir.path());
        tool->setProcessChannelMode(QProcess::ForwardedChannels);
        tool->start(QStringLiteral(T7R_DEMO), QStringList());
        QVERIFY2(tool->waitForStarted(10000), qPrintable(tool->errorString()));
        QVERIFY2(user.attach(tool->processId(), 20000), qPrintable(user.lastError()));
        // The first poll fills the port list half a second after the start.
        QTRY_VERIFY_WITH_TIMEOUT(user.showsText("cb_ports"), 30000);
        QVERIFY2(connectTool(), qPrintable(user.lastError()));
        for (int probe = 1; probe <= 8; ++probe)
            QVERIFY2(user.fill(QStringLiteral("le_addr_%1").arg(probe),
                               QString::number(probeAddresses[probe - 1])),
                     qPrintable(user.lastError()));

        QVERIFY(user.click("pb_line_meas_update_air"));
        QTRY_COMPARE_WITH_TIMEOUT(log().count("1 Update Air Code OK"), 8, 15000);
        for (int probe = 1; probe <= 8; ++probe)
            QVERIFY(!user.showsText(QStringLiteral("le_line_meas_%1").arg(probe)));
        QVERIFY(user.click("pb_line_meas_get"));
        QTRY_COMPARE_WITH_TIMEOUT(log().count("1 Get Measurement Result OK"), 8, 30000);
        for (int probe = 1; probe <= 8; ++probe)
            QTRY_VERIFY_WITH_TIMEOUT(user.showsText(QStringLiteral("le_line_meas_%1").arg(probe)),
                                     3000);
        keepArtefacts(QStringLiteral("measurement"));

        QVERIFY(user.click("pb_line_meas_zero_5"));
        QTRY_COMPARE_WITH_TIMEOUT(log().count("1 Set Zero Point OK"), 1, 5000);
        QVERIFY(user.fill("le_line_meas_setpoint", "12.5"));
        QVERIFY(user.click("pb_line_meas_setpoint_3"));
        QTRY_COMPARE_WITH_TIMEOUT(log().count("1 Set Measure Point OK"), 1, 5000);

        QVector<trace::Reading> readings;
        for (const int address : probeAddresses)
            readings.append({address, 512.5f, 77, QStringLiteral("512.5")});
        // A pseudo-terminal refuses the low-latency request and is used as it is.
        const QStringList start{"0 Delay: 250",
                                "1 Port low latency: refused, the port is used as it is",
                                "0 Device Connected"};
        QCOMPARE(log(), start + airRenewal() + trace::measurement(readings) +
                            acknowledged("Set Zero Point", Command::SetZeroPoint, 33) +
                            acknowledged("Set Measure Point", Command::SetMeasurePoint, 12, 12.5f));

        // The line dies: the tool says so, stays responsive, and connects again once the device
        // is back behind the same port.
        simulator->kill();
        QVERIFY(simulator->waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(log().count("0 Device not connected"), 1, 5000);

        QVERIFY(user.click("pb_connect"));
        QTRY_COMPARE_WITH_TIMEOUT(log().count("0 Device not connected"), 2, 5000);

        QVERIFY2(startSimulator(&error), qPrintable(error));
        QVERIFY2(connectTool(), qPrintable(user.lastError()));
        const int reconnected = log().lastIndexOf("0 Device Connected") + 1;
        QVERIFY(user.click("pb_line_meas_update_air"));
        QTRY_COMPARE_WITH_TIMEOUT(log().mid(reconnected), airRenewal(), 15000);

        QVERIFY(user.closeWindow());
        QVERIFY(tool->waitForFinished(10000));
        QCOMPARE(tool->exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool->exitCode(), 0);
    }
};

int main(int argc, char *argv[])
{
    // Before the application object: a user namespace admits only a single-threaded process.
    QString skipReason = portns::enter();
    VirtualDisplay display;
    if (skipReason.isEmpty())
        skipReason = display.start();
    // The test's own windows (the form it measures) share the display with the tool's.
    qputenv("QT_QPA_PLATFORM", skipReason.isEmpty() ? "xcb" : "offscreen");
    QApplication application(argc, argv);
    TestOperator test(skipReason);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_operator.moc"
