#include "probesim/Answers.h"
#include "probesim/ProbeBus.h"
#include "probesim/ProbeModel.h"
#include "probesim/PseudoTerminal.h"
#include "protocol/Frames.h"
#include "tst_window_helpers.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

using namespace windowtest;
using frames::Command;
using probesim::Fault;

namespace {

const std::vector<int> busAddresses{12, 13, 14, 15, 16, 17, 18, 19};
const QStringList busFields{"12", "13", "14", "15", "16", "17", "18", "19"};
constexpr int delayMs = 20;
constexpr int requestsPerRun = 2 * probeCount;

float thicknessOf(int probe)
{
    return 100.0f + 10.5f * float(probe);
}

QByteArray request(Command command, int address)
{
    const auto bytes = frames::buildRequest(command, uint8_t(address));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

QString dump(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex('\'')) + QLatin1Char('\'');
}

// Noise straight onto the line, as fast as the far end takes it.
class BurstWriter
{
public:
    BurstWriter(int fd, QByteArray bytes) : fd(fd), bytes(std::move(bytes))
    {
        pump.setInterval(1);
        QObject::connect(&pump, &QTimer::timeout, &pump, [this]() { writeSome(); });
        pump.start();
    }

    bool finished() const { return written == bytes.size(); }
    QString error() const { return failure; }

private:
    void writeSome()
    {
        while (written < bytes.size()) {
            const ssize_t count =
                ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
            if (count > 0) {
                written += int(count);
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && errno != EAGAIN)
                failure = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        pump.stop();
    }

    int fd;
    QByteArray bytes;
    int written = 0;
    QTimer pump;
    QString failure;
};

}  // namespace

// The window's measurement on a line that misbehaves: noise in the middle of a run, probes that
// repeat themselves. The operator must see each probe's own value once the line is sane.
class TestFaultsWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;
    QElapsedTimer sinceLastTest;
    probesim::ProbeModel model;
    probesim::FaultPlan faults;
    std::unique_ptr<probesim::PseudoTerminal> line;
    std::unique_ptr<probesim::ProbeBus> bus;

    void connectWithAddresses(OrvaUI &window)
    {
        window.ui.cb_ports->addItem(line->slavePath());
        window.ui.cb_ports->setCurrentText(line->slavePath());
        QTest::mouseClick(window.ui.pb_connect, Qt::LeftButton);
        for (int probe = 1; probe <= probeCount; ++probe)
            typeAddress(window, probe, busFields[probe - 1]);
    }

    static QStringList expectedPanels()
    {
        QStringList values;
        for (int probe = 0; probe < probeCount; ++probe)
            values << QString::number(thicknessOf(probe), 'f', 1);
        return values;
    }

    static QString rawLine(int probe)
    {
        const QString value = QString::number(thicknessOf(probe), 'g', 6);
        return QStringLiteral("1 Raw: %1 Calibrated: %1 Quality: %2").arg(value).arg(90 + probe);
    }

    // The log of one clean measurement run over all probes, in the order of the line.
    static QStringList cleanRun()
    {
        QStringList lines;
        for (int address : busAddresses) {
            const QByteArray sent = request(Command::StartMeasurement, address);
            lines << QStringLiteral("1 Start Measurement:")
                  << QStringLiteral("1 Tx expected: 5 bytes. Transmitted: 5 bytes. Tx: 0x ") +
                         dump(sent)
                  << QStringLiteral("1 Rx expected: 6 bytes.    Received: 6 bytes. Rx: 0x ") +
                         dump(probesim::acknowledgeFrame(uint8_t(address), 0x1B, 0))
                  << QStringLiteral("1 Start Measurement OK");
        }
        for (int probe = 0; probe < probeCount; ++probe) {
            const int address = busAddresses[probe];
            const QByteArray sent = request(Command::GetMeasurementResult, address);
            const QByteArray answer = probesim::resultFrame(
                uint8_t(address), 0, thicknessOf(probe), thicknessOf(probe), uint8_t(90 + probe));
            lines << QStringLiteral("1 Get Measurement Result:")
                  << QStringLiteral("1 Tx expected: 5 bytes. Transmitted: 5 bytes. Tx: 0x ") +
                         dump(sent)
                  << QStringLiteral("1 Rx expected: 15 bytes.    Received: 15 bytes. Rx: 0x ") +
                         dump(answer)
                  << rawLine(probe) << QStringLiteral("1 Get Measurement Result OK");
        }
        return lines;
    }

    qint64 sinceLastRequestUs() const
    {
        return bus->requests().empty()
                   ? std::numeric_limits<qint64>::max()
                   : probesim::steadyMicroseconds() - bus->requests().back().timeUs;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<uint8_t>("uint8_t");
        QVERIFY(enterWorkDirectory(workDir));
        QVERIFY(writeSettings(settingsFile(busAddresses, delayMs)));
        for (int probe = 0; probe < probeCount; ++probe) {
            probesim::ProbeSettings settings;
            settings.thickness = thicknessOf(probe);
            settings.quality = uint8_t(90 + probe);
            QVERIFY(model.addProbe(uint8_t(busAddresses[size_t(probe)]), settings));
        }
        sinceLastTest.start();
    }

    void init()
    {
        // The line keeps one minimum gap for the whole process.
        QTRY_VERIFY_WITH_TIMEOUT(sinceLastTest.elapsed() > 10, 1000);
        faults.clear();
        line = std::make_unique<probesim::PseudoTerminal>();
        QVERIFY2(line->open(), qPrintable(line->errorString()));
        bus = std::make_unique<probesim::ProbeBus>(&model, &faults);
        bus->attach(line->masterFd());
    }

    void cleanup()
    {
        bus.reset();
        line.reset();
        sinceLastTest.restart();
    }

    // A megabyte of noise while a measurement runs: the window stays responsive, and the next
    // measurement is answered, logged and shown as if nothing had happened.
    void burstDuringMeasurement()
    {
        OrvaUI window;
        connectWithAddresses(window);
        QElapsedTimer sinceTick;
        qint64 longestTickMs = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, &ticker,
                [&]() { longestTickMs = std::max(longestTickMs, sinceTick.restart()); });
        sinceTick.start();
        ticker.start();

        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(logMessages().contains(QStringLiteral("1 Start Measurement OK")),
                                 2000);
        // While the noise lasts the probes hear nothing.
        faults.setRate(Fault::NoAnswer, 1.0);
        QByteArray noise(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator random(7);
        random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QElapsedTimer burstEnded;
        {
            BurstWriter burst(line->masterFd(), noise);
            QTRY_VERIFY_WITH_TIMEOUT(burst.finished() || !burst.error().isEmpty(), 10000);
            QVERIFY2(burst.error().isEmpty(), qPrintable(burst.error()));
            burstEnded.start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(bus->requests().size()), requestsPerRun, 5000);
        faults.clear();
        QVERIFY2(longestTickMs < 1000, qPrintable(QString::number(longestTickMs)));

        const QStringList duringBurst = logMessages();
        int largestReception = 0;
        for (const QString &message : duringBurst) {
            const int at = message.indexOf(QStringLiteral("Received: "));
            if (at >= 0)
                largestReception = std::max(
                    largestReception, message.mid(at + 10).section(QLatin1Char(' '), 0, 0).toInt());
        }
        QVERIFY2(largestReception > 4096, "the noise never reached a waiting request");
        QVERIFY(!duringBurst.contains(QStringLiteral("1 Wrong response size")));

        // Bytes the pseudo-terminal had taken may still be on their way to the port; the next
        // request's buffer clear can only drop those that have arrived.
        QTRY_VERIFY_WITH_TIMEOUT(burstEnded.hasExpired(50) && sinceLastRequestUs() > 10000, 2000);
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), expectedPanels(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(logMessages().size(), duringBurst.size() + cleanRun().size(),
                                  2000);
        QCOMPARE(logMessages().mid(duringBurst.size()), cleanRun());
    }

    // Every result arrives twice in one piece: each probe's panel shows its own value, and no
    // result is logged more than twice.
    void repeatedResults()
    {
        faults.script(Fault::None, probeCount);
        faults.script(Fault::Repeated, probeCount);
        QSignalSpy finished(bus.get(), &probesim::ProbeBus::exchangeFinished);
        OrvaUI window;
        connectWithAddresses(window);
        QTest::mouseClick(window.ui.pb_line_meas_get, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), requestsPerRun, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(panelValues(window), expectedPanels(), 2000);

        const QStringList messages = logMessages();
        QVERIFY(!messages.join('\n').contains(QStringLiteral("Packet not sended")));
        QVERIFY(!messages.join('\n').contains(QStringLiteral("Bad hash")));
        for (int probe = 0; probe < probeCount; ++probe) {
            const int shown = messages.count(rawLine(probe));
            QVERIFY2(shown >= 1 && shown <= 2, qPrintable(rawLine(probe)));
        }
        const int results = messages.count(QStringLiteral("1 Get Measurement Result OK"));
        QCOMPARE(messages.filter(QStringLiteral("1 Raw: ")).size(), results);
        QCOMPARE(messages.filter(QStringLiteral("Rx expected: 15 bytes.")).size(), results);
    }
};

QTEST_MAIN(TestFaultsWindow)
#include "tst_faults_window.moc"
