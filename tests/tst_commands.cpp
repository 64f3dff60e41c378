#include "support/CommandRig.h"

#include <QFile>
#include <QtTest>

#include <functional>
#include <memory>

using frames::Command;
using probesim::Exchange;
using probesim::Fault;
using probesim::InjectedFault;
using probesim::ProbeBus;

Q_DECLARE_METATYPE(frames::Command)

// The eight commands on a real port: the frame each puts on the line and the log lines its
// answer gives; and the answer judgement on frames the line cannot bring.
class TestCommands : public QObject
{
    Q_OBJECT

private:
    static constexpr uint8_t probeAddress = 1;
    std::unique_ptr<CommandRig> rig;

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

    static std::function<void(OstraCommands &)> issue(Command command)
    {
        switch (command) {
            case Command::UpdateAirCode:
                return [](OstraCommands &c) { c.updateAirCode(probeAddress); };
            case Command::CheckAirCode:
                return [](OstraCommands &c) { c.checkAirCode(probeAddress); };
            case Command::StartMeasurement:
                return [](OstraCommands &c) { c.startMeasurement(probeAddress); };
            case Command::GetMeasurementResult:
                return [](OstraCommands &c) { c.getMeasurementResult(probeAddress); };
            case Command::SetZeroPoint:
                return [](OstraCommands &c) { c.setZeroPoint(probeAddress); };
            case Command::SetMeasurePoint:
                return [](OstraCommands &c) { c.setMeasurePoint(probeAddress, 100.0f); };
            case Command::ResetCalibration:
                return [](OstraCommands &c) { c.resetCalibration(probeAddress); };
            case Command::TestMem:
                return [](OstraCommands &c) { c.testMem(); };
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        // The signal names its byte arguments by this alias; the window registers it the same way.
        qRegisterMetaType<uint8_t>("uint8_t");
    }

    void init()
    {
        rig = std::make_unique<CommandRig>();
        QVERIFY2(rig->open(), qPrintable(rig->simulator.errorString() + rig->port.errorString()));
        probesim::ProbeSettings settings;
        settings.thickness = 123.25f;
        settings.quality = 42;
        QVERIFY(rig->simulator.model().addProbe(probeAddress, settings));
    }

    void cleanup() { rig.reset(); }

    void exchange_data()
    {
        QTest::addColumn<Command>("command");
        // Imposed on the answer; -1 leaves the device's own.
        QTest::addColumn<int>("status");
        QTest::addColumn<InjectedFault>("fault");
        QTest::addColumn<bool>("measured");
        // Frames from the independent vectors in protocol.tsv.
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("outcome");

        const InjectedFault none;
        const InjectedFault badHash(Fault::BadHash);
        const struct
        {
            Command command;
            const char *name;
            const char *frame;
        } commands[] = {
            {Command::UpdateAirCode, "Update Air Code", "f501174559"},
            {Command::CheckAirCode, "Check Air Code", "f501198bb8"},
            {Command::StartMeasurement, "Start Measurement", "f5011bc998"},
            {Command::GetMeasurementResult, "Get Measurement Result", "f5011d0ff8"},
            {Command::SetZeroPoint, "Set Zero Point", "f5011f4dd8"},
            {Command::SetMeasurePoint, "Set Measure Point", "f501210000c8420146"},
            {Command::ResetCalibration, "Reset Calibration", "f50123922f"},
            {Command::TestMem, "Test", "f501c8d763"},
        };
        for (const auto &entry : commands) {
            QTest::addRow("%s OK", entry.name)
                << entry.command << -1 << none << true << QByteArray::fromHex(entry.frame)
                << QString::fromLatin1(entry.name) + QStringLiteral(" OK");
        }

        const char *const errors[] = {
            "Unknown commmand", "Internal",      "Incorrect parameters", "Busy",
            "Unstable",         "No Measurement"};
        for (int status = 1; status <= 6; ++status) {
            const QString line = QStringLiteral("Error: ") + QLatin1String(errors[status - 1]);
            QTest::addRow("ack status %d", status)
                << Command::CheckAirCode << status << none << true
                << QByteArray::fromHex("f501198bb8") << line;
            QTest::addRow("result status %d", status)
                << Command::GetMeasurementResult << status << none << true
                << QByteArray::fromHex("f5011d0ff8") << line;
        }
        QTest::newRow("result before any start")
            << Command::GetMeasurementResult << -1 << none << false
            << QByteArray::fromHex("f5011d0ff8") << QStringLiteral("Error: No Measurement");

        for (const int status : {7, 9, 128, 255}) {
            QTest::addRow("ack status %d", status)
                << Command::StartMeasurement << status << none << true
                << QByteArray::fromHex("f5011bc998") << QStringLiteral("Start Measurement OK");
            QTest::addRow("result status %d", status)
                << Command::GetMeasurementResult << status << none << true
                << QByteArray::fromHex("f5011d0ff8") << QStringLiteral("Get Measurement Result OK");
        }

        QTest::newRow("ack bad hash")
            << Command::SetZeroPoint << -1 << badHash << true << QByteArray::fromHex("f5011f4dd8")
            << QStringLiteral("Bad hash");
        QTest::newRow("result bad hash")
            << Command::GetMeasurementResult << -1 << badHash << true
            << QByteArray::fromHex("f5011d0ff8") << QStringLiteral("Bad hash");
        QTest::newRow("test bad hash")
            << Command::TestMem << -1 << badHash << true << QByteArray::fromHex("f501c8d763")
            << QStringLiteral("Bad hash");

        const struct
        {
            int status;
            const char *line;
        } tests[] = {{2, "Internal Error"}, {1, "Unknown Error"}, {5, "Unknown Error"},
                     {6, "Unknown Error"},  {7, "Unknown Error"}, {255, "Unknown Error"}};
        for (const auto &entry : tests) {
            QTest::addRow("test status %d", entry.status)
                << Command::TestMem << entry.status << none << true
                << QByteArray::fromHex("f501c8d763") << QString::fromLatin1(entry.line);
        }
    }

    void exchange()
    {
        QFETCH(Command, command);
        QFETCH(int, status);
        QFETCH(InjectedFault, fault);
        QFETCH(bool, measured);
        QFETCH(QByteArray, request);
        QFETCH(QString, outcome);

        probesim::ProbeModel &model = rig->simulator.model();
        probesim::SimulatedProbe *probe = model.probe(probeAddress);
        if (measured) {
            probe->measure();
            QVERIFY(probe->setMeasurePoint(100.0f));
        }
        if (status >= 0) {
            probe->setStatusOverride(uint8_t(status));
            model.setTestMemStatus(uint8_t(status));
        }
        rig->simulator.faults().script(fault);

        QSignalSpy finished(&rig->simulator.bus(), &ProbeBus::exchangeFinished);
        QSignalSpy measurement(&rig->commands, &OstraCommands::newMeasurement_Signal);
        QVERIFY(rig->send(issue(command)));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 2000);
        const Exchange exchange = finished.at(0).at(0).value<Exchange>();
        QCOMPARE(exchange.request.bytes, request);

        const QString commandLine =
            command == Command::TestMem
                ? QStringLiteral("Test:")
                : QString::fromLatin1(probesim::commandName(uint8_t(command))) + QLatin1Char(':');
        const int answerSize = int(frames::expectedResponseSize(command));
        QCOMPARE(exchange.written.size(), answerSize);
        const QStringList expected{commandLine, CommandRig::txLine(request),
                                   CommandRig::rxLine(answerSize, answerSize, exchange.written),
                                   outcome};
        QVERIFY(rig->waitForLines(expected.size()));
        QCOMPARE(rig->log.lines(), expected);

        // A value goes to the window only when the probe reported it without error.
        const bool delivers = outcome == QLatin1String("Get Measurement Result OK");
        QCOMPARE(measurement.count(), delivers ? 1 : 0);
        if (delivers) {
            const QList<QVariant> values = measurement.at(0);
            QCOMPARE(values.at(0).value<uint8_t>(), probeAddress);
            QCOMPARE(values.at(1).toFloat(), *probe->measuredRaw());
            QCOMPARE(values.at(2).toFloat(), probe->calibrated(*probe->measuredRaw()));
            QCOMPARE(values.at(3).value<uint8_t>(), uint8_t(42));
        }
    }

    void resultCarriesTheAnsweringAddress()
    {
        probesim::ProbeSettings settings;
        settings.replyAddress = 7;
        QVERIFY(rig->simulator.model().addProbe(3, settings));
        rig->simulator.model().probe(3)->measure();
        QSignalSpy measurement(&rig->commands, &OstraCommands::newMeasurement_Signal);
        QVERIFY(rig->send([](OstraCommands &c) { c.getMeasurementResult(3); }));
        QTRY_COMPARE_WITH_TIMEOUT(measurement.count(), 1, 2000);
        QCOMPARE(measurement.at(0).at(0).value<uint8_t>(), uint8_t(7));
    }

    void wrongResponseSize_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QByteArray>("response");
        // Every frame but the empty one ends in a hash that fits it: the size alone rejects it.
        const QByteArray request = QByteArray::fromHex("f501198bb8");
        const QByteArray measurePoint = QByteArray::fromHex("f501210000c8420146");
        const QByteArray acknowledge = QByteArray::fromHex("f5031b00d1a5");
        const QByteArray result = QByteArray::fromHex("f5051d0079e9f6427b14f042079013");
        QTest::newRow("ack, 0 bytes") << Command::CheckAirCode << QByteArray();
        QTest::newRow("ack, 5 bytes") << Command::CheckAirCode << request;
        QTest::newRow("ack, 9 bytes") << Command::SetMeasurePoint << measurePoint;
        QTest::newRow("ack, 15 bytes") << Command::StartMeasurement << result;
        QTest::newRow("result, 6 bytes") << Command::GetMeasurementResult << acknowledge;
        QTest::newRow("result, 9 bytes") << Command::GetMeasurementResult << measurePoint;
        QTest::newRow("result, 14 bytes") << Command::GetMeasurementResult << result.left(14);
        QTest::newRow("result, 16 bytes")
            << Command::GetMeasurementResult << result + QByteArray(1, '\0');
        QTest::newRow("test, 5 bytes") << Command::TestMem << request;
        QTest::newRow("test, 15 bytes") << Command::TestMem << result;
    }

    void wrongResponseSize()
    {
        QFETCH(Command, command);
        QFETCH(QByteArray, response);
        QSignalSpy measurement(&rig->commands, &OstraCommands::newMeasurement_Signal);
        rig->commands.handleResponse(command, response);
        QCOMPARE(rig->log.lines(), QStringList{QStringLiteral("Wrong response size")});
        QCOMPARE(measurement.count(), 0);
    }

    void resultDecoding_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("status");
        QTest::addColumn<float>("um");
        QTest::addColumn<float>("umCalib");
        QTest::addColumn<int>("quality");
        for (const auto &row : vectors("result")) {
            QTest::newRow(row[5]) << QByteArray::fromHex(row[5]) << row[0].toInt() << row[1].toInt()
                                  << row[2].toFloat() << row[3].toFloat() << row[4].toInt();
        }
    }

    void resultDecoding()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, address);
        QFETCH(int, status);
        QFETCH(float, um);
        QFETCH(float, umCalib);
        QFETCH(int, quality);
        QSignalSpy measurement(&rig->commands, &OstraCommands::newMeasurement_Signal);
        rig->commands.handleResponse(Command::GetMeasurementResult, frame);
        if (status != 0) {
            QCOMPARE(rig->log.lines(), QStringList{QStringLiteral("Error: No Measurement")});
            QCOMPARE(measurement.count(), 0);
            return;
        }
        QCOMPARE(rig->log.lines(), QStringList{QStringLiteral("Get Measurement Result OK")});
        QCOMPARE(measurement.count(), 1);
        QCOMPARE(int(measurement.at(0).at(0).value<uint8_t>()), address);
        QCOMPARE(measurement.at(0).at(1).toFloat(), um);
        QCOMPARE(measurement.at(0).at(2).toFloat(), umCalib);
        QCOMPARE(int(measurement.at(0).at(3).value<uint8_t>()), quality);
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
