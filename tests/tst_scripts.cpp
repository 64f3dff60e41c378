// The shell scripts we ship and run by. The desktop menu's launcher, run as installed: it sits in
// libexec/t7r-demo of a prefix with a stand-in t7r-demo in bin that prints its working directory
// and its arguments; every run has a temporary HOME and no display. And the tools' --help.
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString folderName = QStringLiteral("T7R Demo");

bool writeProgram(const QString &path, const QByteArray &text)
{
    return files::write(path, text) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup);
}

}  // namespace

class TestScripts : public QObject
{
    Q_OBJECT

    struct Run
    {
        int exitCode = -1;
        QStringList lines;  // the stand-in's output: working directory, then <argument> lines
        QByteArray errors;
    };

    QScopedPointer<QTemporaryDir> scratch;
    QString home;
    QString launcher;
    QString bareTools;  // a PATH with what the launcher needs, but no xdg-user-dir

    QProcessEnvironment environment(bool withXdgUserDir) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name :
             environment.keys().filter(QRegularExpression(QStringLiteral("^XDG_"))))
            environment.remove(name);
        environment.insert(QStringLiteral("HOME"), home);
        if (!withXdgUserDir)
            environment.insert(QStringLiteral("PATH"), bareTools);
        return environment;
    }

    Run launch(const QProcessEnvironment &environment, const QStringList &arguments = {})
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        // Wherever a menu happens to start it.
        process.setWorkingDirectory(scratch->path() + QStringLiteral("/elsewhere"));
        process.start(launcher, arguments);
        // A run that hangs or crashes is killed with the process object.
        Run run;
        if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit) {
            run.exitCode = process.exitCode();
            run.lines = QString::fromUtf8(process.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            run.errors = process.readAllStandardError();
        }
        return run;
    }

private slots:
    void init()
    {
        scratch.reset(new QTemporaryDir);
        QVERIFY(scratch->isValid());
        // Compared as the shell prints them: no symbolic link on the way.
        const QString root = QDir(scratch->path()).canonicalPath();
        home = root + QStringLiteral("/home/user");
        bareTools = root + QStringLiteral("/tools");
        const QString prefix = root + QStringLiteral("/prefix/");
        for (const QString &dir :
             {home, bareTools, prefix + QStringLiteral(LAUNCHER_DIR),
              prefix + QStringLiteral(BIN_DIR), root + QStringLiteral("/elsewhere")})
            QVERIFY(QDir().mkpath(dir));

        launcher = prefix + QStringLiteral(LAUNCHER_DIR "/t7r-demo-launcher");
        QVERIFY(writeProgram(launcher, files::read(QStringLiteral(LAUNCHER))));
        QVERIFY(
            writeProgram(prefix + QStringLiteral(BIN_DIR "/t7r-demo"),
                         "#!/bin/sh\npwd\nfor a in \"$@\"; do printf '<%s>\\n' \"$a\"; done\n"));
        for (const char *tool : {"mkdir", "readlink"}) {
            const QString path = QStandardPaths::findExecutable(QString::fromLatin1(tool));
            QVERIFY2(!path.isEmpty(), tool);
            QVERIFY(QFile::link(path, bareTools + QLatin1Char('/') + QLatin1String(tool)));
        }
    }

    void choosesTheFolder_data()
    {
        QTest::addColumn<bool>("withXdgUserDir");
        QTest::addColumn<QString>("configHome");  // XDG_CONFIG_HOME, relative to HOME; empty: unset
        QTest::addColumn<QByteArray>("userDirs");  // its user-dirs.dirs; empty: none
        // The folder's parent, relative to HOME; without user-dirs.dirs, XDG_DOCUMENTS_DIR in the
        // environment.
        QTest::addColumn<QString>("documents");

        for (const bool withXdgUserDir : {true, false}) {
            const QByteArray how = withXdgUserDir ? "xdg-user-dir: " : "its own reading: ";
            const auto row = [&](const char *name, const char *configHome, const char *userDirs,
                                 const char *documents) {
                QTest::newRow((how + name).constData())
                    << withXdgUserDir << configHome << QByteArray(userDirs) << documents;
            };
            row("no user-dirs.dirs", "", "", "");
            row("documents folder not made yet, with a space and Cyrillic", "",
                "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                "XDG_DOCUMENTS_DIR=\"$HOME/Мои документы\"\n",
                "Мои документы");
            row("documents folder disabled", "", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n", "");
            row("relative path ignored", "", "XDG_DOCUMENTS_DIR=\"Documents\"\n", "");
            row("XDG_CONFIG_HOME elsewhere", "settings", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n",
                "Papers");
            row("environment, no file", "", "", "Env");
        }
    }

    void choosesTheFolder()
    {
        QFETCH(bool, withXdgUserDir);
        QFETCH(QString, configHome);
        QFETCH(QByteArray, userDirs);
        QFETCH(QString, documents);
        if (withXdgUserDir &&
            QStandardPaths::findExecutable(QStringLiteral("xdg-user-dir")).isEmpty())
            QSKIP("xdg-user-dir is not installed (package xdg-user-dirs)");

        QProcessEnvironment environment = this->environment(withXdgUserDir);
        // A user-dirs.dirs where it is not looked for must not count.
        QVERIFY(QDir(home).mkpath(QStringLiteral(".config")));
        QVERIFY(
            files::write(home + QStringLiteral("/.config/user-dirs.dirs"),
                         configHome.isEmpty() ? userDirs : "XDG_DOCUMENTS_DIR=\"$HOME/Wrong\"\n"));
        if (!configHome.isEmpty()) {
            QVERIFY(QDir(home).mkpath(configHome));
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                               home + QLatin1Char('/') + configHome);
            QVERIFY(files::write(
                home + QLatin1Char('/') + configHome + QStringLiteral("/user-dirs.dirs"),
                userDirs));
        }
        if (userDirs.isEmpty() && !documents.isEmpty())
            environment.insert(QStringLiteral("XDG_DOCUMENTS_DIR"),
                               home + QLatin1Char('/') + documents);

        const QString expected = QDir(home).filePath(documents) + QLatin1Char('/') + folderName;
        const Run first =
            launch(environment, {QStringLiteral("--version"), QStringLiteral("two words")});
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(first.lines, QStringList() << expected << QStringLiteral("<--version>")
                                            << QStringLiteral("<two words>"));
        QVERIFY(QFileInfo(expected).isDir());

        // The second start finds the folder there and works in it, leaving what it holds alone.
        const QByteArray settings = files::settings({12, 13}, 50);
        QVERIFY(files::write(expected + QStringLiteral("/settings.cfg"), settings));
        const Run second = launch(environment);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.lines, QStringList() << expected);
        QCOMPARE(QDir(expected).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList() << QStringLiteral("settings.cfg"));
        QCOMPARE(files::read(expected + QStringLiteral("/settings.cfg")), settings);
    }

    // Without HOME, or with a file in the folder's place (root ignores permissions, but not
    // that), the tool is not started.
    void refusesWithoutAFolder()
    {
        QProcessEnvironment withoutHome = environment(false);
        withoutHome.remove(QStringLiteral("HOME"));
        const QString folder = home + QLatin1Char('/') + folderName;
        QVERIFY(files::write(folder, "not a folder"));
        for (const QProcessEnvironment &environment : {withoutHome, this->environment(false)}) {
            const Run run = launch(environment);
            QVERIFY(run.exitCode > 0);
            QVERIFY2(run.lines.isEmpty(), "the tool must not start");
            QVERIFY(run.errors.startsWith("t7r-demo: "));
        }
        QVERIFY(QFileInfo(folder).isFile());
    }

    // The tools answer --help at once: a build, minutes on a fresh machine, is no way to learn
    // how to call them. A cmake on the PATH that leaves a mark shows any build begun.
    void helpWithoutBuilding_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("option");
        for (const auto &[script, option] : {std::pair{"tools/run.sh", "--help"},
                                             {"tools/run.sh", "-h"},
                                             {"tools/package.sh", "--help"}})
            QTest::addRow("%s %s", script, option) << script << option;
    }

    void helpWithoutBuilding()
    {
        QFETCH(QString, script);
        QFETCH(QString, option);
        // Ahead of the system's on the PATH, beside the launcher's tools.
        const QString mark = scratch->filePath(QStringLiteral("built"));
        for (const char *tool : {"cmake", "cpack", "apt-get", "sudo"})
            QVERIFY(writeProgram(bareTools + QLatin1Char('/') + QLatin1String(tool),
                                 "#!/bin/sh\ntouch '" + mark.toLocal8Bit() + "'\nexit 1\n"));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), bareTools + QLatin1Char(':') +
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
