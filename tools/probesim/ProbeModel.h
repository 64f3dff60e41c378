#pragma once

#include "ProbeRequest.h"
#include "SimulatedProbe.h"
#include "protocol/ProbeLine.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace probesim {

// The devices on the bus: up to eight probes and the memory test at address 1.
class ProbeModel
{
public:
    static constexpr int maxProbes = probeline::probeCount;

    explicit ProbeModel(uint32_t seed = 1) : seed(seed) {}

    // More probes than a panel set holds: what a scan of a crowded line must report.
    void setCapacity(int probes) { capacity = probes; }

    // False when the bus is full or the address is taken.
    bool addProbe(uint8_t address, const ProbeSettings &settings = {});
    void removeProbe(uint8_t address);
    SimulatedProbe *probe(uint8_t address);
    std::vector<uint8_t> addresses() const;

    void setTestMemStatus(uint8_t status) { testMemStatus = status; }

    // Whether some device answers this valid request.
    bool answers(const ProbeRequest &request) const;
    // The answer to a valid request, or nothing when no device is at its address.
    std::optional<QByteArray> answer(const ProbeRequest &request,
                                     std::optional<uint8_t> forcedStatus = std::nullopt);

private:
    uint32_t seed;
    int capacity = maxProbes;
    std::map<uint8_t, SimulatedProbe> probes;
    uint8_t testMemStatus = 0;
};

}  // namespace probesim
