#include "console/RecordsFolder.h"

#include <cstdio>

RecordsFolder::RecordsFolder() = default;

void RecordsFolder::append(const MeasurementRecord &record)
{
    records::Record line = records::makeRecord(record.time, {record.channel}, record.address,
                                               record.rawUm, record.calibratedUm, record.quality);
    quality::ChannelLimits limits;
    if (record.channel >= 1 && record.channel <= records::channelCount)
        limits[size_t(record.channel - 1)] = record.limits;
    quality::judge(line, limits);
    writer.append(line);
}

void RecordsFolder::ErrorLog::write(uint32_t level, std::string_view text)
{
    if (level == 0)
        std::fprintf(stderr, "t7r-cli: %.*s\n", int(text.size()), text.data());
}
