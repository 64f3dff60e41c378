#include "SimulatedProbe.h"

#include "Answers.h"
#include "protocol/Frames.h"

#include <algorithm>
#include <cmath>

using frames::Command;

namespace probesim {

namespace {

constexpr uint8_t statusOk = 0;
constexpr uint8_t statusIncorrectParameters = 3;
constexpr uint8_t statusNoMeasurement = 6;

}  // namespace

SimulatedProbe::SimulatedProbe(uint8_t address, const ProbeSettings &settings, uint32_t seed)
    : listenAddress(address), settings(settings), random(seed ^ (uint32_t(address) * 0x9E3779B9u))
{
}

QByteArray SimulatedProbe::answer(uint8_t code, std::optional<float> payload,
                                  std::optional<uint8_t> forcedStatus)
{
    const uint8_t reply = settings.replyAddress.value_or(listenAddress);
    const std::optional<uint8_t> imposed = forcedStatus ? forcedStatus : statusOverride;
    if (imposed && isErrorStatus(*imposed)) {
        return code == uint8_t(Command::GetMeasurementResult)
                   ? resultFrame(reply, *imposed, 0.0f, 0.0f, 0)
                   : acknowledgeFrame(reply, code, *imposed);
    }

    uint8_t status = statusOk;
    switch (Command(code)) {
        case Command::StartMeasurement:
            measure();
            break;
        case Command::GetMeasurementResult:
            return resultAnswer(reply, imposed);
        case Command::SetZeroPoint:
            setZeroPoint();
            break;
        case Command::SetMeasurePoint:
            if (!payload || !setMeasurePoint(*payload))
                status = statusIncorrectParameters;
            break;
        case Command::ResetCalibration:
            resetCalibration();
            break;
        case Command::UpdateAirCode:
        case Command::CheckAirCode:
        case Command::TestMem:
            break;
    }
    return acknowledgeFrame(reply, code, imposed.value_or(status));
}

QByteArray SimulatedProbe::resultAnswer(uint8_t replyAddress, std::optional<uint8_t> status) const
{
    if (!measured)
        return resultFrame(replyAddress, status.value_or(statusNoMeasurement), 0.0f, 0.0f, 0);
    return resultFrame(replyAddress, status.value_or(statusOk), *measured, calibrated(*measured),
                       settings.quality);
}

void SimulatedProbe::measure()
{
    if (settings.walkStep > 0.0f) {
        const float limit = settings.walkLimit > 0.0f ? settings.walkLimit : 10 * settings.walkStep;
        std::uniform_real_distribution<float> step(-settings.walkStep, settings.walkStep);
        walkOffset = std::clamp(walkOffset + step(random), -limit, limit);
    }
    measured = rawThickness();
}

void SimulatedProbe::setZeroPoint()
{
    offset = rawThickness();
}

bool SimulatedProbe::setMeasurePoint(float um)
{
    const float newGain = um / (rawThickness() - offset);
    if (!std::isfinite(newGain) || newGain == 0.0f)
        return false;
    gain = newGain;
    return true;
}

void SimulatedProbe::resetCalibration()
{
    offset = 0.0f;
    gain = 1.0f;
}

}  // namespace probesim
