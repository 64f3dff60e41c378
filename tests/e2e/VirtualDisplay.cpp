#include "VirtualDisplay.h"

// Last: Xlib's macros (None, Bool, Status) clash with everything else.
#include <X11/Xlib.h>

QString VirtualDisplay::start(const QByteArray &screen)
{
    server.setStandardErrorFile(QProcess::nullDevice());
    // It writes its display number once it takes clients.
    server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", screen, "-dpi", "96",
                                          "-nolisten", "tcp", "-noreset"});
    QByteArray number;
    while (!number.endsWith('\n') && server.waitForReadyRead(20000))
        number += server.readAllStandardOutput();
    bool ok = false;
    number.trimmed().toUInt(&ok);
    if (!ok || !qputenv("DISPLAY", ':' + number.trimmed()))
        return QStringLiteral("Xvfb did not start (is the xvfb package installed?)");
    return {};
}

bool VirtualDisplay::askToClose(unsigned long window)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent event{};
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
