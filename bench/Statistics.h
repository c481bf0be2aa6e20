// The one way the benchmarks summarise their samples.
#pragma once

#include <algorithm>
#include <vector>

// The value below which the given fraction of the samples lies, interpolated
// linearly between the two nearest samples (the rule of R's type 7 and
// numpy's default). An even number of runs thus has the usual median, the
// mean of the middle two, rather than one of them. 0 for no samples.
template <typename Samples> double percentile(const Samples &samples, double fraction)
{
    std::vector<double> values(samples.begin(), samples.end());
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double at = fraction * double(values.size() - 1);
    const size_t below = size_t(at);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (at - double(below));
}

template <typename Samples> double median(const Samples &samples) { return percentile(samples, 0.5); }
