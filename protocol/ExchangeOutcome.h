#pragma once

#include "protocol/Frames.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstdint>

// What became of one request, for callers that need more than the log's lines: the window's
// summaries, the bus scan and the command-line program all judge exchanges by it.
struct ExchangeOutcome
{
    enum class Status {
        Ok,
        DeviceError,  // the probe answered with an error status
        BadAnswer,    // an answer of the wrong size or with a bad hash
        NoResponse,   // no complete answer within the time limit or before the next request
        NotSent,      // refused by the gap rule
        // A well-formed answer from another address, or one after its own exchange was given
        // up: some earlier request's answer, never this request's.
        Late,
    };

    // The number the engine gave the request when it was issued, refused ones included; one
    // request may see more than one outcome (a late answer), never two requests one number.
    uint64_t sequence = 0;
    frames::Command command = frames::Command::CheckAirCode;
    uint8_t address = 0;
    // The address byte of the answer: who really spoke. Set whenever an answer was cut.
    uint8_t sender = 0;
    Status status = Status::Ok;
    // The log's own text for anything but Ok: "Busy", "Bad hash", "No response", ...
    QString detail;
    // The answer as it was cut from the line; empty without one.
    QByteArray answer;
    // A measurement result's values; set only for an Ok result.
    float raw = 0;
    float calibrated = 0;
    uint8_t quality = 0;

    bool ok() const { return status == Status::Ok; }
};

Q_DECLARE_METATYPE(ExchangeOutcome)
