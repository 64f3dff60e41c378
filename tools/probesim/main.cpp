// probesim: answers as up to eight thickness probes on a pseudo-terminal or a serial device.

#include "probesim/ExchangeText.h"
#include "probesim/ProbeSimulator.h"
#include "settings/Settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include <cmath>
#include <utility>
#include <vector>

using namespace probesim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Quits the event loop on SIGINT or SIGTERM; the handler only writes to a pipe.
bool installSignalHandlers(QCoreApplication *application)
{
    if (::pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, application);
    QObject::connect(notifier, &QSocketNotifier::activated, application,
                     [application]() { application->quit(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// The settings reader's complaints ("Bad probe address") go to stderr.
class StderrLog : public m::ifc::ILog
{
public:
    void write(uint32_t, std::string_view text) override
    {
        std::fprintf(stderr, "probesim: %.*s\n", int(text.size()), text.data());
    }
};

void printLine(const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

struct FaultOption
{
    Fault fault;
    QCommandLineOption option;
};

bool readNumber(const QCommandLineParser &parser, const QCommandLineOption &option, double low,
                double high, double &value, bool whole = false)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const double parsed = parser.value(option).toDouble(&ok);
    if (!ok || !std::isfinite(parsed) || parsed < low || parsed > high ||
        (whole && parsed != std::floor(parsed))) {
        std::fprintf(stderr, "probesim: --%s wants a%s number from %g to %g\n",
                     qPrintable(option.names().first()), whole ? " whole" : "", low, high);
        return false;
    }
    value = parsed;
    return true;
}

bool readAddress(const QString &text, uint8_t &address)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > 255)
        return false;
    address = uint8_t(value);
    return true;
}

bool readSettingsAddresses(const QString &path, std::vector<uint8_t> &addresses)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "probesim: cannot read %s\n", qPrintable(path));
        return false;
    }
    QTextStream stream(&file);
    StderrLog log;
    const std::vector<uint8_t> read = parseProbeAddresses(stream, &log);
    addresses.insert(addresses.end(), read.begin(), read.end());
    return true;
}

// A link to the slave path, so scripts and settings.cfg can name a fixed port.
class PortLink
{
public:
    ~PortLink() { remove(); }

    bool make(const QString &linkPath, const QString &target)
    {
        const QFileInfo existing(linkPath);
        if (existing.isSymLink()) {
            QFile::remove(linkPath);
        } else if (existing.exists()) {
            std::fprintf(stderr, "probesim: %s exists and is not a link\n", qPrintable(linkPath));
            return false;
        }
        if (::symlink(QFile::encodeName(target).constData(),
                      QFile::encodeName(linkPath).constData()) != 0) {
            std::perror("probesim: symlink");
            return false;
        }
        path = linkPath;
        this->target = target;
        return true;
    }

    // Only our own link goes: another simulator may have taken the name since.
    void remove()
    {
        if (!path.isEmpty() &&
            QFileInfo(path).symLinkTarget() == QFileInfo(target).absoluteFilePath())
            QFile::remove(path);
        path.clear();
    }

private:
    QString path;
    QString target;
};

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("probesim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Answers as up to eight thickness probes at 460800 baud. Without --device it serves a "
        "new pseudo-terminal and prints the slave's path on the first line. Then one line per "
        "request: time, request bytes, command, address, answer bytes, fault, decoded answer.\n"
        "Fault rates are probabilities per answer (0 to 1); at most one fault hits an answer, "
        "so their sum must not exceed 1. SIGINT or SIGTERM ends it cleanly, removing the --link; "
        "the count of answers sent goes to stderr then."));
    parser.addHelpOption();
    const QCommandLineOption deviceOption(
        QStringLiteral("device"), QStringLiteral("Serve on the serial device <path> instead."),
        QStringLiteral("path"));
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Make <path> a symbolic link to the pseudo-terminal's slave."),
        QStringLiteral("path"));
    const QCommandLineOption probeOption(
        QStringLiteral("probe"), QStringLiteral("A probe at address <addr> (0-255); repeatable."),
        QStringLiteral("addr"));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Probes at the addresses in the settings.cfg <file> (Probe1= to Probe8=)."),
        QStringLiteral("file"));
    const QCommandLineOption thicknessOption(
        QStringLiteral("thickness"),
        QStringLiteral("Raw thickness in micrometres the probes read around (default 500)."),
        QStringLiteral("um"));
    const QCommandLineOption walkOption(
        QStringLiteral("walk"),
        QStringLiteral("Largest change of the raw value per measurement, micrometres "
                       "(default 0: fixed)."),
        QStringLiteral("um"));
    const QCommandLineOption walkLimitOption(
        QStringLiteral("walk-limit"),
        QStringLiteral("Furthest the walk strays from the thickness (default ten steps)."),
        QStringLiteral("um"));
    const QCommandLineOption qualityOption(
        QStringLiteral("quality"),
        QStringLiteral("Quality figure in every result, 0-255 (default 100)."),
        QStringLiteral("n"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"), QStringLiteral("Seed of the walk and of the faults (default 1)."),
        QStringLiteral("n"));
    const QCommandLineOption testStatusOption(
        QStringLiteral("test-status"),
        QStringLiteral("Status byte of the memory test's answer, 0-255 (default 0)."),
        QStringLiteral("n"));
    const QCommandLineOption splitDelayOption(
        QStringLiteral("split-delay"),
        QStringLiteral("Pause between the pieces of a split answer, ms (default %1).")
            .arg(defaultSplitDelayMs),
        QStringLiteral("ms"));
    const QCommandLineOption lateDelayOption(
        QStringLiteral("late-delay"),
        QStringLiteral("Delay of a late answer, ms (default %1).").arg(defaultLateDelayMs),
        QStringLiteral("ms"));
    const QCommandLineOption latencyOption(
        QStringLiteral("latency"),
        QStringLiteral("Fixed delay of every answer, as a USB adapter holds it, ms (default 0)."),
        QStringLiteral("ms"));
    const QCommandLineOption jitterOption(
        QStringLiteral("jitter"),
        QStringLiteral("Largest extra delay drawn for each answer on top of --latency, ms "
                       "(default 0)."),
        QStringLiteral("ms"));
    const auto faultOption = [](const char *name, const char *what) {
        return QCommandLineOption(QStringLiteral("fault-%1").arg(QLatin1String(name)),
                                  QStringLiteral("Rate of answers %1.").arg(QLatin1String(what)),
                                  QStringLiteral("rate"));
    };
    const std::vector<FaultOption> faultOptions{
        {Fault::NoAnswer, faultOption("no-answer", "never sent")},
        {Fault::BadHash, faultOption("bad-hash", "with a wrong hash")},
        {Fault::Split, faultOption("split", "sent in two pieces with a pause between")},
        {Fault::Late, faultOption("late", "sent late")},
        {Fault::Garbage, faultOption("garbage", "with garbage bytes ahead of them")},
        {Fault::Short, faultOption("short", "one byte short (hash fitting the bytes sent)")},
        {Fault::Long, faultOption("long", "one byte long (hash fitting the bytes sent)")},
        {Fault::Repeated, faultOption("repeat", "sent twice")},
        {Fault::Busy, faultOption("busy", "with status Busy")},
        {Fault::Unstable, faultOption("unstable", "with status Unstable")},
    };
    parser.addOptions({deviceOption, linkOption, probeOption, settingsOption, thicknessOption,
                       walkOption, walkLimitOption, qualityOption, seedOption, testStatusOption,
                       splitDelayOption, lateDelayOption, latencyOption, jitterOption});
    for (const FaultOption &entry : faultOptions)
        parser.addOption(entry.option);
    parser.process(application);

    double thickness = 500, walk = 0, walkLimit = 0, quality = 100, seed = 1, testStatus = 0;
    double splitDelay = defaultSplitDelayMs, lateDelay = defaultLateDelayMs;
    double latency = 0, jitter = 0;
    if (!readNumber(parser, thicknessOption, -1e9, 1e9, thickness) ||
        !readNumber(parser, walkOption, 0, 1e6, walk) ||
        !readNumber(parser, walkLimitOption, 0, 1e9, walkLimit) ||
        !readNumber(parser, qualityOption, 0, 255, quality, true) ||
        !readNumber(parser, seedOption, 0, 4294967295.0, seed, true) ||
        !readNumber(parser, testStatusOption, 0, 255, testStatus, true) ||
        !readNumber(parser, splitDelayOption, 0, 60000, splitDelay, true) ||
        !readNumber(parser, lateDelayOption, 0, 60000, lateDelay, true) ||
        !readNumber(parser, latencyOption, 0, 60000, latency, true) ||
        !readNumber(parser, jitterOption, 0, 60000, jitter, true))
        return 2;

    std::vector<uint8_t> addresses;
    for (const QString &text : parser.values(probeOption)) {
        uint8_t address = 0;
        if (!readAddress(text, address)) {
            std::fprintf(stderr, "probesim: bad probe address %s\n", qPrintable(text));
            return 2;
        }
        addresses.push_back(address);
    }
    if (parser.isSet(settingsOption) &&
        !readSettingsAddresses(parser.value(settingsOption), addresses))
        return 2;

    ProbeSimulator simulator{uint32_t(seed)};
    ProbeSettings settings;
    settings.thickness = float(thickness);
    settings.walkStep = float(walk);
    settings.walkLimit = float(walkLimit);
    settings.quality = uint8_t(quality);
    for (const uint8_t address : addresses) {
        if (!simulator.model().addProbe(address, settings)) {
            std::fprintf(stderr, "probesim: probe %u left out (taken, or more than %d)\n",
                         unsigned(address), ProbeModel::maxProbes);
        }
    }
    simulator.model().setTestMemStatus(uint8_t(testStatus));

    double rateSum = 0;
    for (const FaultOption &entry : faultOptions) {
        double rate = 0;
        if (!readNumber(parser, entry.option, 0, 1, rate))
            return 2;
        rateSum += rate;
        if (rate > 0)
            simulator.faults().setRate(entry.fault, rate);
    }
    if (rateSum > 1.0) {
        std::fprintf(stderr, "probesim: the fault rates add up to more than 1\n");
        return 2;
    }
    simulator.faults().setDelays(int(splitDelay), int(lateDelay));
    simulator.bus().setLatency(int(latency), int(jitter));

    const bool opened = parser.isSet(deviceOption)
                            ? simulator.openDevice(parser.value(deviceOption))
                            : simulator.openPseudoTerminal();
    if (!opened) {
        std::fprintf(stderr, "probesim: %s\n", qPrintable(simulator.errorString()));
        return 1;
    }
    PortLink link;
    if (parser.isSet(linkOption) && !link.make(parser.value(linkOption), simulator.portPath()))
        return 1;
    if (!installSignalHandlers(&application)) {
        std::perror("probesim: signal handlers");
        return 1;
    }
    simulator.bus().setRecordRequests(false);

    printLine(simulator.portPath());
    const qint64 startUs = steadyMicroseconds();
    QObject::connect(
        &simulator.bus(), &ProbeBus::exchangeFinished, &application,
        [startUs](const Exchange &exchange) { printLine(describeExchange(exchange, startUs)); });
    QObject::connect(&simulator.bus(), &ProbeBus::lineFailed, &application,
                     [](const QString &message) {
                         std::fprintf(stderr, "probesim: %s\n", qPrintable(message));
                     });
    const int result = application.exec();
    std::fprintf(stderr, "probesim: %d answers, %d well-formed frames\n",
                 simulator.bus().answersWritten(), simulator.bus().wellFormedAnswers());
    return result;
}
