#include "LineBench.h"
#include "Statistics.h"
#include "support/Broker.h"

#include "protocol/Frames.h"
#include "protocol/ProbeLine.h"

#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

// Schedule fidelity: when each request of the two all-probe operations reaches the line,
// against the time its schedule gives it, counted from the click.

using namespace bench;
using frames::Command;

namespace {

constexpr double limitMs = 2.0;
// Room after the last request for its answer and a lagging timer.
constexpr int marginMs = 100;

struct Expected
{
    Command command;
    uint8_t address;
    int nominalMs;
};

struct Operation
{
    const char *name;
    bool measurement;
};

std::vector<Expected> expectedRequests(bool measurement, int delay)
{
    const std::vector<uint8_t> addresses = probeAddresses();
    std::vector<Expected> expected;
    for (int i = 0; i < probes; ++i) {
        if (measurement) {
            expected.push_back({Command::StartMeasurement, addresses[i], startMs(delay, i)});
            expected.push_back({Command::GetMeasurementResult, addresses[i], resultMs(delay, i)});
        } else {
            expected.push_back({Command::UpdateAirCode, addresses[i], delay * i});
        }
    }
    return expected;
}

struct Outcome
{
    std::vector<double> deviationsMs;
    // Requests beyond the limit: which run, which request of it, how far off.
    QStringList late;
    int expected = 0;
    int missing = 0;
    int unexpected = 0;
    int refused = 0;
};

// Pairs each expected request with the first unclaimed one on the line of the same command
// and address.
void judgeRun(const std::vector<Expected> &expected, std::vector<LineRequest> requests,
              qint64 originUs, int run, Outcome &outcome)
{
    std::vector<bool> claimed(requests.size(), false);
    outcome.expected += int(expected.size());
    for (const Expected &wanted : expected) {
        bool found = false;
        for (size_t r = 0; r < requests.size() && !found; ++r) {
            if (claimed[r] || requests[r].code != uint8_t(wanted.command) ||
                requests[r].address != wanted.address)
                continue;
            claimed[r] = true;
            found = true;
            const double deviationMs =
                double(requests[r].timeUs - originUs) / 1000.0 - wanted.nominalMs;
            outcome.deviationsMs.push_back(deviationMs);
            if (std::fabs(deviationMs) > limitMs)
                outcome.late.append(QStringLiteral("run %1, request at %2 ms: %3 ms")
                                        .arg(run)
                                        .arg(wanted.nominalMs)
                                        .arg(deviationMs, 0, 'f', 3));
        }
        if (!found)
            ++outcome.missing;
    }
    for (const bool taken : claimed)
        outcome.unexpected += taken ? 0 : 1;
}

bool report(const char *name, int delay, int runs, const Outcome &outcome, bool judged = true)
{
    std::vector<double> absolute;
    for (const double deviation : outcome.deviationsMs)
        absolute.push_back(std::fabs(deviation));
    const double worst = maximum(absolute);
    const bool met =
        outcome.missing == 0 && outcome.unexpected == 0 && outcome.refused == 0 && worst <= limitMs;
    std::printf("%-22s %5d %5d %4d/%-4d %9.3f %9.3f %9.3f %9.3f %7d %5d  %s\n", name, delay, runs,
                int(outcome.deviationsMs.size()), outcome.expected,
                percentile(outcome.deviationsMs, 0.0), median(outcome.deviationsMs),
                percentile(absolute, 0.99), worst, outcome.refused, outcome.unexpected,
                judged ? (met ? "ok" : "MISSED") : "(reference)");
    return met || !judged;
}

// The same schedule on bare precise timers in the same thread: how late Qt's own timers fire
// here, the floor under every figure above it. Nothing goes on the line.
Outcome timerReference(ToolUnderTest &tool, const std::vector<Expected> &expected, int runs)
{
    Outcome outcome;
    QObject context;
    for (int run = 0; run < runs; ++run) {
        const qint64 originUs = steadyUs();
        for (const Expected &wanted : expected) {
            const int nominalMs = wanted.nominalMs;
            QTimer::singleShot(
                nominalMs, Qt::PreciseTimer, &context, [&outcome, originUs, nominalMs] {
                    outcome.deviationsMs.push_back(double(steadyUs() - originUs) / 1000.0 -
                                                   nominalMs);
                });
        }
        outcome.expected += int(expected.size());
        tool.runFor(expected.back().nominalMs + marginMs);
    }
    return outcome;
}

}  // namespace

int main(int argc, char *argv[])
{
    preferOffscreen();
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Times each request of the all-probe operations on the line against its schedule."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Runs per operation at D = 10."),
                      QStringLiteral("n"), QStringLiteral("20")});
    parser.addOption({QStringLiteral("long-runs"),
                      QStringLiteral("Runs per operation at D = 190 (1.4 s and 4.4 s each)."),
                      QStringLiteral("n"), QStringLiteral("20")});
    parser.addOption(
        {QStringLiteral("verbose"), QStringLiteral("List every request beyond the limit.")});
    parser.addOption({QStringLiteral("mqtt"),
                      QStringLiteral("Publish the results to a broker started for the run.")});
    parser.process(application);
    const bool verbose = parser.isSet(QStringLiteral("verbose"));
    int runs = 20;
    int longRuns = 20;
    if (!positiveOption(parser, QStringLiteral("runs"), runs) ||
        !positiveOption(parser, QStringLiteral("long-runs"), longRuns))
        return 2;

    SimulatedLine line(probeAddresses());
    if (!openLine(line))
        return 2;
    QTemporaryDir brokerFolder;
    Broker broker(brokerFolder.path());
    QByteArray publishConfig;
    if (parser.isSet(QStringLiteral("mqtt"))) {
        if (!broker.start())
            return 2;
        publishConfig = "url=" + broker.url() + "\nstation=bench\n";
        std::printf("Publishing over MQTT to %s\n", broker.url().constData());
    }

    std::printf("Request time on the line minus its scheduled time, ms (limit |dev| <= %.1f)\n",
                limitMs);
    std::printf("%-22s %5s %5s %9s %9s %9s %9s %9s %7s %5s\n", "operation", "D", "runs", "received",
                "min", "median", "p99 |dev|", "max |dev|", "refused", "extra");
    bool met = true;
    const Operation operations[] = {{"updateAirCode_Slot", false},
                                    {"getLineMeasResult_Slot", true}};
    for (const int delay : {probeline::defaultDelayMs, 10}) {
        const int runCount = delay == probeline::defaultDelayMs ? longRuns : runs;
        const std::unique_ptr<ToolUnderTest> tool = connectedTool(line, delay, {}, publishConfig);
        if (!tool)
            return 2;
        for (const Operation &operation : operations) {
            const std::vector<Expected> expected = expectedRequests(operation.measurement, delay);
            const int lastMs = expected.back().nominalMs;
            Outcome outcome;
            for (int run = 0; run < runCount; ++run) {
                line.take();
                tool->takeLogLines();
                const qint64 originUs =
                    operation.measurement ? tool->clickGetResults() : tool->clickUpdateAirCode();
                tool->runFor(lastMs + marginMs);
                judgeRun(expected, line.take().requests, originUs, run, outcome);
                outcome.refused += refusedCount(tool->takeLogLines());
            }
            met = report(operation.name, delay, runCount, outcome) && met;
            if (verbose) {
                for (const QString &late : outcome.late)
                    std::printf("    %s\n", qPrintable(late));
            }
        }
        // At the default delay a few runs give enough timers; the rest would only add minutes.
        const int referenceRuns =
            delay == probeline::defaultDelayMs ? std::min(runCount, 5) : runCount;
        report("(Qt precise timer)", delay, referenceRuns,
               timerReference(*tool, expectedRequests(true, delay), referenceRuns), false);
    }
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}
