#include "serial/LowLatency.h"

#include <QSerialPort>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace lowlatency {

Result request(QSerialPort &port)
{
#ifdef Q_OS_LINUX
    const int fd = int(port.handle());
    serial_struct settings{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return Result::Refused;
    if (settings.flags & ASYNC_LOW_LATENCY)
        return Result::Granted;
    settings.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &settings) == 0 ? Result::Granted : Result::Refused;
#else
    Q_UNUSED(port)
    return Result::Unsupported;
#endif
}

const char *logLine(Result result)
{
    switch (result) {
        case Result::Granted:
            return "Port low latency: on";
        case Result::Refused:
            return "Port low latency: refused, the port is used as it is";
        case Result::Unsupported:
            break;
    }
    return "";
}

}  // namespace lowlatency
