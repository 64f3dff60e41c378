#pragma once

#include "logging/ITime.h"

// Monotonic clock: setting the wall clock cannot stretch or shorten a measured interval.
class SysTime : public m::ifc::ITime
{
public:
    m::TimeCount nowUs() const override;
    m::TimeCount nowMs() const override;
    m::TimeCount elapsedMs(m::TimeCount since) const override;
    m::TimeCount elapsedUs(m::TimeCount since) const override;

    // Unsigned difference, correct across one wrap of the 32-bit count.
    static m::TimeCount difference(m::TimeCount now, m::TimeCount since)
    {
        return {uint32_t(now.value - since.value)};
    }
};
