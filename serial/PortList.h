#pragma once

#include <QStringList>

// Whether the port poll must refill the list: a port name that differs at any position (COM1
// where COM10 was) or a different count. The operator's choice survives an unchanged list.
bool portListChanged(const QStringList &known, const QStringList &current);
