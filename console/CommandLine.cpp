#include "console/CommandLine.h"

#include "link/LinkHealth.h"
#include "logging/FileLog.h"
#include "logging/SysTime.h"
#include "protocol/OstraCommands.h"
#include "protocol/ProbeLine.h"
#include "protocol/Schedule.h"
#include "scan/BusScan.h"
#include "serial/LowLatency.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <utility>

using frames::Command;
using Status = ExchangeOutcome::Status;

namespace console {

namespace {

// Asks of one command whose exchanges saw bytes but no good answer, as the scan allows.
constexpr int maxAttempts = BusScan::maxAttempts;

QString outcomeText(const ExchangeOutcome &outcome)
{
    switch (outcome.status) {
        case Status::Ok:
            return QStringLiteral("ok");
        case Status::NoResponse:
            return QStringLiteral("no response");
        default:
            return outcome.detail;
    }
}

// The readers would create a missing file; a command-line run leaves the folder alone.
bool settingsPresent()
{
    return QFileInfo(QStringLiteral("settings.cfg")).isFile();
}
// Why the journal is not kept goes to standard error, as the records' reason does.
class JournalErrors : public m::ifc::ILog
{
public:
    explicit JournalErrors(QTextStream &err) : err(err) {}
    void write(uint32_t level, std::string_view text) override
    {
        if (level == 0) {
            err << "t7r-cli: " << QString::fromLocal8Bit(text.data(), int(text.size())) << '\n';
            err.flush();
        }
    }

private:
    QTextStream &err;
};

Settings folderSettings()
{
    return settingsPresent() ? readSettings() : Settings();
}

}  // namespace

CommandLine::CommandLine(QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent), out(out), err(err)
{
    roundTimer.setSingleShot(true);
    roundTimer.setTimerType(Qt::PreciseTimer);
    connect(&roundTimer, &QTimer::timeout, this, [this] {
        if (roundOver)
            nextRound();
    });
}

CommandLine::~CommandLine() = default;

int CommandLine::run(const QStringList &arguments)
{
    const Settings settings = folderSettings();
    const Parsed parsed = parseArguments(arguments, settings.delay);
    switch (parsed.outcome) {
        case Parsed::Outcome::Help:
        case Parsed::Outcome::Version:
            out << parsed.text << '\n';
            out.flush();
            return exitOk;
        case Parsed::Outcome::Error:
            err << parsed.text << '\n';
            err.flush();
            return exitUsage;
        case Parsed::Outcome::Run:
            break;
    }
    options = parsed.options;
    // Otherwise the run would go at the default delay without a word of why.
    if (!settings.mismatch.isEmpty() && !options.delayGiven) {
        err << "t7r-cli: " << settings.mismatch << '\n';
        err.flush();
    }
    if (options.records) {
        if (!openRecords) {
            err << "t7r-cli: --records: this build has no records folder\n";
            err.flush();
            return exitUsage;
        }
        recordSink = openRecords();
        if (!recordSink)
            return exitUsage;
    }
    if (!options.limitsFile.isEmpty()) {
        if (!QFileInfo(options.limitsFile).isFile()) {
            err << "t7r-cli: --limits: no file " << options.limitsFile << '\n';
            err.flush();
            return exitUsage;
        }
        const quality::LimitsFile file = quality::readLimits(options.limitsFile);
        if (!file.ok()) {
            err << "t7r-cli: --limits: " << options.limitsFile << ':' << file.errorLine << ": "
                << file.error << '\n';
            err.flush();
            return exitUsage;
        }
        limits = file.channels;
    }
    // Records and limits both go by the probe's channel, which only settings.cfg knows.
    if ((options.records || limits) && settingsPresent()) {
        m::DummyLog quiet;
        probeToAddr = readProbeToAddr(&quiet);
    }
    writer = std::make_unique<RowWriter>(out, options.format, limits.has_value());

    if (options.action == Action::Ports) {
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            writer->writePort(info.portName(), info.description());
        return exitOk;
    }

    std::unique_ptr<m::ifc::ILog> log;
    if (options.logFile.isEmpty())
        log = std::make_unique<m::DummyLog>();
    else
        log = std::make_unique<FileLog>(options.logFile, FileLog::Append);

    QSerialPort port;
    port.setPortName(options.port);
    port.setBaudRate(probeline::baudRate);
    if (!port.open(QIODevice::ReadWrite)) {
        err << "t7r-cli: cannot open " << options.port << ": " << port.errorString() << '\n';
        err.flush();
        return exitPortNotOpened;
    }
    if (const char *line = lowlatency::logLine(lowlatency::request(port)); *line)
        log->write(1, line);
    OstraCommands device(&port, log.get());
    return execute(port, device);
}

int CommandLine::execute(QSerialPort &port, OstraCommands &device)
{
    commands = &device;
    running = true;
    requests = std::make_unique<RequestQueue>(&device);
    connect(requests.get(), &RequestQueue::finished, this, &CommandLine::outcomeArrived);
    connect(requests.get(), &RequestQueue::issued, this,
            [this](uint64_t ticket, uint64_t) { requestIssued(ticket); });
    connect(requests.get(), &RequestQueue::lateAnswer, this, &CommandLine::lateAnswer);
    connect(requests.get(), &RequestQueue::stalled, this,
            [this] { deviceLost(QStringLiteral("the line takes no requests")); });
    connect(&port, &QSerialPort::errorOccurred, this,
            [this, &port, health = LinkHealth()](QSerialPort::SerialPortError error) mutable {
                // The window's rule: a line that is gone, not a noisy one.
                if (health.lost(error, SysTime().nowMs().value))
                    deviceLost(port.errorString());
            });

    // Started from the loop, so that an end that comes at once still ends it.
    QTimer::singleShot(0, this, [this] { begin(); });
    const int code = loop.exec();
    disconnect(&port, nullptr, this, nullptr);
    scan.reset();
    requests.reset();
    commands = nullptr;
    return code;
}

void CommandLine::begin()
{
    if (!running)
        return;
    if (options.action == Action::Scan) {
        scan = std::make_unique<BusScan>(commands);
        scan->setSilentPasses(options.retries);
        connect(scan.get(), &BusScan::probeFound, this, [this](const ExchangeOutcome &outcome) {
            Row row;
            row.time = QDateTime::currentDateTime();
            row.address = outcome.address;
            row.command = actionName(Action::Scan);
            row.outcome = outcomeText(outcome);
            writeRow(row);
        });
        connect(scan.get(), &BusScan::finished, this, [this](bool completed) {
            if (!running)
                return;
            if (scan->found().empty())
                anyFailed = true;
            if (stopping && !completed)
                return finish(128 + stopSignal);
            if (!completed)
                return deviceLost(QStringLiteral("the line takes no requests"));
            finish(earnedCode());
        });
        scan->start();
    } else {
        startRound();
    }
}

void CommandLine::startRound()
{
    steps.clear();
    tickets.clear();
    unheard.clear();
    roundOver = false;
    const auto add = [this](Command command, uint8_t address, float um = 0) {
        Step step;
        step.request.command = command;
        step.request.address = address;
        step.request.um = um;
        step.request.pitchMs = options.delayMs;
        steps.push_back(step);
    };
    switch (options.action) {
        case Action::Air:
            for (const uint8_t address : options.addresses)
                add(Command::UpdateAirCode, address);
            break;
        case Action::Measure: {
            for (const uint8_t address : options.addresses)
                add(Command::StartMeasurement, address);
            for (size_t i = 0; i < options.addresses.size(); ++i) {
                add(Command::GetMeasurementResult, options.addresses[i]);
                steps.back().after = int(i);
                steps.back().request.afterMs = schedule::resultWait(options.delayMs);
            }
            break;
        }
        case Action::Zero:
            add(Command::SetZeroPoint, options.addresses.front());
            break;
        case Action::Point:
            add(Command::SetMeasurePoint, options.addresses.front(), options.pointUm);
            break;
        case Action::Reset:
            add(Command::ResetCalibration, options.addresses.front());
            break;
        case Action::Test:
            add(Command::TestMem, frames::testMemAddress);
            break;
        case Action::Ports:
        case Action::Scan:
            break;
    }
    stepsLeft = int(steps.size());
    for (int index = 0; index < int(steps.size()); ++index)
        ask(index);
    roundFirstTicket = tickets.empty() ? 0 : tickets.begin()->first;
    if (steps.empty())
        roundDone();
}

// The queue paces the requests: never before the previous one has its outcome, never within
// the engine's gap or the operator's delay, and a result not before its probe has had its
// measuring time.
void CommandLine::ask(int index)
{
    Step &step = steps[size_t(index)];
    ++step.attempts;
    step.issued = false;
    if (step.after >= 0)
        step.request.after = steps[size_t(step.after)].ticket;
    step.ticket = requests->enqueue(step.request);
    tickets[step.ticket] = index;
}

// Ahead of the waiting requests, and a result still waiting waits for this start.
void CommandLine::askAgain(int index)
{
    Step &step = steps[size_t(index)];
    ++step.attempts;
    step.issued = false;
    step.outcome.reset();
    step.ticket = requests->askAgain(step.ticket, step.request);
    tickets[step.ticket] = index;
}

void CommandLine::requestIssued(uint64_t ticket)
{
    const auto found = tickets.find(ticket);
    if (found != tickets.end())
        steps[size_t(found->second)].issued = true;
    // --every counts from the moment a round's first request went out, as an operator's
    // interval would.
    if (ticket == roundFirstTicket && options.everySeconds > 0)
        roundTimer.start(int(std::min(options.everySeconds * 1000.0, double(INT_MAX))));
    // A late answer lands in its own exchange or in the next one: once the request after that
    // has gone, the engine listens for it no more.
    std::vector<int> settled;
    for (auto entry = unheard.begin(); entry != unheard.end();) {
        if (++entry->issuedSince < 2) {
            ++entry;
            continue;
        }
        settled.push_back(entry->index);
        entry = unheard.erase(entry);
    }
    for (const int index : settled)
        complete(index);
}

void CommandLine::outcomeArrived(uint64_t ticket, const ExchangeOutcome &outcome)
{
    const auto found = tickets.find(ticket);
    if (!running || found == tickets.end())
        return;
    const int index = found->second;
    Step &step = steps[size_t(index)];
    // Bytes came but no good answer: a probe is likely there, so it is asked again at once.
    if (outcome.status == Status::BadAnswer && step.attempts < maxAttempts && !stopping) {
        askAgain(index);
        return;
    }
    step.outcome = outcome;
    // Its answer may still come, late; a round with nothing more to send has nobody to listen
    // for it, as a scan's last address has not.
    if (outcome.status == Status::NoResponse && !stopping && !requests->isIdle()) {
        unheard.push_back({index});
        return;
    }
    // When stopping, the rows still waiting for a late answer follow this one (finishStopped).
    if (requests->isIdle() && !stopping)
        settleUnheard();
    complete(index);
}

// Answers are cut by length alone: the late answer names its sender in its address byte, and
// that probe is asked again. A start is not, once its result has been asked for.
void CommandLine::lateAnswer(const ExchangeOutcome &late)
{
    const auto entry = std::find_if(unheard.begin(), unheard.end(), [&](const Unheard &u) {
        return steps[size_t(u.index)].request.address == late.sender;
    });
    if (!running || stopping || entry == unheard.end())
        return;
    const int index = entry->index;
    if (steps[size_t(index)].attempts >= maxAttempts || resultWent(index))
        return;
    unheard.erase(entry);
    askAgain(index);
}

bool CommandLine::resultWent(int startIndex) const
{
    return std::any_of(steps.begin(), steps.end(), [startIndex](const Step &step) {
        return step.after == startIndex && step.issued;
    });
}

void CommandLine::complete(int index)
{
    if (!running)
        return;
    stepFinished(index);
    if (--stepsLeft > 0)
        return stopping ? finishStopped() : void();
    roundDone();
}

void CommandLine::settleUnheard()
{
    for (const Unheard &entry : std::exchange(unheard, {}))
        complete(entry.index);
}

void CommandLine::stepFinished(int index)
{
    const Step &step = steps[size_t(index)];
    if (step.request.command == Command::StartMeasurement)
        return;
    Row row;
    row.time = QDateTime::currentDateTime();
    row.address = step.request.address;
    row.command = actionName(options.action);
    const ExchangeOutcome &outcome = *step.outcome;
    row.outcome = outcomeText(outcome);
    journal(step, outcome);
    if (step.request.command == Command::GetMeasurementResult) {
        const std::optional<ExchangeOutcome> &start = steps[size_t(step.after)].outcome;
        // Without a start that the probe took, the result may be the previous measurement's.
        if (start && !start->ok())
            row.outcome = outcomeText(*start);
        else if (start && outcome.ok()) {
            row.raw = outcome.raw;
            row.calibrated = outcome.calibrated;
            row.quality = outcome.quality;
            const QVector<int> channels = channelsOf(step.request.address);
            judge(row, channels.value(0), outcome.calibrated);
            if (recordSink) {
                records::Record record =
                    records::makeRecord(row.time, channels, step.request.address, outcome.raw,
                                        outcome.calibrated, outcome.quality);
                if (limits)
                    quality::judge(record, *limits);
                if (!recordSink->append(record))
                    recordsFailed = true;
            }
        }
    }
    writeRow(row);
}

void CommandLine::roundDone()
{
    ++rounds;
    emit roundFinished(rounds);
    roundOver = true;
    if ((options.count > 0 && rounds >= options.count) || stopping)
        return finish(earnedCode());
    if (!roundTimer.isActive())
        QTimer::singleShot(0, this, &CommandLine::nextRound);
}

void CommandLine::nextRound()
{
    if (!running || !roundOver)
        return;
    if (stopping)
        return finishStopped();
    startRound();
}

void CommandLine::judge(Row &row, int channel, float calibrated)
{
    if (!limits || channel < 1 || channel > records::channelCount)
        return;
    const auto &channelLimits = (*limits)[size_t(channel - 1)];
    if (!channelLimits)
        return;
    const quality::Verdict verdict = channelLimits->verdict(double(calibrated));
    row.verdict = QString::fromLatin1(records::verdictName(verdict));
    row.lowerUm = float(channelLimits->lower);
    row.upperUm = float(channelLimits->upper);
    if (verdict == quality::Verdict::Below || verdict == quality::Verdict::Above)
        anyOutOfTolerance = true;
}

// Calibrations are journalled whether or not records are kept: what was done to a probe must
// be known for every value taken after it.
void CommandLine::journal(const Step &step, const ExchangeOutcome &outcome)
{
    const std::optional<quality::CalibrationCommand> command =
        quality::calibrationOf(step.request.command);
    if (!command)
        return;
    if (!calibrationJournal) {
        journalErrors = std::make_unique<JournalErrors>(err);
        calibrationJournal = std::make_unique<quality::CalibrationJournal>(journalErrors.get());
    }
    // The command line names no panel: channel 0.
    calibrationJournal->append(
        quality::makeEvent(QDateTime::currentDateTime(), 0, step.request.address, *command,
                           *command == quality::CalibrationCommand::MeasurePoint
                               ? std::optional<float>(step.request.um)
                               : std::nullopt,
                           quality::answerText(outcome)));
}

void CommandLine::writeRow(const Row &row)
{
    if (row.outcome != QLatin1String("ok"))
        anyFailed = true;
    writer->write(row);
}

void CommandLine::requestStop(int signal)
{
    if (!running || stopping)
        return;
    stopping = true;
    stopSignal = signal;
    if (scan) {
        scan->cancel();
        return;
    }
    // The request on the line is let finish: its row is still written.
    requests->clear();
    if (requests->isIdle())
        finishStopped();
}

// The commands of a cut round that never went out still get their rows, so that a script sees
// every address it asked for.
void CommandLine::finishStopped()
{
    if (roundOver || steps.empty())
        return finish(earnedCode());
    for (const Unheard &entry : std::exchange(unheard, {}))
        stepFinished(entry.index);
    for (const Step &step : steps) {
        if (step.outcome || step.request.command == Command::StartMeasurement)
            continue;
        Row row;
        row.time = QDateTime::currentDateTime();
        row.address = step.request.address;
        row.command = actionName(options.action);
        row.outcome = QStringLiteral("stopped");
        writeRow(row);
    }
    finish(128 + stopSignal);
}

// A record's channel is the probe's, not the address's place on this command line, so that the
// history never joins two probes into one curve, and limits judge the probe they were set for.
QVector<int> CommandLine::channelsOf(uint8_t address) const
{
    QVector<int> channels;
    for (const auto &[probe, held] : probeToAddr) {
        if (held == address)
            channels << probe + 1;
    }
    return channels;
}

int CommandLine::earnedCode() const
{
    return anyFailed || recordsFailed ? exitProbeFailed
           : anyOutOfTolerance        ? exitOutOfTolerance
                                      : exitOk;
}

void CommandLine::deviceLost(const QString &reason)
{
    if (!running)
        return;
    err << "t7r-cli: device lost: " << reason << '\n';
    err.flush();
    finish(exitDeviceLost);
}

void CommandLine::finish(int code)
{
    if (!running)
        return;
    running = false;
    roundTimer.stop();
    if (requests)
        requests->clear();
    if (scan)
        scan->cancel();
    loop.exit(code);
}

}  // namespace console
