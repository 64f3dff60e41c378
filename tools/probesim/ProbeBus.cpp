#include "ProbeBus.h"

#include "ProbeModel.h"

#include <QSocketNotifier>

#include <algorithm>
#include <random>

#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace probesim {

namespace {

// A master whose slave nobody holds reports EIO until the device under test opens it again.
constexpr int readRetryMs = 20;

}  // namespace

ProbeBus::ProbeBus(ProbeModel *model, FaultPlan *faults, QObject *parent)
    : QObject(parent), model(model), faults(faults)
{
    qRegisterMetaType<probesim::ProbeRequest>();
    qRegisterMetaType<probesim::Exchange>();
    readRetry.setSingleShot(true);
    readRetry.setInterval(readRetryMs);
    connect(&readRetry, &QTimer::timeout, this, [this]() {
        if (readNotifier)
            readNotifier->setEnabled(true);
    });
}

ProbeBus::~ProbeBus()
{
    detach();
}

void ProbeBus::attach(int descriptor)
{
    detach();
    fd = descriptor;
    readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(readNotifier.get(), &QSocketNotifier::activated, this, &ProbeBus::readLine);
    writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    writeNotifier->setEnabled(false);
    connect(writeNotifier.get(), &QSocketNotifier::activated, this, &ProbeBus::flush);
}

void ProbeBus::detach()
{
    ++generation;
    readRetry.stop();
    readNotifier.reset();
    writeNotifier.reset();
    outgoing.clear();
    framer.reset();
    fd = -1;
}

void ProbeBus::setLatency(int fixedMs, int jitterMs)
{
    latencyFixedMs = std::max(0, fixedMs);
    latencyJitterMs = std::max(0, jitterMs);
}

// An adapter hands bytes on in the order they came: a short draw never overtakes an answer
// still held from before.
int ProbeBus::drawLatency()
{
    int latency = latencyFixedMs;
    if (latencyJitterMs > 0)
        latency += std::uniform_int_distribution<int>(0, latencyJitterMs)(latencyRandom);
    if (latency == 0)
        return 0;
    const qint64 nowMs = steadyMicroseconds() / 1000;
    const qint64 due = std::max(nowMs + latency, lastAnswerDueMs);
    lastAnswerDueMs = due;
    return int(due - nowMs);
}

void ProbeBus::writeRaw(const QByteArray &bytes)
{
    if (!isAttached())
        return;
    outgoing.append(bytes);
    flush();
}

void ProbeBus::readLine()
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            const qint64 now = steadyMicroseconds();
            for (const ProbeRequest &request : framer.feed(QByteArray(buffer, int(count)), now))
                serve(request);
            if (!isAttached())
                return;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO or end of file: the far end is closed for now.
        readNotifier->setEnabled(false);
        readRetry.start();
        return;
    }
}

void ProbeBus::serve(const ProbeRequest &request)
{
    if (recording)
        received.push_back(request);
    emit requestReceived(request);

    auto exchange = std::make_shared<Exchange>();
    exchange->request = request;
    if (request.verdict != RequestVerdict::Valid || !model->answers(request)) {
        exchange->outcome = request.verdict == RequestVerdict::Valid ? Exchange::Outcome::NoDevice
                                                                     : Exchange::Outcome::Rejected;
        return finish(*exchange);
    }

    const InjectedFault fault = faults->next();
    exchange->fault = fault.kind;
    exchange->frame = *model->answer(request, forcedStatus(fault.kind));
    auto pieces = std::make_shared<std::vector<Transmission>>(
        shapeAnswer(exchange->frame, fault, faults->randomSource()));
    if (pieces->empty()) {
        exchange->outcome = Exchange::Outcome::Silenced;
        return finish(*exchange);
    }
    exchange->wellFormedFrames = wellFormedFrames(fault.kind);
    pieces->front().delayMs = std::max(0, pieces->front().delayMs) + drawLatency();
    schedule(exchange, pieces, 0);
}

void ProbeBus::schedule(std::shared_ptr<Exchange> exchange,
                        std::shared_ptr<std::vector<Transmission>> pieces, size_t index)
{
    const int delayMs = pieces->at(index).delayMs;
    if (delayMs <= 0)
        return transmit(exchange, pieces, index);
    const unsigned armedFor = generation;
    QTimer::singleShot(delayMs, this, [this, exchange, pieces, index, armedFor]() {
        if (armedFor == generation)
            transmit(exchange, pieces, index);
    });
}

void ProbeBus::transmit(std::shared_ptr<Exchange> exchange,
                        std::shared_ptr<std::vector<Transmission>> pieces, size_t index)
{
    const QByteArray &bytes = pieces->at(index).bytes;
    exchange->written.append(bytes);
    writeRaw(bytes);
    if (index + 1 < pieces->size())
        return schedule(exchange, pieces, index + 1);
    answers += 1;
    wellFormed += exchange->wellFormedFrames;
    finish(*exchange);
}

void ProbeBus::finish(Exchange &exchange)
{
    exchange.finishedUs = steadyMicroseconds();
    emit exchangeFinished(exchange);
}

void ProbeBus::flush()
{
    while (isAttached() && !outgoing.isEmpty()) {
        const ssize_t count = ::write(fd, outgoing.constData(), size_t(outgoing.size()));
        if (count > 0) {
            outgoing.remove(0, int(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            writeNotifier->setEnabled(true);
            return;
        }
        return writeFailed(count < 0 ? errno : EIO);
    }
    if (writeNotifier)
        writeNotifier->setEnabled(false);
}

void ProbeBus::writeFailed(int error)
{
    outgoing.clear();
    emit lineFailed(QStringLiteral("write: ") + QString::fromLocal8Bit(std::strerror(error)));
}

}  // namespace probesim
