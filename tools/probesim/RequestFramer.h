#pragma once

#include "ProbeRequest.h"

#include <QByteArray>

#include <vector>

namespace probesim {

// Cuts request frames out of the byte stream the way a probe would: a frame starts with 0xF5 and
// its length follows from the command code.
class RequestFramer
{
public:
    std::vector<ProbeRequest> feed(const QByteArray &bytes, qint64 timeUs);
    void reset();

    // Bytes thrown away while looking for a start byte.
    int skippedBytes() const { return skipped; }

private:
    QByteArray buffer;
    int skipped = 0;
};

}  // namespace probesim
