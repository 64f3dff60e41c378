#include "PortNamespace.h"

#include "support/PrivateMounts.h"

#include <QFile>

#include <sys/stat.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace portns {

namespace {

QString failure(const QByteArray &what)
{
    return QString::fromLocal8Bit(what + ": " + QByteArray(std::strerror(errno)));
}

// Unmounts the terminal behind `target`, if one is: the name itself stays.
bool release(const QByteArray &target)
{
    struct stat node = {};
    struct stat dev = {};
    return ::stat(target.constData(), &node) != 0 || ::stat("/dev", &dev) != 0 ||
           node.st_dev == dev.st_dev || ::umount2(target.constData(), MNT_DETACH) == 0;
}

// `source` appears at `target`, an empty file made for it if there is none.
bool bindFile(const QByteArray &source, const QByteArray &target)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    return fd >= 0 && ::close(fd) == 0 &&
           ::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) == 0;
}

// The new /dev is assembled aside and then laid over the old one in a single mount, because
// the basic nodes must be taken from the old /dev while it is still visible.
QString buildDev(const QByteArray &stage)
{
    if (::mount("tmpfs", stage.constData(), "tmpfs", MS_NOSUID, "mode=755") != 0)
        return failure("mounting tmpfs on " + stage);
    for (const QByteArray node : {"null", "zero", "full", "random", "urandom", "tty"}) {
        if (::access("/dev/" + node, F_OK) == 0 && !bindFile("/dev/" + node, stage + '/' + node))
            return failure("binding /dev/" + node);
    }
    // A devpts instance of our own: its ptmx is usable by anyone, and the terminals opened in
    // here are numbered apart from the host's.
    const QByteArray pts = stage + "/pts";
    const QByteArray shm = stage + "/shm";
    if (::mkdir(pts.constData(), 0755) != 0 ||
        (::mount("devpts", pts.constData(), "devpts", MS_NOSUID | MS_NOEXEC,
                 "newinstance,ptmxmode=0666,mode=0620") != 0 &&
         ::mount("/dev/pts", pts.constData(), nullptr, MS_BIND | MS_REC, nullptr) != 0))
        return failure("mounting devpts on " + pts);
    if (::mkdir(shm.constData(), 01777) != 0 ||
        ::mount("tmpfs", shm.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        return failure("mounting tmpfs on " + shm);
    const char *const links[][2] = {{"pts/ptmx", "ptmx"},
                                    {"/proc/self/fd", "fd"},
                                    {"/proc/self/fd/0", "stdin"},
                                    {"/proc/self/fd/1", "stdout"},
                                    {"/proc/self/fd/2", "stderr"}};
    for (const auto &link : links) {
        if (::symlink(link[0], stage + '/' + link[1]) != 0)
            return failure("symlink " + stage + '/' + link[1]);
    }
    if (::mount(stage.constData(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return failure("laying the private /dev over /dev");
    return {};
}

}  // namespace

QString enter()
{
    if (!enterPrivateMounts())
        return failure("private mount namespaces are not allowed here");
    // Without /sys/class/tty the serial library enumerates by scanning /dev.
    if (::mount("tmpfs", "/sys/class", "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=755") != 0)
        return failure("hiding /sys/class");
    char stage[] = "/tmp/e2e-dev-XXXXXX";
    if (!::mkdtemp(stage))
        return failure("mkdtemp");
    const QString error = buildDev(stage);
    ::umount2(stage, MNT_DETACH);
    ::rmdir(stage);
    // The serial library puts its LCK.. files in the first writable lock directory; a private
    // one keeps the test's ports from clashing with the host's or with another test's.
    char lock[PATH_MAX];
    if (error.isEmpty() && ::realpath("/var/lock", lock) &&
        ::mount("tmpfs", lock, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=1777") != 0)
        return failure("mounting tmpfs on /var/lock");
    return error;
}

bool plug(const QString &name, const QString &devicePathOnHost, QString *error)
{
    const QByteArray target = QFile::encodeName(QStringLiteral("/dev/") + name);
    if (release(target) && bindFile(QFile::encodeName(devicePathOnHost), target))
        return true;
    *error = failure("plugging " + target);
    return false;
}

bool unplug(const QString &name, QString *error)
{
    const QByteArray target = QFile::encodeName(QStringLiteral("/dev/") + name);
    if (release(target) && (::unlink(target.constData()) == 0 || errno == ENOENT))
        return true;
    *error = failure("unplugging " + target);
    return false;
}

}  // namespace portns
