#pragma once

#include <QString>

// Whether a port that the serial library refused with a permission error is held by another
// program, judged from the port's lock file and the system's error code, never from the
// library's message: that is translated ("Устройство или ресурс занято" on a Russian desktop).
bool portHeldByAnother(const QString &portName);
