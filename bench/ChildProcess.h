#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// CLOCK_MONOTONIC in nanoseconds: the clock std::chrono::steady_clock reads, so stamps taken by
// different processes compare.
int64_t monotonicNs();

// A program started by fork and exec, with a chosen environment, working directory and one
// extra descriptor; killed and reaped when it goes out of scope.
class ChildProcess
{
public:
    struct Options
    {
        std::vector<std::string> arguments;              // program path first
        std::map<std::string, std::string> environment;  // added to or replacing the parent's
        std::vector<std::string> unset;                  // removed from the parent's
        std::string workingDirectory;                    // empty: the parent's
        int passedFd = -1;                               // dup'ed to `passedAs` in the child
        int passedAs = 3;
        bool quiet = false;  // stdout and stderr to /dev/null
    };

    explicit ChildProcess(const Options &options);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return processId; }
    int64_t startedNs() const { return startNs; }
    bool running();
    void terminate();

private:
    pid_t processId = -1;
    int64_t startNs = 0;
};

// One line read from `fd` within `timeoutMs`, without its newline.
std::optional<std::string> readLine(int fd, int timeoutMs);

// Peak resident set of a live process, in KiB (VmHWM).
std::optional<long> peakRssKiB(pid_t pid);

// User plus system CPU time of a live process, in clock ticks.
std::optional<long long> cpuTicks(pid_t pid);

}  // namespace bench
