#include "quality/Statistics.h"

#include <algorithm>
#include <cmath>

namespace quality {

void Accumulator::add(double value)
{
    if (!std::isfinite(value)) {
        ++notFinite;
        return;
    }
    ++count;
    const double delta = value - mean;
    mean += delta / double(count);
    m2 += delta * (value - mean);
    min = count == 1 ? value : std::min(min, value);
    max = count == 1 ? value : std::max(max, value);
    if (limits && limits->verdict(value) != Verdict::InTolerance)
        ++out;
}

Statistics Accumulator::result() const
{
    Statistics statistics;
    statistics.count = count;
    statistics.notFinite = notFinite;
    if (count == 0)
        return statistics;
    statistics.mean = mean;
    statistics.stddev = count > 1 ? std::sqrt(std::max(0.0, m2) / double(count - 1)) : 0.0;
    statistics.min = min;
    statistics.max = max;
    if (!limits)
        return statistics;
    statistics.outShare = double(out) / double(count);
    if (statistics.stddev > 0) {
        const double sigma3 = 3 * statistics.stddev;
        statistics.cp = (limits->upper - limits->lower) / (2 * sigma3);
        statistics.cpk = std::min(limits->upper - mean, mean - limits->lower) / sigma3;
    }
    return statistics;
}

}  // namespace quality
