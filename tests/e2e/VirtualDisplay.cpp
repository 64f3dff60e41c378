#include "VirtualDisplay.h"

#include <QByteArray>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>

// Last: Xlib's macros (None, Bool, Status) clash with everything else.
#include <X11/Xlib.h>

VirtualDisplay::~VirtualDisplay()
{
    // Asked rather than killed, so that the server removes its socket and lock file.
    if (server > 0 && ::kill(server, SIGTERM) == 0)
        ::waitpid(server, nullptr, 0);
}

bool VirtualDisplay::start(QString *error, const QByteArray &screen)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0 || (server = ::fork()) < 0) {
        *error = QStringLiteral("no Xvfb: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (server == 0) {
        // Dies with the test; writes its display number to the descriptor once it takes
        // clients.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const QByteArray fd = QByteArray::number(::dup(channel[1]));
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", screen.constData(),
                 "-dpi", "96", "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(channel[1]);
    QByteArray number;
    pollfd readable = {channel[0], POLLIN, 0};
    char buffer[16];
    ssize_t got = 0;
    while (!number.endsWith('\n') && ::poll(&readable, 1, 20000) > 0 &&
           (got = ::read(channel[0], buffer, sizeof buffer)) > 0)
        number.append(buffer, int(got));
    ::close(channel[0]);
    bool ok = false;
    number = number.trimmed();
    number.toUInt(&ok);
    if (!ok)
        *error = QStringLiteral("Xvfb did not start (is the xvfb package installed?)");
    return ok && ::setenv("DISPLAY", (':' + number).constData(), 1) == 0;
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
