#pragma once

#include "protocol/ExchangeOutcome.h"
#include "protocol/Frames.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>

class OstraCommands;

// The one place that decides when the next request of an operation may go: after the previous
// one has its outcome, after the engine's gap, after the caller's pitch and, for a request tied
// to an earlier one, after its wait. The engine itself still refuses what comes too early; a
// request it refuses here (someone else had the line) is tried again, not lost.
class RequestQueue : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        frames::Command command = frames::Command::CheckAirCode;
        uint8_t address = 0;
        float um = 0;
        // The least time from the previous request's transmission to this one's.
        int pitchMs = 0;
        // A request (by its ticket) this one must wait `afterMs` for after that one went out,
        // as a result waits for its probe's measuring time.
        uint64_t after = 0;
        int afterMs = 0;
    };

    // A line that refuses every time (another operation keeps it busy) must not hold a
    // request for ever.
    static constexpr int maxRefusals = 10;

    explicit RequestQueue(OstraCommands *commands, QObject *parent = nullptr);

    // The ticket names the request in issued() and finished().
    uint64_t enqueue(const Request &request);
    // The request of `ticket` once more, ahead of the waiting ones, under a new ticket: a
    // request tied to the old one waits for the new one's transmission, as a result waits for
    // the start that the probe took last.
    uint64_t askAgain(uint64_t ticket, const Request &request);
    // Drops the waiting requests; the one on the line still gets its outcome.
    void clear();
    bool isIdle() const { return waiting.empty() && !onLine; }

signals:
    void issued(uint64_t ticket, uint64_t sequence);
    // Once per request: its answer, its error, no response, or refused to the end.
    void finished(uint64_t ticket, const ExchangeOutcome &outcome);
    // An answer of some earlier request, landed in one of this queue's exchanges.
    void lateAnswer(const ExchangeOutcome &outcome);
    // The line took a request and reported nothing, or would take none: the port is gone.
    void stalled();

private:
    struct Entry
    {
        uint64_t ticket;
        Request request;
        int refusals = 0;
    };
    struct OnLine
    {
        uint64_t ticket;
        uint64_t sequence;
    };

    void tryNext();
    void issue(Request request);
    void outcomeArrived(const ExchangeOutcome &outcome);
    void drop(uint64_t ticket);
    qint64 nowUs() const { return clock.nsecsElapsed() / 1000; }

    OstraCommands *commands;
    std::deque<Entry> waiting;
    std::optional<OnLine> onLine;
    uint64_t lastTicket = 0;
    uint64_t lastSequence = 0;
    QElapsedTimer clock;
    qint64 lastSentUs = -1;
    uint64_t lastSentSequence = 0;
    frames::Command lastSentCommand = frames::Command::CheckAirCode;
    // Transmission times of the requests that a waiting request is tied to.
    std::map<uint64_t, qint64> sentAtUs;
    QTimer nextTimer;
    QTimer watchdog;
};
