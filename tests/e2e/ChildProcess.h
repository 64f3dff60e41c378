#pragma once

#include <QProcess>

// A process that dies with the test: if the test is killed (a CTest time-out), the tool, the
// simulator and the virtual display must not live on.
class ChildProcess : public QProcess
{
    Q_OBJECT

public:
    using QProcess::QProcess;
    ~ChildProcess() override;

    // Asks the process to end, and kills it if it has not within `timeoutMs`.
    void stop(int timeoutMs = 3000);

protected:
    void setupChildProcess() override;
};
