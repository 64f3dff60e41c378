#pragma once

#include "logging/ILog.h"
#include "logging/SysTime.h"
#include "protocol/ExchangeOutcome.h"
#include "protocol/Frames.h"
#include "protocol/ProbeLine.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QSerialPort;

using ResponseHandler = std::function<void(QByteArray)>;

// The probes' device layer: the eight commands, one request at a time on the port, every
// outcome in the log and measurement results as a signal. It knows nothing of widgets.
class OstraCommands : public QObject
{
    Q_OBJECT

public:
    // Kept in the published interface with its meta-type; no command fills or reads its fields.
#pragma pack(push, 1)
    struct Config
    {
        uint8_t first = 1;
        uint16_t second = 1000;
        uint8_t third = 1;
        uint32_t rest = 0;
    };
#pragma pack(pop)

    OstraCommands(QSerialPort *port, m::ifc::ILog *log);

    // The gap the engine leaves after a request of `command` before it lets the next one go.
    static uint32_t gapAfter(frames::Command command);
    // Tests change it: those that speak for the probe by hand, slower than a probe would,
    // lengthen it; those that scan the whole line, which waits it out at every silent address,
    // shorten it.
    void setAnswerTimeLimit(int ms)
    {
        answerLimitMs = ms;
    }
    int answerTimeLimit() const
    {
        return answerLimitMs;
    }

    // Requests are numbered as they are issued, refused ones included. A caller that issues a
    // command reads the number it will get before, or the one it got after, the call.
    uint64_t nextSequence() const
    {
        return lastSequence + 1;
    }
    uint64_t lastIssued() const
    {
        return lastSequence;
    }
    // Milliseconds before the engine's gap lets the next request go; 0 when it would go now.
    int gapRemainingMs();

    // Every command goes out this way: its log line, its frame, its judge. `um` is the
    // thickness a measure point carries; the memory test goes to its own address whatever
    // `addr` says.
    void issue(frames::Command command, uint8_t addr, float um = 0);

    void updateAirCode(uint8_t addr)
    {
        issue(frames::Command::UpdateAirCode, addr);
    }
    void checkAirCode(uint8_t addr)
    {
        issue(frames::Command::CheckAirCode, addr);
    }
    void startMeasurement(uint8_t addr)
    {
        issue(frames::Command::StartMeasurement, addr);
    }
    void getMeasurementResult(uint8_t addr)
    {
        issue(frames::Command::GetMeasurementResult, addr);
    }
    void setZeroPoint(uint8_t addr)
    {
        issue(frames::Command::SetZeroPoint, addr);
    }
    void setMeasurePoint(uint8_t addr, float um)
    {
        issue(frames::Command::SetMeasurePoint, addr, um);
    }
    void resetCalibration(uint8_t addr)
    {
        issue(frames::Command::ResetCalibration, addr);
    }
    void testMem()
    {
        issue(frames::Command::TestMem, frames::testMemAddress);
    }

    // Judges one answer to `command` and reports it: the log, and for a result the signal.
    void handleResponse(frames::Command command, const QByteArray &response);

    void sendRequest(std::vector<uint8_t> packet, uint32_t expectedRxSize, ResponseHandler handler);

signals:
    // These three stay in the published interface, never emitted: no command returns such data.
    void integrals_Signal(std::vector<uint32_t> vec);
    void devAddr_Signal(uint8_t addr);
    void getConfig_Signal(OstraCommands::Config cfg);
    void newMeasurement_Signal(uint8_t addr, float um, float um_calib, uint8_t quality);
    // Once for every request tried on an open port, after its log lines; an answer that comes
    // after its exchange was reported unanswered is still delivered and reported again.
    void exchangeFinished_Signal(const ExchangeOutcome &outcome);

private:
    // One request in flight: what the two port callbacks and the time limit share.
    struct Exchange
    {
        std::vector<uint8_t> packet;
        uint32_t expectedRxSize;
        ResponseHandler handler;
        uint64_t sequence = 0;
        bool transmitted = false;
        // The answer being handed on now belongs to an earlier request.
        bool deliveringLate = false;
        bool answered = false;
        bool reportedUnanswered = false;
    };

    // One row per command: the log's line when it is issued, the line when the probe took it,
    // and how its answer is judged.
    struct CommandRow
    {
        frames::Command command;
        const char *commandLine;
        const char *successLine;
        ExchangeOutcome (OstraCommands::*judge)(const QByteArray &response,
                                                const char *successLine);
    };
    static const CommandRow *rowOf(frames::Command command);

    void deliverAnswer(Exchange &exchange);
    ExchangeOutcome judge(frames::Command command, const QByteArray &response);
    ExchangeOutcome judgeAcknowledge(const QByteArray &response, const char *successLine);
    ExchangeOutcome judgeResult(const QByteArray &response, const char *successLine);
    ExchangeOutcome judgeTestMem(const QByteArray &response, const char *successLine);
    bool hasExpectedFrame(const QByteArray &response, uint32_t expectedSize,
                          ExchangeOutcome &outcome);
    bool reportedDeviceError(const QByteArray &response, ExchangeOutcome &outcome);
    bool gapIsOver();
    void answerTimeLimitPassed();
    void reportUnanswered();
    void finish(const std::vector<uint8_t> &packet, uint64_t sequence, ExchangeOutcome outcome);
    bool isLate(const Exchange &exchange, const QByteArray &answer) const;
    void write(const char *line);

    QSerialPort *port;
    m::ifc::ILog *log;
    SysTime time;
    std::shared_ptr<Exchange> current;
    QTimer answerTimer;
    int answerLimitMs = probeline::answerTimeLimitMs;
    bool answerGraceGiven = false;
    uint64_t lastSequence = 0;
    // The number sendRequest gives the request it is handed.
    uint64_t sendingSequence = 0;
};

Q_DECLARE_METATYPE(OstraCommands::Config)
