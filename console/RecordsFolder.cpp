#include "console/RecordsFolder.h"

#include <cstdio>

RecordsFolder::RecordsFolder() = default;

bool RecordsFolder::append(const MeasurementRecord &record)
{
    records::Record line = records::makeRecord(record.time, record.channels, record.address,
                                               record.rawUm, record.calibratedUm, record.quality);
    quality::judge(line, record.limits);
    return writer.append(line);
}

void RecordsFolder::ErrorLog::write(uint32_t level, std::string_view text)
{
    if (level == 0)
        std::fprintf(stderr, "t7r-cli: %.*s\n", int(text.size()), text.data());
}
