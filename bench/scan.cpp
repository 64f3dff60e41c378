#include "LineBench.h"

#include "logging/ILog.h"
#include "protocol/OstraCommands.h"
#include "protocol/ProbeLine.h"
#include "scan/BusScan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>

#include <algorithm>
#include <cstdio>

// The bus scan's duration against its floor: 256 addresses, each held for the longer of the
// engine's gap and the answer time limit.

using namespace bench;

namespace {

constexpr double limitFactor = 1.2;

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times full bus scans of eight simulated probes against the floor."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Scans to time (default 3)."),
                      QStringLiteral("N")});
    addLatencyOption(parser);
    parser.process(application);
    int runs = 3;
    if (!positiveOption(parser, QStringLiteral("runs"), runs))
        return 2;

    SimulatedLine line(probeAddresses());
    if (!latencyOption(parser, line) || !openLine(line))
        return 2;
    QSerialPort port;
    port.setPortName(line.portPath());
    port.setBaudRate(probeline::baudRate);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(line.portPath()),
                     qPrintable(port.errorString()));
        return 2;
    }
    m::DummyLog log;
    OstraCommands commands(&port, &log);
    BusScan scan(&commands);

    const double floorMs = scan.floorMs();
    std::printf("floor: 256 x max(gap %u ms, answer time limit %d ms) = %.0f ms\n",
                OstraCommands::gapAfter(BusScan::probeCommand()), commands.answerTimeLimit(),
                floorMs);
    double worstMs = 0;
    bool allFound = true;
    for (int run = 0; run < runs; ++run) {
        QEventLoop loop;
        QObject::connect(&scan, &BusScan::finished, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        scan.start();
        loop.exec();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        const bool found = scan.foundAddresses() == probeAddresses();
        allFound = allFound && found;
        worstMs = std::max(worstMs, ms);
        std::printf("scan %d: %.0f ms, %.3f x floor, %zu probes found%s\n", run + 1, ms,
                    ms / floorMs, scan.foundAddresses().size(), found ? "" : " (WRONG)");
    }
    const bool met = allFound && worstMs <= limitFactor * floorMs;
    std::printf("slowest scan: %.0f ms = %.3f x floor (target <= %.1f x): %s\n", worstMs,
                worstMs / floorMs, limitFactor, met ? "met" : "MISSED");
    return met ? 0 : 1;
}
