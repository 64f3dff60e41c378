#pragma once

#include "protocol/ProbeLine.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class OrvaUI;
class QEventLoop;

namespace bench {

constexpr int probes = probeline::probeCount;

// Microseconds on the steady clock, the simulator's time base.
qint64 steadyUs();

// Requests the engine refused because they came within its gap after the previous one.
int refusedCount(const QList<QByteArray> &logLines);

// Lines that tell of a request or an answer gone wrong.
QList<QByteArray> troubleLines(const QList<QByteArray> &logLines);

// The tool's window as the operator has it: started in a working directory of its own with a
// settings file giving the delay, the address fields filled and the port connected. The bench
// watches it from outside only: the panels' texts and the log file.
class ToolUnderTest : public QObject
{
public:
    // `limits`: limits.ini for the working directory; none when empty. `publishConfig`, when
    // given, is its publish.cfg.
    ToolUnderTest(int delay, const std::vector<uint8_t> &addresses,
                  const QByteArray &limits = QByteArray(), const QByteArray &publishConfig = {});
    ~ToolUnderTest() override;

    bool isReady() const { return window != nullptr; }
    bool connectTo(const QString &portPath);
    // Shows the page "История" with today's records, as an operator watching the trend has it.
    void showHistory();

    // The steady-clock time just before the click: the origin of the schedule it starts.
    qint64 clickUpdateAirCode();
    qint64 clickGetResults();

    // Per probe, when a value appeared in its panel since the last call.
    std::array<std::vector<qint64>, probes> takeShown();
    int shownCount() const { return shown; }

    // The log lines written since the last call.
    QList<QByteArray> takeLogLines();

    // Runs the event loop for `ms`, with a precise timer ending it.
    void runFor(int ms);
    // Runs the event loop until `count` values have appeared in the panels since the last
    // takeShown(), or `timeoutMs` has passed.
    bool waitForShown(int count, int timeoutMs);

private:
    QString previousDirectory;
    QTemporaryDir directory;
    std::unique_ptr<OrvaUI> window;
    std::array<std::vector<qint64>, probes> shownUs;
    int shown = 0;
    int wantedShown = 0;
    QEventLoop *waiting = nullptr;
    qint64 logOffset = 0;
    QByteArray logTail;
};

}  // namespace bench
