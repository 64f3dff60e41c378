#include "serial/PortList.h"

bool portListChanged(const QStringList &known, const QStringList &current)
{
    return known != current;
}
