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

// Times `ours` and `baseline` alternately, `runs` times each after one untimed warm-up run of each
// (which loads plug-ins and fills caches), and prints the medians, the ratio of ours to the baseline
// (below 1: ours is faster) and its inverse, the speed-up. Alternating keeps a noisy machine's
// slow spells from landing on one side only.
inline void compare(const std::string& name, const std::function<void()>& ours,
    const std::function<void()>& baseline, int runs = 7, bool warmUp = true)
{
    if (warmUp) {
        ours();
        baseline();
    }
    std::vector<double> oursTimes, baselineTimes;
    for (int i = 0; i < runs; ++i) {
        oursTimes.push_back(milliseconds(ours));
        baselineTimes.push_back(milliseconds(baseline));
    }
    const double oursMs = median(oursTimes), baselineMs = median(baselineTimes);
    std::printf("%s: ours %.2f ms, baseline %.2f ms, ratio %.3f (speed-up %.2fx)\n", name.c_str(), oursMs,
        baselineMs, oursMs / baselineMs, baselineMs / oursMs);
    std::fflush(stdout);
}

} // namespace bench
