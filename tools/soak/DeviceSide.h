#pragma once

#include "SoakOptions.h"

#include "logging/FileLog.h"
#include "probesim/ProbeSimulator.h"
#include "protocol/OstraCommands.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <functional>
#include <map>

// Passes every line on to the file log and counts the answers it reports, so the soak knows
// when an answer has been dealt with without reading the file back.
class CountingLog : public m::ifc::ILog
{
public:
    explicit CountingLog(m::ifc::ILog *next) : next(next) {}
    void write(uint32_t level, std::string_view text) override;

    int receptions = 0;
    int wellFormed = 0;
    int notSent = 0;

private:
    m::ifc::ILog *next;
};

// The device layer as the tool runs it (a QSerialPort, the file log, OstraCommands) against
// the simulated probes on a pseudo-terminal, one transaction after another. Prints its figures
// as key=value lines on standard output.
class DeviceSide
{
public:
    explicit DeviceSide(const SoakOptions &options);
    // Non-zero when the line cannot be set up.
    int run();

private:
    // Returns the size of the answer the command expects.
    uint32_t issue(int transaction);
    // Runs the event loop until `done` holds or the steady clock passes `deadlineNs`.
    bool waitUntil(const std::function<bool()> &done, qint64 deadlineNs);
    void checkMeasurement(uint8_t addr, float raw, float calibrated, uint8_t quality);
    void report();

    SoakOptions options;
    probesim::ProbeSimulator simulator;
    QSerialPort port;
    FileLog fileLog;
    CountingLog log;
    OstraCommands commands;
    QElapsedTimer clock;

    int exchanges = 0;
    // Bytes the probe put on the line for the latest request.
    int lastWritten = 0;
    std::map<probesim::Fault, int> faults;
    int unanswered = 0;
    // Requests whose answer was not all in and dealt with within the time-out.
    int unsettled = 0;
    int measurements = 0;
    int wrongValues = 0;
    qint64 rssStartKiB = 0;
    qint64 rssWarmKiB = 0;
    qint64 rssEndKiB = 0;
    qint64 cpuUs = 0;
    qint64 wallMs = 0;
};
