#include "support/Files.h"

#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

// Every file under the folder with its size, time and contents: what a start may not change.
QStringList snapshot()
{
    QStringList entries;
    QDirIterator it(QStringLiteral("."), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries << path + ' ' +
                       QString::number(QFileInfo(path).lastModified().toMSecsSinceEpoch()) + ' ' +
                       QString::fromLatin1(files::read(path).toHex());
    }
    entries.sort();
    return entries;
}

}  // namespace

// The built tool, started as an operator starts it, in one working folder: one copy at a time.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;

private slots:
    void initTestCase() { QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path())); }

    // A second copy in the folder of a running one is refused and changes nothing; a copy that
    // crashed leaves a lock that does not stop the next start, which keeps the earlier log.
    void oneCopyPerFolder()
    {
        QVERIFY(files::write(QStringLiteral("settings.cfg"),
                             files::settings({12, 13, 14, 15, 16, 17, 18, 19}, 40)));
        // Headless, as the suite itself runs; up when its log has its first line.
        const auto start = [](QProcess &tool) {
            tool.start(QStringLiteral(TOOL_PATH), QStringList());
        };
        QProcess first;
        start(first);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return first.state() == QProcess::Running &&
                       files::logMessages().value(0) == QStringLiteral("0 Delay: 40");
            },
            10000));
        const QStringList before = snapshot();

        QProcess second;
        start(second);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(second.readAllStandardError().contains("already runs in"), "no reason given");
        QCOMPARE(snapshot(), before);
        QCOMPARE(first.state(), QProcess::Running);

        // A crash leaves the lock behind.
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(5000));
        QVERIFY(QFile::exists(QStringLiteral("t7r-demo.lock")));
        const QStringList firstRun = files::logMessages();

        QProcess third;
        start(third);
        const auto kept = []() {
            return QDir(QStringLiteral("log"))
                .entryList({QStringLiteral("log-*.txt")}, QDir::Files);
        };
        QTRY_COMPARE_WITH_TIMEOUT(kept().size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(files::logMessages().value(0), QStringLiteral("0 Delay: 40"),
                                  10000);
        QCOMPARE(third.state(), QProcess::Running);
        QCOMPARE(files::logMessages("log/" + kept().first()), firstRun);
        third.kill();
        QVERIFY(third.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
