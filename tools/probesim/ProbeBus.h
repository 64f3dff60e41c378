#pragma once

#include "Faults.h"
#include "ProbeRequest.h"
#include "RequestFramer.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <random>
#include <vector>

class QSocketNotifier;

namespace probesim {

class ProbeModel;

// One request and what became of it.
struct Exchange
{
    enum class Outcome {
        Answered,
        // Nothing listens at the address.
        NoDevice,
        // Bad hash or unknown command: no probe would answer it.
        Rejected,
        // A device would have answered, the fault plan kept it silent.
        Silenced,
    };

    ProbeRequest request;
    Outcome outcome = Outcome::Answered;
    Fault fault = Fault::None;
    // The device's answer as it made it, before any fault.
    QByteArray frame;
    // Everything that went on the line for this request, garbage and repeats included.
    QByteArray written;
    int wellFormedFrames = 0;
    // Steady clock, microseconds, when the last byte was handed to the line.
    qint64 finishedUs = 0;
};

// Serves the probe bus on a line descriptor from the caller's event loop: frames requests,
// lets the model answer them and puts the answers on the line, shaped by the fault plan.
class ProbeBus : public QObject
{
    Q_OBJECT

public:
    ProbeBus(ProbeModel *model, FaultPlan *faults, QObject *parent = nullptr);
    ~ProbeBus() override;

    // Starts serving on `fd` (not owned; must be non-blocking). Answers still on their way
    // from an earlier line are dropped.
    void attach(int fd);
    void detach();
    bool isAttached() const { return fd >= 0; }

    // What a USB adapter adds to every answer: a fixed delay plus up to `jitterMs` more, drawn
    // per answer. A fault's own pauses come on top.
    void setLatency(int fixedMs, int jitterMs);
    int latencyMs() const { return latencyFixedMs; }
    int jitterMs() const { return latencyJitterMs; }

    // Arbitrary bytes straight onto the line, after whatever is already queued.
    void writeRaw(const QByteArray &bytes);

    // Every request frame received since the last clear, valid or not.
    const std::vector<ProbeRequest> &requests() const { return received; }
    void clearRequests() { received.clear(); }
    // A long soak need not keep every request.
    void setRecordRequests(bool record) { recording = record; }

    int answersWritten() const { return answers; }
    int wellFormedAnswers() const { return wellFormed; }
    int skippedBytes() const { return framer.skippedBytes(); }

signals:
    void requestReceived(const probesim::ProbeRequest &request);
    void exchangeFinished(const probesim::Exchange &exchange);
    void lineFailed(const QString &message);

private:
    void readLine();
    void serve(const ProbeRequest &request);
    void schedule(std::shared_ptr<Exchange> exchange,
                  std::shared_ptr<std::vector<Transmission>> pieces, size_t index);
    void transmit(std::shared_ptr<Exchange> exchange,
                  std::shared_ptr<std::vector<Transmission>> pieces, size_t index);
    void finish(Exchange &exchange);
    int drawLatency();
    void flush();
    void writeFailed(int error);

    ProbeModel *model;
    FaultPlan *faults;
    int fd = -1;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    QTimer readRetry;
    RequestFramer framer;
    QByteArray outgoing;
    std::vector<ProbeRequest> received;
    bool recording = true;
    // Advanced on every attach and detach, so answers timed for an old line stay off the new.
    unsigned generation = 0;
    int answers = 0;
    int wellFormed = 0;
    int latencyFixedMs = 0;
    int latencyJitterMs = 0;
    qint64 lastAnswerDueMs = 0;
    std::mt19937 latencyRandom{1};
};

}  // namespace probesim

Q_DECLARE_METATYPE(probesim::Exchange)
