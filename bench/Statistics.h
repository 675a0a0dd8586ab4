#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarvik::bench
{
/** The nearest-rank percentile (0 < p <= 100) of the samples; 0 for no samples. */
inline double percentile (std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0.0;

    std::sort (samples.begin(), samples.end());
    const auto rank = (size_t) std::ceil (p / 100.0 * (double) samples.size());
    return samples[std::clamp<size_t> (rank, 1, samples.size()) - 1];
}

/** The middle sample, or the mean of the two middle ones; 0 for no samples. */
inline double median (std::vector<double> samples)
{
    if (samples.empty())
        return 0.0;

    std::sort (samples.begin(), samples.end());
    const auto n = samples.size();
    return n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
}
} // namespace tarvik::bench
