#include "protocol/RequestQueue.h"

#include "protocol/OstraCommands.h"
#include "protocol/ProbeLine.h"

#include <algorithm>

using Status = ExchangeOutcome::Status;

RequestQueue::RequestQueue(OstraCommands *commands, QObject *parent)
    : QObject(parent), commands(commands)
{
    clock.start();
    nextTimer.setSingleShot(true);
    nextTimer.setTimerType(Qt::PreciseTimer);
    connect(&nextTimer, &QTimer::timeout, this, &RequestQueue::tryNext);
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [this] {
        onLine.reset();
        emit stalled();
    });
    connect(commands, &OstraCommands::exchangeFinished_Signal, this, &RequestQueue::outcomeArrived);
}

uint64_t RequestQueue::enqueue(const Request &request)
{
    waiting.push_back({++lastTicket, request});
    if (request.after)
        sentAtUs.emplace(request.after, -1);
    if (!onLine && !nextTimer.isActive())
        nextTimer.start(0);
    return lastTicket;
}

uint64_t RequestQueue::askAgain(uint64_t ticket, const Request &request)
{
    waiting.push_front({++lastTicket, request});
    if (sentAtUs.erase(ticket)) {
        sentAtUs.emplace(lastTicket, -1);
        for (Entry &entry : waiting) {
            if (entry.request.after == ticket)
                entry.request.after = lastTicket;
        }
    }
    if (!onLine && !nextTimer.isActive())
        nextTimer.start(0);
    return lastTicket;
}

void RequestQueue::clear()
{
    waiting.clear();
    sentAtUs.clear();
    nextTimer.stop();
}

void RequestQueue::tryNext()
{
    if (onLine || waiting.empty())
        return;
    const Request &request = waiting.front().request;
    // Microseconds: the engine's clock counts whole milliseconds and could make a wait almost
    // one longer. Its word counts when another request than this queue's had the line last.
    qint64 dueUs = commands->lastIssued() == lastSentSequence
                       ? nowUs()
                       : nowUs() + qint64(commands->gapRemainingMs()) * 1000;
    if (lastSentUs >= 0) {
        const int gapMs = int(OstraCommands::gapAfter(lastSentCommand));
        dueUs = std::max(dueUs, lastSentUs + qint64(std::max(request.pitchMs, gapMs)) * 1000);
    }
    if (request.after) {
        const auto tied = sentAtUs.find(request.after);
        if (tied != sentAtUs.end() && tied->second >= 0)
            dueUs = std::max(dueUs, tied->second + qint64(request.afterMs) * 1000);
    }
    const qint64 now = nowUs();
    if (dueUs > now) {
        nextTimer.start(int((dueUs - now + 999) / 1000));
        return;
    }
    issue(request);
}

// A copy: the engine may report the request's end from inside the call.
void RequestQueue::issue(Request request)
{
    const uint64_t ticket = waiting.front().ticket;
    const uint64_t sequence = commands->nextSequence();
    onLine = OnLine{ticket, sequence};
    lastSequence = sequence;
    watchdog.start(commands->answerTimeLimit() + probeline::watchdogMarginMs);
    commands->issue(request.command, request.address, request.um);
    // A closed port takes no request and the engine says nothing of it.
    if (commands->lastIssued() < sequence) {
        watchdog.stop();
        onLine.reset();
        emit stalled();
        return;
    }
    // A refusal, or a port that closed on the write, has been handled inside the call.
    if (!onLine || onLine->sequence != sequence)
        return;
    // Stamped after the engine's own stamp, so that a pitch waited out on this clock is
    // waited out on the engine's too.
    lastSentUs = nowUs();
    lastSentSequence = sequence;
    lastSentCommand = request.command;
    if (const auto tied = sentAtUs.find(ticket); tied != sentAtUs.end())
        tied->second = lastSentUs;
    if (request.after)
        sentAtUs.erase(request.after);
    drop(ticket);
    emit issued(ticket, sequence);
}

void RequestQueue::drop(uint64_t ticket)
{
    const auto entry = std::find_if(waiting.begin(), waiting.end(),
                                    [ticket](const Entry &e) { return e.ticket == ticket; });
    if (entry != waiting.end())
        waiting.erase(entry);
}

void RequestQueue::outcomeArrived(const ExchangeOutcome &outcome)
{
    if (outcome.status == Status::Late) {
        if (outcome.sequence == lastSequence)
            emit lateAnswer(outcome);
        return;
    }
    if (!onLine || outcome.sequence != onLine->sequence)
        return;
    const uint64_t ticket = onLine->ticket;
    if (outcome.status == Status::NotSent && !waiting.empty() && waiting.front().ticket == ticket &&
        ++waiting.front().refusals <= maxRefusals) {
        onLine.reset();
        watchdog.stop();
        nextTimer.start(std::max(1, commands->gapRemainingMs()));
        return;
    }
    // Still waiting only when its outcome came from inside the engine's call.
    drop(ticket);
    onLine.reset();
    watchdog.stop();
    emit finished(ticket, outcome);
    if (!onLine && !waiting.empty() && !nextTimer.isActive())
        nextTimer.start(0);
}
