#include "probesim/ProbeSimulator.h"
#include "probesim/RequestFramer.h"
#include "probesim/SimulatedProbe.h"
#include "protocol/Frames.h"
#include "support/Vectors.h"

#include <QSerialPort>
#include <QtTest>

using namespace probesim;

// The simulator that the device-layer, window and end-to-end tests stand on: how it finds
// requests in the byte stream, the answers it gives and its calibration.
class TestProbeSim : public QObject
{
    Q_OBJECT

private slots:
    void framing_data()
    {
        QTest::addColumn<QByteArrayList>("feeds");
        // Each frame as verdict letter (v valid, h bad hash, u unknown code) and hex.
        QTest::addColumn<QStringList>("frames");
        // The reads in hex, parted by '|', and the frames found, parted the same way.
        const char *const rows[][3] = {
            {"byte by byte", "f5|01|210000c842|0146", "v f501210000c8420146"},
            {"two in one read", "f501198bb8f501210000c8420146",
             "v f501198bb8|v f501210000c8420146"},
            {"garbage before", "0011f501198bb8", "v f501198bb8"},
            {"stray start byte", "f5f501198bb8", "h f5f501198b|v f501198bb8"},
            {"bad hash then good", "f501198bb9f501198bb8", "h f501198bb9|v f501198bb8"},
            {"unknown code", "f5011ae888", "u f5011ae888"},
            {"incomplete", "f501198b", ""}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QByteArray(row[1]).split('|')
                                  << QString(row[2]).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    }

    void framing()
    {
        QFETCH(QByteArrayList, feeds);
        QFETCH(QStringList, frames);
        RequestFramer framer;
        QStringList found;
        for (const QByteArray &feed : feeds) {
            for (const ProbeRequest &request : framer.feed(QByteArray::fromHex(feed), 0))
                found << QLatin1Char("vhu"[int(request.verdict)]) + QStringLiteral(" ") +
                             QString::fromLatin1(request.bytes.toHex());
        }
        QCOMPARE(found, frames);
    }

    void answersMatchVectors_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("expected");
        for (const auto &row : protocolVectors("answer6"))
            QTest::newRow(row[3]) << row[2].toInt() << QByteArray::fromHex(row[3]);
        QTest::newRow("result before any start")
            << -1 << QByteArray::fromHex("f5011d06000000000000000000159a");
    }

    void answersMatchVectors()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, expected);
        SimulatedProbe probe(uint8_t(expected[1]), ProbeSettings(), 1);
        if (status > 0)
            probe.setStatusOverride(uint8_t(status));
        QCOMPARE(probe.answer(uint8_t(expected[2]), std::nullopt).toHex(), expected.toHex());
    }

    // A busy probe takes no zero point; with the zero at the reading there is nothing to scale,
    // so the measure point is refused; a reset brings the reading back.
    void calibration()
    {
        ProbeSettings settings;
        settings.thickness = 250.0f;
        SimulatedProbe probe(2, settings, 1);
        probe.answer(0x1B, std::nullopt);
        // Code, payload, forced status; the status answered and the calibrated value after it.
        const std::tuple<uint8_t, std::optional<float>, std::optional<uint8_t>, int, float>
            steps[] = {{0x1F, {}, 4, 4, 250.0f},      {0x1F, {}, {}, 0, 0.0f},
                       {0x21, 100.0f, {}, 3, 0.0f},   {0x23, {}, {}, 0, 250.0f},
                       {0x21, 125.0f, {}, 0, 125.0f}, {0x23, {}, {}, 0, 250.0f}};
        for (const auto &[code, payload, forced, status, calibrated] : steps) {
            QCOMPARE(int(probe.answer(code, payload, forced).at(3)), status);
            QCOMPARE(frames::readFloat(probe.answer(0x1D, std::nullopt), 8), calibrated);
        }
    }

    // An adapter holds every answer at least its latency and passes answers on in the order
    // the requests came, however the jitter falls: a short draw never overtakes a long one.
    void latency()
    {
        ProbeSimulator simulator;
        QByteArray requests;
        for (const uint8_t address : {1, 2, 3, 4, 5, 6}) {
            QVERIFY(simulator.model().addProbe(address));
            const auto frame = frames::buildRequest(frames::Command::CheckAirCode, address);
            requests += QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
        }
        simulator.bus().setLatency(8, 20);
        QVERIFY2(simulator.openPseudoTerminal(), qPrintable(simulator.errorString()));
        QSerialPort port(simulator.portPath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QCOMPARE(port.write(requests), qint64(requests.size()));
        QSignalSpy exchanges(&simulator.bus(), &ProbeBus::exchangeFinished);
        QVERIFY(QTest::qWaitFor([&] { return exchanges.size() == 6; }, 5000));
        for (int i = 0; i < exchanges.size(); ++i) {
            const auto exchange = exchanges.at(i).at(0).value<Exchange>();
            QCOMPARE(int(exchange.request.address()), i + 1);
            QVERIFY(exchange.finishedUs - exchange.request.timeUs >= 8000);
        }
    }
};

QTEST_GUILESS_MAIN(TestProbeSim)
#include "tst_probesim.moc"
