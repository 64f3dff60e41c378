#pragma once

#include <QByteArray>
#include <QFile>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// Moves the calling process into a mount namespace of its own, so that what it mounts from here
// on is seen by it and its children alone. A process that may not make one as it is becomes
// root of a user namespace first. Must run before the process starts a thread.
inline bool enterPrivateMounts()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const QByteArray uid = QByteArray::number(::geteuid());
        const QByteArray gid = QByteArray::number(::getegid());
        // The kernel takes each of these files in a single write.
        const auto writeFile = [](const char *path, const QByteArray &text) {
            QFile file(QString::fromLatin1(path));
            return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered |
                             QIODevice::ExistingOnly) &&
                   file.write(text) == text.size();
        };
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !writeFile("/proc/self/setgroups", "deny") ||
            !writeFile("/proc/self/uid_map", "0 " + uid + " 1") ||
            !writeFile("/proc/self/gid_map", "0 " + gid + " 1"))
            return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
