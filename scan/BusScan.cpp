#include "scan/BusScan.h"

#include <algorithm>

using frames::Command;
using Status = ExchangeOutcome::Status;

namespace {

// A refusal by the gap rule means some other request had the line just then; it says nothing
// about the probe, so it does not use up an attempt, but a line that refuses every time must
// not hold the scan for ever.
constexpr int maxRefusals = 10;

// The engine reports every request within its answer time limit; this only catches a line that
// stopped taking requests at all (the port was closed under the scan).
constexpr int watchdogMs = OstraCommands::answerTimeLimitMs + 1000;

}  // namespace

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

BusScan::BusScan(OstraCommands *commands, QObject *parent) : QObject(parent), commands(commands)
{
    nextTimer.setSingleShot(true);
    nextTimer.setTimerType(Qt::PreciseTimer);
    connect(&nextTimer, &QTimer::timeout, this, &BusScan::askNext);
    watchdog.setSingleShot(true);
    watchdog.setInterval(watchdogMs);
    connect(&watchdog, &QTimer::timeout, this, [this] { end(false); });
    connect(commands, &OstraCommands::exchangeFinished_Signal, this, &BusScan::outcomeArrived);
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
    refusals.fill(0);
    answered.clear();
    asking.reset();
    done = 0;
    retryCount = 0;
    emit progress(0, total);
    nextTimer.start(0);
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
    sentAt.start();
    watchdog.start();
    // A refused request is reported from inside this call.
    commands->checkAirCode(address);
    // Timed from after the engine's own stamp, so that waiting out the gap on this clock
    // waits it out on the engine's too.
    if (asking)
        sentAt.start();
}

void BusScan::outcomeArrived(const ExchangeOutcome &outcome)
{
    if (!running || outcome.command != probeCommand())
        return;
    const uint8_t address = outcome.address;
    const bool current = asking && *asking == address;
    const bool wellFormed =
        (outcome.status == Status::Ok || outcome.status == Status::DeviceError) &&
        outcome.answer.size() > 1;

    if (wellFormed) {
        // Answers are cut by length alone: one that comes after its own exchange was given up
        // lands in a later one and names its real sender in the address byte.
        const uint8_t responder = uint8_t(outcome.answer[1]);
        if (responder == address) {
            if (!answered.count(address)) {
                answered.emplace(address, outcome);
                emit probeFound(outcome);
            }
        } else {
            if (!answered.count(responder) &&
                std::find(queue.begin(), queue.end(), responder) == queue.end())
                askAgain(responder, QStringLiteral("Late answer"));
            if (current && !answered.count(address))
                askAgain(address, QStringLiteral("Answer from another address"));
        }
    } else if (current && outcome.status == Status::BadAnswer) {
        askAgain(address, outcome.detail);
    } else if (current && outcome.status == Status::NotSent) {
        if (++refusals[address] <= maxRefusals) {
            queue.push_front(address);
            ++retryCount;
            emit retrying(address, outcome.detail);
        } else {
            silent.push_back(address);
        }
    } else if (current && outcome.status == Status::NoResponse) {
        if (!answered.count(address) &&
            std::find(silent.begin(), silent.end(), address) == silent.end())
            silent.push_back(address);
    }

    if (current) {
        asking.reset();
        watchdog.stop();
        ++done;
        emit progress(done, std::max(done + int(queue.size()), total));
        scheduleNext();
    }
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

// The outcome of a silent address comes at the answer time limit; an answered one comes
// early, and then only the engine's gap holds the next request back.
void BusScan::scheduleNext()
{
    const qint64 gapEnd = qint64(OstraCommands::gapAfter(probeCommand()));
    nextTimer.start(int(std::max<qint64>(0, gapEnd - sentAt.elapsed())));
}

void BusScan::end(bool completed)
{
    if (!running)
        return;
    running = false;
    nextTimer.stop();
    watchdog.stop();
    asking.reset();
    emit finished(completed);
}
