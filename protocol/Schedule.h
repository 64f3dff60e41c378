#pragma once

#include <cstdint>

// When the all-probe operations serve each probe position, in timer milliseconds. The settings'
// delay is taken as unsigned; products are formed in 64 bits and clamped to what a QTimer
// holds, so no delay can wrap an interval round to an early or negative time.
namespace schedule {

// delay · position: one command per probe.
int commandInterval(int32_t delay, int position);

// 1.5 · delay · position: the measurement starts.
int measurementStartInterval(int32_t delay, int position);

// 12 · delay: how long a probe's result is waited for after its start.
int resultWait(int32_t delay);

// 1.5 · delay · position + 12 · delay: each result request 12 delays after its start, after
// the last start.
int measurementResultInterval(int32_t delay, int position);

}  // namespace schedule
