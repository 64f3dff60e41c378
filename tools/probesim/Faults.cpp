#include "Faults.h"

#include "Answers.h"

#include <algorithm>

namespace probesim {

namespace {

constexpr uint8_t statusBusy = 4;
constexpr uint8_t statusUnstable = 5;

// The body without its hash, changed by `delta` bytes, with a hash that fits the new length:
// a frame that is well made but of the wrong size.
QByteArray resized(const QByteArray &answer, int delta)
{
    QByteArray body = answer.left(answer.size() - 2);
    if (delta < 0)
        body.chop(std::min(-delta, int(body.size())));
    else
        body.append(QByteArray(delta, '\0'));
    return withHash(body);
}

QByteArray randomGarbage(std::mt19937 &random)
{
    std::uniform_int_distribution<int> length(1, 4);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray garbage;
    for (int count = length(random); count > 0; --count)
        garbage.append(char(byte(random)));
    return garbage;
}

}  // namespace

const char *faultName(Fault fault)
{
    switch (fault) {
        case Fault::None:
            return "none";
        case Fault::NoAnswer:
            return "no answer";
        case Fault::BadHash:
            return "bad hash";
        case Fault::Split:
            return "split";
        case Fault::Late:
            return "late";
        case Fault::Garbage:
            return "garbage";
        case Fault::Short:
            return "short";
        case Fault::Long:
            return "long";
        case Fault::Repeated:
            return "repeated";
        case Fault::Busy:
            return "busy";
        case Fault::Unstable:
            return "unstable";
    }
    return "?";
}

std::optional<uint8_t> forcedStatus(Fault fault)
{
    if (fault == Fault::Busy)
        return statusBusy;
    if (fault == Fault::Unstable)
        return statusUnstable;
    return std::nullopt;
}

std::vector<Transmission> shapeAnswer(const QByteArray &answer, const InjectedFault &fault,
                                      std::mt19937 &random)
{
    if (fault.kind == Fault::NoAnswer)
        return {};
    // Nothing shorter than a hash can be cut or corrupted.
    if (answer.size() < 2)
        return {{0, answer}};
    switch (fault.kind) {
        case Fault::BadHash: {
            QByteArray corrupted = answer;
            corrupted[corrupted.size() - 2] = char(corrupted.at(corrupted.size() - 2) ^ 0x01);
            return {{0, corrupted}};
        }
        case Fault::Split: {
            int first = fault.splitAt;
            if (first < 1 || first >= answer.size())
                first = std::uniform_int_distribution<int>(1, answer.size() - 1)(random);
            const int delay = fault.delayMs >= 0 ? fault.delayMs : defaultSplitDelayMs;
            return {{0, answer.left(first)}, {delay, answer.mid(first)}};
        }
        case Fault::Late:
            return {{fault.delayMs >= 0 ? fault.delayMs : defaultLateDelayMs, answer}};
        case Fault::Garbage:
            return {
                {0, (fault.garbage.isEmpty() ? randomGarbage(random) : fault.garbage) + answer}};
        case Fault::Short:
            return {{0, resized(answer, -1)}};
        case Fault::Long:
            return {{0, resized(answer, 1)}};
        case Fault::Repeated:
            return {{0, answer + answer}};
        case Fault::None:
        case Fault::NoAnswer:
        case Fault::Busy:
        case Fault::Unstable:
            break;
    }
    return {{0, answer}};
}

int wellFormedFrames(Fault fault)
{
    switch (fault) {
        case Fault::None:
        case Fault::Split:
        case Fault::Late:
        case Fault::Busy:
        case Fault::Unstable:
            return 1;
        case Fault::Repeated:
            return 2;
        case Fault::NoAnswer:
        case Fault::BadHash:
        case Fault::Garbage:
        case Fault::Short:
        case Fault::Long:
            break;
    }
    return 0;
}

void FaultPlan::script(const InjectedFault &fault, int count)
{
    for (; count > 0; --count)
        scripted.push_back(fault);
}

void FaultPlan::setRate(Fault fault, double rate)
{
    rates[fault] = rate;
}

void FaultPlan::setDelays(int splitDelay, int lateDelay)
{
    splitDelayMs = splitDelay;
    lateDelayMs = lateDelay;
}

void FaultPlan::clear()
{
    scripted.clear();
    rates.clear();
}

InjectedFault FaultPlan::next()
{
    if (!scripted.empty()) {
        const InjectedFault fault = scripted.front();
        scripted.pop_front();
        return fault;
    }
    if (rates.empty())
        return {};
    // One draw per answer against the rates laid end to end, so at most one fault hits.
    double draw = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    for (const auto &[kind, rate] : rates) {
        if (draw < rate) {
            InjectedFault fault(kind);
            if (kind == Fault::Split)
                fault.delayMs = splitDelayMs;
            else if (kind == Fault::Late)
                fault.delayMs = lateDelayMs;
            return fault;
        }
        draw -= rate;
    }
    return {};
}

}  // namespace probesim
