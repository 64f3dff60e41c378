#pragma once

#include "AdapterLatency.h"
#include "CapturingLog.h"
#include "Trace.h"
#include "probesim/ProbeSimulator.h"
#include "protocol/OstraCommands.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>
#include <QtTest>

// The device layer on a real serial port: a QSerialPort at the bus's 460800 baud on a simulated
// probe bus, the commands writing into a capturing log.
class CommandRig
{
public:
    CommandRig() : commands(&port, &log) {}

    bool open()
    {
        adapter::makeRealistic(simulator);
        if (!simulator.openPseudoTerminal())
            return false;
        port.setPortName(simulator.portPath());
        port.setBaudRate(460800);
        return port.open(QIODevice::ReadWrite);
    }

    // Runs `command` on the commands once the engine's gap since the previous transmission is
    // over: the gap is one for the whole process, so it spans test functions too.
    template <typename Command>
    bool send(Command command)
    {
        if (lastSent.isValid() && !waitUntil([]() { return lastSent.hasExpired(5); }))
            return false;
        command(commands);
        lastSent.start();
        return true;
    }

    bool waitForLines(int count)
    {
        return waitUntil([this, count]() { return log.lines.size() >= count; });
    }

    // Like QTest::qWaitFor, but looks again within a millisecond rather than ten: the device
    // layer's pace must not be lost in the test's.
    template <typename Condition>
    static bool waitUntil(Condition done)
    {
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.start(1);
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.hasExpired(2000))
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    probesim::ProbeSimulator simulator;
    QSerialPort port;
    CapturingLog log;
    OstraCommands commands;

private:
    // hasExpired(5) holds from 6 ms on, when the engine's whole-millisecond clock has surely
    // counted its 5 ms gap.
    static inline QElapsedTimer lastSent;
};
