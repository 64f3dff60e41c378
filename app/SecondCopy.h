#pragma once

#include <QString>

// Tells the operator that the tool already runs in this folder: on stderr, and in a message box
// when there is a screen to show one on. Returns the exit code for the refused start.
int refuseSecondCopy(const QString &folder, qint64 holder);
