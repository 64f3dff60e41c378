#pragma once

#include <QString>

namespace probesim {

// A pseudo-terminal pair in raw mode: the simulator serves the master, the device under test
// opens the slave by its path like any serial port.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Holding a slave descriptor of our own keeps the master readable while the device under
    // test closes and reopens the port; without it the master reports EIO in between.
    bool open(bool holdSlave = true);
    void close();

    // A pulled device: the slave side errors and nothing more reaches it.
    void closeMaster();

    int masterFd() const { return master; }
    QString slavePath() const { return path; }
    QString errorString() const { return error; }

private:
    bool fail(const char *what);

    int master = -1;
    int slave = -1;
    QString path;
    QString error;
};

}  // namespace probesim
