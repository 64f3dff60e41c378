#include "LineBench.h"

#include "protocol/Frames.h"

#include <QApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>

// Shortest cycle: the smallest delay at which a run of consecutive measurement cycles over
// eight probes delivers every result with no request refused for the gap.

using namespace bench;

namespace {

constexpr int targetDelay = 6;
// Delays above the one found that must pass as well, so that a lucky run does not count.
constexpr int confirmations = 2;

struct Verdict
{
    int cyclesDone = 0;
    int refused = 0;
    int missingResults = 0;
    // What the tool logged about the failing cycle, or all of it when asked to be verbose.
    QList<QByteArray> trouble;
    // What the line saw of each result that did not reach its panel.
    QStringList lost;
    bool passed() const { return refused == 0 && missingResults == 0; }
};

// A result can fail to show with no refusal logged: the request may never have reached the line,
// or its answer never the tool.
QString describeLost(int probe, const LineTraffic &traffic)
{
    const uint8_t address = probeAddresses()[size_t(probe)];
    const auto result = uint8_t(frames::Command::GetMeasurementResult);
    int requests = 0;
    int answers = 0;
    for (const LineRequest &request : traffic.requests)
        requests += request.address == address && request.code == result ? 1 : 0;
    for (const LineAnswer &answer : traffic.answers)
        answers += answer.address == address && answer.code == result ? 1 : 0;
    return QStringLiteral("probe %1: %2 result request(s) on the line, %3 answered")
        .arg(probe + 1)
        .arg(requests)
        .arg(answers);
}

Verdict runCycles(SimulatedLine &line, int delay, int cycles, bool verbose, bool &broken)
{
    Verdict verdict;
    const std::unique_ptr<ToolUnderTest> tool = connectedTool(line, delay);
    if (!tool) {
        broken = true;
        return verdict;
    }
    // The last result request goes at 22.5 D; the answer then needs well under the margin.
    const int cycleTimeoutMs = resultMs(delay, probes - 1) + 200;
    // The next click must keep the engine's 5 ms gap after the last result request.
    const int pauseMs = std::max(6, int(std::ceil(1.5 * delay)));
    tool->takeLogLines();
    line.take();
    for (int cycle = 0; cycle < cycles && verdict.passed(); ++cycle) {
        tool->takeShown();
        tool->clickGetResults();
        tool->waitForShown(probes, cycleTimeoutMs);
        tool->runFor(pauseMs);
        const auto shown = tool->takeShown();
        const LineTraffic traffic = line.take();
        const QList<QByteArray> logLines = tool->takeLogLines();
        ++verdict.cyclesDone;
        verdict.refused += refusedCount(logLines);
        for (int probe = 0; probe < probes; ++probe) {
            if (!shown[size_t(probe)].empty())
                continue;
            ++verdict.missingResults;
            verdict.lost.append(describeLost(probe, traffic));
        }
        verdict.trouble = verbose ? logLines : troubleLines(logLines);
    }
    return verdict;
}

}  // namespace

int main(int argc, char *argv[])
{
    preferOffscreen();
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds the smallest delay at which measurement cycles all succeed."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("cycles"), QStringLiteral("Consecutive cycles per delay."),
                      QStringLiteral("n"), QStringLiteral("100")});
    parser.addOption({QStringLiteral("max-delay"), QStringLiteral("Largest delay tried, ms."),
                      QStringLiteral("ms"), QStringLiteral("12")});
    parser.addOption(
        {QStringLiteral("verbose"), QStringLiteral("Print the whole log of a failing cycle.")});
    addLatencyOption(parser);
    parser.process(application);
    int cycles = 100;
    int maxDelay = 12;
    const bool verbose = parser.isSet(QStringLiteral("verbose"));
    if (!positiveOption(parser, QStringLiteral("cycles"), cycles) ||
        !positiveOption(parser, QStringLiteral("max-delay"), maxDelay))
        return 2;

    SimulatedLine line(probeAddresses());
    if (!latencyOption(parser, line) || !openLine(line))
        return 2;

    std::printf("%d consecutive getLineMeasResult_Slot cycles, eight probes\n", cycles);
    std::printf("%5s %8s %8s %8s  %s\n", "D", "cycles", "refused", "missing", "verdict");
    int shortest = 0;
    int confirmed = 0;
    for (int delay = 1; delay <= maxDelay && confirmed < confirmations; ++delay) {
        bool broken = false;
        const Verdict verdict = runCycles(line, delay, cycles, verbose, broken);
        if (broken)
            return 2;
        std::printf("%5d %8d %8d %8d  %s\n", delay, verdict.cyclesDone, verdict.refused,
                    verdict.missingResults, verdict.passed() ? "pass" : "fail");
        for (const QString &lost : verdict.lost)
            std::printf("          %s\n", qPrintable(lost));
        // A delay far too short fails on every request; the first few lines tell it all.
        const int shownLines = verbose ? int(verdict.trouble.size()) : 6;
        for (int i = 0; i < verdict.trouble.size() && i < shownLines; ++i)
            std::printf("          %s\n", verdict.trouble[i].constData());
        if (verdict.trouble.size() > shownLines)
            std::printf("          ... %d more\n", int(verdict.trouble.size()) - shownLines);
        std::fflush(stdout);
        if (!verdict.passed()) {
            shortest = 0;
            confirmed = 0;
        } else if (shortest == 0) {
            shortest = delay;
        } else {
            ++confirmed;
        }
    }
    const bool met = shortest > 0 && shortest <= targetDelay;
    if (shortest > 0)
        std::printf(
            "shortest cycle: D = %d ms (last request of a cycle at %d ms; target D <= %d)\n",
            shortest, resultMs(shortest, probes - 1), targetDelay);
    else
        std::printf("no delay up to %d ms passed (target D <= %d)\n", maxDelay, targetDelay);
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}
