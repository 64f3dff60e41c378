#include "serial/PortHolder.h"

#ifdef Q_OS_UNIX
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Where the serial library puts a port's lock file, LCK..<name>, in the order it looks.
QStringList lockDirectories()
{
    return {QStringLiteral("/var/lock"),
            QStringLiteral("/etc/locks"),
            QStringLiteral("/var/spool/locks"),
            QStringLiteral("/var/spool/uucp"),
            QStringLiteral("/tmp"),
            QStringLiteral("/var/tmp"),
            QStringLiteral("/var/lock/lockdev"),
            QStringLiteral("/run/lock"),
            QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
}

QString systemLocation(const QString &portName)
{
    const bool path = portName.startsWith(QLatin1Char('/')) ||
                      portName.startsWith(QLatin1String("./")) ||
                      portName.startsWith(QLatin1String("../"));
    return path ? portName : QStringLiteral("/dev/") + portName;
}

bool lockHeld(const QString &location)
{
    QString name = location;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const QString &directory : lockDirectories()) {
        const QString path = directory + QStringLiteral("/LCK..") + name;
        if (!QFileInfo::exists(path))
            continue;
        qint64 holder = 0;
        QString host, application;
        if (QLockFile(path).getLockInfo(&holder, &host, &application) && holder > 0 &&
            (::kill(pid_t(holder), 0) == 0 || errno == EPERM))
            return true;
    }
    return false;
}

}  // namespace

bool portHeldByAnother(const QString &portName)
{
    const QString location = systemLocation(portName);
    if (lockHeld(location))
        return true;
    const QByteArray path = QFile::encodeName(location);
    const int handle = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle >= 0) {
        // Open to us, refused to the library: its lock or its exclusive mode, which another
        // program held a moment ago.
        ::close(handle);
        return true;
    }
    return errno == EBUSY;
}

#else

// Windows refuses a port that another program holds with "access denied": there it means busy.
bool portHeldByAnother(const QString &)
{
    return true;
}

#endif
