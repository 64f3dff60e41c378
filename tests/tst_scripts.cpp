#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The scripts answer --help at once: a build, minutes on a fresh machine, is no way to learn
// how to call them. A cmake on the PATH that leaves a mark shows any build begun.
class TestScripts : public QObject
{
    Q_OBJECT

private slots:
    void helpWithoutBuilding_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("option");
        QTest::newRow("run.sh --help") << "tools/run.sh"
                                       << "--help";
        QTest::newRow("run.sh -h") << "tools/run.sh"
                                   << "-h";
        QTest::newRow("package.sh --help") << "tools/package.sh"
                                           << "--help";
    }

    void helpWithoutBuilding()
    {
        QFETCH(QString, script);
        QFETCH(QString, option);
        QTemporaryDir bin;
        const QString mark = bin.filePath(QStringLiteral("built"));
        for (const char *tool : {"cmake", "cpack", "apt-get", "sudo"}) {
            QFile fake(bin.filePath(QString::fromLatin1(tool)));
            QVERIFY(fake.open(QIODevice::WriteOnly));
            fake.write("#!/bin/sh\ntouch '" + mark.toLocal8Bit() + "'\nexit 1\n");
            fake.close();
            QVERIFY(fake.setPermissions(fake.permissions() | QFile::ExeOwner));
        }
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), bin.path() + QLatin1Char(':') +
                                                       environment.value(QStringLiteral("PATH")));
        // Without a display run.sh would refuse before building; help needs none.
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SOURCE_DIR "/") + script, {option});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(QString::fromUtf8(process.readAllStandardOutput()).startsWith("Usage: " + script),
                 qPrintable(process.readAllStandardError()));
        QVERIFY(!QFile::exists(mark));
    }
};

QTEST_GUILESS_MAIN(TestScripts)
#include "tst_scripts.moc"
