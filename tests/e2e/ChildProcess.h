#pragma once

#include <QProcess>

#include <sys/prctl.h>
#include <csignal>

// A process that dies with the test: if the test is killed (a CTest time-out), the tool, the
// simulator and the port holder must not live on.
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    using QProcess::QProcess;
    ~ChildProcess() override { stop(); }

    // Asks the process to end, and kills it if it has not within three seconds.
    void stop()
    {
        terminate();
        if (!waitForFinished(3000)) {
            kill();
            waitForFinished(3000);
        }
    }

protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }
};
