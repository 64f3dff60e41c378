#pragma once

#include <QtGlobal>

// This process's resident memory and CPU time, as the kernel counts them.
qint64 residentKiB();
qint64 cpuMicroseconds();
