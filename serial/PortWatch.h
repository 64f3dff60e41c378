#pragma once

#include <QStringList>

// Tells the port poll when enumerating the serial ports is worth its cost. Enumeration walks
// every terminal of the machine (about 10 ms of CPU on Linux, twice a second); a listing of the
// device folders costs about 0.1 ms and changes whenever a port comes or goes. Where no such
// folders exist (Windows) every poll enumerates.
class PortWatch
{
public:
    bool mayHaveChanged();

private:
    static QStringList deviceFolders();

    QStringList lastFolders;
    int quietPolls = 0;
};
