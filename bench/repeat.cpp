#include "LineBench.h"

#include "console/CommandLine.h"
#include "protocol/OstraCommands.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

// Repeated measure rounds of t7r-cli, back to back at --delay 4, against the rate the engine's
// gap rule allows: two requests per probe per round, each holding the line for the gap.

using namespace bench;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times back-to-back measure rounds of the command-line program."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Rounds to run (default 200)."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("delay"), QStringLiteral("--delay of the rounds (default 4)."),
                      QStringLiteral("MS")});
    addLatencyOption(parser);
    parser.process(application);
    int rounds = 200;
    int delay = 4;
    if (!positiveOption(parser, QStringLiteral("rounds"), rounds) ||
        !positiveOption(parser, QStringLiteral("delay"), delay))
        return 2;

    // No settings.cfg and no log where the benchmark was started.
    QTemporaryDir workDir;
    if (!workDir.isValid() || !QDir::setCurrent(workDir.path()))
        return 2;
    SimulatedLine line(probeAddresses());
    if (!latencyOption(parser, line) || !openLine(line))
        return 2;

    QStringList arguments{"t7r-cli",
                          "--port",
                          line.portPath(),
                          "--delay",
                          QString::number(delay),
                          "--count",
                          QString::number(rounds),
                          "--format",
                          "csv",
                          "measure"};
    for (const uint8_t address : probeAddresses())
        arguments << QString::number(address);
    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    console::CommandLine commandLine(out, err);
    QElapsedTimer clock;
    clock.start();
    const int code = commandLine.run(arguments);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    const int probes = int(probeAddresses().size());
    const int failed =
        output.count(QStringLiteral(",measure,")) - output.count(QStringLiteral(",measure,ok"));
    const double rate = rounds / seconds;
    const double gapMs = OstraCommands::gapAfter(frames::Command::GetMeasurementResult);
    const double allowed = 1000.0 / (2 * probes * gapMs);
    // Each result request also waits 12 delays after its probe's start: the starts at a pitch
    // of the longer of delay and gap, the first result 12 delays after the first start.
    const double pitchMs = std::max<double>(delay, gapMs);
    const double scheduleMs = std::max(probes * pitchMs, 12.0 * delay) + probes * pitchMs;
    std::printf("%d rounds of %d probes at --delay %d: %.2f s, exit code %d, %d rows not ok\n",
                rounds, probes, delay, seconds, code, failed);
    std::printf("round rate: %.2f rounds/s (%.1f ms a round)\n", rate, 1000.0 / rate);
    std::printf("gap rule allows: %.2f rounds/s (%d requests x %.0f ms); %.0f %% of it\n", allowed,
                2 * probes, gapMs, 100.0 * rate / allowed);
    std::printf("with the 12-delay wait before each result: %.2f rounds/s at most\n",
                1000.0 / scheduleMs);
    if (!errors.isEmpty())
        std::printf("stderr: %s", qPrintable(errors));
    return code == 0 && failed == 0 ? 0 : 1;
}
