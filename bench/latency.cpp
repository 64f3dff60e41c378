#include "LineBench.h"
#include "Statistics.h"

#include "protocol/Frames.h"
#include "support/Broker.h"

#include <QApplication>
#include <QTemporaryDir>

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
    parser.addOption({QStringLiteral("mqtt"),
                      QStringLiteral("Publish the results to a broker started for the run.")});
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
    const bool publishing = parser.isSet(QStringLiteral("mqtt"));
    QTemporaryDir brokerFolder;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<Subscriber> subscriber;
    QByteArray publishConfig;
    if (publishing) {
        broker = std::make_unique<Broker>(brokerFolder.path());
        if (!broker->start())
            return 2;
        subscriber = std::make_unique<Subscriber>(broker->port, nullptr, "t7r/bench/measurement");
        subscriber->waitSubscribed();
        publishConfig = "url=" + broker->url() + "\nstation=bench\n";
    }
    const std::unique_ptr<ToolUnderTest> tool = connectedTool(line, delay, limits, publishConfig);
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

    const int expected = cycles * probes;
    int published = -1;
    if (subscriber) {
        // Every result shown is recorded, and so published.
        subscriber->waitUntil([&] { return subscriber->count() >= int(latenciesMs.size()); });
        published = subscriber->count();
    }
    const double middle = median(latenciesMs);
    const double p99 = percentile(latenciesMs, 0.99);
    const bool met = (!publishing || published == int(latenciesMs.size())) && unpaired == 0 &&
                     int(latenciesMs.size()) == expected && middle <= medianLimitMs &&
                     p99 <= p99LimitMs;
    std::printf("Result latency, line to panel, D = %d, %d cycles x %d probes%s%s%s\n", delay,
                cycles, probes,
                parser.isSet(QStringLiteral("history")) ? ", history page shown" : "",
                parser.isSet(QStringLiteral("limits")) ? ", limits on every channel" : "",
                publishing ? ", publishing over MQTT" : "");
    std::printf("samples %d of %d, unpaired %d\n", int(latenciesMs.size()), expected, unpaired);
    if (publishing)
        std::printf("published to MQTT, at the subscriber: %d of %d shown\n", published,
                    int(latenciesMs.size()));
    std::printf("min %.3f ms, median %.3f ms (limit %.1f), p99 %.3f ms (limit %.1f), max %.3f ms\n",
                percentile(latenciesMs, 0.0), middle, medianLimitMs, p99, p99LimitMs,
                maximum(latenciesMs));
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}
