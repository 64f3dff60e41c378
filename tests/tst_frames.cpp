#include "protocol/Frames.h"
#include "support/Vectors.h"

#include <QtTest>

using frames::Command;

// Checksums and frames against known answers from an independent implementation.
class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void crc_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<uint>("expected");
        for (const auto &row : protocolVectors("crc")) {
            const QByteArray input = row[0] == "-" ? QByteArray() : QByteArray::fromHex(row[0]);
            QTest::newRow(row[0].left(24)) << input << row[1].toUInt(nullptr, 16);
        }
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
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("expected");
        // The code byte is taken from the vector; each command's code is the device suite's.
        for (const auto &row : protocolVectors("request")) {
            const QByteArray expected = QByteArray::fromHex(row[3]);
            QTest::newRow(row[0] + ' ' + row[1] + ' ' + row[2])
                << int(uint8_t(expected[2])) << row[1].toInt() << row[2] << expected;
        }
    }

    void requests()
    {
        QFETCH(int, command);
        QFETCH(int, address);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, expected);
        const Command code = Command(command);
        const auto frame = payload == "-"
                               ? frames::buildRequest(code, uint8_t(address))
                               : frames::buildRequest(code, uint8_t(address), payload.toFloat());
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size())),
                 expected);
        QCOMPARE(int(frame.size()), frames::requestSize(code));
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
