#include "PortNamespace.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace portns {

namespace {

QString failure(const char *what, const QByteArray &path = {})
{
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    if (path.isEmpty())
        return QStringLiteral("%1: %2").arg(QLatin1String(what), reason);
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(what), QString::fromLocal8Bit(path), reason);
}

bool writeFile(const char *path, const QByteArray &contents)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written =
        ::write(fd, contents.constData(), size_t(contents.size())) == ssize_t(contents.size());
    ::close(fd);
    return written;
}

// An unprivileged user becomes root of a user namespace of its own, which may then mount.
QString enterNamespaces()
{
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0)
            return failure("unshare(CLONE_NEWNS)");
        return {};
    }
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return failure("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
    if (!writeFile("/proc/self/setgroups", "deny") ||
        !writeFile("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1") ||
        !writeFile("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1"))
        return failure("mapping the user namespace");
    return {};
}

QString bindNode(const QByteArray &source, const QByteArray &target)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return failure("creating", target);
    ::close(fd);
    if (::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
        return failure("binding", source);
    return {};
}

// The new /dev is assembled aside and then laid over the old one in a single mount, because
// the basic nodes must be taken from the old /dev while it is still visible.
QString buildDev(const QByteArray &stage)
{
    if (::mount("tmpfs", stage.constData(), "tmpfs", MS_NOSUID, "mode=755") != 0)
        return failure("mounting tmpfs on", stage);
    for (const char *node : {"null", "zero", "full", "random", "urandom", "tty"}) {
        const QByteArray source = QByteArray("/dev/") + node;
        if (!QFile::exists(QString::fromLatin1(source)))
            continue;
        const QString error = bindNode(source, stage + '/' + node);
        if (!error.isEmpty())
            return error;
    }
    // A devpts instance of our own: its ptmx is usable by anyone, and the terminals opened in
    // here are numbered apart from the host's.
    const QByteArray pts = stage + "/pts";
    if (::mkdir(pts.constData(), 0755) != 0)
        return failure("mkdir", pts);
    if (::mount("devpts", pts.constData(), "devpts", MS_NOSUID | MS_NOEXEC,
                "newinstance,ptmxmode=0666,mode=0620") != 0 &&
        ::mount("/dev/pts", pts.constData(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return failure("mounting devpts on", pts);
    const QByteArray shm = stage + "/shm";
    if (::mkdir(shm.constData(), 01777) != 0 ||
        ::mount("tmpfs", shm.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        return failure("mounting tmpfs on", shm);
    const struct
    {
        const char *target;
        const char *name;
    } links[] = {{"pts/ptmx", "ptmx"},
                 {"/proc/self/fd", "fd"},
                 {"/proc/self/fd/0", "stdin"},
                 {"/proc/self/fd/1", "stdout"},
                 {"/proc/self/fd/2", "stderr"}};
    for (const auto &link : links) {
        const QByteArray path = stage + '/' + link.name;
        if (::symlink(link.target, path.constData()) != 0)
            return failure("symlink", path);
    }
    if (::mount(stage.constData(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return failure("laying the private /dev over", "/dev");
    return {};
}

QString replaceDev()
{
    char stage[] = "/tmp/e2e-dev-XXXXXX";
    if (!::mkdtemp(stage))
        return failure("mkdtemp");
    const QString error = buildDev(stage);
    ::umount2(stage, MNT_DETACH);
    ::rmdir(stage);
    return error;
}

// The serial library puts its LCK.. files in the first writable lock directory; a private one
// keeps the test's ports from clashing with the host's or with another test's.
QString privateLockDirectory()
{
    char resolved[PATH_MAX];
    if (!::realpath("/var/lock", resolved))
        return {};
    if (::mount("tmpfs", resolved, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=1777") != 0)
        return failure("mounting tmpfs on", resolved);
    return {};
}

QByteArray devicePath(const QString &name)
{
    return QFile::encodeName(QStringLiteral("/dev/") + name);
}

bool isMountPoint(const QByteArray &path)
{
    struct stat node = {};
    struct stat parent = {};
    return ::stat(path.constData(), &node) == 0 && ::stat("/dev", &parent) == 0 &&
           node.st_dev != parent.st_dev;
}

}  // namespace

QString enter()
{
    QString error = enterNamespaces();
    if (!error.isEmpty())
        return QStringLiteral("private mount namespaces are not allowed here (%1)").arg(error);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failure("making the mounts private");
    // Without /sys/class/tty the serial library enumerates by scanning /dev.
    if (::mount("tmpfs", "/sys/class", "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=755") != 0)
        return failure("hiding", "/sys/class");
    error = replaceDev();
    if (error.isEmpty())
        error = privateLockDirectory();
    return error;
}

bool plug(const QString &name, const QString &devicePathOnHost, QString *error)
{
    const QByteArray target = devicePath(name);
    const QByteArray source = QFile::encodeName(devicePathOnHost);
    // Unmounting before binding leaves the empty file in place, so the name stays listed.
    if (isMountPoint(target) && ::umount2(target.constData(), MNT_DETACH) != 0) {
        *error = failure("unmounting", target);
        return false;
    }
    if (::access(target.constData(), F_OK) != 0) {
        const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            *error = failure("creating", target);
            return false;
        }
        ::close(fd);
    }
    if (::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0) {
        *error = failure("binding", source);
        return false;
    }
    return true;
}

bool unplug(const QString &name, QString *error)
{
    const QByteArray target = devicePath(name);
    if (isMountPoint(target) && ::umount2(target.constData(), MNT_DETACH) != 0) {
        *error = failure("unmounting", target);
        return false;
    }
    if (::unlink(target.constData()) != 0 && errno != ENOENT) {
        *error = failure("removing", target);
        return false;
    }
    return true;
}

}  // namespace portns
