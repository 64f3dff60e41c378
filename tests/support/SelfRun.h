#pragma once

#include <QCoreApplication>
#include <QProcess>

// Runs this test executable again with `arguments`, for a case that may crash or hang, or that
// changes its process for good (mounts, privileges). Returns the child's standard output if it
// ended by itself within `timeoutMs`; `exitCode` is -1 if it did not.
inline QByteArray runSelf(const QStringList &arguments, int timeoutMs, int &exitCode)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    const bool ended =
        child.waitForFinished(timeoutMs) && child.exitStatus() == QProcess::NormalExit;
    exitCode = ended ? child.exitCode() : -1;
    return ended ? child.readAllStandardOutput() : QByteArray();
}
