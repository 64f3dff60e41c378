#include "PseudoTerminal.h"

#include "LineSettings.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace probesim {

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(bool holdSlave)
{
    close();
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return fail("openpty");
    path = QString::fromLocal8Bit(name);
    if (!makeRaw(slave) || !makeRaw(master))
        return fail("tcsetattr");
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    if (!holdSlave) {
        ::close(slave);
        slave = -1;
    }
    return true;
}

void PseudoTerminal::close()
{
    closeMaster();
    if (slave >= 0)
        ::close(slave);
    slave = -1;
    path.clear();
}

void PseudoTerminal::closeMaster()
{
    if (master >= 0)
        ::close(master);
    master = -1;
}

bool PseudoTerminal::fail(const char *what)
{
    error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                         QString::fromLocal8Bit(std::strerror(errno)));
    close();
    return false;
}

}  // namespace probesim
