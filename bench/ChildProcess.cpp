#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace bench {

int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

ChildProcess::ChildProcess(const Options &options)
{
    // Everything the child needs is built before fork: between fork and exec only
    // async-signal-safe calls are allowed.
    std::map<std::string, std::string> environment;
    for (char **entry = environ; *entry; ++entry) {
        const char *equals = std::strchr(*entry, '=');
        if (equals)
            environment[std::string(*entry, size_t(equals - *entry))] = equals + 1;
    }
    for (const std::string &name : options.unset)
        environment.erase(name);
    for (const auto &[name, value] : options.environment)
        environment[name] = value;

    std::vector<std::string> environmentLines;
    for (const auto &[name, value] : environment)
        environmentLines.push_back(name + '=' + value);
    std::vector<char *> envp;
    for (std::string &line : environmentLines)
        envp.push_back(line.data());
    envp.push_back(nullptr);

    std::vector<std::string> arguments = options.arguments;
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const char *directory =
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
    startNs = monotonicNs();
    processId = fork();
    if (processId == 0) {
        if (directory && chdir(directory) != 0)
            _exit(126);
        if (options.passedFd >= 0) {
            if (options.passedFd == options.passedAs)
                fcntl(options.passedAs, F_SETFD, 0);
            else if (dup2(options.passedFd, options.passedAs) < 0)
                _exit(126);
        }
        if (options.quiet) {
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) {
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
            }
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (processId < 0)
        std::perror("fork");
}

ChildProcess::~ChildProcess()
{
    terminate();
}

bool ChildProcess::running()
{
    if (processId <= 0)
        return false;
    int status = 0;
    if (waitpid(processId, &status, WNOHANG) == processId) {
        processId = -1;
        return false;
    }
    return true;
}

void ChildProcess::terminate()
{
    if (processId <= 0)
        return;
    kill(processId, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(processId, nullptr, WNOHANG) == processId) {
            processId = -1;
            return;
        }
        usleep(10000);
    }
    kill(processId, SIGKILL);
    waitpid(processId, nullptr, 0);
    processId = -1;
}

std::optional<std::string> readLine(int fd, int timeoutMs)
{
    std::string line;
    const int64_t deadline = monotonicNs() + int64_t(timeoutMs) * 1000000;
    for (;;) {
        const int64_t leftMs = (deadline - monotonicNs()) / 1000000;
        if (leftMs <= 0)
            return std::nullopt;
        pollfd waiting{fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, int(leftMs));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char c = 0;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line.push_back(c);
    }
}

std::optional<long> peakRssKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return std::nullopt;
}

std::optional<long long> cpuTicks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold blanks and parentheses; the fields after it are plain.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    long long utime = -1;
    long long stime = -1;
    // After the name: state is field 3, utime field 14, stime field 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            utime = std::atoll(field.c_str());
        else if (number == 15)
            stime = std::atoll(field.c_str());
    }
    if (utime < 0 || stime < 0)
        return std::nullopt;
    return utime + stime;
}

}  // namespace bench
