#include "support/CommandRig.h"

#include <QtTest>

#include <memory>

using probesim::Exchange;
using probesim::Fault;
using probesim::InjectedFault;
using probesim::ProbeBus;

// The transaction engine on a real port: how the answers' arrival on the line turns into
// deliveries and log lines.
class TestEngine : public QObject
{
    Q_OBJECT

private:
    static constexpr uint8_t probeAddress = 3;
    std::unique_ptr<CommandRig> rig;

    static void startMeasurement(OstraCommands &commands)
    {
        commands.startMeasurement(probeAddress);
    }

private slots:
    void init()
    {
        rig = std::make_unique<CommandRig>();
        QVERIFY2(rig->open(), qPrintable(rig->simulator.errorString() + rig->port.errorString()));
        QVERIFY(rig->simulator.model().addProbe(probeAddress));
    }

    void cleanup() { rig.reset(); }

    void lineConditions_data()
    {
        QTest::addColumn<InjectedFault>("fault");
        QTest::addColumn<QByteArray>("stale");
        // One delivery per entry: the count the reception line reports.
        QTest::addColumn<QList<int>>("received");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<int>("leftover");

        const QStringList ok{QStringLiteral("Start Measurement OK")};
        const QStringList badHash{QStringLiteral("Bad hash")};
        InjectedFault split(Fault::Split);
        split.splitAt = 2;
        split.delayMs = 30;
        InjectedFault late(Fault::Late);
        late.delayMs = 150;
        InjectedFault garbage(Fault::Garbage);
        garbage.garbage = QByteArray::fromHex("0000");

        QTest::newRow("whole") << InjectedFault() << QByteArray() << QList<int>{6} << ok << 0;
        QTest::newRow("2 + 4 bytes") << split << QByteArray() << QList<int>{6} << ok << 0;
        QTest::newRow("late") << late << QByteArray() << QList<int>{6} << ok << 0;
        QTest::newRow("garbage before") << garbage << QByteArray() << QList<int>{8} << badHash << 2;
        QTest::newRow("bad hash") << InjectedFault(Fault::BadHash) << QByteArray() << QList<int>{6}
                                  << badHash << 0;
        QTest::newRow("one byte short")
            << InjectedFault(Fault::Short) << QByteArray() << QList<int>{} << QStringList() << 5;
        QTest::newRow("one byte long")
            << InjectedFault(Fault::Long) << QByteArray() << QList<int>{7} << badHash << 1;
        QTest::newRow("no answer")
            << InjectedFault(Fault::NoAnswer) << QByteArray() << QList<int>{} << QStringList() << 0;
        QTest::newRow("stale bytes before")
            << InjectedFault() << QByteArray::fromHex("f5031b") << QList<int>{6} << ok << 0;
        QTest::newRow("busy") << InjectedFault(Fault::Busy) << QByteArray() << QList<int>{6}
                              << QStringList{QStringLiteral("Error: Busy")} << 0;
    }

    void lineConditions()
    {
        QFETCH(InjectedFault, fault);
        QFETCH(QByteArray, stale);
        QFETCH(QList<int>, received);
        QFETCH(QStringList, outcomes);
        QFETCH(int, leftover);

        probesim::ProbeBus &bus = rig->simulator.bus();
        if (!stale.isEmpty()) {
            bus.writeRaw(stale);
            QTRY_COMPARE_WITH_TIMEOUT(rig->port.bytesAvailable(), qint64(stale.size()), 2000);
        }
        rig->simulator.faults().script(fault);
        QSignalSpy finished(&bus, &ProbeBus::exchangeFinished);
        QVERIFY(rig->send(startMeasurement));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 2000);
        const Exchange exchange = finished.at(0).at(0).value<Exchange>();

        QStringList expected{QStringLiteral("Start Measurement:"),
                             CommandRig::txLine(exchange.request.bytes)};
        for (int delivery = 0; delivery < received.size(); ++delivery) {
            expected << CommandRig::rxLine(6, received[delivery],
                                           exchange.written.mid(6 * delivery, 6))
                     << outcomes[delivery];
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            rig->log.count() >= expected.size() && rig->port.bytesAvailable() == leftover, 2000);
        QCOMPARE(rig->log.lines(), expected);
        for (const CapturingLog::Line &line : rig->log.all())
            QCOMPARE(line.level, 1u);
        QCOMPARE(int(bus.requests().size()), 1);
    }

    // The surplus of a double answer waits in the port until more bytes bring a readyRead.
    void twoAnswersAtOnce()
    {
        rig->simulator.faults().script(Fault::Repeated);
        QSignalSpy finished(&rig->simulator.bus(), &ProbeBus::exchangeFinished);
        QVERIFY(rig->send(startMeasurement));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 2000);
        const Exchange exchange = finished.at(0).at(0).value<Exchange>();
        QCOMPARE(exchange.written, exchange.frame + exchange.frame);

        QStringList expected{
            QStringLiteral("Start Measurement:"), CommandRig::txLine(exchange.request.bytes),
            CommandRig::rxLine(6, 12, exchange.frame), QStringLiteral("Start Measurement OK")};
        QTRY_VERIFY_WITH_TIMEOUT(rig->log.count() >= 4 && rig->port.bytesAvailable() == 6, 2000);
        QCOMPARE(rig->log.lines(), expected);

        rig->simulator.bus().writeRaw(QByteArray(1, '\0'));
        expected << CommandRig::rxLine(6, 7, exchange.frame)
                 << QStringLiteral("Start Measurement OK");
        QTRY_VERIFY_WITH_TIMEOUT(rig->log.count() >= 6 && rig->port.bytesAvailable() == 1, 2000);
        QCOMPARE(rig->log.lines(), expected);
    }

    void requestInsideTheGapIsRefused()
    {
        QSignalSpy finished(&rig->simulator.bus(), &ProbeBus::exchangeFinished);
        // A stall of the machine between the two calls would let the second one go; try again.
        bool refused = false;
        for (int attempt = 0; attempt < 5 && !refused; ++attempt) {
            rig->log.clear();
            rig->simulator.bus().clearRequests();
            finished.clear();
            QElapsedTimer between;
            QVERIFY(rig->send(startMeasurement));
            between.start();
            rig->commands.startMeasurement(probeAddress);
            refused = between.elapsed() < 3;
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), refused ? 1 : 2, 2000);
        }
        QVERIFY(refused);
        QVERIFY(rig->waitForLines(6));
        const Exchange exchange = finished.at(0).at(0).value<Exchange>();
        const QStringList expected{
            QStringLiteral("Start Measurement:"),
            QStringLiteral("Start Measurement:"),
            QStringLiteral("Packet not sended. Waiting after the previous command."),
            CommandRig::txLine(exchange.request.bytes),
            CommandRig::rxLine(6, 6, exchange.frame),
            QStringLiteral("Start Measurement OK")};
        QCOMPARE(rig->log.lines(), expected);
        QCOMPARE(int(rig->simulator.bus().requests().size()), 1);
    }

    // Each request replaces only the previous request's callbacks, not the window's watchers.
    void otherWatchersOfThePortStayConnected()
    {
        QSignalSpy closing(&rig->port, &QSerialPort::aboutToClose);
        QVERIFY(rig->send(startMeasurement));
        QVERIFY(rig->waitForLines(4));
        rig->port.close();
        QCOMPARE(closing.count(), 1);
    }

    void closedPortSendsAndLogsNothing()
    {
        rig->port.close();
        QVERIFY(rig->send(startMeasurement));
        QVERIFY(rig->log.lines().isEmpty());

        // The line is first-in first-out: had anything gone out, the simulator would see it
        // before the request sent after reopening.
        QVERIFY(rig->port.open(QIODevice::ReadWrite));
        QSignalSpy received(&rig->simulator.bus(), &ProbeBus::requestReceived);
        QVERIFY(rig->send([](OstraCommands &commands) { commands.checkAirCode(probeAddress); }));
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 2000);
        QVERIFY(rig->waitForLines(4));
        QCOMPARE(rig->simulator.bus().requests().front().code(),
                 uint8_t(frames::Command::CheckAirCode));
        QCOMPARE(rig->log.lines().first(), QStringLiteral("Check Air Code:"));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
