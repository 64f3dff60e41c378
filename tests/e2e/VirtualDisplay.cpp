#include "VirtualDisplay.h"

#include <QByteArray>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

// Last: Xlib's macros (None, Bool, Status) clash with everything else.
#include <X11/Xlib.h>

namespace {

constexpr int startTimeoutMs = 20000;

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

// The server writes its display number to the descriptor once it accepts clients.
QByteArray readDisplayNumber(int fd)
{
    QByteArray number;
    pollfd watch = {fd, POLLIN, 0};
    while (!number.endsWith('\n') && ::poll(&watch, 1, startTimeoutMs) > 0) {
        char buffer[16];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        number.append(buffer, int(got));
    }
    return number.trimmed();
}

}  // namespace

VirtualDisplay::~VirtualDisplay()
{
    stop();
}

bool VirtualDisplay::start(QString *error)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        *error = systemError("pipe");
        return false;
    }
    const pid_t parent = ::getpid();
    server = ::fork();
    if (server < 0) {
        *error = systemError("fork");
        return false;
    }
    if (server == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int displayFd = ::dup(channel[1]);
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        const QByteArray fd = QByteArray::number(displayFd);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1280x1024x24",
                 "-dpi", "96", "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(channel[1]);
    const QByteArray number = readDisplayNumber(channel[0]);
    ::close(channel[0]);
    bool ok = false;
    number.toUInt(&ok);
    if (!ok) {
        *error = QStringLiteral("Xvfb did not start (is the xvfb package installed?)");
        stop();
        return false;
    }
    ::setenv("DISPLAY", (":" + number).constData(), 1);
    return true;
}

void VirtualDisplay::stop()
{
    if (server <= 0)
        return;
    ::kill(server, SIGTERM);
    for (int waited = 0; waited < 100; ++waited) {
        if (::waitpid(server, nullptr, WNOHANG) != 0) {
            server = -1;
            return;
        }
        ::usleep(20000);
    }
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    server = -1;
}

bool VirtualDisplay::askToClose(unsigned long window)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XCloseDisplay(display);
    return sent;
}
