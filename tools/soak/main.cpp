// soak: many transactions of the device layer against the simulated probes with injected faults;
// accounts for every well-formed answer and watches memory, CPU time and crashes.

#include "DeviceSide.h"
#include "LogTally.h"
#include "SoakOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

constexpr qint64 rssGrowthLimitKiB = 1024;

using Figures = QMap<QString, qint64>;

bool parseOptions(const QCoreApplication &application, SoakOptions &options, bool &deviceSide,
                  bool &keepLog)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Drives transactions through the device layer against simulated probes with injected "
        "faults. Exits non-zero when an answer is lost, a value is wrong, the device side "
        "crashes or its memory grows by 1 MiB or more."));
    parser.addHelpOption();
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("Transactions to run (default 10000)."),
                                   QStringLiteral("n"), QString::number(options.count));
    const QCommandLineOption rate(QStringLiteral("fault-rate"),
                                  QStringLiteral("Share of answers with a fault (default 0.05)."),
                                  QStringLiteral("share"), QString::number(options.faultRate));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the faults and the probes' readings."),
                                  QStringLiteral("n"), QString::number(options.seed));
    const QCommandLineOption keep(QStringLiteral("keep-log"),
                                  QStringLiteral("Keep the run's directory with log/log.txt."));
    QCommandLineOption device(QStringLiteral("device-side"));
    device.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({count, rate, seed, keep, device});
    parser.process(application);

    bool countOk = false;
    bool rateOk = false;
    bool seedOk = false;
    options.count = parser.value(count).toInt(&countOk);
    options.faultRate = parser.value(rate).toDouble(&rateOk);
    options.seed = parser.value(seed).toUInt(&seedOk);
    deviceSide = parser.isSet(device);
    keepLog = parser.isSet(keep);
    if (!countOk || options.count < 1 || !rateOk || options.faultRate < 0.0 ||
        options.faultRate > 1.0 || !seedOk) {
        std::fprintf(stderr, "soak: --count must be at least 1, --fault-rate within 0 to 1\n");
        return false;
    }
    return true;
}

Figures parseFigures(const QByteArray &output)
{
    Figures figures;
    for (const QByteArray &line : output.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            figures[QString::fromLatin1(line.left(equals))] = line.mid(equals + 1).toLongLong();
    }
    return figures;
}

// One target: prints its line and says whether it was met.
bool target(bool met, const QString &text)
{
    std::printf("  %-4s %s\n", met ? "ok" : "MISS", qPrintable(text));
    return met;
}

int supervise(const SoakOptions &options, bool keepLog)
{
    QTemporaryDir directory;
    if (!directory.isValid()) {
        std::fprintf(stderr, "soak: no temporary directory\n");
        return 2;
    }
    directory.setAutoRemove(!keepLog);
    QProcess child;
    child.setWorkingDirectory(directory.path());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), options.arguments()
                                                             << QStringLiteral("--device-side"));
    // Twenty times the paced time and a minute more: only a hang takes that long.
    const qint64 timeoutMs = 20 * qint64(options.count) * options.paceUs / 1000 + 60000;
    const bool finished = child.waitForFinished(int(std::min<qint64>(timeoutMs, INT_MAX)));
    if (!finished) {
        child.kill();
        child.waitForFinished(5000);
    }
    const bool crashed = child.exitStatus() == QProcess::CrashExit;
    const Figures seen = parseFigures(child.readAllStandardOutput());

    LogTally logged;
    const bool logRead =
        logged.readFile(QDir(directory.path()).filePath(QStringLiteral("log/log.txt")));
    const qint64 count = options.count;
    const qint64 growth = seen.value("rssEndKiB") - seen.value("rssStartKiB");

    std::printf("soak: %lld transactions, fault rate %.3f, seed %u\n",
                static_cast<long long>(count), options.faultRate, options.seed);
    std::printf("  faults injected:");
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        if (it.key().startsWith(QLatin1String("fault.")))
            std::printf(" %s %lld;", qPrintable(it.key().mid(6)), static_cast<long long>(*it));
    }
    std::printf(
        "\n  log: %d lines, %d answers logged bad hash, %d wrong size; waits timed out: "
        "%lld for an answer, %lld for its bytes\n",
        logged.lines, logged.badHash, logged.wrongSize,
        static_cast<long long>(seen.value("unanswered")),
        static_cast<long long>(seen.value("unsettled")));

    bool met = true;
    met &=
        target(finished && !crashed && child.exitCode() == 0,
               QStringLiteral("crashes: %1 (device side %2)")
                   .arg(finished && !crashed ? 0 : 1)
                   .arg(!finished ? QStringLiteral("hung and was killed")
                        : crashed ? QStringLiteral("crashed, signal %1").arg(child.exitCode())
                                  : QStringLiteral("ended, exit code %1").arg(child.exitCode())));
    met &= target(seen.value("requestsReceived") == count && logged.transmissions == count &&
                      logged.notSent == 0,
                  QStringLiteral("requests: %1 transmitted, %2 received by the probes, %3 "
                                 "refused for the gap")
                      .arg(logged.transmissions)
                      .arg(seen.value("requestsReceived"))
                      .arg(logged.notSent));
    met &= target(logRead && seen.contains("wellFormedSent") &&
                      logged.wellFormed == seen.value("wellFormedSent"),
                  QStringLiteral("well-formed answers: %1 sent by the probes, %2 delivered and "
                                 "logged")
                      .arg(seen.value("wellFormedSent"))
                      .arg(logged.wellFormed));
    met &= target(seen.value("wrongValues") == 0 && seen.value("measurements") > 0,
                  QStringLiteral("measurements: %1 delivered, %2 with a value not the probe's")
                      .arg(seen.value("measurements"))
                      .arg(seen.value("wrongValues")));
    met &= target(
        seen.value("rssStartKiB") > 0 && seen.value("rssEndKiB") > 0 && growth < rssGrowthLimitKiB,
        QStringLiteral("RSS: %1 KiB at the start, %2 KiB after 100 transactions, %3 KiB "
                       "at the end (growth %4 KiB, limit %5)")
            .arg(seen.value("rssStartKiB"))
            .arg(seen.value("rssWarmKiB"))
            .arg(seen.value("rssEndKiB"))
            .arg(growth)
            .arg(rssGrowthLimitKiB));
    std::printf(
        "  CPU time: %.1f us per transaction (device side and simulator); wall %.1f s, "
        "%.2f ms per transaction\n",
        double(seen.value("cpuUs")) / double(count), double(seen.value("wallMs")) / 1000,
        double(seen.value("wallMs")) / double(count));
    if (keepLog)
        std::printf("  log kept in %s\n", qPrintable(directory.path()));
    std::printf("soak: %s\n", met ? "all targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    SoakOptions options;
    bool deviceSide = false;
    bool keepLog = false;
    if (!parseOptions(application, options, deviceSide, keepLog))
        return 2;
    if (deviceSide)
        return DeviceSide(options).run();
    return supervise(options, keepLog);
}
