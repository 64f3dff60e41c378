#include "cli/StopSignals.h"
#include "console/CommandLine.h"
#include "console/RecordsFolder.h"
#include "report/ReportCommand.h"
#include "workfolder/WorkFolderLock.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

// Pages are painted with fonts, which takes a platform; the offscreen one needs no display.
int writeReport(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("t7r-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return report::run(QCoreApplication::arguments(), out, err);
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "report") == 0)
        return writeReport(argc, argv);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("t7r-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(T7R_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    console::CommandLine commandLine(out, err);
    // The records folder belongs to one copy of the tool at a time, the window's or this one's.
    // Asked for by the parser, however the option was spelt.
    WorkFolderLock folderLock;
    std::unique_ptr<RecordsFolder> records;
    commandLine.setRecordsOpener([&]() -> RecordSink * {
        if (!folderLock.tryLock()) {
            err << "t7r-cli: --records: another copy of the tool works in this folder (process "
                << folderLock.holder() << ")\n";
            err.flush();
            return nullptr;
        }
        records = std::make_unique<RecordsFolder>();
        return records.get();
    });
    StopSignals stop([&commandLine](int signal) { commandLine.requestStop(signal); });
    return commandLine.run(QCoreApplication::arguments());
}
