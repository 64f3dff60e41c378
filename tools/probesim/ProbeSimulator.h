#pragma once

#include "Faults.h"
#include "ProbeBus.h"
#include "ProbeModel.h"
#include "PseudoTerminal.h"
#include "SerialDevice.h"

#include <QString>

#include <cstdint>

namespace probesim {

// The probes, their faults and the bus, served on a fresh pseudo-terminal or a serial device:
// what a test or the command-line program starts with.
class ProbeSimulator
{
public:
    explicit ProbeSimulator(uint32_t seed = 1);
    ~ProbeSimulator();

    bool openPseudoTerminal(bool holdSlave = true);
    bool openDevice(const QString &path);
    void close();

    // Unplugs the line: the port under test gets an error and the bus stops serving.
    void pullDevice();

    // What the device under test opens.
    QString portPath() const { return path; }
    // The simulator's end of the line; -1 when it serves a device.
    int lineFd() const { return terminal.masterFd(); }
    QString errorString() const { return error; }

    ProbeModel &model() { return probes; }
    FaultPlan &faults() { return plan; }
    ProbeBus &bus() { return line; }

private:
    ProbeModel probes;
    FaultPlan plan;
    PseudoTerminal terminal;
    SerialDevice device;
    ProbeBus line;
    QString path;
    QString error;
};

}  // namespace probesim
