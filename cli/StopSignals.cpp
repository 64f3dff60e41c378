#include "cli/StopSignals.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace {

volatile std::sig_atomic_t stopCount = 0;

#ifdef Q_OS_UNIX
// Written by the handler, read by the event loop: the only thing a handler may safely do.
int wakePipe[2] = {-1, -1};

void onSignal(int signal)
{
    const int saved = errno;
    if (++stopCount > 1)
        _exit(128 + signal);
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}
#else
volatile std::sig_atomic_t lastSignal = 0;

void onSignal(int signal)
{
    lastSignal = signal;
    ++stopCount;
}
#endif

}  // namespace

StopSignals::StopSignals(std::function<void(int signal)> onStop)
    : watcher(std::make_unique<QObject>())
{
#ifdef Q_OS_UNIX
    if (::pipe(wakePipe) != 0)
        return;
    for (const int fd : wakePipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
    auto *notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, watcher.get());
    QObject::connect(notifier, &QSocketNotifier::activated, watcher.get(), [onStop] {
        char byte = 0;
        if (::read(wakePipe[0], &byte, 1) == 1)
            onStop(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#else
    // No self-pipe here: the flag is looked at from the event loop.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto *poll = new QTimer(watcher.get());
    QObject::connect(poll, &QTimer::timeout, watcher.get(), [onStop, seen = 0]() mutable {
        if (stopCount != seen) {
            seen = stopCount;
            onStop(lastSignal);
        }
    });
    poll->start(100);
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    watcher.reset();
    for (int &fd : wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#endif
}
