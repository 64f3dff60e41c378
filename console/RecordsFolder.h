#pragma once

#include "console/RecordSink.h"
#include "logging/ILog.h"
#include "records/RecordWriter.h"

// --records: the window's record writer on the working folder's records/, one channel per row.
// Why records are not kept goes to standard error, as the window puts it in its log.
class RecordsFolder : public RecordSink
{
public:
    RecordsFolder();
    bool append(const records::Record &record) override;
    const RecordWriter &recordWriter() const { return writer; }

private:
    class ErrorLog : public m::ifc::ILog
    {
    public:
        void write(uint32_t level, std::string_view text) override;
    };

    ErrorLog errors;
    RecordWriter writer{&errors};
};
