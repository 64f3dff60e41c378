#pragma once

#include "protocol/ExchangeOutcome.h"

#include <cstdint>
#include <deque>
#include <vector>

// The requests of one all-probe operation that the operator waits for, and what became of
// them: which channels did not answer, and when the round is over. Widget-free; the window
// shows the results.
class OperationRound
{
public:
    // A channel (probe number 1 to 8) and the address its request goes to.
    struct Channel
    {
        int probe;
        uint8_t address;
    };

    // Starts a round awaiting one `command` per channel, in the order they go out; an earlier
    // round is dropped, unfinished or not.
    void begin(frames::Command command, const std::vector<Channel> &channels);

    // Takes one exchange's outcome. Returns the channel it settles, or 0 when it belongs to no
    // pending request of this round (another command, a late answer, an earlier round's).
    int settle(const ExchangeOutcome &outcome);

    // Every awaited request has its outcome.
    bool finished() const { return active && pending.empty(); }
    // Channels without an answer, ascending.
    std::vector<int> unanswered() const;
    // Ends the round; what is settled stays readable.
    void end() { active = false; }

    static bool isUnanswered(ExchangeOutcome::Status status);

private:
    bool active = false;
    frames::Command awaited = frames::Command::GetMeasurementResult;
    std::deque<Channel> pending;
    std::vector<int> silent;
};
