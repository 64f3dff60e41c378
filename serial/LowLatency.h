#pragma once

class QSerialPort;

// USB serial adapters hold received bytes until their latency timer runs out: 16 ms by default
// on FTDI chips, which is most of a probe's answer time. Asked for low latency, the Linux
// driver sets that timer to 1 ms.
namespace lowlatency {

enum class Result {
    Granted,
    // The port does not take the request (a pseudo-terminal, a driver without it): it is used
    // as it is.
    Refused,
    // No such request on this system.
    Unsupported,
};

// Asks the open `port` for low latency.
Result request(QSerialPort &port);

// What the log says of `result`; empty where there is nothing to say.
const char *logLine(Result result);

}  // namespace lowlatency
