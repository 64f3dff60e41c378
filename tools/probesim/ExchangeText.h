#pragma once

#include "ProbeBus.h"

#include <QString>

namespace probesim {

// One line for one exchange: seconds since `startUs`, the request in hex, the command and
// address, then what went back in hex with its fault and decoded status and values.
QString describeExchange(const Exchange &exchange, qint64 startUs);

}  // namespace probesim
