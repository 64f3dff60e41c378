#include "link/LinkHealth.h"

#include <QtTest>

// When the port's error reports mean a lost device: the rule alone, on a clock the test sets.
class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void lossRule_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("reports");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<uint>("startMs");
        // Index of the report that counts as the loss; -1 for none.
        QTest::addColumn<int>("lostAt");
        const int read = QSerialPort::ReadError;
        QTest::newRow("pulled adapter") << int(QSerialPort::ResourceError) << 3 << 100 << 0u << 0;
        QTest::newRow("hung-up line") << read << 1000 << 0 << 0u << LinkHealth::burstErrors - 1;
        QTest::newRow("write errors in a loop")
            << int(QSerialPort::WriteError) << 1000 << 0 << 0u << LinkHealth::burstErrors - 1;
        QTest::newRow("burst across the clock's wrap")
            << read << 60 << 1 << 4294967270u << LinkHealth::burstErrors - 1;
        // One empty read per request, requests as close as the line's gap allows, for a minute.
        QTest::newRow("every request races an answer") << read << 12000 << 5 << 0u << -1;
        QTest::newRow("racing requests across the wrap") << read << 100 << 5 << 4294967200u << -1;
        // Faster than requests can come, yet too slow for a burst: the window closes first.
        QTest::newRow("3 ms apart") << read << 1000 << 3 << 0u << -1;
        QTest::newRow("2 ms apart") << read << 1000 << 2 << 0u << LinkHealth::burstErrors - 1;
        for (const int noise : {QSerialPort::ParityError, QSerialPort::FramingError,
                                QSerialPort::BreakConditionError, QSerialPort::UnknownError})
            QTest::addRow("noise %d", noise) << noise << 1000 << 0 << 0u << -1;
    }

    void lossRule()
    {
        QFETCH(int, error);
        QFETCH(int, reports);
        QFETCH(int, stepMs);
        QFETCH(uint, startMs);
        QFETCH(int, lostAt);
        LinkHealth health;
        int firstLoss = -1;
        for (int i = 0; i < reports && firstLoss < 0; ++i) {
            if (health.lost(QSerialPort::SerialPortError(error),
                            uint32_t(startMs + uint(i * stepMs))))
                firstLoss = i;
        }
        QCOMPARE(firstLoss, lostAt);
    }

    // The window's edges: the whole burst within it counts, one report beyond it starts
    // afresh; a reopened port starts with a clean slate, and a loss is not remembered past it.
    void burstEdges()
    {
        const auto lastReportLost = [](uint32_t lastMs, bool reopened) {
            LinkHealth health;
            for (int i = 0; i < LinkHealth::burstErrors - 1; ++i) {
                if (health.lost(QSerialPort::ReadError, 1000))
                    return true;
            }
            if (reopened)
                health.reset();
            return health.lost(QSerialPort::ReadError, lastMs);
        };
        QVERIFY(lastReportLost(1000 + LinkHealth::burstWindowMs - 1, false));
        QVERIFY(!lastReportLost(1000 + LinkHealth::burstWindowMs, false));
        QVERIFY(!lastReportLost(1001, true));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
