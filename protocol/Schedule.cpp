#include "protocol/Schedule.h"

#include <algorithm>
#include <climits>

namespace schedule {

namespace {

uint64_t unsignedDelay(int32_t delay)
{
    return uint32_t(delay);
}

uint64_t unsignedPosition(int position)
{
    return uint64_t(std::max(position, 0));
}

int clamped(uint64_t milliseconds)
{
    return int(std::min<uint64_t>(milliseconds, INT_MAX));
}

}  // namespace

int commandInterval(int32_t delay, int position)
{
    return clamped(unsignedDelay(delay) * unsignedPosition(position));
}

// Halving the tripled sum truncates exactly as 1.5 · x + 1.5 · y would; the largest sum,
// 3 · (2^32 - 1) · 15, is far inside 64 bits.
int measurementStartInterval(int32_t delay, int position)
{
    return clamped(3 * unsignedDelay(delay) * unsignedPosition(position) / 2);
}

int resultWait(int32_t delay)
{
    return clamped(12 * unsignedDelay(delay));
}

int measurementResultInterval(int32_t delay, int position)
{
    const uint64_t step = 3 * unsignedDelay(delay);
    return clamped((step * unsignedPosition(position) + step * 8) / 2);
}

}  // namespace schedule
