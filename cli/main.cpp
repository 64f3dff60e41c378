#include "cli/StopSignals.h"
#include "console/CommandLine.h"

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
    StopSignals stop([&commandLine] { commandLine.requestStop(); });
    return commandLine.run(QCoreApplication::arguments());
}
