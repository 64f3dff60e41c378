#pragma once

#include <functional>
#include <memory>

class QObject;

// Turns SIGINT and SIGTERM into a call on the event loop's thread, with the signal's number,
// where the run can end cleanly after the exchange on the line; a second signal ends the process
// at once.
class StopSignals
{
public:
    explicit StopSignals(std::function<void(int signal)> onStop);
    ~StopSignals();

private:
    std::unique_ptr<QObject> watcher;
};
