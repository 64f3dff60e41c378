#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>

// Loaded with LD_PRELOAD into a program under measurement, so that neither the tool nor the
// bare window carries a hook of its own. When the first top-level window has been exposed and
// painted, it writes to the descriptor named by BENCH_SHOWN_FD one line: the CLOCK_MONOTONIC
// time and the CPU time the process has used so far, both in nanoseconds. The CPU time tells
// the programs apart even when other work on the machine stretches the wall-clock time.

namespace {

class ShownReporter : public QObject
{
public:
    explicit ShownReporter(int fd) : QObject(qApp), fd(fd) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Expose)
            return false;
        auto *window = qobject_cast<QWindow *>(watched);
        if (!window || !window->isTopLevel())
            return false;
        // A widget window paints and flushes inside its expose handling, so the frame is on
        // screen only once that handling has run: run it here, then stamp.
        const bool handled = watched->event(event);
        if (window->isExposed())
            report();
        return handled;
    }

private:
    void report()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        timespec used{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
        char line[64];
        const int length = std::snprintf(line, sizeof line, "%lld %lld\n",
                                         (long long)now.tv_sec * 1000000000LL + now.tv_nsec,
                                         (long long)used.tv_sec * 1000000000LL + used.tv_nsec);
        if (length > 0 && ::write(fd, line, size_t(length)) < 0)
            std::perror("shown hook");
        ::close(fd);
        qApp->removeEventFilter(this);
        deleteLater();
    }

    int fd;
};

void installReporter()
{
    const char *fdText = std::getenv("BENCH_SHOWN_FD");
    if (!fdText)
        return;
    char *end = nullptr;
    const long fd = std::strtol(fdText, &end, 10);
    if (end == fdText || *end != '\0' || fd < 0 || fd > 1024)
        return;
    qApp->installEventFilter(new ShownReporter(int(fd)));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(installReporter)
