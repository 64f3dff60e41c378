#pragma once

#include "quality/Limits.h"

#include <QDateTime>
#include <QVector>

#include <cstdint>

// Where a measurement goes besides the output, when the operator asks for records: the records
// folder's writer stands behind it.
struct MeasurementRecord
{
    QDateTime time;
    // The channels (1 to 8) whose probe line of settings.cfg holds the address, as the window
    // numbers its panels; none for an address that no line holds.
    QVector<int> channels;
    uint8_t address = 0;
    float rawUm = 0;
    float calibratedUm = 0;
    uint8_t quality = 0;
    // With --limits; the record gets its verdict from its first channel's.
    quality::ChannelLimits limits{};
};

class RecordSink
{
public:
    virtual ~RecordSink() = default;
    // False when the record could not be kept.
    virtual bool append(const MeasurementRecord &record) = 0;
};
