#include "logging/FileLog.h"
#include "logging/SysTime.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// The log file and the clock arithmetic, each case in a fresh working directory.
class TestLogging : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;

    static QByteArray logContents()
    {
        QFile file(QStringLiteral("log/log.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        QVERIFY(workDir.isValid());
        QDir dir(workDir.path());
        dir.removeRecursively();
        QVERIFY(QDir().mkpath(workDir.path()));
        QVERIFY(QDir::setCurrent(workDir.path()));
    }

    void lineFormat_data()
    {
        QTest::addColumn<uint>("level");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("connection") << 0u << QByteArray("Device Connected");
        QTest::newRow("traffic") << 1u << QByteArray("Tx expected: 5 bytes.");
        QTest::newRow("largest level") << 4294967295u << QByteArray("x");
        QTest::newRow("empty text") << 1u << QByteArray();
        QTest::newRow("line breaks kept") << 1u << QByteArray("a\r\nb\nc");
        QTest::newRow("not zero-terminated") << 1u << QByteArray("abc\0def", 7);
    }

    void lineFormat()
    {
        QFETCH(uint, level);
        QFETCH(QByteArray, text);
        FileLog log;
        log.write(level, std::string_view(text.constData(), size_t(text.size())));
        const QByteArray line = logContents();
        const QByteArray head = QByteArray::number(level) + " [";
        QVERIFY(line.startsWith(head));
        const QByteArray stamp = line.mid(head.size(), 23);
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d:\\d{3}$"))
                     .match(QString::fromLatin1(stamp))
                     .hasMatch(),
                 stamp.constData());
        const QDateTime written = QDateTime::fromString(QString::fromLatin1(stamp),
                                                        QStringLiteral("dd.MM.yyyy hh:mm:ss:zzz"));
        QVERIFY(qAbs(written.msecsTo(QDateTime::currentDateTime())) < 5000);
        QCOMPARE(line.mid(head.size() + 23), "] " + text + '\n');
    }

    void oneLinePerWriteAppended()
    {
        FileLog log;
        log.write(0, "Delay: 190");
        log.write(1, "Update Air Code:");
        const QList<QByteArray> lines = logContents().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("] Delay: 190"));
        QVERIFY(lines[1].endsWith("] Update Air Code:"));
        QVERIFY(lines[2].isEmpty());
    }

    void previousRunDiscarded()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("log")));
        QFile old(QStringLiteral("log/log.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("0 [01.01.2026 00:00:00:000] old run\n");
        old.close();

        FileLog log;
        QVERIFY(!QFile::exists(QStringLiteral("log/log.txt")));
        log.write(0, "Delay: 190");
        QVERIFY(!logContents().contains("old run"));
    }

    void missingDirectoryCreated()
    {
        FileLog log;
        QVERIFY(QFileInfo(QStringLiteral("log")).isDir());
        QVERIFY(!QFile::exists(QStringLiteral("log/log.txt")));
        log.write(0, "first");
        QVERIFY(logContents().endsWith("] first\n"));
    }

    // A plain file named "log" leaves no place for the log: lines are dropped, nothing fails.
    void unusableDirectoryDropsLines()
    {
        QFile blocker(QStringLiteral("log"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FileLog log;
        log.write(0, "lost");
        log.write(1, "lost too");
        QVERIFY(QFileInfo(QStringLiteral("log")).isFile());
        QCOMPARE(QFileInfo(QStringLiteral("log")).size(), 0);
    }

    void elapsedAcrossWrap_data()
    {
        QTest::addColumn<uint>("since");
        QTest::addColumn<uint>("now");
        QTest::addColumn<uint>("elapsed");
        QTest::newRow("plain") << 100u << 350u << 250u;
        QTest::newRow("across wrap") << 4294967290u << 4u << 10u;
        QTest::newRow("zero") << 7u << 7u << 0u;
        QTest::newRow("longest") << 1u << 0u << 4294967295u;
    }

    void elapsedAcrossWrap()
    {
        QFETCH(uint, since);
        QFETCH(uint, now);
        QFETCH(uint, elapsed);
        QCOMPARE(SysTime::difference({now}, {since}).value, elapsed);
    }

    // Monotonic: a later reading never measures a negative interval.
    void clockAdvances()
    {
        SysTime time;
        const m::TimeCount startMs = time.nowMs();
        const m::TimeCount startUs = time.nowUs();
        QTRY_VERIFY_WITH_TIMEOUT(time.elapsedMs(startMs).value >= 20, 1000);
        QVERIFY(time.elapsedMs(startMs).value < 1000);
        QVERIFY(time.elapsedUs(startUs).value >= 20000);
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
