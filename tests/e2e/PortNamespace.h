#pragma once

#include <QString>

// A private view of the machine's serial ports for one test process and everything it starts:
// /dev holds only the basic nodes and the ports the test plugs in, the kernel's tty class is
// hidden so that the serial library falls back to scanning /dev, and serial lock files stay
// private. The host's /dev, its ports and its lock files never see any of it.
namespace portns {

// Moves the calling process into its own mount namespace (a user namespace too when it is not
// root) and builds the private /dev. Must run before the process starts a thread. Returns why
// it could not, or an empty string.
QString enter();

// /dev/<name> becomes the terminal `devicePath`, as if an adapter had been plugged in. Plugging
// a name that is already there swaps the terminal behind it without the name ever vanishing.
bool plug(const QString &name, const QString &devicePath, QString *error);

// /dev/<name> goes away, as if the adapter had been pulled out.
bool unplug(const QString &name, QString *error);

}  // namespace portns
