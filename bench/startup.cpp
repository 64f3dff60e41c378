#include "ChildProcess.h"
#include "Statistics.h"
#include "protocol/ProbeLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

// Start-up time and peak memory of the tool side by side with a bare Qt Widgets window, and the
// tool's CPU use while it sits idle with its port poll running.

using bench::ChildProcess;

namespace {

struct Paths
{
    std::string tool = BENCH_TOOL_PATH;
    std::string bare = BENCH_BARE_PATH;
    std::string form = BENCH_FORM_PATH;
    std::string hook = BENCH_HOOK_PATH;
};

struct Options
{
    Paths paths;
    int runs = 10;
    int idleSeconds = 60;
    int settleMs = 1500;
    bool offscreen = false;
    bool recordsYear = false;
};

constexpr double startupLimit = 1.3;
constexpr double memoryLimit = 1.2;
constexpr double idleLimitPercent = 0.5;

void usage()
{
    std::fprintf(
        stderr,
        "usage: bench_startup [--runs N] [--idle-seconds S] [--offscreen] [--records-year]\n"
        "                     [--tool PATH] [--bare PATH] [--form PATH] [--hook PATH]\n");
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--records-year")
            options.recordsYear = true;
        else if (argument == "--offscreen")
            options.offscreen = true;
        else if (argument == "--runs" && hasValue)
            options.runs = std::atoi(argv[++i]);
        else if (argument == "--idle-seconds" && hasValue)
            options.idleSeconds = std::atoi(argv[++i]);
        else if (argument == "--tool" && hasValue)
            options.paths.tool = argv[++i];
        else if (argument == "--bare" && hasValue)
            options.paths.bare = argv[++i];
        else if (argument == "--form" && hasValue)
            options.paths.form = argv[++i];
        else if (argument == "--hook" && hasValue)
            options.paths.hook = argv[++i];
        else
            return false;
    }
    return options.runs > 0 && options.idleSeconds >= 0;
}

// A private X server, so the windows are mapped and painted as on a desktop, and other users of
// the machine's displays are neither disturbed nor able to disturb the figures.
class VirtualDisplay
{
public:
    bool start()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        ChildProcess::Options options;
        options.arguments = {"/usr/bin/Xvfb", "-displayfd", "3",   "-screen", "0",
                             "1280x1024x24",  "-nolisten",  "tcp", "-noreset"};
        options.passedFd = fds[1];
        options.quiet = true;
        server = std::make_unique<ChildProcess>(options);
        close(fds[1]);
        const auto number = bench::readLine(fds[0], 10000);
        close(fds[0]);
        if (!number || number->empty())
            return false;
        display = ':' + *number;
        return true;
    }

    std::string display;

private:
    std::unique_ptr<ChildProcess> server;
};

struct Launch
{
    std::unique_ptr<ChildProcess> process;
    double startupMs = -1.0;
    double cpuMs = -1.0;
};

class Launcher
{
public:
    Launcher(const Options &options, std::string display, std::string toolDirectory)
        : options(options), display(std::move(display)), toolDirectory(std::move(toolDirectory))
    {
    }

    // Starts the program and waits until its window is on screen.
    Launch launch(const std::string &program, bool isTool) const
    {
        Launch result;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return result;
        ChildProcess::Options child;
        child.arguments = {program};
        child.unset = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "LD_PRELOAD"};
        child.environment["LD_PRELOAD"] = options.paths.hook;
        child.environment["BENCH_SHOWN_FD"] = "3";
        if (options.offscreen)
            child.environment["QT_QPA_PLATFORM"] = "offscreen";
        else
            child.environment["DISPLAY"] = display;
        child.workingDirectory = isTool ? toolDirectory : std::string();
        child.passedFd = fds[1];
        child.quiet = true;
        result.process = std::make_unique<ChildProcess>(child);
        close(fds[1]);
        const auto shown = bench::readLine(fds[0], 30000);
        close(fds[0]);
        long long shownNs = 0;
        long long cpuNs = 0;
        if (shown && std::sscanf(shown->c_str(), "%lld %lld", &shownNs, &cpuNs) == 2) {
            result.startupMs = double(shownNs - result.process->startedNs()) / 1e6;
            result.cpuMs = double(cpuNs) / 1e6;
        }
        return result;
    }

private:
    const Options &options;
    std::string display;
    std::string toolDirectory;
};

// The tool reads its settings and writes its log in its working directory; give it a private one
// holding a full settings file, as an operator's would.
std::string prepareToolDirectory()
{
    char pattern[] = "/tmp/bench-startup-XXXXXX";
    const char *directory = mkdtemp(pattern);
    if (!directory)
        return {};
    std::ofstream settings(std::string(directory) + "/settings.cfg");
    settings << "Port=COM2\n";
    for (int probe = 1; probe <= probeline::probeCount; ++probe)
        settings << "Probe" << probe << '=' << 10 + probe << '\n';
    settings << "Delay=" << probeline::defaultDelayMs << '\n';
    return directory;
}

// A year of records in the tool's folder (250 days of 3,840 lines): what start-up must not read.
bool writeRecordsYear(const std::string &directory)
{
    const std::string folder = directory + "/records";
    if (mkdir(folder.c_str(), 0755) != 0)
        return false;
    time_t day = time(nullptr);
    char line[96];
    for (int days = 0; days < 250; day -= 86400) {
        struct tm local = {};
        localtime_r(&day, &local);
        if (local.tm_wday == 0 || local.tm_wday == 6)
            continue;
        ++days;
        char name[32];
        std::strftime(name, sizeof name, "/%Y-%m-%d.csv", &local);
        std::ofstream file(folder + name, std::ios::binary);
        file << "time,channel,address,raw_um,calibrated_um,quality\r\n";
        for (int minute = 0; minute < 480; ++minute) {
            for (int probe = 1; probe <= probeline::probeCount; ++probe) {
                std::snprintf(line, sizeof line,
                              "%04d-%02d-%02dT%02d:%02d:%02d.000+00:00,%d,%d,%d.25,%d.5,9%d\r\n",
                              local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                              8 + minute / 60, minute % 60, probe, probe, 10 + probe, 100 + probe,
                              99 + probe, probe);
                file << line;
            }
        }
        if (!file)
            return false;
    }
    return true;
}

void removeToolDirectory(const std::string &directory)
{
    if (directory.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(directory + "/records", ignored);
    std::remove((directory + "/log/log.txt").c_str());
    rmdir((directory + "/log").c_str());
    std::remove((directory + "/settings.cfg").c_str());
    rmdir(directory.c_str());
}

void sleepMs(int ms)
{
    usleep(useconds_t(ms) * 1000);
}

struct Figures
{
    std::vector<double> startupMs;
    std::vector<double> cpuMs;
    std::vector<double> peakKiB;
};

// One program under measurement and what was measured of it.
struct Subject
{
    const char *name;
    std::string path;
    bool isTool;
    Figures figures;
};

double idleCpuPercent(long long ticksBefore, long long ticksAfter, double wallSeconds)
{
    return double(ticksAfter - ticksBefore) / double(sysconf(_SC_CLK_TCK)) / wallSeconds * 100.0;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    for (const std::string *path :
         {&options.paths.tool, &options.paths.bare, &options.paths.form, &options.paths.hook}) {
        if (access(path->c_str(), R_OK) != 0) {
            std::fprintf(stderr, "missing: %s\n", path->c_str());
            return 2;
        }
    }

    VirtualDisplay display;
    if (!options.offscreen && !display.start()) {
        std::fprintf(stderr, "could not start Xvfb\n");
        return 2;
    }
    const std::string toolDirectory = prepareToolDirectory();
    if (options.recordsYear && !toolDirectory.empty() && !writeRecordsYear(toolDirectory)) {
        std::fprintf(stderr, "could not write a year of records\n");
        removeToolDirectory(toolDirectory);
        return 2;
    }
    if (toolDirectory.empty()) {
        std::perror("mkdtemp");
        return 2;
    }
    const Launcher launcher(options, display.display, toolDirectory);

    Subject subjects[] = {{"bare window", options.paths.bare, false, {}},
                          {"form only", options.paths.form, false, {}},
                          {"tool", options.paths.tool, true, {}}};
    constexpr int subjectCount = int(std::size(subjects));
    Subject &bare = subjects[0];
    Subject &form = subjects[1];
    Subject &tool = subjects[2];

    // The first round warms the page cache and the font cache and is not counted; after that the
    // order rotates so that no program always follows the same one.
    for (int run = -1; run < options.runs; ++run) {
        for (int turn = 0; turn < subjectCount; ++turn) {
            Subject &subject = subjects[(turn + run + 1) % subjectCount];
            Launch launch = launcher.launch(subject.path, subject.isTool);
            if (launch.startupMs < 0) {
                std::fprintf(stderr, "%s showed no window\n", subject.name);
                removeToolDirectory(toolDirectory);
                return 2;
            }
            sleepMs(options.settleMs);
            const auto peak = bench::peakRssKiB(launch.process->pid());
            launch.process->terminate();
            if (run < 0)
                continue;
            subject.figures.startupMs.push_back(launch.startupMs);
            subject.figures.cpuMs.push_back(launch.cpuMs);
            if (peak)
                subject.figures.peakKiB.push_back(double(*peak));
        }
    }

    // Both idle side by side, so that a load from elsewhere on the machine hits them alike.
    double toolIdlePercent = 0.0;
    double bareIdlePercent = 0.0;
    if (options.idleSeconds > 0) {
        Launch idleTool = launcher.launch(tool.path, true);
        Launch idleBare = launcher.launch(bare.path, false);
        sleepMs(options.settleMs);
        const auto toolBefore = bench::cpuTicks(idleTool.process->pid());
        const auto bareBefore = bench::cpuTicks(idleBare.process->pid());
        const int64_t fromNs = bench::monotonicNs();
        sleepMs(options.idleSeconds * 1000);
        const auto toolAfter = bench::cpuTicks(idleTool.process->pid());
        const auto bareAfter = bench::cpuTicks(idleBare.process->pid());
        const double wallSeconds = double(bench::monotonicNs() - fromNs) / 1e9;
        if (!toolBefore || !toolAfter || !bareBefore || !bareAfter) {
            std::fprintf(stderr, "a program ended while idle\n");
            removeToolDirectory(toolDirectory);
            return 2;
        }
        toolIdlePercent = idleCpuPercent(*toolBefore, *toolAfter, wallSeconds);
        bareIdlePercent = idleCpuPercent(*bareBefore, *bareAfter, wallSeconds);
    }
    removeToolDirectory(toolDirectory);

    const auto medianOf = [](const Subject &subject, std::vector<double> Figures::*series) {
        return bench::median(subject.figures.*series);
    };
    const double startupRatio =
        medianOf(tool, &Figures::startupMs) / medianOf(bare, &Figures::startupMs);
    const double memoryRatio =
        medianOf(tool, &Figures::peakKiB) / medianOf(bare, &Figures::peakKiB);

    std::printf("Start-up and footprint, %d runs each, platform %s\n", options.runs,
                options.offscreen ? "offscreen" : ("xcb on Xvfb " + display.display).c_str());
    std::printf("%-14s %14s %14s %14s %12s\n", "", bare.name, form.name, tool.name, "tool / bare");
    // CPU time and the form-only window are not targets. Other work on the machine disturbs CPU
    // time less than wall-clock time, and the form alone shows how much of the difference is the
    // widgets.
    const struct
    {
        const char *label;
        std::vector<double> Figures::*series;
        const char *unit;
        int decimals;
        double limit;
    } rows[] = {{"start-up, med", &Figures::startupMs, "ms", 1, startupLimit},
                {"CPU to shown", &Figures::cpuMs, "ms", 1, 0.0},
                {"peak RSS, med", &Figures::peakKiB, "KiB", 0, memoryLimit}};
    for (const auto &row : rows) {
        std::printf("%-14s", row.label);
        for (const Subject &subject : subjects)
            std::printf(" %10.*f %-3s", row.decimals, medianOf(subject, row.series), row.unit);
        std::printf(" %11.2fx", medianOf(tool, row.series) / medianOf(bare, row.series));
        if (row.limit > 0)
            std::printf("  (limit %.1fx)", row.limit);
        std::printf("\n");
    }
    bool met = startupRatio <= startupLimit && memoryRatio <= memoryLimit;
    if (options.idleSeconds > 0) {
        std::printf("%-14s %10.3f %%   %14s %10.3f %%    over %d s (limit %.1f %% of a core)\n",
                    "idle CPU", bareIdlePercent, "", toolIdlePercent, options.idleSeconds,
                    idleLimitPercent);
        met = met && toolIdlePercent <= idleLimitPercent;
    }
    std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    return met ? 0 : 1;
}
