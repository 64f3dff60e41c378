#pragma once

#include "protocol/ExchangeOutcome.h"
#include "protocol/OstraCommands.h"
#include "protocol/RequestQueue.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

// Asks every address on the line whether a probe is there, one at a time, through the same
// device layer as every other command: the window and the command-line program both run it.
class BusScan : public QObject
{
    Q_OBJECT

public:
    static constexpr int addressCount = 256;
    // Asks of one address whose exchanges saw bytes but no good answer (garbage, a bad hash, a
    // cut or late answer): each such exchange means a probe is likely there.
    static constexpr int maxAttempts = 4;

    // The command the scan asks with.
    static frames::Command probeCommand();
    // How long one silent address holds the scan: a probe that answers within the answer time
    // limit must not be passed by, and the engine's gap must be over before the next request.
    int pacingMs() const;
    // The shortest a full scan of a quiet line can take.
    int floorMs() const { return addressCount * pacingMs(); }

    explicit BusScan(OstraCommands *commands, QObject *parent = nullptr);

    // A silent address looks the same as a probe whose answer was lost, so only asking again
    // tells them apart; each extra pass costs pacingMs() per silent address.
    void setSilentPasses(int passes) { silentPasses = passes < 0 ? 0 : passes; }

    // Every address, or only those given, in the order given.
    void start(const std::vector<uint8_t> &addresses = {});
    void cancel();
    bool isRunning() const { return running; }

    // Answered with a well-formed frame, by address: OK or the probe's error status.
    const std::map<uint8_t, ExchangeOutcome> &found() const { return answered; }
    std::vector<uint8_t> foundAddresses() const;
    int retries() const { return retryCount; }

signals:
    void progress(int done, int total);
    void probeFound(const ExchangeOutcome &outcome);
    void retrying(uint8_t address, const QString &reason);
    // `completed` is false when the scan was cancelled or the line stopped taking requests.
    void finished(bool completed);

private:
    void outcomeArrived(const ExchangeOutcome &outcome);
    void lateAnswer(const ExchangeOutcome &outcome);
    void askNext();
    void askAgain(uint8_t address, const QString &reason);
    void end(bool completed);

    OstraCommands *commands;
    RequestQueue requests;
    bool running = false;
    bool cancelled = false;
    int silentPasses = 0;
    int passesLeft = 0;
    std::deque<uint8_t> queue;
    std::vector<uint8_t> silent;
    std::array<int, addressCount> attempts{};
    std::map<uint8_t, ExchangeOutcome> answered;
    std::optional<uint8_t> asking;
    int done = 0;
    int total = 0;
    int retryCount = 0;
};
