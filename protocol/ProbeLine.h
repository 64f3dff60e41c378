#pragma once

#include <cstdint>

// The probe line's fixed figures. The window, t7r-cli, the tools and the benchmarks all drive
// the same line, so each figure is written here and nowhere else.
namespace probeline {

// The probes speak 8N1 at this speed only.
constexpr int32_t baudRate = 460800;

// One panel per probe; the window, settings.cfg and the records hold this many.
constexpr int probeCount = 8;

// Milliseconds between the all-probe operations' commands when settings.cfg gives no delay.
constexpr int32_t defaultDelayMs = 190;

// How long a probe has to answer before the exchange counts as unanswered: the request and a
// result take about 0.5 ms on the line at 460800 baud, USB adapters hold received bytes for up
// to 16 ms (the FTDI latency timer), and the probe needs a few milliseconds to turn round.
constexpr int answerTimeLimitMs = 40;

// Past the answer time limit: the engine reports every request within it, so only a line that
// takes no requests at all (the port closed under it) keeps a request waiting this much longer.
constexpr int watchdogMarginMs = 1000;

}  // namespace probeline
