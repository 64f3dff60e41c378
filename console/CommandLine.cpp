#include "console/CommandLine.h"

#include "link/LinkHealth.h"
#include "logging/FileLog.h"
#include "logging/SysTime.h"
#include "protocol/OstraCommands.h"
#include "scan/BusScan.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>

using frames::Command;
using Status = ExchangeOutcome::Status;

namespace console {

namespace {

constexpr qint32 probeBusBaudRate = 460800;
// The engine reports every exchange within its answer time limit; this only ends a run whose
// line stopped taking requests.
constexpr int watchdogMs = OstraCommands::answerTimeLimitMs + 1000;
// What the window leaves between a probe's start and its result request, in delays.
constexpr int resultWaitDelays = 12;

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

int32_t settingsDelay()
{
    return settingsPresent() ? readSettings().delay : Settings().delay;
}

}  // namespace

CommandLine::CommandLine(QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent), out(out), err(err)
{
    nextTimer.setSingleShot(true);
    nextTimer.setTimerType(Qt::PreciseTimer);
    connect(&nextTimer, &QTimer::timeout, this, &CommandLine::issueNext);
    watchdog.setSingleShot(true);
    watchdog.setInterval(watchdogMs);
    connect(&watchdog, &QTimer::timeout, this,
            [this] { deviceLost(QStringLiteral("the line takes no requests")); });
}

CommandLine::~CommandLine() = default;

int CommandLine::run(const QStringList &arguments)
{
    const Parsed parsed = parseArguments(arguments, settingsDelay());
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
    if (options.records) {
        if (!openRecords) {
            err << "t7r-cli: --records: this build has no records folder\n";
            err.flush();
            return exitUsage;
        }
        recordSink = openRecords();
        if (!recordSink)
            return exitUsage;
        m::DummyLog quiet;
        if (settingsPresent())
            probeToAddr = readProbeToAddr(&quiet);
    }
    writer = std::make_unique<RowWriter>(out, options.format);

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
    port.setBaudRate(probeBusBaudRate);
    if (!port.open(QIODevice::ReadWrite)) {
        err << "t7r-cli: cannot open " << options.port << ": " << port.errorString() << '\n';
        err.flush();
        return exitPortNotOpened;
    }
    OstraCommands device(&port, log.get());
    return execute(port, device);
}

int CommandLine::execute(QSerialPort &port, OstraCommands &device)
{
    commands = &device;
    running = true;
    clock.start();
    connect(&port, &QSerialPort::errorOccurred, this,
            [this, &port, health = LinkHealth()](QSerialPort::SerialPortError error) mutable {
                // The window's rule: a line that is gone, not a noisy one.
                if (health.lost(error, SysTime().nowMs().value))
                    deviceLost(port.errorString());
            });
    connect(&device, &OstraCommands::exchangeFinished_Signal, this, &CommandLine::outcomeArrived);

    // Started from the loop, so that an end that comes at once still ends it.
    QTimer::singleShot(0, this, [this] { begin(); });
    const int code = loop.exec();
    disconnect(&port, nullptr, this, nullptr);
    scan.reset();
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
    nextStep = 0;
    roundStartMs = clock.elapsed();
    const auto add = [this](Command command, uint8_t address, float um = 0) {
        Step step;
        step.command = command;
        step.address = address;
        step.um = um;
        steps.push_back(step);
    };
    switch (options.action) {
        case Action::Air:
            for (const uint8_t address : options.addresses)
                add(Command::UpdateAirCode, address);
            break;
        case Action::Measure: {
            const int first = 0;
            for (const uint8_t address : options.addresses)
                add(Command::StartMeasurement, address);
            for (size_t i = 0; i < options.addresses.size(); ++i) {
                add(Command::GetMeasurementResult, options.addresses[i]);
                steps.back().after = first + int(i);
                steps.back().waitMs = resultWaitDelays * options.delayMs;
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
    issueNext();
}

// Requests go one at a time: never before the previous one has its outcome, never within the
// engine's gap or the operator's delay of the previous one, and a result request not before
// its probe has had its measuring time.
void CommandLine::issueNext()
{
    if (!running || inFlight)
        return;
    if (stopping)
        return finishStopped();
    if (nextStep >= int(steps.size()))
        return roundDone();
    Step &step = steps[size_t(nextStep)];
    // Microseconds: times in whole milliseconds could shorten a wait by almost one.
    qint64 dueUs = 0;
    if (lastSentUs >= 0) {
        const qint64 pitchMs =
            std::max<qint64>(options.delayMs, qint64(OstraCommands::gapAfter(step.command)));
        dueUs = lastSentUs + pitchMs * 1000;
    }
    if (step.after >= 0)
        dueUs = std::max(dueUs, steps[size_t(step.after)].sentAtUs + qint64(step.waitMs) * 1000);
    const qint64 nowUs = clock.nsecsElapsed() / 1000;
    if (dueUs > nowUs) {
        nextTimer.start(int((dueUs - nowUs + 999) / 1000));
        return;
    }

    inFlight = nextStep;
    ++nextStep;
    watchdog.start();
    switch (step.command) {
        case Command::UpdateAirCode:
            commands->updateAirCode(step.address);
            break;
        case Command::StartMeasurement:
            commands->startMeasurement(step.address);
            break;
        case Command::GetMeasurementResult:
            commands->getMeasurementResult(step.address);
            break;
        case Command::SetZeroPoint:
            commands->setZeroPoint(step.address);
            break;
        case Command::SetMeasurePoint:
            commands->setMeasurePoint(step.address, step.um);
            break;
        case Command::ResetCalibration:
            commands->resetCalibration(step.address);
            break;
        case Command::TestMem:
            commands->testMem();
            break;
        case Command::CheckAirCode:
            commands->checkAirCode(step.address);
            break;
    }
    // Stamped after the engine's own stamp, so that waiting out the gap on this clock waits it
    // out on the engine's too. A refusal has already been reported by now.
    step.sentAtUs = clock.nsecsElapsed() / 1000;
    lastSentUs = step.sentAtUs;
}

void CommandLine::outcomeArrived(const ExchangeOutcome &outcome)
{
    if (!running || !inFlight || scan)
        return;
    Step &step = steps[size_t(*inFlight)];
    // A second answer to an exchange already judged, or a late one, belongs to no step.
    if (outcome.command != step.command || outcome.address != step.address)
        return;
    step.outcome = outcome;
    const int index = *inFlight;
    inFlight.reset();
    watchdog.stop();
    stepFinished(index);
    if (running)
        nextTimer.start(0);
}

void CommandLine::stepFinished(int index)
{
    const Step &step = steps[size_t(index)];
    if (step.command == Command::StartMeasurement)
        return;
    Row row;
    row.time = QDateTime::currentDateTime();
    row.address = step.address;
    row.command = actionName(options.action);
    const ExchangeOutcome &outcome = *step.outcome;
    row.outcome = outcomeText(outcome);
    if (step.command == Command::GetMeasurementResult) {
        const ExchangeOutcome &start = *steps[size_t(step.after)].outcome;
        // Without a start that the probe took, the result may be the previous measurement's.
        if (!start.ok())
            row.outcome = outcomeText(start);
        else if (outcome.ok()) {
            row.rawUm = outcome.um;
            row.calibratedUm = outcome.umCalib;
            row.quality = outcome.quality;
            if (recordSink && !recordSink->append({row.time, channelsOf(step.address), step.address,
                                                   outcome.um, outcome.umCalib, outcome.quality}))
                recordsFailed = true;
        }
    }
    writeRow(row);
}

void CommandLine::roundDone()
{
    ++rounds;
    emit roundFinished(rounds);
    steps.clear();
    nextStep = 0;
    if (options.count > 0 && rounds >= options.count)
        return finish(earnedCode());
    const qint64 next =
        options.everySeconds > 0 ? roundStartMs + qint64(options.everySeconds * 1000.0) : 0;
    const qint64 wait = std::max<qint64>(0, next - clock.elapsed());
    QTimer::singleShot(int(wait), Qt::PreciseTimer, this, [this] {
        if (!running)
            return;
        if (stopping)
            return finishStopped();
        startRound();
    });
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
    if (!inFlight) {
        nextTimer.stop();
        finishStopped();
    }
}

// The commands of a cut round that never went out still get their rows, so that a script sees
// every address it asked for.
void CommandLine::finishStopped()
{
    if (nextStep >= int(steps.size()))
        return finish(earnedCode());
    for (size_t i = size_t(nextStep); i < steps.size(); ++i) {
        if (steps[i].command == Command::StartMeasurement)
            continue;
        Row row;
        row.time = QDateTime::currentDateTime();
        row.address = steps[i].address;
        row.command = actionName(options.action);
        row.outcome = QStringLiteral("stopped");
        writeRow(row);
    }
    finish(128 + stopSignal);
}

// A record's channel is the probe's, not the address's place on this command line, so that the
// history never joins two probes into one curve.
QVector<int> CommandLine::channelsOf(uint8_t address) const
{
    QVector<int> channels;
    for (const auto &[position, held] : probeToAddr) {
        if (held == address)
            channels << position + 1;
    }
    return channels;
}

int CommandLine::earnedCode() const
{
    return anyFailed || recordsFailed ? exitProbeFailed : exitOk;
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
    nextTimer.stop();
    watchdog.stop();
    inFlight.reset();
    if (scan)
        scan->cancel();
    loop.exit(code);
}

}  // namespace console
