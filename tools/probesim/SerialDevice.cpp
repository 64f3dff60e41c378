#include "SerialDevice.h"

#include "LineSettings.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace probesim {

SerialDevice::~SerialDevice()
{
    close();
}

bool SerialDevice::open(const QString &path)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    descriptor = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor >= 0 && makeRaw(descriptor))
        return true;
    error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    close();
    return false;
}

void SerialDevice::close()
{
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
}

}  // namespace probesim
