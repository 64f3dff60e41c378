#pragma once

#include "ChildProcess.h"

#include <QByteArray>
#include <QString>

// An X server of the test's own (Xvfb), started before the application object so that the
// test's windows and the tool's share one screen, and gone with the test.
class VirtualDisplay
{
public:
    // Starts the server on a free display number and points DISPLAY at it; `screen` is
    // Xvfb's WIDTHxHEIGHTxDEPTH. Returns why it could not, or an empty string.
    QString start(const QByteArray &screen = "1280x1024x24");

    // Asks a window to close as its close button would; an X server without a window manager
    // has no other way to do it.
    static bool askToClose(unsigned long window);

private:
    // Asked to end rather than killed, so that it removes its socket and lock file.
    ChildProcess server;
};
