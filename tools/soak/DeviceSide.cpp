#include "DeviceSide.h"

#include "LogTally.h"
#include "ProcessStats.h"
#include "protocol/ProbeLine.h"

#include <QCoreApplication>
#include <QTimer>

#include <array>
#include <cstdio>

using frames::Command;
using probesim::Fault;

namespace {

constexpr uint8_t firstAddress = 11;
constexpr int warmUpTransactions = 100;
// Far beyond the slowest fault (a late answer, 100 ms).
constexpr qint64 answerTimeoutNs = 1000 * 1000 * 1000;

// Each step goes to all probes in turn, as the tool's all-probe operations do; every command
// of the device layer is in it, the measurement most.
constexpr std::array<Command, 10> cycle{
    Command::StartMeasurement, Command::GetMeasurementResult, Command::CheckAirCode,
    Command::StartMeasurement, Command::GetMeasurementResult, Command::UpdateAirCode,
    Command::SetZeroPoint,     Command::SetMeasurePoint,      Command::ResetCalibration,
    Command::TestMem};

// Every fault that leaves the count of well-formed answers on the line equal to what a
// receiver can take. A repeated answer is left out: the engine rightly delivers only what one
// read brings, and the line tests cover it.
constexpr std::array<Fault, 9> injected{Fault::NoAnswer, Fault::BadHash, Fault::Split,
                                        Fault::Late,     Fault::Garbage, Fault::Short,
                                        Fault::Long,     Fault::Busy,    Fault::Unstable};

uint8_t qualityOf(int probe)
{
    return uint8_t(90 + probe);
}

void print(const char *key, qint64 value)
{
    std::printf("%s=%lld\n", key, static_cast<long long>(value));
}

}  // namespace

void CountingLog::write(uint32_t level, std::string_view text)
{
    const LineKind kind = classifyLine(QString::fromLocal8Bit(text.data(), int(text.size())));
    receptions += kind == LineKind::Reception;
    wellFormed += kind == LineKind::WellFormedOutcome;
    notSent += kind == LineKind::NotSent;
    next->write(level, text);
}

QStringList SoakOptions::arguments() const
{
    return {QStringLiteral("--count"),  QString::number(count),   QStringLiteral("--fault-rate"),
            QString::number(faultRate), QStringLiteral("--seed"), QString::number(seed)};
}

DeviceSide::DeviceSide(const SoakOptions &options)
    : options(options), simulator(options.seed), log(&fileLog), commands(&port, &log)
{
}

int DeviceSide::run()
{
    if (!simulator.openPseudoTerminal()) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(simulator.errorString()));
        return 2;
    }
    for (int probe = 0; probe < probeline::probeCount; ++probe) {
        probesim::ProbeSettings settings;
        settings.thickness = 200.0f + 25.0f * float(probe);
        settings.walkStep = 0.5f;
        settings.quality = qualityOf(probe);
        simulator.model().addProbe(uint8_t(firstAddress + probe), settings);
    }
    for (const Fault fault : injected)
        simulator.faults().setRate(fault, options.faultRate / double(injected.size()));
    simulator.bus().setRecordRequests(false);
    QObject::connect(&simulator.bus(), &probesim::ProbeBus::exchangeFinished, &port,
                     [this](const probesim::Exchange &exchange) {
                         ++exchanges;
                         ++faults[exchange.fault];
                         lastWritten = exchange.written.size();
                     });
    QObject::connect(&commands, &OstraCommands::newMeasurement_Signal, &port,
                     [this](uint8_t addr, float raw, float calibrated, uint8_t quality) {
                         checkMeasurement(addr, raw, calibrated, quality);
                     });

    port.setPortName(simulator.portPath());
    port.setBaudRate(probeline::baudRate);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(port.errorString()));
        return 2;
    }

    clock.start();
    rssStartKiB = residentKiB();
    const qint64 cpuStart = cpuMicroseconds();
    qint64 lastSendNs = -qint64(options.paceUs) * 1000;
    for (int transaction = 0; transaction < options.count; ++transaction) {
        if (transaction == warmUpTransactions)
            rssWarmKiB = residentKiB();
        waitUntil([] { return false; }, lastSendNs + qint64(options.paceUs) * 1000);
        const int exchangesBefore = exchanges;
        const int refusedBefore = log.notSent;
        const int receptionsBefore = log.receptions;
        const uint32_t answerSize = issue(transaction);
        // Timed from after the write, as the engine times its gap: a slow write cannot make
        // the next request come early.
        lastSendNs = clock.nsecsElapsed();
        if (log.notSent > refusedBefore)
            continue;
        if (!waitUntil([this, exchangesBefore] { return exchanges > exchangesBefore; },
                       lastSendNs + answerTimeoutNs)) {
            ++unanswered;
            continue;
        }
        // Every byte the probe wrote must be in before the next request clears the port: a
        // remnant arriving after the clear would spoil the next answer.
        const int wellFormedSent = simulator.bus().wellFormedAnswers();
        const auto settled = [&] {
            const qint64 taken = qint64(log.receptions - receptionsBefore) * answerSize;
            return log.wellFormed >= wellFormedSent && taken + port.bytesAvailable() >= lastWritten;
        };
        if (!waitUntil(settled, lastSendNs + answerTimeoutNs))
            ++unsettled;
    }
    cpuUs = cpuMicroseconds() - cpuStart;
    wallMs = clock.elapsed();
    rssEndKiB = residentKiB();
    report();
    return 0;
}

uint32_t DeviceSide::issue(int transaction)
{
    const uint8_t addr = uint8_t(firstAddress + transaction % probeline::probeCount);
    const Command command = cycle[size_t(transaction / probeline::probeCount) % cycle.size()];
    // Only the measure point carries the thickness; the other commands ignore it.
    commands.issue(command, addr, 250.0f);
    return frames::expectedResponseSize(command);
}

bool DeviceSide::waitUntil(const std::function<bool()> &done, qint64 deadlineNs)
{
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!done()) {
        const qint64 leftNs = deadlineNs - clock.nsecsElapsed();
        if (leftNs <= 0)
            return false;
        wake.start(int((leftNs + 999999) / 1000000));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The probe's state has not moved since it answered: the next request comes after this.
void DeviceSide::checkMeasurement(uint8_t addr, float raw, float calibrated, uint8_t quality)
{
    ++measurements;
    const probesim::SimulatedProbe *probe = simulator.model().probe(addr);
    const bool right = probe && probe->measuredRaw() && *probe->measuredRaw() == raw &&
                       probe->calibrated(raw) == calibrated &&
                       quality == qualityOf(addr - firstAddress);
    wrongValues += !right;
}

void DeviceSide::report()
{
    print("transactions", options.count);
    print("requestsReceived", exchanges);
    print("answersWritten", simulator.bus().answersWritten());
    print("wellFormedSent", simulator.bus().wellFormedAnswers());
    print("wellFormedLogged", log.wellFormed);
    print("notSent", log.notSent);
    print("unanswered", unanswered);
    print("unsettled", unsettled);
    print("measurements", measurements);
    print("wrongValues", wrongValues);
    for (const auto &[fault, count] : faults) {
        if (fault != Fault::None)
            std::printf("fault.%s=%d\n", probesim::faultName(fault), count);
    }
    print("rssStartKiB", rssStartKiB);
    print("rssWarmKiB", rssWarmKiB);
    print("rssEndKiB", rssEndKiB);
    print("cpuUs", cpuUs);
    print("wallMs", wallMs);
    std::fflush(stdout);
}
