#pragma once

#include "console/Options.h"
#include "console/RecordSink.h"
#include "console/Rows.h"
#include "protocol/ExchangeOutcome.h"
#include "protocol/RequestQueue.h"
#include "quality/CalibrationJournal.h"
#include "quality/Limits.h"

#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class BusScan;
class OstraCommands;
class QSerialPort;

namespace console {

enum ExitCode {
    exitOk = 0,
    exitProbeFailed = 1,
    exitUsage = 2,
    exitPortNotOpened = 3,
    exitDeviceLost = 4,
    exitOutOfTolerance = 5,
};

// t7r-cli without its entry: parses the arguments, opens the port and drives the probes through
// the device layer, one exchange at a time, writing a row per answer.
class CommandLine : public QObject
{
    Q_OBJECT

public:
    CommandLine(QTextStream &out, QTextStream &err, QObject *parent = nullptr);
    ~CommandLine() override;

    // Opens where --records sends the measurements, called only when the arguments ask for
    // records; null refuses them (the opener has said why). Without one, --records is refused.
    void setRecordsOpener(std::function<RecordSink *()> opener) { openRecords = std::move(opener); }
    void setRecordSink(RecordSink *sink)
    {
        setRecordsOpener([sink] { return sink; });
    }

    // `arguments` as main receives them, the program's name first. Runs its own event loop and
    // returns the exit code.
    int run(const QStringList &arguments);

    // Ends the run once the exchange on the line has its outcome. A round cut short ends with
    // 128 + `signal`, as shells expect; a stop between rounds with the code the rounds earned.
    void requestStop(int signal);

signals:
    void roundFinished(int round);

private:
    // One exchange of a round; a result belongs to the start step `after`.
    struct Step
    {
        RequestQueue::Request request;
        int after = -1;
        int attempts = 0;
        // The queue's ticket of the last time it was asked, and whether that went out.
        uint64_t ticket = 0;
        bool issued = false;
        std::optional<ExchangeOutcome> outcome;
    };
    // A step whose exchange went unanswered, while its answer may still come late.
    struct Unheard
    {
        int index;
        int issuedSince = 0;
    };

    int execute(QSerialPort &port, OstraCommands &commands);
    void begin();
    void startRound();
    void ask(int index);
    void askAgain(int index);
    void requestIssued(uint64_t ticket);
    void outcomeArrived(uint64_t ticket, const ExchangeOutcome &outcome);
    void lateAnswer(const ExchangeOutcome &late);
    bool resultWent(int startIndex) const;
    void complete(int index);
    void settleUnheard();
    void stepFinished(int index);
    void roundDone();
    void nextRound();
    void writeRow(const Row &row);
    void finish(int code);
    void judge(Row &row, int channel, float calibrated);
    void journal(const Step &step, const ExchangeOutcome &outcome);
    void finishStopped();
    // 1 for a probe that failed or a record not kept, else 5 for a value out of tolerance,
    // else 0.
    int earnedCode() const;
    QVector<int> channelsOf(uint8_t address) const;
    void deviceLost(const QString &reason);

    QTextStream &out;
    QTextStream &err;
    std::function<RecordSink *()> openRecords;
    RecordSink *recordSink = nullptr;
    Options options;
    std::unique_ptr<RowWriter> writer;
    OstraCommands *commands = nullptr;
    std::unique_ptr<BusScan> scan;
    std::unique_ptr<RequestQueue> requests;
    QEventLoop loop;
    std::vector<Step> steps;
    // The step each queued request is for, by its ticket.
    std::map<uint64_t, int> tickets;
    std::vector<Unheard> unheard;
    int stepsLeft = 0;
    // Runs from a round's start for --every: the next round waits for it.
    QTimer roundTimer;
    uint64_t roundFirstTicket = 0;
    bool roundOver = false;
    int rounds = 0;
    bool stopping = false;
    bool running = false;
    bool anyFailed = false;
    bool anyOutOfTolerance = false;
    std::optional<quality::ChannelLimits> limits;
    std::unique_ptr<quality::CalibrationJournal> calibrationJournal;
    std::unique_ptr<m::ifc::ILog> journalErrors;
    bool recordsFailed = false;
    int stopSignal = 0;
    // settings.cfg's probe lines: probe (0 to 7) to address.
    std::map<uint8_t, uint8_t> probeToAddr;
};

}  // namespace console
