#include "LineBench.h"
#include "Statistics.h"

#include "protocol/Frames.h"

#include <QApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>

// Result latency: from the last byte of a probe's 15-byte result written on the line to the
// value in its panel.

using namespace bench;

namespace {

constexpr double medianLimitMs = 1.0;
constexpr double p99LimitMs = 5.0;

// Pairs, per probe, the k-th result answer with the k-th value its panel showed.
void collect(const std::vector<LineAnswer> &answers,
             const std::array<std::vector<qint64>, probes> &shown, std::vector<double> &latenciesMs,
             int &unpaired)
{
    const std::vector<uint8_t> addresses = probeAddresses();
    for (int probe = 0; probe < probes; ++probe) {
        std::vector<qint64> written;
        for (const LineAnswer &answer : answers) {
            if (answer.address == addresses[probe] && answer.size == int(frames::resultSize) &&
                answer.code == uint8_t(frames::Command::GetMeasurementResult))
                written.push_back(answer.finishedUs);
        }
        const size_t pairs = std::min(written.size(), shown[probe].size());
        for (size_t k = 0; k < pairs; ++k)
            latenciesMs.push_back(double(shown[probe][k] - written[k]) / 1000.0);
        unpaired += int(std::max(written.size(), shown[probe].size()) - pairs);
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    preferOffscreen();
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times each measurement result from the line to its panel."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("cycles"), QStringLiteral("Measurement cycles."),
                      QStringLiteral("n"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("delay"), QStringLiteral("The tool's delay, ms."),
                      QStringLiteral("ms"), QStringLiteral("10")});
    parser.addOption(
        {QStringLiteral("history"), QStringLiteral("Show the page \"История\" while measuring.")});
    parser.addOption({QStringLiteral("limits"),
                      QStringLiteral("Every channel with limits, half its values out of tolerance: "
                                     "the verdict, the mark and the alarm on every result.")});
    parser.process(application);
    int cycles = 50;
    int delay = 10;
    if (!positiveOption(parser, QStringLiteral("cycles"), cycles) ||
        !positiveOption(parser, QStringLiteral("delay"), delay))
        return 2;

    SimulatedLine line(probeAddresses());
    if (!openLine(line))
        return 2;
    QByteArray limits;
    if (parser.isSet(QStringLiteral("limits"))) {
        // The simulated probes read 500 µm: the odd channels in tolerance, the even ones above.
        for (int channel = 1; channel <= probes; ++channel)
            limits += QStringLiteral("[channel%1]\nlower=%2\nupper=%3\n")
                          .arg(channel)
                          .arg(channel % 2 ? 490 : 100)
                          .arg(channel % 2 ? 510 : 200)
                          .toLatin1();
    }
    const std::unique_ptr<ToolUnderTest> tool = connectedTool(line, delay, limits);
    if (!tool)
        return 2;

    if (parser.isSet(QStringLiteral("history")))
        tool->showHistory();

    const int cycleTimeoutMs = resultMs(delay, probes - 1) + 200;
    const int pauseMs = std::max(6, int(std::ceil(1.5 * delay)));
    std::vector<double> latenciesMs;
    int unpaired = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        line.take();
        tool->takeShown();
        tool->clickGetResults();
        tool->waitForShown(probes, cycleTimeoutMs);
        // The simulator stamps an answer after its write returns, possibly after the tool has
        // already shown it; the pause lets the last stamp land.
        tool->runFor(pauseMs);
        collect(line.take().answers, tool->takeShown(), latenciesMs, unpaired);
    }

    const double middle = median(latenciesMs);
    const double p99 = percentile(latenciesMs, 0.99);
    const int expected = cycles * probes;
    const bool met = unpaired == 0 && int(latenciesMs.size()) == expected &&
                     middle <= medianLimitMs && p99 <= p99LimitMs;
    std::printf("Result latency, line to panel, D = %d, %d cycles x %d probes%s%s\n", delay, cycles,
                probes, parser.isSet(QStringLiteral("history")) ? ", history page shown" : "",
                parser.isSet(QStringLiteral("limits")) ? ", limits on every channel" : "");
    std::printf("samples %d of %d, unpaired %d\n", int(latenciesMs.size()), expected, unpaired);
    std::printf("min %.3f ms, median %.3f ms (limit %.1f), p99 %.3f ms (limit %.1f), max %.3f ms\n",
                percentile(latenciesMs, 0.0), middle, medianLimitMs, p99, p99LimitMs,
                maximum(latenciesMs));
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}
