#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline double milliseconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The value below which `share` of the values lie (0.99: the 99th percentile; 1: the largest).
inline double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0
                          : values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

// Times `ours` and `baseline` alternately, `runs` times each after one untimed warm-up run of each
// (which loads plug-ins and fills caches), and prints the medians, the ratio of ours to the baseline
// (below 1: ours is faster; the median of the ratios within each pair) and its inverse, the
// speed-up. Alternating keeps a noisy machine's slow spells from landing on one side only, and each
// pair takes the other order from the one before, so that neither side always runs in the caches
// the other leaves.
inline void compare(const std::string& name, const std::function<void()>& ours,
    const std::function<void()>& baseline, int runs = 7, bool warmUp = true)
{
    if (warmUp) {
        ours();
        baseline();
    }
    std::vector<double> oursTimes, baselineTimes;
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            oursTimes.push_back(milliseconds(ours));
            baselineTimes.push_back(milliseconds(baseline));
        } else {
            baselineTimes.push_back(milliseconds(baseline));
            oursTimes.push_back(milliseconds(ours));
        }
    }
    // Each pair ran within moments: the median of the pairs' own ratios leaves out what the machine
    // did between pairs (other processes, clock changes) better than the ratio of the medians does.
    std::vector<double> pairRatios;
    for (int i = 0; i < runs; ++i)
        pairRatios.push_back(oursTimes[std::size_t(i)] / baselineTimes[std::size_t(i)]);
    const double oursMs = median(oursTimes), baselineMs = median(baselineTimes), ratio = median(pairRatios);
    std::printf("%s: ours %.2f ms, baseline %.2f ms, ratio %.3f (speed-up %.2fx)\n", name.c_str(), oursMs,
        baselineMs, ratio, 1 / ratio);
    std::fflush(stdout);
}

} // namespace bench
