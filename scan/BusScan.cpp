#include "scan/BusScan.h"

#include <algorithm>

using frames::Command;
using Status = ExchangeOutcome::Status;

// Check Air Code only compares the probe's stored air reference and reports; it changes
// nothing in the probe. Update Air Code rewrites the reference, Start Measurement replaces the
// held measurement, the zero, measure-point and reset commands change the calibration, and
// the memory test always goes to address 1. Get Measurement Result changes nothing either, but
// its answer is two and a half times as long and a probe that has not measured yet answers it
// with an error status.
Command BusScan::probeCommand()
{
    return Command::CheckAirCode;
}

int BusScan::pacingMs() const
{
    return std::max(int(OstraCommands::gapAfter(probeCommand())), commands->answerTimeLimit());
}

BusScan::BusScan(OstraCommands *commands, QObject *parent)
    : QObject(parent), commands(commands), requests(commands)
{
    connect(&requests, &RequestQueue::finished, this,
            [this](uint64_t, const ExchangeOutcome &outcome) { outcomeArrived(outcome); });
    connect(&requests, &RequestQueue::lateAnswer, this, &BusScan::lateAnswer);
    connect(&requests, &RequestQueue::stalled, this, [this] { end(false); });
}

std::vector<uint8_t> BusScan::foundAddresses() const
{
    std::vector<uint8_t> addresses;
    for (const auto &entry : answered)
        addresses.push_back(entry.first);
    return addresses;
}

void BusScan::start(const std::vector<uint8_t> &addresses)
{
    if (running)
        return;
    running = true;
    cancelled = false;
    passesLeft = silentPasses;
    queue.assign(addresses.begin(), addresses.end());
    if (addresses.empty()) {
        for (int address = 0; address < addressCount; ++address)
            queue.push_back(uint8_t(address));
    }
    total = int(queue.size());
    silent.clear();
    attempts.fill(0);
    answered.clear();
    asking.reset();
    done = 0;
    retryCount = 0;
    emit progress(0, total);
    askNext();
}

// The request on the line is let finish: its answer still belongs to the scan.
void BusScan::cancel()
{
    if (!running)
        return;
    cancelled = true;
    if (!asking)
        end(false);
}

void BusScan::askNext()
{
    if (!running)
        return;
    if (cancelled) {
        end(false);
        return;
    }
    while (!queue.empty() && answered.count(queue.front()))
        queue.pop_front();
    if (queue.empty() && passesLeft > 0) {
        --passesLeft;
        for (const uint8_t address : silent) {
            if (!answered.count(address)) {
                queue.push_back(address);
                ++retryCount;
                emit retrying(address, QStringLiteral("No response"));
            }
        }
        silent.clear();
    }
    if (queue.empty()) {
        end(true);
        return;
    }
    const uint8_t address = queue.front();
    queue.pop_front();
    asking = address;
    RequestQueue::Request request;
    request.command = probeCommand();
    request.address = address;
    requests.enqueue(request);
}

// Only the outcome of the address asked comes here: the queue matches it by the request's
// number, and answers of other addresses come as late ones.
void BusScan::outcomeArrived(const ExchangeOutcome &outcome)
{
    if (!running || !asking)
        return;
    const uint8_t address = *asking;
    const bool wellFormed = outcome.status == Status::Ok || outcome.status == Status::DeviceError;
    if (wellFormed) {
        if (!answered.count(address)) {
            answered.emplace(address, outcome);
            emit probeFound(outcome);
        }
    } else if (outcome.status == Status::BadAnswer) {
        askAgain(address, outcome.detail);
    } else if (!answered.count(address) &&
               std::find(silent.begin(), silent.end(), address) == silent.end()) {
        // No response, or refused to the end: a silent address, asked again by a silent pass.
        silent.push_back(address);
    }
    asking.reset();
    ++done;
    emit progress(done, std::max(done + int(queue.size()), total));
    askNext();
}

// Answers are cut by length alone: one that comes after its own exchange was given up lands in
// a later one and names its real sender in the address byte. That sender is there.
void BusScan::lateAnswer(const ExchangeOutcome &outcome)
{
    if (!running)
        return;
    const uint8_t sender = outcome.sender;
    if (!answered.count(sender) && std::find(queue.begin(), queue.end(), sender) == queue.end() &&
        (!asking || *asking != sender))
        askAgain(sender, QStringLiteral("Late answer"));
}

void BusScan::askAgain(uint8_t address, const QString &reason)
{
    if (attempts[address] >= maxAttempts - 1)
        return;
    ++attempts[address];
    queue.push_front(address);
    ++retryCount;
    emit retrying(address, reason);
}

void BusScan::end(bool completed)
{
    if (!running)
        return;
    running = false;
    requests.clear();
    asking.reset();
    emit finished(completed);
}
