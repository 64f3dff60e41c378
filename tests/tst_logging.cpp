#include "logging/FileLog.h"
#include "logging/SysTime.h"
#include "support/CommandRig.h"
#include "support/Files.h"
#include "support/PrivateMounts.h"
#include "support/SelfRun.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

constexpr int skipExitCode = 77;
constexpr uint8_t probeAddress = 3;

// Child process: the device layer's measurement loop with the log directory spoilt as `mode`
// says. Prints what it saw as key=value lines; a crash or a hang is the parent's to see.
int runSpoiltLog(int argc, char **argv, const QByteArray &mode)
{
    if (mode != "file" && !enterPrivateMounts())
        return skipExitCode;
    if (!files::spoil(QStringLiteral("log"), mode, mode == "filling" ? 4096 : 0))
        return 1;
    QCoreApplication app(argc, argv);
    FileLog file;
    CommandRig rig;
    rig.log.forward = &file;
    probesim::ProbeSettings settings;
    settings.thickness = 321.5f;
    if (!rig.open() || !rig.simulator.model().addProbe(probeAddress, settings))
        return 1;
    int goodValues = 0;
    QObject::connect(&rig.commands, &OstraCommands::newMeasurement_Signal, &rig.commands,
                     [&goodValues](uint8_t address, float um, float, uint8_t) {
                         goodValues += address == probeAddress && um == 321.5f;
                     });
    for (int transaction = 0; transaction < 20; ++transaction) {
        rig.send([transaction](OstraCommands &commands) {
            if (transaction % 2)
                commands.getMeasurementResult(probeAddress);
            else
                commands.startMeasurement(probeAddress);
        });
        rig.waitForLines(4 * (transaction + 1));
    }
    // Lines kept must be whole and in the order given; a short line may still fit where a
    // longer one before it did not.
    const QStringList kept = files::logMessages();
    int given = 0;
    bool inOrder = true;
    for (const QString &line : kept) {
        given = int(rig.log.lines.indexOf(line, given)) + 1;
        inOrder = inOrder && given > 0;
    }
    QFile log(QStringLiteral("log/log.txt"));
    const QByteArray contents = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    const bool wholeLines = inOrder && contents.count('\n') == kept.size() &&
                            (contents.isEmpty() || contents.endsWith('\n'));
    // What must hold whatever became of the log first, then the figures that depend on it.
    std::printf("%d %d %d %d %d\n", int(rig.simulator.bus().requests().size()), goodValues,
                int(rig.log.lines.size()), int(wholeLines), int(kept.size()));
    return 0;
}

}  // namespace

// The log file and the clock arithmetic, each case in a fresh working directory.
class TestLogging : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;

private slots:
    void init() { QVERIFY(files::enterEmpty(workDir)); }

    void lineFormat_data()
    {
        QTest::addColumn<uint>("level");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("largest level") << 4294967295u << QByteArray("x");
        QTest::newRow("line breaks kept") << 1u << QByteArray("a\r\nb\nc");
        QTest::newRow("not zero-terminated") << 1u << QByteArray("abc\0def", 7);
    }

    // Each write appends one line: level, time stamp, text.
    void lineFormat()
    {
        QFETCH(uint, level);
        QFETCH(QByteArray, text);
        FileLog log;
        log.write(level, std::string_view(text.constData(), size_t(text.size())));
        const QByteArray line = files::read(QStringLiteral("log/log.txt"));
        const QByteArray head = QByteArray::number(level) + " [";
        QVERIFY(line.startsWith(head));
        const QString stamp = QString::fromLatin1(line.mid(head.size(), 23));
        // The time of the write, day first, every field at its full width: a swapped day and
        // month is an invalid date from the 13th on.
        const QDateTime written =
            QDateTime::fromString(stamp, QStringLiteral("dd.MM.yyyy hh:mm:ss:zzz"));
        QVERIFY2(written.isValid(), qPrintable(stamp));
        QVERIFY(qAbs(written.msecsTo(QDateTime::currentDateTime())) < 5000);
        QCOMPARE(line.mid(head.size() + 23), "] " + text + '\n');
    }

    void previousRunKept_data()
    {
        QTest::addColumn<QByteArray>("previous");
        // Kept logs already there; an empty one counts as absent.
        QTest::addColumn<QStringList>("alreadyKept");
        QTest::addColumn<QStringList>("gone");
        QTest::addColumn<QString>("keptAs");
        const QByteArray run = "\n1 [07.12.2026 14:03:56:001] Tx expected: 5 bytes.\n";
        const QByteArray started = "0 [07.12.2026 14:03:55:900] Delay: 190" + run;
        QTest::newRow("no log directory")
            << QByteArray() << QStringList() << QStringList() << QString();
        QTest::newRow("named after its first line")
            << started << QStringList() << QStringList() << "log-1-2026-12-07_14-03-55.txt";
        // Day and month told apart: 13 is no month.
        QTest::newRow("after the 12th")
            << "0 [13.01.2027 09:05:00:999] Delay: 190" + run << QStringList() << QStringList()
            << "log-1-2027-01-13_09-05-00.txt";
        QTest::newRow("numbered after the last one kept")
            << started << QStringList{"log-9-2026-12-07_14-03-55.txt"} << QStringList()
            << "log-10-2026-12-07_14-03-55.txt";
        QTest::newRow("after logs kept before the numbering")
            << started << QStringList{"log-2026-12-07_14-03-55.txt"} << QStringList()
            << "log-1-2026-12-07_14-03-55.txt";
        // Named after the file's own time, which is found when the test runs.
        QTest::newRow("without a stamp")
            << QByteArray("no stamp here\n") << QStringList() << QStringList() << "log-1-";
        QStringList unnumbered;
        QStringList numbered;
        for (int day = 1; day <= 35; ++day) {
            // 31 days in November are not needed: the names only have to sort.
            const QString stamp =
                QStringLiteral("2026-11-%1_08-00-00.txt").arg(day, 2, 10, QLatin1Char('0'));
            unnumbered << "log-" + stamp;
            // The first one moved aside has the latest stamp.
            numbered << (day == 1 ? QStringLiteral("log-1-2027-06-01_08-00-00.txt")
                                  : QStringLiteral("log-%1-").arg(day) + stamp);
        }
        numbered = QStringList(numbered.mid(0, 30));
        // A clock set back (01.01.2000) dates the previous run's log before every kept one.
        const QByteArray setBack = "0 [01.01.2000 00:00:05:000] x\n";
        QTest::newRow("the newest 30, kept before the numbering")
            << setBack << unnumbered << QStringList(unnumbered.mid(0, 6))
            << "log-1-2000-01-01_00-00-05.txt";
        QTest::newRow("the newest 30, numbered, stamps out of order")
            << setBack << numbered << QStringList(numbered.mid(0, 1))
            << "log-31-2000-01-01_00-00-05.txt";
    }

    // log/log.txt starts afresh at every start; the previous run's is moved aside, named after
    // the time of its first line, and other files in the folder are left. The newest 30 earlier
    // logs stay, the just-moved one among them: the logs go in the order they were moved aside,
    // and this start's is never the one deleted.
    void previousRunKept()
    {
        QFETCH(QByteArray, previous);
        QFETCH(QStringList, alreadyKept);
        QFETCH(QStringList, gone);
        QFETCH(QString, keptAs);
        const QStringList others{"log-notes.txt", "log.txt.bak", "notes.txt"};
        if (!previous.isEmpty()) {
            QVERIFY(QDir().mkdir(QStringLiteral("log")));
            QVERIFY(files::write(QStringLiteral("log/log.txt"), previous));
            for (const QString &name : alreadyKept + others)
                QVERIFY(files::write("log/" + name, "earlier"));
        }
        const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
        FileLog log;
        QVERIFY(QFileInfo(QStringLiteral("log")).isDir());
        if (keptAs.endsWith('-')) {
            keptAs = QDir(QStringLiteral("log")).entryList({keptAs + "*"}).value(0);
            const QDateTime named =
                QDateTime::fromString(keptAs.mid(6, 19), QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
            QVERIFY2(named >= before && named <= QDateTime::currentDateTime(), qPrintable(keptAs));
        }
        QVERIFY(!QFile::exists(QStringLiteral("log/log.txt")));
        log.write(0, "first");
        QCOMPARE(files::logMessages(), QStringList{"0 first"});
        QStringList expected{"log.txt"};
        if (!keptAs.isEmpty())
            expected << keptAs << alreadyKept << others;
        for (const QString &name : gone)
            expected.removeOne(name);
        expected.sort();
        QCOMPARE(QDir(QStringLiteral("log")).entryList(QDir::Files, QDir::Name), expected);
        expected.removeOne(QStringLiteral("log.txt"));
        for (const QString &name : expected)
            QCOMPARE(files::read("log/" + name), name == keptAs ? previous : "earlier");
    }

    void spoiltLogDirectory_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("a file where the directory should be") << "file";
        QTest::newRow("directory read-only") << "read-only";
        QTest::newRow("disk full from the start") << "full";
        QTest::newRow("disk full during the run") << "filling";
    }

    // The log loses lines, whole ones, and nothing else is lost: every request answered, every
    // result delivered with the probe's value.
    void spoiltLogDirectory()
    {
        QFETCH(QString, mode);
        int exitCode = 0;
        const QByteArray output = runSelf({QStringLiteral("--spoilt-log"), mode}, 10000, exitCode);
        if (exitCode == skipExitCode)
            QSKIP("mount namespaces are not allowed here, so no log directory can be spoilt");
        QVERIFY2(exitCode == 0, "the run failed, crashed or hung");
        const QList<QByteArray> seen = output.trimmed().split(' ');
        QCOMPARE(seen.mid(0, 4).join(' '), QByteArray("20 10 80 1"));
        const int kept = seen.value(4).toInt();
        QVERIFY(mode == "filling" ? kept > 0 && kept < 80 : kept == 0);
        const QFileInfo log(QStringLiteral("log"));
        if (mode == "file")
            QVERIFY2(log.isFile() && log.size() == 0, "the file in the directory's place changed");
    }

    // The clock's difference across its wrap-around: since, now, elapsed.
    void elapsedAcrossWrap()
    {
        for (const auto &[since, now, elapsed] : {std::tuple<uint, uint, uint>{100, 350, 250},
                                                  {4294967290u, 4, 10},
                                                  {7, 7, 0},
                                                  {1, 0, 4294967295u}})
            QCOMPARE(SysTime::difference({now}, {since}).value, elapsed);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--spoilt-log") == 0)
        return runSpoiltLog(argc, argv, argv[2]);
    QCoreApplication app(argc, argv);
    TestLogging test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logging.moc"
