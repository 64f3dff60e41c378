#include "ui/OperationRound.h"

#include <algorithm>

void OperationRound::begin(frames::Command command, const std::vector<Channel> &channels)
{
    active = !channels.empty();
    awaited = command;
    pending.assign(channels.begin(), channels.end());
    silent.clear();
}

int OperationRound::settle(const ExchangeOutcome &outcome)
{
    if (!active || outcome.command != awaited)
        return 0;
    // Two channels with one address get one request each, in channel order.
    const auto channel =
        std::find_if(pending.begin(), pending.end(),
                     [&outcome](const Channel &entry) { return entry.address == outcome.address; });
    if (channel == pending.end())
        return 0;
    const int probe = channel->probe;
    pending.erase(channel);
    if (isUnanswered(outcome.status))
        silent.push_back(probe);
    return probe;
}

std::vector<int> OperationRound::unanswered() const
{
    std::vector<int> probes = silent;
    std::sort(probes.begin(), probes.end());
    return probes;
}

// A probe that answered with an error or a spoilt frame did answer; one that was never asked
// (the gap refused the request) did not.
bool OperationRound::isUnanswered(ExchangeOutcome::Status status)
{
    return status == ExchangeOutcome::Status::NoResponse ||
           status == ExchangeOutcome::Status::NotSent;
}
