#include "settings/Settings.h"
#include "settings/SettingsWriter.h"
#include "support/CapturingLog.h"
#include "support/Files.h"
#include "support/SelfRun.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>

namespace {

const QByteArrayList eightProbes{"12", "13", "14", "15", "16", "17", "18", "19"};
const QByteArray allEight = "12,13,14,15,16,17,18,19";

// What the three readers make of settings.cfg: "delay port addresses badAddressLines", the
// addresses in probe order; "inconsistent" is added when the address-keyed map is not the
// inverse of the probe-keyed one (the later probe winning) or the log holds anything else.
QByteArray describe()
{
    CapturingLog log;
    const Settings settings = readSettings();
    const std::map<uint8_t, uint8_t> addrToProbe = readAddrToProbe(&log);
    std::map<uint8_t, uint8_t> inverse;
    QByteArrayList addresses;
    for (const auto &[ordinal, address] : readProbeToAddr(&log)) {
        inverse[address] = uint8_t(ordinal + 1);
        addresses << (ordinal == addresses.size() ? QByteArray::number(address) : "?");
    }
    const bool consistent =
        addrToProbe == inverse &&
        log.lines.count(QStringLiteral("0 Bad probe address")) == log.lines.size();
    return QByteArray::number(settings.delay) + ' ' + settings.port.toLatin1() + ' ' +
           (addresses.isEmpty() ? "-" : addresses.join(',')) + ' ' +
           QByteArray::number(log.lines.size()) + (consistent ? "" : " inconsistent");
}

}  // namespace

// settings.cfg as written by hand on a production line: the delay and the probe addresses.
class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid() && QDir::setCurrent(workDir.path()));
        // Reachable for the unprivileged children.
        QVERIFY(QFile::setPermissions(workDir.path(), QFile::permissions(workDir.path()) |
                                                          QFile::ExeOther | QFile::ReadOther));
    }

    void init()
    {
        const QString path = QStringLiteral("settings.cfg");
        QVERIFY(QDir(path).removeRecursively() && (!QFile::exists(path) || QFile::remove(path)));
        QFile::remove(path + QStringLiteral(".bak"));
    }

    void files_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("seen");
        QTest::addColumn<QString>("mismatch");
        // The mismatch named when a record is not used, the first line that did not match.
        const auto row = [](const char *name, const QByteArray &contents, const QByteArray &seen,
                            const QString &mismatch = {}) {
            QTest::newRow(name) << contents << seen
                                << (mismatch.isEmpty()
                                        ? mismatch
                                        : "settings.cfg " + mismatch +
                                              ": the defaults are in use (Delay: 190)");
        };
        const QString port = QStringLiteral(" does not match Port=<name of 1 to 6 characters>");
        const QByteArray text = files::settings(eightProbes, "40");
        row("well formed", files::settings(eightProbes, "190"), "190 COM3 " + allEight + " 0");
        row("LF line ends, six-letter port", files::settings(eightProbes, "25", "COM123", "\n"),
            "25 COM123 " + allEight + " 0");
        row("seven-letter port", files::settings(eightProbes, "40", "COM1234"),
            "190 COM2 " + allEight + " 0", "line 1 \"Port=COM1234\"" + port);
        row("the delay alone", "Delay=50\r\n", "190 COM2 - 0", "line 1 \"Delay=50\"" + port);
        row("letters in probe 3", QByteArray(text).replace("=14", "=abc"), "190 COM2 12,13 2",
            "line 4 \"Probe3=abc\" does not match Probe3=<address>");
        row("negative probe 1", QByteArray(text).replace("=12", "=-1"), "40 COM3 - 2");
        row("256 is no address", QByteArray(text).replace("=16", "=256"), "40 COM3 12,13,14,15 2");
        row("0 and 255 are addresses",
            files::settings({"0", "13", "14", "15", "16", "17", "18", "255"}, "40"),
            "40 COM3 0,13,14,15,16,17,18,255 0");
        row("duplicate addresses: the later probe wins",
            files::settings({"12", "7", "12", "9", "10", "11", "13", "14"}, "40"),
            "40 COM3 12,7,12,9,10,11,13,14 0");
        row("blank line after probe 4", QByteArray(text).replace("Probe5", "\r\nProbe5"),
            "40 COM3 12,13,14,15 0");
        row("misspelled key", QByteArray(text).replace("Probe5=16", "Prob5=7"),
            "190 COM2 12,13,14,15,7,17,18,19 0",
            "line 6 \"Prob5=7\" does not match Probe5=<address>");
        row("lower-case key", QByteArray(text).replace("Probe1=", "probe1="),
            "190 COM2 12,13,14,15,16,17,18,19 0",
            "line 2 \"probe1=12\" does not match Probe1=<address>");
        row("blanks around =", QByteArray(text).replace("Probe1=", "Probe1 = "),
            "190 COM2 12,13,14,15,16,17,18,19 0",
            "line 2 \"Probe1 = 12\" does not match Probe1=<address>");
        row("fewer probes: delay read as an address", files::settings({"12", "13"}, "40"),
            "190 COM2 12,13,40 0", "line 4 \"Delay=40\" does not match Probe3=<address>");
        row("probe lines end early", "Port=COM3\nProbe1=12\n", "190 COM2 12 0",
            "has no line 3 (Probe2=<address>)");
        row("nine probe lines", files::settings(eightProbes + QByteArrayList{"20"}, "40"),
            "190 COM2 " + allEight + " 0");
        // The file a first start creates: the defaults, as documented, without a word.
        row("empty file", "", "190 COM2 - 0");
        row("no file: made empty", QByteArray(), "190 COM2 - 0");
        // What the window saves reads back as the operator left it: the addresses in order, the
        // missing ones absent rather than address 0, the delay and the port unchanged.
        row("saved, eight", settingswriter::record("COM3", {12, 13, 14, 15, 16, 17, 18, 19}, 75),
            "75 COM3 " + allEight + " 0");
        row("saved, three", settingswriter::record("COM3", {0, 255, 7}, 75), "75 COM3 0,255,7 0");
        row("saved, none", settingswriter::record("COM3", {}, 75), "75 COM3 - 0");
        row("text after the delay", files::settings(eightProbes, "40 ms and more"),
            "40 COM3 " + allEight + " 0");
        // A negative or oversized delay would make the all-probe operations send nothing or
        // overflow their schedule: the record is unusable.
        row("negative delay", files::settings(eightProbes, "-5"), "190 COM2 " + allEight + " 0",
            "line 10 \"Delay=-5\" does not match Delay=<milliseconds, 0 to 2147483647>");
        row("delay beyond 32 bits", files::settings(eightProbes, "2147483648"),
            "190 COM2 " + allEight + " 0");
        row("largest delay", files::settings(eightProbes, "2147483647"),
            "2147483647 COM3 " + allEight + " 0");
        QByteArray noise(4 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        row("4 MiB of noise", noise, "190 COM2 - 0");
        row("a record and 4 MiB of noise", files::settings(eightProbes, "40") + noise,
            "40 COM3 " + allEight + " 0");
        row("huge numbers",
            files::settings(QVector<QByteArray>(8, QByteArray(400, '9')).toList(),
                            QByteArray(400, '9')),
            "190 COM2 - 2");
    }

    // A record that is not used says so, naming the first line that did not match; one that is
    // used, or the empty file, says nothing.
    void files()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, seen);
        QFETCH(QString, mismatch);
        QVERIFY(contents.isNull() || files::write(QStringLiteral("settings.cfg"), contents));
        QCOMPARE(describe(), seen);
        QCOMPARE(files::read(QStringLiteral("settings.cfg")), contents);
        const Settings settings = readSettings();
        if (!mismatch.isEmpty())
            QCOMPARE(settings.mismatch, mismatch);
        QCOMPARE(settings.mismatch.isEmpty(), !seen.startsWith("190 COM2") || contents.isEmpty());
        QVERIFY(settings.mismatch.isEmpty() ||
                settings.mismatch.contains(QStringLiteral(" line %1 ").arg(settings.mismatchLine)));
    }

    // The file it had is kept beside it; a failed copy leaves settings.cfg as it was.
    void savedOverTheOldFile()
    {
        const QByteArray old = files::settings(eightProbes, "40");
        const QByteArray next = settingswriter::record("COM2", {1, 2}, 40);
        QVERIFY(!settingswriter::save(next));
        QVERIFY(!QFile::exists(QStringLiteral("settings.cfg.bak")));
        QVERIFY(files::write(QStringLiteral("settings.cfg"), old));
        QVERIFY(!settingswriter::save(next));
        QCOMPARE(files::read(QStringLiteral("settings.cfg")), next);
        QCOMPARE(files::read(QStringLiteral("settings.cfg.bak")), old);

        QVERIFY(QFile::remove(QStringLiteral("settings.cfg.bak")));
        QVERIFY(QDir().mkdir(QStringLiteral("settings.cfg.bak")));
        const std::optional<QString> error = settingswriter::save(old);
        QVERIFY(error && error->startsWith(QStringLiteral("settings.cfg.bak: ")));
        QCOMPARE(files::read(QStringLiteral("settings.cfg")), next);
        QVERIFY(QDir().rmdir(QStringLiteral("settings.cfg.bak")));
    }

    void unusualFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("seen");
        QTest::newRow("read-only") << "read-only"
                                   << "40 COM3 " + allEight + " 0";
        QTest::newRow("unreadable") << "unreadable" << QByteArray("190 COM2 - 0");
        QTest::newRow("a directory") << "directory" << QByteArray("190 COM2 - 0");
        QTest::newRow("a named pipe") << "pipe" << QByteArray("190 COM2 - 0");
    }

    // A file the operator may not write (write-protected by the plant's IT) is still read; one
    // that cannot be read gives the defaults, quickly. Either way the file is left as it was.
    void unusualFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, seen);
        const QString path = QStringLiteral("settings.cfg");
        const QByteArray contents = files::settings(eightProbes, "40");
        if (kind == "directory")
            QVERIFY(QDir().mkdir(path));
        else if (kind == "pipe")
            QCOMPARE(::mkfifo(qPrintable(path), 0644), 0);
        else
            QVERIFY(files::write(path, contents));
        if (kind == "read-only" || kind == "unreadable")
            QVERIFY(QFile::setPermissions(
                path, kind == "read-only" ? QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther
                                          : QFile::Permissions()));

        // The readers in a child without privileges (root may read anything), bounded in time:
        // a reader stuck on a named pipe must show as a failure, not a hang.
        int exitCode = 0;
        const QByteArray result = runSelf({QStringLiteral("--describe")}, 2000, exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(result, seen);
        QCOMPARE(QFileInfo(path).isDir(), kind == "directory");
        if (kind != "directory" && kind != "pipe") {
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
            QCOMPARE(files::read(path), contents);
        }
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--describe") == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 1;
        const QByteArray seen = describe();
        std::fwrite(seen.constData(), 1, size_t(seen.size()), stdout);
        std::fflush(stdout);
        // Without privileges the leak checker of a sanitizer build may not trace this process.
        ::_exit(0);
    }
    QCoreApplication app(argc, argv);
    TestSettings test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_settings.moc"
