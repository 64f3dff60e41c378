#include "ChildProcess.h"
#include "Operator.h"
#include "PortNamespace.h"
#include "ToolLog.h"
#include "VirtualDisplay.h"
#include "probesim/PseudoTerminal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>
#include <memory>
#include <vector>

namespace {

const std::vector<uint8_t> probeAddresses{3, 7, 12, 20, 33, 64, 100, 250};
// Wide enough that every answer is in before the next request, even on a loaded machine.
constexpr int delayMs = 250;
constexpr int probeQuality = 77;
const QString probeThickness = QStringLiteral("512.5");
// The adapter the operator must pick; the first one in the list leads nowhere.
const QString idlePortName = QStringLiteral("ttyUSB0");
const QString probePortName = QStringLiteral("ttyUSB1");

QByteArray settingsFile()
{
    QByteArray text = "Port=COM3\r\n";
    for (size_t i = 0; i < probeAddresses.size(); ++i)
        text += "Probe" + QByteArray::number(int(i + 1)) + '=' +
                QByteArray::number(probeAddresses[i]) + "\r\n";
    return text + "Delay=" + QByteArray::number(delayMs) + "\r\n";
}

QString field(const char *prefix, int probe)
{
    return QLatin1String(prefix) + QString::number(probe);
}

// User and system time the process has used so far, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold blanks and parentheses; the fields after it do not.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

}  // namespace

// The built tool driven as an operator drives it, on a virtual display, against the probe
// simulator plugged into a private /dev: every exchange must reach the log, every result the
// panels, and a pulled device must neither hang nor spin the tool.
class TestOperator : public QObject
{
    Q_OBJECT

public:
    explicit TestOperator(QString skipReason) : skipReason(std::move(skipReason)) {}

private:
    bool startSimulator(QString *error);
    // Picks the probes' port and connects; true once the log says so.
    bool connectTool();
    bool typeAddresses();
    bool hasExchanges(const QStringList &messages, const QString &command, uint8_t code,
                      const QString &verdict, QString *lines) const;
    void keepArtefacts(const QString &name);

    QString skipReason;
    FormMap form;
    std::unique_ptr<QTemporaryDir> workDir;
    std::unique_ptr<ToolLog> log;
    std::unique_ptr<probesim::PseudoTerminal> idlePort;
    std::unique_ptr<ChildProcess> simulator;
    // What the simulator reports: one line per exchange.
    QString simulatorOutput;
    std::unique_ptr<ChildProcess> tool;
    std::unique_ptr<Operator> user;

private slots:
    void initTestCase()
    {
        if (!skipReason.isEmpty())
            QSKIP(qPrintable(skipReason));
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed");
        QString error;
        QVERIFY2(form.measure(&error), qPrintable(error));
        QVERIFY(QDir().mkpath(QStringLiteral(ARTEFACT_DIR)));
    }

    void init()
    {
        workDir = std::make_unique<QTemporaryDir>();
        QVERIFY(workDir->isValid());
        QFile settings(workDir->filePath(QStringLiteral("settings.cfg")));
        QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write(settingsFile()) > 0);
        settings.close();
        log = std::make_unique<ToolLog>(workDir->path());

        QString error;
        idlePort = std::make_unique<probesim::PseudoTerminal>();
        QVERIFY2(idlePort->open(), qPrintable(idlePort->errorString()));
        QVERIFY2(portns::plug(idlePortName, idlePort->slavePath(), &error), qPrintable(error));
        QVERIFY2(startSimulator(&error), qPrintable(error));

        tool = std::make_unique<ChildProcess>();
        tool->setWorkingDirectory(workDir->path());
        tool->setProcessChannelMode(QProcess::ForwardedChannels);
        tool->start(QStringLiteral(T7R_DEMO), QStringList());
        QVERIFY2(tool->waitForStarted(10000), qPrintable(tool->errorString()));
        user = std::make_unique<Operator>(form);
        QVERIFY2(user->attach(tool->processId(), 20000), qPrintable(user->lastError()));
        // The first poll fills the port list half a second after the start.
        QTRY_VERIFY_WITH_TIMEOUT(user->showsText(QStringLiteral("cb_ports")), 10000);
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            keepArtefacts(QLatin1String(QTest::currentTestFunction()) + QLatin1String("-failed"));
        user.reset();
        tool.reset();
        simulator.reset();
        idlePort.reset();
        QString error;
        QVERIFY2(portns::unplug(idlePortName, &error), qPrintable(error));
        QVERIFY2(portns::unplug(probePortName, &error), qPrintable(error));
        log.reset();
        workDir.reset();
    }

    // Connect, renew the air codes, measure, set a zero and a measure point, close.
    void measurementRound()
    {
        QVERIFY2(connectTool(), qPrintable(user->lastError()));
        QVERIFY2(typeAddresses(), qPrintable(user->lastError()));
        QString lines;

        QVERIFY(user->click(QStringLiteral("pb_line_meas_update_air")));
        QTRY_COMPARE_WITH_TIMEOUT(log->count(QStringLiteral("Update Air Code OK")), 8, 15000);
        QVERIFY2(hasExchanges(log->messages(), QStringLiteral("Update Air Code"), 0x17,
                              QStringLiteral("Update Air Code OK"), &lines),
                 qPrintable(lines));

        for (int probe = 1; probe <= 8; ++probe)
            QVERIFY(!user->showsText(field("le_line_meas_", probe)));
        QVERIFY(user->click(QStringLiteral("pb_line_meas_get")));
        QTRY_COMPARE_WITH_TIMEOUT(log->count(QStringLiteral("Get Measurement Result OK")), 8,
                                  30000);
        const QStringList messages = log->messages();
        QVERIFY2(hasExchanges(messages, QStringLiteral("Start Measurement"), 0x1b,
                              QStringLiteral("Start Measurement OK"), &lines),
                 qPrintable(lines));
        QVERIFY2(hasExchanges(messages, QStringLiteral("Get Measurement Result"), 0x1d,
                              QStringLiteral("Get Measurement Result OK"), &lines),
                 qPrintable(lines));
        const QRegularExpression result(QStringLiteral("^Raw: %1 Calibrated: \\S+ Quality: %2$")
                                            .arg(probeThickness)
                                            .arg(probeQuality));
        QCOMPARE(messages.filter(result).size(), 8);
        for (int probe = 1; probe <= 8; ++probe)
            QTRY_VERIFY_WITH_TIMEOUT(user->showsText(field("le_line_meas_", probe)), 3000);
        keepArtefacts(QStringLiteral("measurement"));

        QVERIFY(user->click(QStringLiteral("pb_line_meas_zero_5")));
        QTRY_COMPARE_WITH_TIMEOUT(log->count(QStringLiteral("Set Zero Point OK")), 1, 5000);
        QVERIFY2(ToolLog::hasExchange(log->messages(), QStringLiteral("Set Zero Point"),
                                      probeAddresses[4], 0x1f, QStringLiteral("Set Zero Point OK"),
                                      &lines),
                 qPrintable(lines));

        QVERIFY(user->fill(QStringLiteral("le_line_meas_setpoint"), QStringLiteral("12.5")));
        QVERIFY(user->click(QStringLiteral("pb_line_meas_setpoint_3")));
        QTRY_COMPARE_WITH_TIMEOUT(log->count(QStringLiteral("Set Measure Point OK")), 1, 5000);
        QVERIFY2(ToolLog::hasExchange(log->messages(), QStringLiteral("Set Measure Point"),
                                      probeAddresses[2], 0x21,
                                      QStringLiteral("Set Measure Point OK"), &lines),
                 qPrintable(lines));
        // The simulator read the thickness the operator typed out of the frame.
        QTRY_VERIFY_WITH_TIMEOUT(
            simulatorOutput.contains(
                QStringLiteral("Set Measure Point addr %1 um 12.5 ->").arg(probeAddresses[2])),
            5000);

        QVERIFY(user->closeWindow());
        QVERIFY(tool->waitForFinished(10000));
        QCOMPARE(tool->exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool->exitCode(), 0);
    }

    // The line dies mid-session: the tool says so, stays idle and responsive, and connects
    // again once the device is back behind the same port.
    void devicePulledOutAndBack()
    {
        QVERIFY2(connectTool(), qPrintable(user->lastError()));
        QVERIFY2(typeAddresses(), qPrintable(user->lastError()));

        simulator->kill();
        QVERIFY(simulator->waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(log->count(QStringLiteral("Device not connected")), 1, 5000);

        const qint64 pid = tool->processId();
        const qint64 ticksBefore = cpuTicks(pid);
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(5000);
        const qint64 ticksAfter = cpuTicks(pid);
        QVERIFY(ticksBefore >= 0 && ticksAfter >= ticksBefore);
        const double share = double(ticksAfter - ticksBefore) / double(::sysconf(_SC_CLK_TCK)) /
                             (double(clock.elapsed()) / 1000.0);
        qInfo("after the device was pulled the tool used %.1f %% of a core", share * 100);
        QVERIFY2(share < 0.05, qPrintable(QStringLiteral("%1 % of a core").arg(share * 100)));

        QVERIFY(user->click(QStringLiteral("pb_connect")));
        QTRY_COMPARE_WITH_TIMEOUT(log->count(QStringLiteral("Device not connected")), 2, 5000);

        QString error;
        QVERIFY2(startSimulator(&error), qPrintable(error));
        QVERIFY2(connectTool(), qPrintable(user->lastError()));
        QVERIFY(user->click(QStringLiteral("pb_line_meas_update_air")));
        QTRY_COMPARE_WITH_TIMEOUT(log->after(QStringLiteral("Device Connected"), 2)
                                      .count(QStringLiteral("Update Air Code OK")),
                                  8, 15000);
        QString lines;
        QVERIFY2(hasExchanges(log->after(QStringLiteral("Device Connected"), 2),
                              QStringLiteral("Update Air Code"), 0x17,
                              QStringLiteral("Update Air Code OK"), &lines),
                 qPrintable(lines));
    }
};

bool TestOperator::startSimulator(QString *error)
{
    simulator = std::make_unique<ChildProcess>();
    simulator->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator->start(
        QStringLiteral(PROBESIM),
        {QStringLiteral("--settings"), workDir->filePath(QStringLiteral("settings.cfg")),
         QStringLiteral("--thickness"), probeThickness, QStringLiteral("--quality"),
         QString::number(probeQuality)});
    QElapsedTimer clock;
    clock.start();
    while (!simulator->canReadLine() && clock.elapsed() < 10000 &&
           simulator->state() != QProcess::NotRunning)
        simulator->waitForReadyRead(100);
    const QString path = QString::fromLocal8Bit(simulator->readLine()).trimmed();
    if (path.isEmpty()) {
        *error = QStringLiteral("probesim did not name its port");
        return false;
    }
    simulatorOutput.clear();
    ChildProcess *process = simulator.get();
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process]() {
        simulatorOutput += QString::fromLocal8Bit(process->readAllStandardOutput());
    });
    simulatorOutput += QString::fromLocal8Bit(process->readAllStandardOutput());
    return portns::plug(probePortName, path, error);
}

bool TestOperator::connectTool()
{
    const QString connected = QStringLiteral("Device Connected");
    const int before = log->count(connected);
    if (!user->chooseLastPort() || !user->click(QStringLiteral("pb_connect")))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (log->count(connected) == before && clock.elapsed() < 5000)
        QTest::qWait(50);
    return log->count(connected) > before;
}

bool TestOperator::typeAddresses()
{
    for (int probe = 1; probe <= 8; ++probe) {
        if (!user->fill(field("le_addr_", probe), QString::number(probeAddresses[probe - 1])))
            return false;
    }
    return true;
}

bool TestOperator::hasExchanges(const QStringList &messages, const QString &command, uint8_t code,
                                const QString &verdict, QString *lines) const
{
    for (const uint8_t address : probeAddresses) {
        if (!ToolLog::hasExchange(messages, command, address, code, verdict, lines))
            return false;
    }
    return true;
}

void TestOperator::keepArtefacts(const QString &name)
{
    const QString base = QStringLiteral(ARTEFACT_DIR "/") + name;
    if (user)
        user->screenshot().save(base + QStringLiteral(".png"));
    QFile::remove(base + QStringLiteral("-log.txt"));
    QFile::copy(workDir->filePath(QStringLiteral("log/log.txt")),
                base + QStringLiteral("-log.txt"));
}

int main(int argc, char *argv[])
{
    // Before the application object: a user namespace admits only a single-threaded process.
    QString skipReason = portns::enter();
    VirtualDisplay display;
    if (skipReason.isEmpty())
        display.start(&skipReason);
    // The test's own windows (the form it measures) share the display with the tool's.
    qputenv("QT_QPA_PLATFORM", skipReason.isEmpty() ? "xcb" : "offscreen");
    QApplication application(argc, argv);
    TestOperator test(skipReason);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_operator.moc"
