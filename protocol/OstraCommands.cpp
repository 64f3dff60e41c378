#include "protocol/OstraCommands.h"

#include <QSerialPort>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

using frames::Command;

namespace {

// The line is shared by every probe, so the gap is one for the whole process. Nothing has been
// sent before the first request, so that one always goes.
struct LineGap
{
    std::optional<m::TimeCount> lastSendMs;
    uint32_t minGapMs = 500;
};

ExchangeOutcome unanswered(ExchangeOutcome::Status status, const char *detail)
{
    ExchangeOutcome outcome;
    outcome.status = status;
    outcome.detail = QLatin1String(detail);
    return outcome;
}

LineGap &lineGap()
{
    static LineGap gap;
    return gap;
}

// Time the request and its answer take on the line, plus a margin for the probe to turn round.
uint32_t gapAfter(size_t packetLength, uint32_t expectedRxSize)
{
    const float bytes = float(packetLength + expectedRxSize);
    return uint32_t(double(bytes) * 1000.0 / 115200.0 + 5.0);
}

}  // namespace

OstraCommands::OstraCommands(QSerialPort *port, m::ifc::ILog *log) : port(port), log(log)
{
    qRegisterMetaType<ExchangeOutcome>();
    answerTimer.setSingleShot(true);
    answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&answerTimer, &QTimer::timeout, this, &OstraCommands::answerTimeLimitPassed);
}

uint32_t OstraCommands::gapAfter(Command command)
{
    return ::gapAfter(size_t(frames::requestSize(command)), frames::expectedResponseSize(command));
}

const OstraCommands::CommandRow *OstraCommands::rowOf(Command command)
{
    static const CommandRow table[] = {
        {Command::UpdateAirCode, "Update Air Code:", "Update Air Code OK",
         &OstraCommands::judgeAcknowledge},
        {Command::CheckAirCode, "Check Air Code:", "Check Air Code OK",
         &OstraCommands::judgeAcknowledge},
        {Command::StartMeasurement, "Start Measurement:", "Start Measurement OK",
         &OstraCommands::judgeAcknowledge},
        {Command::GetMeasurementResult, "Get Measurement Result:", "Get Measurement Result OK",
         &OstraCommands::judgeResult},
        {Command::SetZeroPoint, "Set Zero Point:", "Set Zero Point OK",
         &OstraCommands::judgeAcknowledge},
        {Command::SetMeasurePoint, "Set Measure Point:", "Set Measure Point OK",
         &OstraCommands::judgeAcknowledge},
        {Command::ResetCalibration, "Reset Calibration:", "Reset Calibration OK",
         &OstraCommands::judgeAcknowledge},
        {Command::TestMem, "Test:", "Test OK", &OstraCommands::judgeTestMem},
    };
    const auto row =
        std::find_if(std::begin(table), std::end(table),
                     [command](const CommandRow &row) { return row.command == command; });
    return row == std::end(table) ? nullptr : row;
}

void OstraCommands::issue(Command command, uint8_t addr, float um)
{
    const CommandRow *row = rowOf(command);
    if (!row || !port || !port->isOpen())
        return;
    // A request that will go out closes the previous exchange; its verdict comes first.
    if (gapIsOver())
        reportUnanswered();
    const uint64_t sequence = ++lastSequence;
    write(row->commandLine);
    const uint8_t address = command == Command::TestMem ? frames::testMemAddress : addr;
    std::vector<uint8_t> frame = frames::hasPayload(command)
                                     ? frames::buildRequest(command, address, um)
                                     : frames::buildRequest(command, address);
    // Whoever reads the log may issue a command of its own from inside this one.
    const uint64_t outer = std::exchange(sendingSequence, sequence);
    sendRequest(std::move(frame), frames::expectedResponseSize(command),
                [this, command, address, sequence](QByteArray response) {
                    ExchangeOutcome outcome = judge(command, response);
                    outcome.sequence = sequence;
                    outcome.command = command;
                    outcome.address = address;
                    outcome.answer = response;
                    if (response.size() > 1)
                        outcome.sender = uint8_t(response[1]);
                    if (current && current->sequence == sequence && current->deliveringLate) {
                        outcome.status = ExchangeOutcome::Status::Late;
                        outcome.detail = QStringLiteral("Late answer");
                    }
                    emit exchangeFinished_Signal(outcome);
                });
    sendingSequence = outer;
}

void OstraCommands::handleResponse(Command command, const QByteArray &response)
{
    judge(command, response);
}

ExchangeOutcome OstraCommands::judge(Command command, const QByteArray &response)
{
    const CommandRow *row = rowOf(command);
    return row ? (this->*row->judge)(response, row->successLine) : ExchangeOutcome();
}

bool OstraCommands::hasExpectedFrame(const QByteArray &response, uint32_t expectedSize,
                                     ExchangeOutcome &outcome)
{
    const char *fault = nullptr;
    if (uint32_t(response.size()) != expectedSize)
        fault = "Wrong response size";
    else if (!frames::checkHash(response))
        fault = "Bad hash";
    if (!fault)
        return true;
    write(fault);
    outcome.status = ExchangeOutcome::Status::BadAnswer;
    outcome.detail = QLatin1String(fault);
    return false;
}

// A probe that reports an error puts nothing else in its answer that could be trusted.
bool OstraCommands::reportedDeviceError(const QByteArray &response, ExchangeOutcome &outcome)
{
    const auto error = frames::statusText(uint8_t(response[3]));
    if (!error)
        return false;
    m::writeLine(log, 1, QStringLiteral("Error: ") + QLatin1String(*error));
    outcome.status = ExchangeOutcome::Status::DeviceError;
    outcome.detail = QLatin1String(*error);
    return true;
}

ExchangeOutcome OstraCommands::judgeAcknowledge(const QByteArray &response, const char *successLine)
{
    ExchangeOutcome outcome;
    if (hasExpectedFrame(response, frames::ackSize, outcome) &&
        !reportedDeviceError(response, outcome))
        write(successLine);
    return outcome;
}

// An error status means no thickness in the frame: its bytes must never be shown as one.
ExchangeOutcome OstraCommands::judgeResult(const QByteArray &response, const char *successLine)
{
    ExchangeOutcome outcome;
    if (!hasExpectedFrame(response, frames::resultSize, outcome) ||
        reportedDeviceError(response, outcome))
        return outcome;
    outcome.raw = frames::readFloat(response, 4);
    outcome.calibrated = frames::readFloat(response, 8);
    outcome.quality = uint8_t(response[12]);
    emit newMeasurement_Signal(uint8_t(response[1]), outcome.raw, outcome.calibrated,
                               outcome.quality);
    write(successLine);
    return outcome;
}

// The memory test has status codes of its own.
ExchangeOutcome OstraCommands::judgeTestMem(const QByteArray &response, const char *successLine)
{
    ExchangeOutcome outcome;
    if (!hasExpectedFrame(response, frames::ackSize, outcome))
        return outcome;
    const uint8_t status = uint8_t(response[3]);
    const char *line = status == 0 ? successLine : status == 2 ? "Internal Error" : "Unknown Error";
    write(line);
    if (status != 0) {
        outcome.status = ExchangeOutcome::Status::DeviceError;
        outcome.detail = QLatin1String(line);
    }
    return outcome;
}

void OstraCommands::sendRequest(std::vector<uint8_t> packet, uint32_t expectedRxSize,
                                ResponseHandler handler)
{
    LineGap &gap = lineGap();
    const uint64_t sequence = sendingSequence;
    if (!gapIsOver()) {
        const char *refusal = "Packet not sended. Waiting after the previous command.";
        write(refusal);
        finish(packet, sequence, unanswered(ExchangeOutcome::Status::NotSent, refusal));
        return;
    }
    reportUnanswered();

    // A write report still due belongs to the previous request: let it reach that one's
    // callbacks before they go.
    port->flush();
    if (!port->isOpen()) {
        write("No response");
        finish(packet, sequence, unanswered(ExchangeOutcome::Status::NoResponse, "No response"));
        return;
    }

    // Only the previous request's callbacks go; other watchers of the port (its error signal)
    // stay connected.
    QObject::disconnect(port, &QSerialPort::readyRead, nullptr, nullptr);
    QObject::disconnect(port, &QSerialPort::bytesWritten, nullptr, nullptr);

    // The port may report the bytes written after a quick answer is already in; the answer waits
    // for that report so that an exchange reads in the log as Tx, then Rx, then the verdict.
    auto exchange = std::make_shared<Exchange>(
        Exchange{std::move(packet), expectedRxSize, std::move(handler), sequence});
    current = exchange;
    QObject::connect(
        port, &QSerialPort::readyRead, this, [this, exchange]() { deliverAnswer(*exchange); },
        Qt::DirectConnection);
    QObject::connect(
        port, &QSerialPort::bytesWritten, this,
        [this, exchange](qint64 written) {
            m::writeLine(log, 1,
                         QStringLiteral("Tx expected: %1 bytes. Transmitted: %2 bytes. Tx: 0x ")
                                 .arg(exchange->packet.size())
                                 .arg(written) +
                             QLatin1String(frames::hexDump(exchange->packet.data(),
                                                           exchange->packet.size())));
            if (!exchange->transmitted) {
                exchange->transmitted = true;
                deliverAnswer(*exchange);
            }
        },
        Qt::DirectConnection);

    // A dead line reports itself from inside these calls, and the window may close the port
    // there; what is left of the request then ends as unanswered.
    answerGraceGiven = false;
    answerTimer.start(answerLimitMs);
    port->clear(QSerialPort::AllDirections);
    if (port->isOpen()) {
        port->write(reinterpret_cast<const char *>(exchange->packet.data()),
                    qint64(exchange->packet.size()));
        // Written now rather than on the next turn of the event loop: a stalled loop could
        // otherwise let the next request's buffer clear throw this frame away unsent.
        port->flush();
    }
    gap.lastSendMs = time.nowMs();
    gap.minGapMs = ::gapAfter(exchange->packet.size(), expectedRxSize);
}

// A busy event loop may wake the time limit in the same turn as the answer's read notifier:
// one more turn lets an answer that is already in reach its exchange first.
void OstraCommands::answerTimeLimitPassed()
{
    if (!answerGraceGiven) {
        answerGraceGiven = true;
        answerTimer.start(0);
        return;
    }
    reportUnanswered();
}

bool OstraCommands::gapIsOver()
{
    const LineGap &gap = lineGap();
    return !gap.lastSendMs || time.elapsedMs(*gap.lastSendMs).value >= gap.minGapMs;
}

// Bytes short of a whole answer count as none: the next request's buffer clear drops them.
void OstraCommands::reportUnanswered()
{
    answerTimer.stop();
    if (!current || current->answered || current->reportedUnanswered)
        return;
    current->reportedUnanswered = true;
    write("No response");
    finish(current->packet, current->sequence,
           unanswered(ExchangeOutcome::Status::NoResponse, "No response"));
}

int OstraCommands::gapRemainingMs()
{
    const LineGap &gap = lineGap();
    if (!gap.lastSendMs)
        return 0;
    const uint32_t elapsed = time.elapsedMs(*gap.lastSendMs).value;
    return elapsed >= gap.minGapMs ? 0 : int(gap.minGapMs - elapsed);
}

void OstraCommands::finish(const std::vector<uint8_t> &packet, uint64_t sequence,
                           ExchangeOutcome outcome)
{
    outcome.sequence = sequence;
    if (packet.size() > 2) {
        outcome.address = packet[1];
        outcome.command = Command(packet[2]);
    }
    emit exchangeFinished_Signal(outcome);
}

// Answers are cut by length alone; a second answer already in the buffer goes to the same
// handler on the next readyRead.
void OstraCommands::deliverAnswer(Exchange &exchange)
{
    if (!exchange.transmitted)
        return;
    const qint64 available = port->bytesAvailable();
    if (available < qint64(exchange.expectedRxSize))
        return;
    const QByteArray answer = port->read(exchange.expectedRxSize);
    // A late answer leaves its own request waiting for the one that belongs to it.
    exchange.deliveringLate = isLate(exchange, answer);
    if (!exchange.deliveringLate) {
        if (current.get() == &exchange && !exchange.reportedUnanswered)
            answerTimer.stop();
        exchange.answered = true;
    }
    const QByteArray dump = frames::hexDump(reinterpret_cast<const uint8_t *>(answer.constData()),
                                            size_t(answer.size()));
    m::writeLine(log, 1,
                 QStringLiteral("Rx expected: %1 bytes.    Received: %2 bytes. Rx: 0x ")
                         .arg(exchange.expectedRxSize)
                         .arg(available) +
                     QLatin1String(dump));
    exchange.handler(answer);
}

// Answers are cut by length alone, so one that comes after its exchange was given up lands in
// the next; its address byte names its real sender. The memory test goes to one fixed address
// whoever answers, so only the time tells for it.
bool OstraCommands::isLate(const Exchange &exchange, const QByteArray &answer) const
{
    if (exchange.reportedUnanswered)
        return true;
    if (exchange.packet.size() < 3 || Command(exchange.packet[2]) == Command::TestMem)
        return false;
    return uint32_t(answer.size()) == exchange.expectedRxSize && frames::checkHash(answer) &&
           uint8_t(answer[1]) != exchange.packet[1];
}

void OstraCommands::write(const char *line)
{
    log->write(1, line);
}
