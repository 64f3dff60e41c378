#include "cli/StopSignals.h"
#include "console/CommandLine.h"
#include "console/RecordsFolder.h"
#include "workfolder/WorkFolderLock.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
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
