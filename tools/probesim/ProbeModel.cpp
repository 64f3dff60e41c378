#include "ProbeModel.h"

#include "Answers.h"
#include "protocol/Frames.h"

namespace probesim {

namespace {

bool isTestMem(const ProbeRequest &request)
{
    return request.code() == uint8_t(frames::Command::TestMem);
}

}  // namespace

bool ProbeModel::addProbe(uint8_t address, const ProbeSettings &settings)
{
    if (int(probes.size()) >= capacity || probes.count(address))
        return false;
    probes.emplace(address, SimulatedProbe(address, settings, seed));
    return true;
}

void ProbeModel::removeProbe(uint8_t address)
{
    probes.erase(address);
}

SimulatedProbe *ProbeModel::probe(uint8_t address)
{
    const auto found = probes.find(address);
    return found == probes.end() ? nullptr : &found->second;
}

std::vector<uint8_t> ProbeModel::addresses() const
{
    std::vector<uint8_t> list;
    for (const auto &entry : probes)
        list.push_back(entry.first);
    return list;
}

bool ProbeModel::answers(const ProbeRequest &request) const
{
    if (request.verdict != RequestVerdict::Valid)
        return false;
    if (isTestMem(request))
        return request.address() == frames::testMemAddress;
    return probes.count(request.address()) != 0;
}

std::optional<QByteArray> ProbeModel::answer(const ProbeRequest &request,
                                             std::optional<uint8_t> forcedStatus)
{
    if (!answers(request))
        return std::nullopt;
    if (isTestMem(request)) {
        return acknowledgeFrame(request.address(), request.code(),
                                forcedStatus.value_or(testMemStatus));
    }
    return probe(request.address())->answer(request.code(), request.payload(), forcedStatus);
}

}  // namespace probesim
