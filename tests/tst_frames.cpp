#include "protocol/Frames.h"

#include <QFile>
#include <QtTest>

using frames::Command;

// Known answers from an independent implementation, read from tests/data/protocol.tsv.
class TestFrames : public QObject
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

    static Command commandNamed(const QByteArray &name)
    {
        static const QMap<QByteArray, Command> byName{
            {"updateAirCode", Command::UpdateAirCode},
            {"checkAirCode", Command::CheckAirCode},
            {"startMeasurement", Command::StartMeasurement},
            {"getMeasurementResult", Command::GetMeasurementResult},
            {"setZeroPoint", Command::SetZeroPoint},
            {"setMeasurePoint", Command::SetMeasurePoint},
            {"resetCalibration", Command::ResetCalibration},
            {"testMem", Command::TestMem}};
        return byName.value(name);
    }

    static QByteArray bytes(const std::vector<uint8_t> &frame)
    {
        return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
    }

private slots:
    void crc_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<uint>("expected");
        for (const auto &row : vectors("crc")) {
            const QByteArray input = row[0] == "-" ? QByteArray() : QByteArray::fromHex(row[0]);
            QTest::newRow(row[0].left(24)) << input << row[1].toUInt(nullptr, 16);
        }
        QTest::newRow("check value") << QByteArray("123456789") << 0x31C3u;
    }

    void crc()
    {
        QFETCH(QByteArray, input);
        QFETCH(uint, expected);
        QCOMPARE(uint(frames::calcHash(reinterpret_cast<const uint8_t *>(input.constData()),
                                       size_t(input.size()))),
                 expected);
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("expected");
        for (const auto &row : vectors("request")) {
            QTest::newRow(row[0] + ' ' + row[1] + ' ' + row[2])
                << row[0] << row[1].toInt() << row[2] << QByteArray::fromHex(row[3]);
        }
    }

    void requests()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, address);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, expected);
        const Command code = commandNamed(command);
        const auto frame = payload == "-"
                               ? frames::buildRequest(code, uint8_t(address))
                               : frames::buildRequest(code, uint8_t(address), payload.toFloat());
        QCOMPARE(bytes(frame), expected);
        QCOMPARE(int(frame.size()), frames::requestSize(code));
    }

    void acknowledgements_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("status");
        for (const auto &row : vectors("answer6"))
            QTest::newRow("status " + row[2]) << QByteArray::fromHex(row[3]) << row[2].toInt();
    }

    // Only 1 to 6 are errors; 0 and everything above 6 count as success.
    void acknowledgements()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, status);
        QVERIFY(frames::checkHash(frame));
        QCOMPARE(frames::statusText(uint8_t(frame[3])).has_value(), status >= 1 && status <= 6);

        QByteArray swapped = frame;
        swapped[4] = frame[5];
        swapped[5] = frame[4];
        QVERIFY(frames::checkHash(swapped) == (frame[4] == frame[5]));
    }

    void results_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("address");
        QTest::addColumn<float>("um");
        QTest::addColumn<float>("umCalib");
        QTest::addColumn<int>("quality");
        for (const auto &row : vectors("result")) {
            QTest::newRow(row[0] + ' ' + row[2])
                << QByteArray::fromHex(row[5]) << row[0].toInt() << row[2].toFloat()
                << row[3].toFloat() << row[4].toInt();
        }
    }

    void results()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, address);
        QFETCH(float, um);
        QFETCH(float, umCalib);
        QFETCH(int, quality);
        QCOMPARE(frame.size(), int(frames::expectedResponseSize(Command::GetMeasurementResult)));
        QVERIFY(frames::checkHash(frame));
        QCOMPARE(uint8_t(frame[1]), uint8_t(address));
        QCOMPARE(frames::readFloat(frame, 4), um);
        QCOMPARE(frames::readFloat(frame, 8), umCalib);
        QCOMPARE(uint8_t(frame[12]), uint8_t(quality));
    }

    void statusTexts()
    {
        const char *const expected[] = {
            nullptr, "Unknown commmand", "Internal",      "Incorrect parameters",
            "Busy",  "Unstable",         "No Measurement"};
        for (int status = 0; status <= 6; ++status)
            QCOMPARE(frames::statusText(uint8_t(status)).value_or(nullptr), expected[status]);
    }

    void hexDump()
    {
        const uint8_t frame[] = {0xF5, 0x01, 0x19, 0x8B, 0xB8};
        QCOMPARE(frames::hexDump(frame, sizeof frame), QByteArray("f5'01'19'8b'b8'"));
        QCOMPARE(frames::hexDump(frame, 0), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
