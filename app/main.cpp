#include "app/OrvaUI.h"
#include "app/SecondCopy.h"
#include "ui/QtTranslation.h"
#include "workfolder/WorkFolderLock.h"

#include "Version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

QtMessageHandler qtHandler = nullptr;
bool starting = true;
QList<std::pair<QtMsgType, QString>> heldBack;

// Qt gives up on a missing display with a plugin list and advice to reinstall; an operator
// needs to know what to do instead.
void startupMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (starting) {
        if (type == QtFatalMsg) {
            std::fputs(
                "t7r-demo: no display to open the window on. Start it in a desktop session, "
                "over ssh -X, or for tests under xvfb-run -a t7r-demo.\n",
                stderr);
            std::exit(1);
        }
        // The platform's complaints while it starts; shown only if it starts after all.
        if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) {
            heldBack.append({type, message});
            return;
        }
    }
    qtHandler(type, context, message);
}

bool asksForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

// --help and --version need no display: they are answered before the window's application
// object exists.
void answerTextOptions(int argc, char *argv[])
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(T7R_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("T7R Demo: drives up to eight thickness probes on one serial line.\n"
                       "Works in the current folder: settings.cfg, log/log.txt."));
    parser.addHelpOption();
    parser.addVersionOption();
    // Qt's own options (-platform, -style, ...) are left to the window's application object.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    parser.showHelp(0);
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("t7r-demo"));
    if (asksForText(argc, argv))
        answerTextOptions(argc, argv);

    qtHandler = qInstallMessageHandler(startupMessages);
    QApplication application(argc, argv);
    starting = false;
    for (const auto &[type, message] : heldBack)
        qtHandler(type, QMessageLogContext(), message);
    heldBack.clear();
    installQtTranslations(&application);

    QCoreApplication::setApplicationVersion(QStringLiteral(T7R_VERSION));
    // Taken before the window, whose log would otherwise move the running copy's log aside.
    WorkFolderLock folderLock;
    if (!folderLock.tryLock())
        return refuseSecondCopy(QDir::currentPath(), folderLock.holder());
    OrvaUI window;
    window.show();
    return application.exec();
}
