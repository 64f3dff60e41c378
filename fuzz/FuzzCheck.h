#pragma once

#include "logging/ILog.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A broken invariant must stop libFuzzer with the offending input saved, whatever the build type.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Keeps every line so a target can judge exactly what the code under test reported.
class RecordingLog : public m::ifc::ILog
{
public:
    void write(uint32_t level, std::string_view text) override
    {
        lines.emplace_back(level, std::string(text));
    }

    std::vector<std::pair<uint32_t, std::string>> lines;
};
