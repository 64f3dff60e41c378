#include "logging/SysTime.h"

#include <chrono>

namespace {

template <typename Unit>
uint32_t steadyCount()
{
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return uint32_t(uint64_t(std::chrono::duration_cast<Unit>(sinceStart).count()));
}

}  // namespace

m::TimeCount SysTime::nowUs() const
{
    return {steadyCount<std::chrono::microseconds>()};
}

m::TimeCount SysTime::nowMs() const
{
    return {steadyCount<std::chrono::milliseconds>()};
}

m::TimeCount SysTime::elapsedMs(m::TimeCount since) const
{
    return difference(nowMs(), since);
}

m::TimeCount SysTime::elapsedUs(m::TimeCount since) const
{
    return difference(nowUs(), since);
}
