// Figures of repeated benchmark runs: alternating runs are combined by their medians, which
// one disturbed run does not move.
#pragma once

#include <algorithm>
#include <vector>

namespace benchfig {

using Series = std::vector<double>;

// The median of the values (the mean of the middle two for an even count); 0 for none.
inline double Median(Series values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

} // namespace benchfig
