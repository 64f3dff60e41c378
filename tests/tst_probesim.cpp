#include "probesim/Answers.h"
#include "probesim/ProbeSimulator.h"
#include "probesim/RequestFramer.h"
#include "protocol/Frames.h"

#include <QFile>
#include <QSerialPort>
#include <QtTest>

using namespace probesim;

// The simulator that the device-layer, window and end-to-end tests stand on: its framing, its
// probes' answers and calibration, and its line.
class TestProbeSim : public QObject
{
    Q_OBJECT

private:
    static QList<QList<QByteArray>> vectors(const QByteArray &kind)
    {
        QFile file(QStringLiteral(TEST_DATA_DIR "/protocol.tsv"));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("protocol.tsv is missing");
        QList<QList<QByteArray>> rows;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split('\t');
            if (fields.first() == kind)
                rows.append(fields.mid(1));
        }
        return rows;
    }

    static float resultCalibrated(const QByteArray &frame) { return frames::readFloat(frame, 8); }

private slots:
    void framing_data()
    {
        QTest::addColumn<QByteArrayList>("feeds");
        // Each frame as verdict letter (v valid, h bad hash, u unknown code) and hex.
        QTest::addColumn<QStringList>("frames");
        const QByteArray check = QByteArray::fromHex("f501198bb8");
        const QByteArray measure = QByteArray::fromHex("f501210000c8420146");
        QTest::newRow("one") << QByteArrayList{check} << QStringList{"v f501198bb8"};
        QTest::newRow("byte by byte")
            << QByteArrayList{measure.left(1), measure.mid(1, 1), measure.mid(2, 5), measure.mid(7)}
            << QStringList{"v f501210000c8420146"};
        QTest::newRow("two in one read") << QByteArrayList{check + measure}
                                         << QStringList{"v f501198bb8", "v f501210000c8420146"};
        QTest::newRow("garbage before")
            << QByteArrayList{QByteArray::fromHex("0011") + check} << QStringList{"v f501198bb8"};
        QTest::newRow("stray start byte") << QByteArrayList{QByteArray::fromHex("f5") + check}
                                          << QStringList{"h f5f501198b", "v f501198bb8"};
        QTest::newRow("bad hash then good")
            << QByteArrayList{QByteArray::fromHex("f501198bb9") + check}
            << QStringList{"h f501198bb9", "v f501198bb8"};
        QTest::newRow("unknown code")
            << QByteArrayList{QByteArray::fromHex("f5011a") +
                              withHash(QByteArray::fromHex("f5011a")).right(2)}
            << QStringList{"u " +
                           QString::fromLatin1(withHash(QByteArray::fromHex("f5011a")).toHex())};
        QTest::newRow("incomplete") << QByteArrayList{check.left(4)} << QStringList{};
    }

    void framing()
    {
        QFETCH(QByteArrayList, feeds);
        QFETCH(QStringList, frames);
        RequestFramer framer;
        QStringList found;
        for (const QByteArray &feed : feeds) {
            for (const ProbeRequest &request : framer.feed(feed, 0)) {
                const char verdict = request.verdict == RequestVerdict::Valid     ? 'v'
                                     : request.verdict == RequestVerdict::BadHash ? 'h'
                                                                                  : 'u';
                found << QString(QLatin1Char(verdict)) + QLatin1Char(' ') +
                             QString::fromLatin1(request.bytes.toHex());
            }
        }
        QCOMPARE(found, frames);
    }

    void answersMatchVectors_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("expected");
        for (const auto &row : vectors("answer6"))
            QTest::newRow(row[3]) << row[2].toInt() << QByteArray::fromHex(row[3]);
    }

    void answersMatchVectors()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, expected);
        SimulatedProbe probe(3, ProbeSettings(), 1);
        if (status != 0)
            probe.setStatusOverride(uint8_t(status));
        QCOMPARE(probe.answer(0x1B, std::nullopt).toHex(), expected.toHex());
    }

    void resultBeforeAnyStart()
    {
        SimulatedProbe probe(1, ProbeSettings(), 1);
        QCOMPARE(probe.answer(0x1D, std::nullopt).toHex(),
                 QByteArray("f5011d06000000000000000000159a"));
    }

    void calibration()
    {
        ProbeSettings settings;
        settings.thickness = 250.0f;
        SimulatedProbe probe(2, settings, 1);
        probe.answer(0x1B, std::nullopt);
        QCOMPARE(resultCalibrated(probe.answer(0x1D, std::nullopt)), 250.0f);

        // A busy probe takes no zero point.
        QCOMPARE(uint8_t(probe.answer(0x1F, std::nullopt, 4).at(3)), uint8_t(4));
        QCOMPARE(resultCalibrated(probe.answer(0x1D, std::nullopt)), 250.0f);

        // With the zero at the reading there is nothing to scale: the measure point is refused.
        QCOMPARE(uint8_t(probe.answer(0x1F, std::nullopt).at(3)), uint8_t(0));
        QCOMPARE(resultCalibrated(probe.answer(0x1D, std::nullopt)), 0.0f);
        QCOMPARE(uint8_t(probe.answer(0x21, 100.0f).at(3)), uint8_t(3));

        probe.answer(0x23, std::nullopt);
        QCOMPARE(uint8_t(probe.answer(0x21, 125.0f).at(3)), uint8_t(0));
        QCOMPARE(resultCalibrated(probe.answer(0x1D, std::nullopt)), 125.0f);
        probe.answer(0x23, std::nullopt);
        QCOMPARE(resultCalibrated(probe.answer(0x1D, std::nullopt)), 250.0f);
    }

    void walkIsReproducibleAndBounded()
    {
        ProbeSettings settings;
        settings.thickness = 100.0f;
        settings.walkStep = 1.0f;
        settings.walkLimit = 3.0f;
        SimulatedProbe first(5, settings, 42);
        SimulatedProbe second(5, settings, 42);
        bool moved = false;
        for (int step = 0; step < 200; ++step) {
            first.measure();
            second.measure();
            QCOMPARE(*first.measuredRaw(), *second.measuredRaw());
            QVERIFY(qAbs(*first.measuredRaw() - 100.0f) <= 3.0f);
            moved = moved || *first.measuredRaw() != 100.0f;
        }
        QVERIFY(moved);
    }

    // The plan's scripted faults go to answers only: a request nobody answers leaves them.
    void scriptedFaultsWaitForAnAnswer()
    {
        ProbeSimulator simulator;
        QVERIFY(simulator.openPseudoTerminal());
        QVERIFY(simulator.model().addProbe(1));
        simulator.faults().script(Fault::Busy);
        QSerialPort port(simulator.portPath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QSignalSpy finished(&simulator.bus(), &ProbeBus::exchangeFinished);
        port.write(QByteArray::fromHex("f5071b6f32f5011bc998"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 2000);
        QCOMPARE(finished.at(0).at(0).value<Exchange>().outcome, Exchange::Outcome::NoDevice);
        QCOMPARE(finished.at(1).at(0).value<Exchange>().fault, Fault::Busy);
        QTRY_COMPARE_WITH_TIMEOUT(port.bytesAvailable(), qint64(6), 2000);
        QCOMPARE(port.readAll(), acknowledgeFrame(1, 0x1B, 4));
    }

    // A pulled pseudo-terminal reads as end of file on the port's side: Qt reports a read error
    // on every poll until the port is closed.
    void pulledDeviceFailsThePort()
    {
        ProbeSimulator simulator;
        QVERIFY(simulator.openPseudoTerminal());
        QSerialPort port(simulator.portPath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        qRegisterMetaType<QSerialPort::SerialPortError>();
        QSignalSpy errors(&port, &QSerialPort::errorOccurred);
        simulator.pullDevice();
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 2000);
        port.close();
        const auto error = errors.first().first().value<QSerialPort::SerialPortError>();
        QVERIFY(error == QSerialPort::ReadError || error == QSerialPort::ResourceError);
    }
};

QTEST_GUILESS_MAIN(TestProbeSim)
#include "tst_probesim.moc"
