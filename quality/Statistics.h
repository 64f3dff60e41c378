#pragma once

#include "quality/Limits.h"

#include <QtGlobal>

#include <optional>

namespace quality {

// What a QA engineer asks of one channel's values, and the history page of each curve.
struct Statistics
{
    qint64 count = 0;
    // Values the probe gave as nan or inf: in none of the figures below.
    qint64 notFinite = 0;
    double mean = 0;
    double stddev = 0;  // sample standard deviation; 0 for a single value
    double min = 0;
    double max = 0;
    // Share of the values judged out of tolerance, 0 to 1; none without limits.
    std::optional<double> outShare;
    // Process capability against the limits; none without limits or without spread.
    std::optional<double> cp;
    std::optional<double> cpk;
};

// Collects one channel's values one at a time (Welford's update), so a year of records needs no
// second pass and no copy of the values.
class Accumulator
{
public:
    explicit Accumulator(std::optional<Limits> limits = std::nullopt) : limits(limits) {}

    // A value that is not finite is no measurement: counted apart, in no other figure.
    void add(double value);
    Statistics result() const;

private:
    std::optional<Limits> limits;
    qint64 count = 0;
    qint64 notFinite = 0;
    qint64 out = 0;
    double mean = 0, m2 = 0, min = 0, max = 0;
};

}  // namespace quality
