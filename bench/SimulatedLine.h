#pragma once

#include <QSemaphore>
#include <QString>
#include <QThread>

#include <cstdint>
#include <mutex>
#include <vector>

namespace bench {

// A request as it reached the far end of the line.
struct LineRequest
{
    uint8_t code = 0;
    uint8_t address = 0;
    // Steady clock, microseconds, when its last byte was read.
    qint64 timeUs = 0;
};

// An answer as it left the far end of the line.
struct LineAnswer
{
    uint8_t code = 0;
    uint8_t address = 0;
    int size = 0;
    // Steady clock, microseconds, when its last byte was written.
    qint64 finishedUs = 0;
};

// What the line saw between two calls of SimulatedLine::take().
struct LineTraffic
{
    std::vector<LineRequest> requests;
    std::vector<LineAnswer> answers;
};

// Probes on a pseudo-terminal, served on a thread of their own: the stamps are taken when the
// bytes really cross the line, however busy the tool's thread is.
class SimulatedLine : public QThread
{
public:
    explicit SimulatedLine(std::vector<uint8_t> addresses);
    ~SimulatedLine() override;

    // Every answer `fixedMs` plus up to `jitterMs` late, as a USB adapter holds it; before open().
    void setLatency(int fixedMs, int jitterMs = 0)
    {
        latencyMs = fixedMs;
        latencyJitterMs = jitterMs;
    }
    int latency() const { return latencyMs; }

    // Starts the thread and waits until the port exists.
    bool open();
    QString portPath() const { return path; }
    QString errorString() const { return error; }
    // Whether the probes run at real-time priority, ahead of the machine's other work.
    bool isRealTime() const { return realTime; }

    // The traffic recorded so far; recording starts afresh.
    LineTraffic take();
    int requestCount() const;

protected:
    void run() override;

private:
    std::vector<uint8_t> addresses;
    QString path;
    QString error;
    bool opened = false;
    bool realTime = false;
    int latencyMs = 0;
    int latencyJitterMs = 0;
    QSemaphore started;

    mutable std::mutex mutex;
    LineTraffic traffic;
};

}  // namespace bench
