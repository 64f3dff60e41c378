#pragma once

#include <QByteArray>
#include <QMetaType>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <vector>

namespace probesim {

enum class Fault {
    None,
    NoAnswer,
    BadHash,
    Split,
    Late,
    Garbage,
    Short,
    Long,
    Repeated,
    Busy,
    Unstable,
};

const char *faultName(Fault fault);

// One fault and how it goes; negative or empty parameters take the defaults.
struct InjectedFault
{
    InjectedFault() = default;
    InjectedFault(Fault kind) : kind(kind) {}

    Fault kind = Fault::None;
    // Split: pause between the pieces; Late: pause before the answer.
    int delayMs = -1;
    // Split: bytes in the first piece.
    int splitAt = -1;
    // Garbage: the bytes sent ahead of the answer.
    QByteArray garbage;
};

// A part of an answer on its way: the pause before it, then its bytes.
struct Transmission
{
    int delayMs = 0;
    QByteArray bytes;
};

constexpr int defaultSplitDelayMs = 10;
constexpr int defaultLateDelayMs = 100;

// The status a fault forces on the probe's answer, if any.
std::optional<uint8_t> forcedStatus(Fault fault);

// How `answer` goes on the line under `fault`; `random` fills what the fault leaves open.
std::vector<Transmission> shapeAnswer(const QByteArray &answer, const InjectedFault &fault,
                                      std::mt19937 &random);

// Frames in the shaped answer that a receiver could take whole and intact.
int wellFormedFrames(Fault fault);

// Chooses the fault for each answer: scripted ones first, in order, then a random draw by rate.
class FaultPlan
{
public:
    explicit FaultPlan(uint32_t seed = 1) : random(seed) {}

    void script(const InjectedFault &fault, int count = 1);
    // Rates are probabilities per answer; their sum should not exceed 1.
    void setRate(Fault fault, double rate);
    // Pauses of split and late answers drawn by rate.
    void setDelays(int splitDelayMs, int lateDelayMs);
    void clear();

    InjectedFault next();
    int scriptedLeft() const { return int(scripted.size()); }
    std::mt19937 &randomSource() { return random; }

private:
    std::deque<InjectedFault> scripted;
    std::map<Fault, double> rates;
    int splitDelayMs = defaultSplitDelayMs;
    int lateDelayMs = defaultLateDelayMs;
    std::mt19937 random;
};

}  // namespace probesim

Q_DECLARE_METATYPE(probesim::Fault)
Q_DECLARE_METATYPE(probesim::InjectedFault)
