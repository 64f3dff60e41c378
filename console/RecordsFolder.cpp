#include "console/RecordsFolder.h"

#include <cstdio>

RecordsFolder::RecordsFolder() = default;

bool RecordsFolder::append(const records::Record &record)
{
    return writer.append(record);
}

void RecordsFolder::ErrorLog::write(uint32_t level, std::string_view text)
{
    if (level == 0)
        std::fprintf(stderr, "t7r-cli: %.*s\n", int(text.size()), text.data());
}
