#pragma once

#include <cstdint>

namespace m {

// A 32-bit count of milliseconds or microseconds that wraps modulo 2^32.
struct TimeCount
{
    uint32_t value = 0;
};

namespace ifc {

// Clock for spacing transmissions; only differences of its counts carry meaning.
class ITime
{
public:
    virtual ~ITime() = default;
    virtual TimeCount nowUs() const = 0;
    virtual TimeCount nowMs() const = 0;
    virtual TimeCount elapsedMs(TimeCount since) const = 0;
    virtual TimeCount elapsedUs(TimeCount since) const = 0;
};

}  // namespace ifc
}  // namespace m
