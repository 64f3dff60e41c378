#pragma once

#include <QSerialPort>

#include <cstdint>

// Tells a lost device from a read that found nothing, from the errors the open port reports.
//
// What Qt 5.15 reports on Linux, as seen on a pseudo-terminal:
// - A read notification that finds the input empty gives ReadError, with whatever errno was
//   left over ("Inappropriate ioctl for device"). A request's buffer clear causes this when it
//   runs between the kernel's "readable" and the port's read, as a posted event does under the
//   glib dispatcher: at most once per request, and requests are at least 5 ms apart.
// - A hung-up line (the other end of a pseudo-terminal closed; the kernel hangs a pulled USB
//   adapter's terminal up the same way) reads nothing for ever, and the port keeps listening:
//   ReadError in a tight loop, tens of thousands a second.
// - A write to a hung-up line, and a read that fails with EIO, give ResourceError. Qt stops
//   reading on it, so the port is of no more use even if the error came from a stale errno.
// So: ResourceError is a loss at once; read and write errors are a loss only when they come
// faster than requests ever could, many within a short window.
class LinkHealth
{
public:
    static constexpr int burstWindowMs = 100;
    // At most 21 requests fit in the window; a hung-up line gives hundreds within 1 ms.
    static constexpr int burstErrors = 50;

    // Takes one error report at `nowMs` (a steady millisecond clock); true once the device
    // counts as lost.
    bool lost(QSerialPort::SerialPortError error, uint32_t nowMs);

    // The port was (re)opened: nothing of an earlier line counts.
    void reset() { burstCount = 0; }

private:
    uint32_t burstStartMs = 0;
    int burstCount = 0;
};
