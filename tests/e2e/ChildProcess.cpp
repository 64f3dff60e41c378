#include "ChildProcess.h"

#include <sys/prctl.h>
#include <csignal>

ChildProcess::~ChildProcess()
{
    stop();
}

void ChildProcess::stop(int timeoutMs)
{
    if (state() == NotRunning)
        return;
    terminate();
    if (!waitForFinished(timeoutMs)) {
        kill();
        waitForFinished(timeoutMs);
    }
}

void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}
