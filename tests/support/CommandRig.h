#pragma once

#include "CapturingLog.h"
#include "probesim/ProbeSimulator.h"
#include "protocol/OstraCommands.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

// The device layer on a real serial port: a QSerialPort at the bus's 460800 baud on a simulated
// probe bus, the commands writing into a capturing log.
class CommandRig
{
public:
    CommandRig() : commands(&port, &log) {}

    bool open()
    {
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
        QElapsedTimer &last = lastSent();
        if (last.isValid() && !QTest::qWaitFor([&last]() { return last.hasExpired(gapMs); }, 1000))
            return false;
        command(commands);
        last.start();
        return true;
    }

    bool waitForLines(int count, int timeoutMs = 2000)
    {
        return QTest::qWaitFor([this, count]() { return log.count() >= count; }, timeoutMs);
    }

    // The trace lines, spelled out here rather than taken from the code under test.
    static QString dump(const QByteArray &bytes)
    {
        return QString::fromLatin1(bytes.toHex('\'')) + QLatin1Char('\'');
    }
    static QString txLine(const QByteArray &request)
    {
        return QStringLiteral("Tx expected: %1 bytes. Transmitted: %1 bytes. Tx: 0x ")
                   .arg(request.size()) +
               dump(request);
    }
    static QString rxLine(int expected, int received, const QByteArray &answer)
    {
        return QStringLiteral("Rx expected: %1 bytes.    Received: %2 bytes. Rx: 0x ")
                   .arg(expected)
                   .arg(received) +
               dump(answer);
    }

    probesim::ProbeSimulator simulator;
    QSerialPort port;
    CapturingLog log;
    OstraCommands commands;

private:
    // hasExpired(5) holds from 6 ms on, when the engine's whole-millisecond clock has surely
    // counted its 5 ms gap.
    static constexpr int gapMs = 5;

    static QElapsedTimer &lastSent()
    {
        static QElapsedTimer timer;
        return timer;
    }
};
