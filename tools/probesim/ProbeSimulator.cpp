#include "ProbeSimulator.h"

namespace probesim {

ProbeSimulator::ProbeSimulator(uint32_t seed) : probes(seed), plan(seed), line(&probes, &plan) {}

ProbeSimulator::~ProbeSimulator()
{
    close();
}

bool ProbeSimulator::openPseudoTerminal(bool holdSlave)
{
    close();
    if (!terminal.open(holdSlave)) {
        error = terminal.errorString();
        return false;
    }
    path = terminal.slavePath();
    line.attach(terminal.masterFd());
    return true;
}

bool ProbeSimulator::openDevice(const QString &devicePath)
{
    close();
    if (!device.open(devicePath)) {
        error = device.errorString();
        return false;
    }
    path = devicePath;
    line.attach(device.fd());
    return true;
}

void ProbeSimulator::close()
{
    line.detach();
    terminal.close();
    device.close();
    path.clear();
}

void ProbeSimulator::pullDevice()
{
    line.detach();
    terminal.closeMaster();
    device.close();
}

}  // namespace probesim
