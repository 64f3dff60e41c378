#pragma once

#include "SimulatedLine.h"
#include "ToolUnderTest.h"

#include <QCommandLineParser>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace bench {

// Eight probes, one per panel, at addresses that differ from their positions.
inline std::vector<uint8_t> probeAddresses()
{
    return {11, 12, 13, 14, 15, 16, 17, 18};
}

// Measurement starts of probe position i, in ms from the click: trunc(1.5 · D · i).
inline int startMs(int delay, int position)
{
    return int(std::trunc(1.5 * double(delay) * position));
}

// Result requests: trunc(1.5 · D · i + 12 · D).
inline int resultMs(int delay, int position)
{
    return int(std::trunc(1.5 * double(delay) * position + 1.5 * double(delay) * 8));
}

// The tool's window has nothing to draw on unless told otherwise; the figures concern its event
// loop, not a display server.
inline void preferOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// A positive whole number from an option; `value` keeps its default when the option is absent.
inline bool positiveOption(const QCommandLineParser &parser, const QString &name, int &value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int parsed = parser.value(name).toInt(&ok);
    if (!ok || parsed <= 0) {
        std::fprintf(stderr, "--%s wants a positive whole number\n", qPrintable(name));
        return false;
    }
    value = parsed;
    return true;
}

// --latency MS: how late every answer leaves the probes, as a USB adapter's latency timer holds
// it (0 unless given).
inline void addLatencyOption(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("latency"),
                      QStringLiteral("Answers this late, as from a USB adapter (default 0)."),
                      QStringLiteral("MS")});
}

inline bool latencyOption(const QCommandLineParser &parser, SimulatedLine &line)
{
    if (!parser.isSet(QStringLiteral("latency")))
        return true;
    bool ok = false;
    const int ms = parser.value(QStringLiteral("latency")).toInt(&ok);
    if (!ok || ms < 0) {
        std::fprintf(stderr, "--latency wants a whole number of milliseconds\n");
        return false;
    }
    line.setLatency(ms);
    std::printf("answers %d ms late\n", ms);
    return true;
}

// Starts the probes' thread and says how far their stamps can be trusted.
inline bool openLine(SimulatedLine &line)
{
    if (!line.open()) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(line.errorString()));
        return false;
    }
    std::printf("simulator on %s, %s priority\n", qPrintable(line.portPath()),
                line.isRealTime() ? "real-time" : "normal (stamps suffer from other load)");
    return true;
}

constexpr int settleMs = 300;

// The simulated line started and a tool connected to it, or a message on stderr.
inline std::unique_ptr<ToolUnderTest> connectedTool(SimulatedLine &line, int delay,
                                                    const QByteArray &limits = QByteArray(),
                                                    const QByteArray &publishConfig = {})
{
    auto tool = std::make_unique<ToolUnderTest>(delay, probeAddresses(), limits, publishConfig);
    if (!tool->isReady()) {
        std::fprintf(stderr, "could not set up the tool's working directory\n");
        return nullptr;
    }
    if (!tool->connectTo(line.portPath())) {
        std::fprintf(stderr, "the tool could not open %s\n", qPrintable(line.portPath()));
        return nullptr;
    }
    // The window paints itself for the first time when the event loop first runs; an operator
    // clicks long after that, so the figures must not carry it.
    tool->runFor(settleMs);
    return tool;
}

}  // namespace bench
