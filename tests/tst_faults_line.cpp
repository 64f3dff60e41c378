#include "probesim/Answers.h"
#include "support/CommandRig.h"

#include <QtTest>

#include <memory>

using probesim::Fault;
using probesim::ProbeBus;

namespace {

constexpr uint8_t probeAddress = 3;
constexpr float probeThickness = 321.5f;
constexpr uint8_t probeQuality = 77;
constexpr uint8_t checkAirCodeCode = 0x19;
constexpr uint8_t statusBusy = 4;

void checkAirCode(OstraCommands &commands)
{
    commands.checkAirCode(probeAddress);
}

void getMeasurementResult(OstraCommands &commands)
{
    commands.getMeasurementResult(probeAddress);
}

}  // namespace

// Answers that do not fit the request they follow, on a real port: what reaches the handler,
// what the log shows, and that the next request starts from a clean line.
class TestFaultsLine : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CommandRig> rig;

    int receptionLines() const
    {
        return rig->log.lines().filter(QRegularExpression(QStringLiteral("^Rx expected"))).size();
    }

    // Waits until all `count` bytes written by the probe are in the port: delivered or left.
    bool waitForBytes(int count, int answerSize)
    {
        return QTest::qWaitFor(
            [this, count, answerSize]() {
                return receptionLines() * answerSize + rig->port.bytesAvailable() == count;
            },
            2000);
    }

    static QByteArray resultAnswer(float um)
    {
        return probesim::resultFrame(probeAddress, 0, um, um, probeQuality);
    }

    static void verifyMeasured(const QSignalSpy &measured, int count)
    {
        QCOMPARE(measured.count(), count);
        for (const QList<QVariant> &values : measured) {
            QCOMPARE(values.at(0).value<uint8_t>(), probeAddress);
            QCOMPARE(values.at(1).toFloat(), probeThickness);
            QCOMPARE(values.at(2).toFloat(), probeThickness);
            QCOMPARE(values.at(3).value<uint8_t>(), probeQuality);
        }
    }

    // A fresh request after the fault: only its own answer arrives, once, and nothing is left.
    void verifyNextRequestClean(bool result)
    {
        const QByteArray answer =
            result ? resultAnswer(probeThickness)
                   : probesim::acknowledgeFrame(probeAddress, checkAirCodeCode, 0);
        QSignalSpy measured(&rig->commands, &OstraCommands::newMeasurement_Signal);
        QSignalSpy finished(&rig->simulator.bus(), &ProbeBus::exchangeFinished);
        rig->log.clear();
        QVERIFY(rig->send(result ? getMeasurementResult : checkAirCode));
        QVERIFY(rig->waitForLines(4));
        QCOMPARE(finished.count(), 1);
        const auto exchange = finished.at(0).at(0).value<probesim::Exchange>();
        QCOMPARE(rig->log.lines(),
                 (QStringList{result ? QStringLiteral("Get Measurement Result:")
                                     : QStringLiteral("Check Air Code:"),
                              CommandRig::txLine(exchange.request.bytes),
                              CommandRig::rxLine(answer.size(), answer.size(), answer),
                              result ? QStringLiteral("Get Measurement Result OK")
                                     : QStringLiteral("Check Air Code OK")}));
        QCOMPARE(rig->port.bytesAvailable(), 0);
        verifyMeasured(measured, result ? 1 : 0);
    }

private slots:
    void initTestCase() { qRegisterMetaType<uint8_t>("uint8_t"); }

    void init()
    {
        rig = std::make_unique<CommandRig>();
        QVERIFY2(rig->open(), qPrintable(rig->simulator.errorString() + rig->port.errorString()));
        probesim::ProbeSettings settings;
        settings.thickness = probeThickness;
        settings.quality = probeQuality;
        QVERIFY(rig->simulator.model().addProbe(probeAddress, settings));
        rig->simulator.model().probe(probeAddress)->measure();
    }

    void cleanup() { rig.reset(); }

    void wrongLengths_data()
    {
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("length");
        for (const bool result : {false, true}) {
            const int size = result ? 15 : 6;
            for (int length = 1; length <= 30; ++length) {
                if (length == size)
                    continue;
                QTest::addRow("%s, %d bytes", result ? "result" : "acknowledge", length)
                    << result << length;
            }
        }
    }

    // Short answers give nothing; long ones give the first answer's worth, and what follows
    // is taken only in whole answers and never reaches the next request.
    void wrongLengths()
    {
        QFETCH(bool, result);
        QFETCH(int, length);
        const int size = result ? 15 : 6;
        const QByteArray answer =
            result ? resultAnswer(probeThickness)
                   : probesim::acknowledgeFrame(probeAddress, checkAirCodeCode, 0);
        // The surplus is made of well-made answers of another kind, so that any of its bytes
        // reaching a handler shows in the log and in the values.
        const QByteArray other =
            result ? resultAnswer(999.5f)
                   : probesim::acknowledgeFrame(probeAddress, checkAirCodeCode, statusBusy);
        QByteArray line = answer;
        while (line.size() < length)
            line += other;
        line.truncate(length);

        QSignalSpy measured(&rig->commands, &OstraCommands::newMeasurement_Signal);
        QSignalSpy requests(&rig->simulator.bus(), &ProbeBus::requestReceived);
        rig->simulator.faults().script(Fault::NoAnswer);
        QVERIFY(rig->send(result ? getMeasurementResult : checkAirCode));
        QTRY_COMPARE_WITH_TIMEOUT(requests.count(), 1, 2000);
        rig->simulator.bus().writeRaw(line);
        QVERIFY(waitForBytes(length, size));

        const QStringList lines = rig->log.lines();
        const int deliveries = receptionLines();
        QCOMPARE(lines.size(), 2 + 2 * deliveries);
        if (length < size)
            QCOMPARE(deliveries, 0);
        else
            QVERIFY2(deliveries >= 1 && deliveries <= length / size, qPrintable(lines.join('\n')));
        const QString success = result ? QStringLiteral("Get Measurement Result OK")
                                       : QStringLiteral("Check Air Code OK");
        for (int delivery = 0; delivery < deliveries; ++delivery) {
            const QString &reception = lines.at(2 + 2 * delivery);
            QVERIFY(reception.startsWith(
                QStringLiteral("Rx expected: %1 bytes.    Received: ").arg(size)));
            QVERIFY2(reception.endsWith(QStringLiteral(" bytes. Rx: 0x ") +
                                        CommandRig::dump(line.mid(delivery * size, size))),
                     qPrintable(reception));
            const QString outcome =
                delivery == 0 || result ? success : QStringLiteral("Error: Busy");
            QCOMPARE(lines.at(3 + 2 * delivery), outcome);
        }
        QCOMPARE(measured.count(), result ? deliveries : 0);
        if (result && deliveries > 0)
            QCOMPARE(measured.at(0).at(2).toFloat(), probeThickness);

        verifyNextRequestClean(result);
    }

    void answeredTwice_data()
    {
        QTest::addColumn<bool>("apart");
        QTest::newRow("both at once") << false;
        QTest::newRow("the second after the first was taken") << true;
    }

    // A probe that repeats itself: each copy is one delivery at most, every one with the
    // probe's own value, and the next request does not see the repeat.
    void answeredTwice()
    {
        QFETCH(bool, apart);
        const QByteArray answer = resultAnswer(probeThickness);
        QSignalSpy measured(&rig->commands, &OstraCommands::newMeasurement_Signal);
        QSignalSpy requests(&rig->simulator.bus(), &ProbeBus::requestReceived);
        rig->simulator.faults().script(Fault::NoAnswer);
        QVERIFY(rig->send(getMeasurementResult));
        QTRY_COMPARE_WITH_TIMEOUT(requests.count(), 1, 2000);
        if (apart) {
            rig->simulator.bus().writeRaw(answer);
            QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 1, 2000);
            rig->simulator.bus().writeRaw(answer);
        } else {
            rig->simulator.bus().writeRaw(answer + answer);
        }
        QVERIFY(waitForBytes(2 * answer.size(), answer.size()));

        const int deliveries = receptionLines();
        QVERIFY(deliveries >= 1 && deliveries <= 2);
        if (apart)
            QCOMPARE(deliveries, 2);
        const QStringList lines = rig->log.lines();
        QCOMPARE(lines.size(), 2 + 2 * deliveries);
        for (int delivery = 0; delivery < deliveries; ++delivery) {
            QVERIFY(lines.at(2 + 2 * delivery).endsWith(CommandRig::dump(answer)));
            QCOMPARE(lines.at(3 + 2 * delivery), QStringLiteral("Get Measurement Result OK"));
        }
        verifyMeasured(measured, deliveries);

        verifyNextRequestClean(true);
    }
};

QTEST_GUILESS_MAIN(TestFaultsLine)
#include "tst_faults_line.moc"
