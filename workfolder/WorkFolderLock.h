#pragma once

#include <QLockFile>
#include <QString>

// One running copy of the tool per working folder: the log, the settings and whatever else the
// tool keeps there belong to it. A lock left by a copy that crashed does not count.
class WorkFolderLock
{
public:
    // The lock file in `folder`; the working folder unless a test names another.
    explicit WorkFolderLock(const QString &folder = QStringLiteral("."));

    // Takes the lock without waiting; false only when another running copy holds it, and then
    // nothing is touched. A folder where no lock can be made (read-only) does not stop a start:
    // the tool could keep nothing there anyway.
    bool tryLock();

    // The holder's process id, 0 when it cannot be read.
    qint64 holder() const;

    static constexpr const char *fileName = "t7r-demo.lock";

private:
    QLockFile lock;
};
