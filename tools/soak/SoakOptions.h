#pragma once

#include <QStringList>

#include <cstdint>

// What one soak run does; the supervisor hands the same options to its device-side child.
struct SoakOptions
{
    int count = 10000;
    double faultRate = 0.05;
    uint32_t seed = 1;
    // Longer than the engine's 5 ms gap, so that no request is refused.
    int paceUs = 6000;

    QStringList arguments() const;
};
