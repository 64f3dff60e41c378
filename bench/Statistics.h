#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace bench {

// Nearest rank: the smallest value that at least `fraction` of the sample does not exceed.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

inline double median(std::vector<double> values)
{
    return percentile(std::move(values), 0.5);
}

inline double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

}  // namespace bench
