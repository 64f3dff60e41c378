#pragma once

#include "quality/Limits.h"

#include <QDateTime>

#include <cstdint>

// Where a measurement goes besides the output, when the operator asks for records: the records
// folder's writer stands behind it.
struct MeasurementRecord
{
    QDateTime time;
    // The address's place among the command's addresses, from 1: the window's panel number.
    int channel = 0;
    uint8_t address = 0;
    float rawUm = 0;
    float calibratedUm = 0;
    uint8_t quality = 0;
    // The channel's limits with --limits; the record gets its verdict from them.
    std::optional<quality::Limits> limits = std::nullopt;
};

class RecordSink
{
public:
    virtual ~RecordSink() = default;
    virtual void append(const MeasurementRecord &record) = 0;
};
