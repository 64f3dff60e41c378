#include "SimulatedLine.h"

#include "probesim/ProbeSimulator.h"

#include <pthread.h>
#include <sched.h>

namespace bench {

SimulatedLine::SimulatedLine(std::vector<uint8_t> addresses) : addresses(std::move(addresses)) {}

SimulatedLine::~SimulatedLine()
{
    quit();
    wait(5000);
}

bool SimulatedLine::open()
{
    start();
    if (!started.tryAcquire(1, 5000)) {
        error = QStringLiteral("the simulator thread did not start");
        return false;
    }
    return opened;
}

LineTraffic SimulatedLine::take()
{
    const std::lock_guard<std::mutex> lock(mutex);
    LineTraffic taken;
    std::swap(taken, traffic);
    return taken;
}

int SimulatedLine::requestCount() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return int(traffic.requests.size());
}

void SimulatedLine::run()
{
    // Where allowed, the probes preempt everything else on the machine, so that their stamps
    // stay true to the line while other work loads the cores. The tool keeps normal priority.
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;

    probesim::ProbeSimulator simulator;
    for (const uint8_t address : addresses)
        simulator.model().addProbe(address);
    // The bus keeps every request for its own users; the figures need only what is copied here.
    simulator.bus().setRecordRequests(false);
    simulator.bus().setLatency(latencyMs, latencyJitterMs);
    probesim::ProbeBus *bus = &simulator.bus();
    QObject::connect(
        bus, &probesim::ProbeBus::requestReceived, bus,
        [this](const probesim::ProbeRequest &request) {
            const std::lock_guard<std::mutex> lock(mutex);
            traffic.requests.push_back({request.code(), request.address(), request.timeUs});
        },
        Qt::DirectConnection);
    QObject::connect(
        bus, &probesim::ProbeBus::exchangeFinished, bus,
        [this](const probesim::Exchange &exchange) {
            if (exchange.outcome != probesim::Exchange::Outcome::Answered)
                return;
            const std::lock_guard<std::mutex> lock(mutex);
            traffic.answers.push_back({exchange.request.code(), exchange.request.address(),
                                       exchange.written.size(), exchange.finishedUs});
        },
        Qt::DirectConnection);

    opened = simulator.openPseudoTerminal();
    if (opened)
        path = simulator.portPath();
    else
        error = simulator.errorString();
    started.release();
    if (opened)
        exec();
    simulator.close();
}

}  // namespace bench
