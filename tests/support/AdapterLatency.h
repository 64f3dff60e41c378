#pragma once

#include "probesim/ProbeSimulator.h"

// What a USB serial adapter does to every answer: it holds received bytes until its latency
// timer runs out (16 ms is the FTDI default) or its buffer fills. A test line that answers
// within a millisecond tests the simulator, not the tool, so every rig answers 2 to 16 ms late.
namespace adapter {

constexpr int latencyMs = 2;
constexpr int jitterMs = 14;
// The FTDI chip's default latency timer: the slowest answer a working line gives.
constexpr int ftdiDefaultMs = 16;

inline void makeRealistic(probesim::ProbeSimulator &simulator)
{
    simulator.bus().setLatency(latencyMs, jitterMs);
}

}  // namespace adapter
