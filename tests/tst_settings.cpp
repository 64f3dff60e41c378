#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

using AddressMap = std::map<uint8_t, uint8_t>;
Q_DECLARE_METATYPE(AddressMap)

namespace {

struct CountingLog : m::ifc::ILog
{
    QStringList lines;
    void write(uint32_t level, std::string_view text) override
    {
        lines << QString::number(level) + ' ' + QString::fromUtf8(text.data(), int(text.size()));
    }
};

QByteArray settingsFile(const QList<QByteArray> &probes, const QByteArray &delay,
                        const QByteArray &port = "COM3", const QByteArray &lineEnd = "\r\n")
{
    QByteArray text = "Port=" + port + lineEnd;
    for (int i = 0; i < probes.size(); ++i)
        text += "Probe" + QByteArray::number(i + 1) + '=' + probes[i] + lineEnd;
    return text + "Delay=" + delay + lineEnd;
}

const QList<QByteArray> eightProbes{"12", "13", "14", "15", "16", "17", "18", "19"};

AddressMap ordinals(const QList<int> &addresses)
{
    AddressMap map;
    for (int i = 0; i < addresses.size(); ++i)
        map[uint8_t(i)] = uint8_t(addresses[i]);
    return map;
}

}  // namespace

// settings.cfg as written by hand on a production line: the delay and the probe addresses.
class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir workDir;

    static void writeSettings(const QByteArray &contents)
    {
        QFile file(QStringLiteral("settings.cfg"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

private slots:
    void init()
    {
        QVERIFY(workDir.isValid());
        QVERIFY(QDir::setCurrent(workDir.path()));
        QFile::remove(QStringLiteral("settings.cfg"));
    }

    void files_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QString>("port");
        QTest::addColumn<AddressMap>("probeToAddr");
        QTest::addColumn<int>("badAddressLines");

        const AddressMap all = ordinals({12, 13, 14, 15, 16, 17, 18, 19});
        QTest::newRow("well formed")
            << settingsFile(eightProbes, "190") << 190 << "COM3" << all << 0;
        QTest::newRow("LF line ends")
            << settingsFile(eightProbes, "25", "COM3", "\n") << 25 << "COM3" << all << 0;
        QTest::newRow("six-letter port")
            << settingsFile(eightProbes, "40", "COM123") << 40 << "COM123" << all << 0;
        QTest::newRow("seven-letter port")
            << settingsFile(eightProbes, "40", "COM1234") << 190 << "COM2" << all << 0;
        QList<QByteArray> letters = eightProbes;
        letters[2] = "abc";
        QTest::newRow("letters in probe 3")
            << settingsFile(letters, "40") << 190 << "COM2" << ordinals({12, 13}) << 2;
        QList<QByteArray> negative = eightProbes;
        negative[0] = "-1";
        QTest::newRow("negative probe 1")
            << settingsFile(negative, "40") << 40 << "COM3" << AddressMap() << 2;
        QList<QByteArray> tooLarge = eightProbes;
        tooLarge[4] = "300";
        QTest::newRow("address above 255")
            << settingsFile(tooLarge, "40") << 40 << "COM3" << ordinals({12, 13, 14, 15}) << 2;
        QList<QByteArray> largest = eightProbes;
        largest[0] = "0";
        largest[7] = "255";
        QTest::newRow("0 and 255 are addresses") << settingsFile(largest, "40") << 40 << "COM3"
                                                 << ordinals({0, 13, 14, 15, 16, 17, 18, 255}) << 0;
        QByteArray blank = settingsFile(eightProbes, "40");
        blank.replace("Probe5", "\r\nProbe5");
        QTest::newRow("blank line after probe 4")
            << blank << 40 << "COM3" << ordinals({12, 13, 14, 15}) << 0;
        QByteArray misspelled = settingsFile(eightProbes, "40");
        misspelled.replace("Probe5=16", "Prob5=7");
        QTest::newRow("misspelled key")
            << misspelled << 190 << "COM2" << ordinals({12, 13, 14, 15, 7, 17, 18, 19}) << 0;
        QTest::newRow("fewer probes: delay read as an address")
            << settingsFile({"12", "13"}, "40") << 190 << "COM2" << ordinals({12, 13, 40}) << 0;
        QTest::newRow("empty file") << QByteArray() << 190 << "COM2" << AddressMap() << 0;
        QTest::newRow("port line only")
            << QByteArray("Port=COM3\n") << 190 << "COM2" << AddressMap() << 0;
        QTest::newRow("text after the delay")
            << settingsFile(eightProbes, "40 ms and more") << 40 << "COM3" << all << 0;
        // A negative or oversized delay would make the all-probe operations send nothing or
        // overflow their schedule: the record is unusable.
        QTest::newRow("negative delay")
            << settingsFile(eightProbes, "-5") << 190 << "COM2" << all << 0;
        QTest::newRow("delay beyond 32 bits")
            << settingsFile(eightProbes, "2147483648") << 190 << "COM2" << all << 0;
        QTest::newRow("largest delay")
            << settingsFile(eightProbes, "2147483647") << 2147483647 << "COM3" << all << 0;
        QTest::newRow("huge numbers")
            << settingsFile(QVector<QByteArray>(8, QByteArray(400, '9')).toList(),
                            QByteArray(400, '9'))
            << 190 << "COM2" << AddressMap() << 2;
        QTest::newRow("nine probe lines")
            << settingsFile(eightProbes + QList<QByteArray>{"20"}, "40") << 190 << "COM2" << all
            << 0;
        QTest::newRow("binary noise") << QByteArray("Port=\0\xff\xfe=\n=\n\x80=9\n", 17) << 190
                                      << "COM2" << AddressMap() << 2;
    }

    void files()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, delay);
        QFETCH(QString, port);
        QFETCH(AddressMap, probeToAddr);
        QFETCH(int, badAddressLines);
        writeSettings(contents);

        const Settings settings = readSettings();
        QCOMPARE(settings.delay, delay);
        QCOMPARE(settings.port, port);

        CountingLog log;
        const AddressMap addrToProbe = readAddrToProbe(&log);
        QCOMPARE(readProbeToAddr(&log), probeToAddr);
        AddressMap inverse;
        for (const auto &[ordinal, address] : probeToAddr)
            inverse[address] = uint8_t(ordinal + 1);
        QCOMPARE(addrToProbe, inverse);
        QCOMPARE(log.lines,
                 QVector<QString>(badAddressLines, QStringLiteral("0 Bad probe address")).toList());
    }

    // The later probe wins in the address-keyed map; both ordinals keep their address.
    void duplicateAddresses()
    {
        writeSettings(settingsFile({"12", "7", "12", "9", "10", "11", "13", "14"}, "40"));
        m::DummyLog log;
        QCOMPARE(readAddrToProbe(&log).at(12), uint8_t(3));
        const AddressMap byOrdinal = readProbeToAddr(&log);
        QCOMPARE(byOrdinal.at(0), uint8_t(12));
        QCOMPARE(byOrdinal.at(2), uint8_t(12));
    }

    void missingFileCreatedEmpty()
    {
        CountingLog log;
        const Settings settings = readSettings();
        QCOMPARE(settings.delay, 190);
        QCOMPARE(settings.port, QStringLiteral("COM2"));
        QVERIFY(QFile::exists(QStringLiteral("settings.cfg")));
        QCOMPARE(QFileInfo(QStringLiteral("settings.cfg")).size(), 0);
        QVERIFY(readAddrToProbe(&log).empty());
        QVERIFY(readProbeToAddr(&log).empty());
        QVERIFY(log.lines.isEmpty());
    }

    // A file the operator may not write (write-protected by the plant's IT) is still read.
    // Root may write anything, so the readers run in a child without privileges.
    void readOnlyFileStillRead()
    {
        writeSettings(settingsFile(eightProbes, "55"));
        QVERIFY(QFile::setPermissions(QStringLiteral("settings.cfg"),
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(QFile::setPermissions(workDir.path(), QFile::permissions(workDir.path()) |
                                                          QFile::ExeOther | QFile::ReadOther));
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(90);
            m::DummyLog log;
            const bool readBack = readSettings().delay == 55 && readProbeToAddr(&log).size() == 8;
            _exit(readBack ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
