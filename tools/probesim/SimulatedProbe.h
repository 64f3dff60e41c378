#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <random>

namespace probesim {

struct ProbeSettings
{
    // Raw thickness in micrometres that the probe reads around.
    float thickness = 500.0f;
    // Largest change of the raw value per measurement; 0 keeps it fixed.
    float walkStep = 0.0f;
    // Furthest the walk strays from `thickness`; 0 means ten steps.
    float walkLimit = 0.0f;
    uint8_t quality = 100;
    // Address written into the answers when it differs from the one the probe listens on.
    std::optional<uint8_t> replyAddress;
};

// One thickness probe: its reading, its calibration and the answers it gives.
class SimulatedProbe
{
public:
    SimulatedProbe(uint8_t address, const ProbeSettings &settings, uint32_t seed);

    // Carries out one command and returns the answer frame. A probe answering with an error
    // status (its own override or `forcedStatus`) leaves its state as it was.
    QByteArray answer(uint8_t code, std::optional<float> payload,
                      std::optional<uint8_t> forcedStatus = std::nullopt);

    // Every answer carries this status byte until it is cleared.
    void setStatusOverride(std::optional<uint8_t> status) { statusOverride = status; }

    // What a start of measurement does: the walk takes a step and the value is held for the
    // result.
    void measure();
    void setZeroPoint();
    // False, with nothing changed, when no gain can give `um` at the current reading.
    bool setMeasurePoint(float um);
    void resetCalibration();

    uint8_t address() const { return listenAddress; }
    float rawThickness() const { return settings.thickness + walkOffset; }
    float calibrated(float raw) const { return (raw - offset) * gain; }
    bool hasMeasurement() const { return measured.has_value(); }
    std::optional<float> measuredRaw() const { return measured; }

private:
    QByteArray resultAnswer(uint8_t replyAddress, std::optional<uint8_t> status) const;

    uint8_t listenAddress;
    ProbeSettings settings;
    std::mt19937 random;
    float walkOffset = 0.0f;
    std::optional<float> measured;
    float offset = 0.0f;
    float gain = 1.0f;
    std::optional<uint8_t> statusOverride;
};

}  // namespace probesim
