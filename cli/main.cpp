#include "cli/StopSignals.h"
#include "console/CommandLine.h"
#include "console/RecordsFolder.h"
#include "workfolder/WorkFolderLock.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("t7r-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(T7R_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    console::CommandLine commandLine(out, err);
    // The records folder belongs to one copy of the tool at a time, the window's or this one's.
    WorkFolderLock folderLock;
    RecordsFolder records;
    if (QCoreApplication::arguments().contains(QStringLiteral("--records"))) {
        if (!folderLock.tryLock()) {
            err << "t7r-cli: --records: another copy of the tool works in this folder (process "
                << folderLock.holder() << ")\n";
            return console::exitUsage;
        }
        commandLine.setRecordSink(&records);
    }
    StopSignals stop([&commandLine] { commandLine.requestStop(); });
    return commandLine.run(QCoreApplication::arguments());
}
