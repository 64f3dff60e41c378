#include "workfolder/WorkFolderLock.h"

#include <QDir>

WorkFolderLock::WorkFolderLock(const QString &folder)
    : lock(QDir(folder).filePath(QLatin1String(fileName)))
{
    // A running copy holds the lock for as long as it runs, however long that is; a crashed
    // one is recognised by its process id being gone (or taken by another program).
    lock.setStaleLockTime(0);
}

bool WorkFolderLock::tryLock()
{
    return lock.tryLock(0) || lock.error() != QLockFile::LockFailedError;
}

qint64 WorkFolderLock::holder() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    return lock.getLockInfo(&pid, &host, &application) ? pid : 0;
}
