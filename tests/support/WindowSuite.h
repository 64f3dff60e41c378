#pragma once

#include "app/OrvaUI.h"
#include "probesim/ProbeBus.h"
#include "probesim/ProbeModel.h"
#include "probesim/PseudoTerminal.h"
#include "support/Trace.h"
#include "ui/ProbePanels.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// The window on a pseudo-terminal with eight simulated probes behind it, as the window suites
// share it: the probes, what they read, and the operator's ways of driving the window.
namespace window {

inline const std::vector<int> busAddresses{12, 13, 14, 15, 16, 17, 18, 19};
inline const QStringList busFields{"12", "13", "14", "15", "16", "17", "18", "19"};
constexpr int delayMs = 40;
constexpr int quickAnswerLimitMs = 20;
// Shorter rounds, for the tests that run many of them on a noisy line; still long enough for
// the slowest adapter's answer to come before the next request.
constexpr int shortDelayMs = 30;
// What the probes read, as the panels and the log show it.
inline const QStringList shown{"100.0", "110.5", "121.0", "131.5",
                               "142.0", "152.5", "163.0", "173.5"};
inline const QStringList logged{"100", "110.5", "121", "131.5", "142", "152.5", "163", "173.5"};

// Probes on a pseudo-terminal, built afresh for every test so that no calibration or fault
// carries over. The probe at the Nth address reads as shown[N] and logged[N].
struct Bench
{
    explicit Bench(const std::vector<int> &addresses = busAddresses);
    // Opens the line and puts the probes on it.
    bool open();
    // As an adapter pulled out: the probes leave and the line hangs up.
    void pull();

    probesim::ProbeModel model;
    probesim::FaultPlan faults;
    probesim::PseudoTerminal line;
    probesim::ProbeBus bus{&model, &faults};
};

// The log of one measurement over all probes, in the order of the line.
QStringList measurementLog();

ProbePanel panel(OrvaUI &window, int probe);
QStringList panelValues(const OrvaUI &window);
QStringList addressFields(const OrvaUI &window);

// Types the text into probe N's address field and finishes the edit with Return, as an
// operator does.
void typeAddress(OrvaUI &window, int probe, const QString &text);

// Picks the port and clicks connect; true if the port opened.
bool choosePort(OrvaUI &window, const QString &path);

// One run of an all-probe operation, as the test keeps it.
struct Round
{
    int logFrom = 0;
    size_t requestsFrom = 0;
    QStringList summaries;
    int attempts = 0;
};

// A suite of the window: each test starts in one working folder with eight probes on a fresh
// line and settings.cfg naming them.
class Suite : public QObject
{
    Q_OBJECT

protected:
    std::unique_ptr<Bench> bench;

    QTemporaryDir workDir;

    const std::vector<probesim::ProbeRequest> &received() { return bench->bus.requests(); }
    void connectWithAddresses(OrvaUI &window, const QStringList &fields = busFields);

    // Starts an operation and waits for its summary in the status bar. A machine that holds the
    // loop up for longer than a delay leaves after the slowest answer can make the engine refuse
    // a request for the line's gap, as it must, or let a request's buffer clear drop the one
    // before it unread by the probes. Such a round, or one that saw a refusal, tells nothing of
    // the tool, so it runs again, five times at most; the last is kept whatever happened, so a
    // tool that stalls its own loop or refuses its own schedule fails every time.
    Round settledRound(OrvaUI &window, const QString &operation, const std::function<void()> &start,
                       int delay = delayMs);
    Round settledRound(OrvaUI &window, QPushButton *button, int delay = delayMs);

private slots:
    void initTestCase();
    void init();
    void cleanup();

private:
    // The remembered port goes to a folder of this run, never to the user's own.
    QTemporaryDir configHome;
    QElapsedTimer sinceLastTest;
};

}  // namespace window
