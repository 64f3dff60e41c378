#include "scan/BusScan.h"
#include "support/CommandRig.h"

#include <QtTest>

#include <map>
#include <memory>

using frames::Command;
using probesim::Fault;
using probesim::InjectedFault;

namespace {

using Addresses = std::vector<uint8_t>;

InjectedFault late(int delayMs)
{
    InjectedFault fault(Fault::Late);
    fault.delayMs = delayMs;
    return fault;
}

}  // namespace

// The bus scan on a real port with simulated probes: which addresses it reports, what it puts
// on the line, and how it keeps a probe whose answer went wrong.
class TestScan : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CommandRig> rig;
    std::unique_ptr<BusScan> scan;
    // Requests the probes received, by address; any other command's under -1.
    std::map<int, int> asked() const
    {
        std::map<int, int> count;
        for (const probesim::ProbeRequest &request : rig->simulator.bus().requests())
            ++count[request.code() == uint8_t(Command::CheckAirCode) ? request.address() : -1];
        return count;
    }

    void addProbes(const Addresses &addresses)
    {
        for (const uint8_t address : addresses)
            QVERIFY(rig->simulator.model().addProbe(address));
    }

    bool run(const Addresses &addresses = {})
    {
        QSignalSpy finished(scan.get(), &BusScan::finished);
        if (addresses.empty())
            scan->start();
        else
            scan->start(addresses);
        return finished.wait(60000) && finished.first().first().toBool();
    }

private slots:
    void initTestCase() { qRegisterMetaType<uint8_t>("uint8_t"); }

    void init()
    {
        rig = std::make_unique<CommandRig>();
        rig->simulator.model().setCapacity(BusScan::addressCount);
        QVERIFY2(rig->open(), qPrintable(rig->simulator.errorString()));
        scan = std::make_unique<BusScan>(&rig->commands);
    }

    void cleanup()
    {
        scan.reset();
        // The engine's gap spans the whole process: the next test's first request must not
        // fall inside it.
        QTest::qWait(10);
        rig.reset();
    }

    // Every address once, with nothing but the command that changes nothing in a probe, each
    // ask in the progress; the ends of the range are ordinary addresses, and the memory test's
    // address is not a probe. At the latency of a slow adapter, with one answer garbled, every
    // probe is found and only the garbled one is asked twice; a probe whose every answer comes
    // garbled is asked four times in all, then passed by: a bad answer is worth asking again,
    // but not for ever.
    void wholeLineOnce()
    {
        const Addresses probes{0, 7, 128, 255};
        addProbes({0, 7, 128, 200, 255});
        rig->simulator.bus().setLatency(14, 0);
        rig->simulator.faults().script(Fault::None, 2);
        rig->simulator.faults().script(Fault::Garbage);
        rig->simulator.faults().script(Fault::None);
        rig->simulator.faults().script(Fault::BadHash, BusScan::maxAttempts);
        QSignalSpy progress(scan.get(), &BusScan::progress);
        QVERIFY(run());
        QCOMPARE(scan->foundAddresses(), probes);
        // Nothing under -1: every request was the scan's own command.
        QCOMPARE(int(asked().size()), BusScan::addressCount);
        for (const auto &[address, count] : asked())
            QCOMPARE(count, address == 128 ? 2 : address == 200 ? BusScan::maxAttempts : 1);
        QCOMPARE(scan->retries(), BusScan::maxAttempts);
        const int asks = BusScan::addressCount + BusScan::maxAttempts;
        QCOMPARE(progress.last(), (QVariantList{asks, asks}));
    }

    // One answer goes wrong in a given way; the probe must still be found, as asked again
    // where the answer was lost, and no other address may be reported in its place.
    void faultyAnswer_data()
    {
        QTest::addColumn<InjectedFault>("fault");
        QTest::addColumn<int>("silentPasses");
        QTest::addColumn<int>("asks");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QString>("answered");
        QTest::addRow("none") << InjectedFault() << 0 << 1 << 0 << "";
        // Late, but within the answer time limit: the scan must still be listening.
        QTest::addRow("late within the limit")
            << late(probeline::answerTimeLimitMs - 12) << 0 << 1 << 0 << "";
        // Late enough to land in the next address's exchange, where it names its sender: the
        // sender is asked again, the next address waits for its own answer.
        QTest::addRow("late beyond the limit")
            << late(probeline::answerTimeLimitMs + 20) << 0 << 2 << 1 << "";
        QTest::addRow("bad hash") << InjectedFault(Fault::BadHash) << 0 << 2 << 1 << "";
        QTest::addRow("garbage ahead") << InjectedFault(Fault::Garbage) << 0 << 2 << 1 << "";
        QTest::addRow("split") << InjectedFault(Fault::Split) << 0 << 1 << 0 << "";
        QTest::addRow("sent twice") << InjectedFault(Fault::Repeated) << 0 << 1 << 0 << "";
        QTest::addRow("a byte long") << InjectedFault(Fault::Long) << 0 << 2 << 1 << "";
        // A probe that keeps silent once is told from an empty address only by asking every
        // silent address again.
        QTest::addRow("no answer") << InjectedFault(Fault::NoAnswer) << 1 << 2 << 4 << "";
        QTest::addRow("a byte short") << InjectedFault(Fault::Short) << 1 << 2 << 4 << "";
        // A well-formed answer with an error status is an answer: the probe is there.
        QTest::addRow("busy") << InjectedFault(Fault::Busy) << 0 << 1 << 0 << "Busy";
    }

    void faultyAnswer()
    {
        QFETCH(InjectedFault, fault);
        QFETCH(int, silentPasses);
        QFETCH(int, asks);
        QFETCH(int, retries);
        QFETCH(QString, answered);
        addProbes({20, 23});
        rig->simulator.faults().script(fault);
        scan->setSilentPasses(silentPasses);
        QVERIFY(run({20, 21, 22, 23, 24}));
        QCOMPARE(scan->foundAddresses(), (Addresses{20, 23}));
        QCOMPARE(asked()[20], asks);
        QCOMPARE(asked()[23], 1);
        QCOMPARE(scan->retries(), retries);
        QCOMPARE(scan->found().at(20).detail, answered);
    }

    // A request of someone else's takes the line just before the scan's: the refused request
    // goes again, not passed by, and costs the probe none of its attempts.
    void refusedRequestIsAskedAgain()
    {
        addProbes({31});
        // Sends its own request the moment the scan's second one is logged, before the engine
        // has put that one on the line.
        struct Interloper : m::ifc::ILog
        {
            OstraCommands *commands = nullptr;
            int checks = 0;
            void write(uint32_t, std::string_view text) override
            {
                if (text == "Check Air Code:" && ++checks == 2)
                    commands->testMem();
            }
        } interloper;
        interloper.commands = &rig->commands;
        rig->log.forward = &interloper;
        QSignalSpy retrying(scan.get(), &BusScan::retrying);
        QVERIFY(run({30, 31}));
        rig->log.forward = nullptr;
        QCOMPARE(rig->log.lines.count(
                     QStringLiteral("1 Packet not sended. Waiting after the previous command.")),
                 1);
        QCOMPARE(scan->foundAddresses(), Addresses{31});
        QCOMPARE(asked()[31], 1);
        // The memory test's answer may come after its exchange was closed, in 31's: it names
        // address 1, which is asked in its own right, and is not 31's answer.
        for (const QList<QVariant> &entry : retrying) {
            QCOMPARE(entry.at(0).value<uint8_t>(), uint8_t(1));
            QCOMPARE(entry.at(1).toString(), QStringLiteral("Late answer"));
        }
    }

    // A port closed under the scan ends it rather than leaving it waiting, and nothing more is
    // asked. Cancel ends it as the window's search shows.
    void portClosedMidway()
    {
        addProbes({1, 2});
        QSignalSpy finished(scan.get(), &BusScan::finished);
        connect(scan.get(), &BusScan::progress, scan.get(), [this](int done, int) {
            if (done == 3)
                rig->port.close();
        });
        scan->start();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(scan->foundAddresses(), (Addresses{1, 2}));
        QTest::qWait(3 * scan->pacingMs());
        QCOMPARE(int(asked().size()), 3);
        QVERIFY(!scan->isRunning());
    }
};

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
