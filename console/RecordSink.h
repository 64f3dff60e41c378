#pragma once

#include "records/Record.h"

// Where a measurement goes besides the output, when the operator asks for records: the records
// folder's writer stands behind it.
class RecordSink
{
public:
    virtual ~RecordSink() = default;
    // False when the record could not be kept.
    virtual bool append(const records::Record &record) = 0;
};
