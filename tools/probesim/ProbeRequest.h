#pragma once

#include <QByteArray>
#include <QMetaType>

#include <cstdint>
#include <optional>

namespace probesim {

enum class RequestVerdict { Valid, BadHash, UnknownCode };

// One request frame as it came off the line.
struct ProbeRequest
{
    QByteArray bytes;
    // Steady clock, microseconds, when the frame's last byte was read.
    qint64 timeUs = 0;
    RequestVerdict verdict = RequestVerdict::Valid;

    uint8_t address() const { return uint8_t(bytes.at(1)); }
    uint8_t code() const { return uint8_t(bytes.at(2)); }
    std::optional<float> payload() const;
};

// Microseconds on the steady clock, the time base of every timestamp the simulator records.
qint64 steadyMicroseconds();

const char *commandName(uint8_t code);

}  // namespace probesim

Q_DECLARE_METATYPE(probesim::ProbeRequest)
