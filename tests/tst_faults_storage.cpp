#include "logging/FileLog.h"
#include "probesim/ProbeSimulator.h"
#include "protocol/OstraCommands.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

// The tool's files in bad places: settings.cfg that cannot be read or is not a settings file,
// and a log directory that refuses lines. Each case runs in a child process of this test, so a
// hang or a crash is caught and the mounts a case needs stay private to it.

namespace {

constexpr int skipExitCode = 77;
constexpr uint8_t probeAddress = 3;
constexpr float probeThickness = 321.5f;
constexpr int logTransactions = 60;

void report(const char *key, qint64 value)
{
    std::printf("%s=%lld\n", key, static_cast<long long>(value));
}

int fail(const char *what)
{
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
    return 1;
}

bool writeFile(const char *path, const char *text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const ssize_t length = ssize_t(std::strlen(text));
    const bool written = ::write(fd, text, size_t(length)) == length;
    ::close(fd);
    return written;
}

// Mounts made from here on are seen by this process alone. Without the right to make a mount
// namespace, a user namespace may still give it.
bool enterPrivateMounts()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeFile("/proc/self/setgroups", "deny");
        if (!writeFile("/proc/self/uid_map", qPrintable(QStringLiteral("0 %1 1").arg(uid))) ||
            !writeFile("/proc/self/gid_map", qPrintable(QStringLiteral("0 %1 1").arg(gid))))
            return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// A 16 KiB tmpfs on log/: read-only, full, or with one page left.
int mountLogDirectory(const QByteArray &mode)
{
    if (!QDir().mkpath(QStringLiteral("log")))
        return fail("mkdir log");
    const unsigned long flags = mode == "unwritable" ? MS_RDONLY : 0;
    if (::mount("tmpfs", "log", "tmpfs", flags, "size=16k,mode=0777") != 0)
        return fail("mount tmpfs");
    if (mode == "unwritable")
        return 0;
    struct statvfs space = {};
    if (::statvfs("log", &space) != 0)
        return fail("statvfs");
    const qint64 keep = mode == "filling" ? qint64(space.f_bsize) : 0;
    QFile filler(QStringLiteral("log/filler"));
    if (!filler.open(QIODevice::WriteOnly))
        return fail("filler");
    const qint64 size = qint64(space.f_bavail) * qint64(space.f_bsize) - keep;
    if (filler.write(QByteArray(int(size), 'x')) != size || !filler.flush())
        return fail("fill");
    return 0;
}

// Passes every line on to the file log and keeps what it was given, to compare with the file.
class TeeLog : public m::ifc::ILog
{
public:
    explicit TeeLog(m::ifc::ILog *file) : file(file) {}

    void write(uint32_t level, std::string_view text) override
    {
        lines << QByteArray::number(level) + ' ' + QByteArray(text.data(), int(text.size()));
        file->write(level, text);
    }

    QList<QByteArray> lines;

private:
    m::ifc::ILog *file;
};

// The device layer's measurement loop against the simulated probe, logging into the prepared
// log directory. Prints what it saw; any crash or hang is the parent's to see.
int runLogCase(int argc, char **argv, const QByteArray &mode)
{
    if (!enterPrivateMounts()) {
        std::fprintf(stderr, "mount namespaces are not allowed here: %s\n", std::strerror(errno));
        return skipExitCode;
    }
    if (const int failed = mountLogDirectory(mode))
        return failed;

    QCoreApplication app(argc, argv);
    FileLog fileLog;
    TeeLog log(&fileLog);
    probesim::ProbeSimulator simulator;
    probesim::ProbeSettings settings;
    settings.thickness = probeThickness;
    if (!simulator.openPseudoTerminal() || !simulator.model().addProbe(probeAddress, settings))
        return fail("simulator");
    QSerialPort port(simulator.portPath());
    port.setBaudRate(460800);
    if (!port.open(QIODevice::ReadWrite))
        return fail("port");
    OstraCommands commands(&port, &log);
    int measurements = 0;
    int goodValues = 0;
    QObject::connect(&commands, &OstraCommands::newMeasurement_Signal, &commands,
                     [&](uint8_t addr, float um, float umCalib, uint8_t) {
                         ++measurements;
                         goodValues += addr == probeAddress && um == probeThickness &&
                                       umCalib == probeThickness;
                     });

    // Wakes the loop below every millisecond, so that it notices the gap is over.
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.start(1);
    QElapsedTimer run;
    run.start();
    for (int transaction = 0; transaction < logTransactions; ++transaction) {
        QElapsedTimer gap;
        gap.start();
        // The command, the two trace lines and the outcome.
        const int expected = log.lines.size() + 4;
        if (transaction % 2 == 0)
            commands.startMeasurement(probeAddress);
        else
            commands.getMeasurementResult(probeAddress);
        while ((log.lines.size() < expected || !gap.hasExpired(6)) && !gap.hasExpired(1000))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    report("elapsedMs", run.elapsed());
    report("requests", qint64(simulator.bus().requests().size()));
    report("measurements", measurements);
    report("goodValues", goodValues);
    report("linesGiven", log.lines.size());

    QFile file(QStringLiteral("log/log.txt"));
    if (!file.exists()) {
        report("logLines", -1);
        return 0;
    }
    if (!file.open(QIODevice::ReadOnly))
        return fail("read log");
    const QByteArray contents = file.readAll();
    report("logBytes", contents.size());
    // Lines kept must be whole and in the order given; a short line may still fit where a
    // longer one before it did not.
    static const QRegularExpression stamp(
        QStringLiteral("^(\\d+) \\[\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d:\\d{3}\\] (.*)$"));
    QList<QByteArray> kept = contents.split('\n');
    const bool endsWhole = kept.takeLast().isEmpty();
    int matching = 0;
    int given = 0;
    for (const QByteArray &line : kept) {
        const auto match = stamp.match(QString::fromLatin1(line));
        if (!match.hasMatch())
            continue;
        const QByteArray message = (match.captured(1) + ' ' + match.captured(2)).toLatin1();
        while (given < log.lines.size() && log.lines.at(given) != message)
            ++given;
        if (given < log.lines.size()) {
            ++matching;
            ++given;
        }
    }
    report("logLines", kept.size());
    report("logLinesMatching", matching);
    report("logEndsWhole", endsWhole);
    return 0;
}

// The three readers of settings.cfg, as the window calls them at start-up.
int runSettingsCase(bool dropPrivileges)
{
    if (dropPrivileges && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return fail("drop privileges");
    struct Counter : m::ifc::ILog
    {
        int lines = 0;
        void write(uint32_t, std::string_view) override { ++lines; }
    } log;
    QElapsedTimer timer;
    timer.start();
    const Settings settings = readSettings();
    const auto addrToProbe = readAddrToProbe(&log);
    const auto probeToAddr = readProbeToAddr(&log);
    report("elapsedMs", timer.elapsed());
    report("delay", settings.delay);
    std::printf("port=%s\n", settings.port.toLatin1().constData());
    report("addrToProbe", qint64(addrToProbe.size()));
    report("probeToAddr", qint64(probeToAddr.size()));
    report("logLines", log.lines);
    // Without privileges the leak checker of a sanitizer build may not trace this process.
    std::fflush(stdout);
    ::_exit(0);
}

using Figures = QMap<QString, QString>;

}  // namespace

class TestFaultsStorage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;

    // Runs this binary again as one case; null when it did not end well by itself in time.
    std::optional<Figures> runCase(const QStringList &arguments, int timeoutMs, bool *skipped)
    {
        QProcess child;
        child.setWorkingDirectory(workDir.path());
        child.start(QCoreApplication::applicationFilePath(), arguments);
        if (!child.waitForFinished(timeoutMs)) {
            child.kill();
            child.waitForFinished(1000);
            qWarning("case %s did not finish in %d ms", qPrintable(arguments.join(' ')), timeoutMs);
            return std::nullopt;
        }
        const QByteArray errors = child.readAllStandardError();
        if (skipped)
            *skipped =
                child.exitStatus() == QProcess::NormalExit && child.exitCode() == skipExitCode;
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
            qWarning("case %s ended badly (%d): %s", qPrintable(arguments.join(' ')),
                     child.exitCode(), errors.constData());
            return std::nullopt;
        }
        Figures figures;
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            const int equals = line.indexOf('=');
            if (equals > 0)
                figures[QString::fromLatin1(line.left(equals))] =
                    QString::fromLatin1(line.mid(equals + 1));
        }
        return figures;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        // Readable for the unprivileged child of the unreadable-file case.
        QVERIFY(QFile::setPermissions(workDir.path(), QFile::permissions(workDir.path()) |
                                                          QFile::ExeOther | QFile::ReadOther));
    }

    void init()
    {
        QDir dir(workDir.path());
        for (const QString &entry :
             dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
            QFileInfo info(dir.filePath(entry));
            if (info.isDir() && !info.isSymLink())
                QVERIFY(QDir(info.filePath()).removeRecursively());
            else
                QVERIFY(dir.remove(entry));
        }
    }

    void settingsUnusable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("delay");
        // -1: whatever the noise happens to hold, within the eight probes.
        QTest::addColumn<int>("probes");
        QTest::newRow("unreadable") << "unreadable" << 190 << 0;
        QTest::newRow("a directory") << "directory" << 190 << 0;
        QTest::newRow("a named pipe") << "pipe" << 190 << 0;
        QTest::newRow("8 MiB of noise") << "noise" << 190 << -1;
        QTest::newRow("one line of 8 MiB") << "long line" << 190 << 0;
        QTest::newRow("a record and 8 MiB of noise after it") << "record and noise" << 40 << 8;
        QTest::newRow("a record in a file of 3 GiB") << "huge" << 40 << 8;
    }

    // Start-up goes on with the defaults, quickly, and the file is left as it was.
    void settingsUnusable()
    {
        QFETCH(QString, kind);
        QFETCH(int, delay);
        QFETCH(int, probes);
        const QString path = QDir(workDir.path()).filePath(QStringLiteral("settings.cfg"));
        const QByteArray record =
            "Port=COM3\r\nProbe1=12\r\nProbe2=13\r\nProbe3=14\r\nProbe4=15\r\nProbe5=16\r\n"
            "Probe6=17\r\nProbe7=18\r\nProbe8=19\r\nDelay=40\r\n";
        QByteArray noise(8 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QByteArray contents;
        if (kind == "directory") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        } else {
            contents = kind == "noise"              ? noise
                       : kind == "long line"        ? QByteArray(noise.size(), 'x')
                       : kind == "record and noise" ? record + noise
                                                    : record;
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(contents), qint64(contents.size()));
            if (kind == "huge" && !file.resize(qint64(3) << 30))
                QSKIP("no room for a sparse file of 3 GiB here");
            file.close();
            if (kind == "unreadable")
                QVERIFY(QFile::setPermissions(path, {}));
        }

        const auto figures = runCase({QStringLiteral("--settings-case"), kind}, 5000, nullptr);
        QVERIFY(figures);
        QCOMPARE((*figures)["delay"].toInt(), delay);
        QCOMPARE((*figures)["port"],
                 delay == 190 ? QStringLiteral("COM2") : QStringLiteral("COM3"));
        if (probes >= 0) {
            QCOMPARE((*figures)["probeToAddr"].toInt(), probes);
            QCOMPARE((*figures)["addrToProbe"].toInt(), probes);
            QCOMPARE((*figures)["logLines"].toInt(), 0);
        } else {
            QVERIFY((*figures)["probeToAddr"].toInt() <= 8);
            QVERIFY((*figures)["logLines"].toInt() <= 2);
        }
        QVERIFY2((*figures)["elapsedMs"].toInt() < 1000, qPrintable((*figures)["elapsedMs"]));

        const QFileInfo after(path);
        QCOMPARE(after.isDir(), kind == "directory");
        if (kind == "pipe")
            QVERIFY(!after.isFile() && after.exists());
        if (kind == "unreadable") {
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), contents);
        } else if (!contents.isEmpty() && kind != "huge") {
            QCOMPARE(after.size(), qint64(contents.size()));
        }
    }

    void logUnusable_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("directory read-only") << "unwritable";
        QTest::newRow("disk full from the start") << "full";
        QTest::newRow("disk full during the run") << "filling";
    }

    // The log loses lines, whole ones, and nothing else is lost: every request answered,
    // every result delivered with the probe's value, at the usual pace.
    void logUnusable()
    {
        QFETCH(QString, mode);
        bool skipped = false;
        const auto figures = runCase({QStringLiteral("--log-case"), mode}, 10000, &skipped);
        if (skipped)
            QSKIP("mount namespaces are not allowed here, so no log directory can be spoilt");
        QVERIFY(figures);
        const Figures &seen = *figures;
        QCOMPARE(seen["requests"].toInt(), logTransactions);
        QCOMPARE(seen["measurements"].toInt(), logTransactions / 2);
        QCOMPARE(seen["goodValues"].toInt(), logTransactions / 2);
        QCOMPARE(seen["linesGiven"].toInt(), 4 * logTransactions);
        QVERIFY2(seen["elapsedMs"].toInt() < 20 * logTransactions, qPrintable(seen["elapsedMs"]));
        if (mode == "unwritable") {
            QCOMPARE(seen["logLines"].toInt(), -1);
            return;
        }
        QCOMPARE(seen["logEndsWhole"].toInt(), 1);
        QCOMPARE(seen["logLinesMatching"], seen["logLines"]);
        if (mode == "full")
            QCOMPARE(seen["logBytes"].toInt(), 0);
        else
            QVERIFY(seen["logLines"].toInt() > 0 && seen["logBytes"].toInt() <= 4096);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--log-case") == 0)
        return runLogCase(argc, argv, argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--settings-case") == 0)
        return runSettingsCase(std::strcmp(argv[2], "unreadable") == 0);
    QCoreApplication app(argc, argv);
    TestFaultsStorage test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults_storage.moc"
