#pragma once

#include <cstddef>
#include <vector>

namespace bench {

// Runs `measure` on each size for `rounds` rounds, each size going first in its share of the rounds
// (the first run of a round follows the teardown of the last one's window), and hands every run to
// `keep(size, run, firstRound)`.
template<typename Size, typename Measure, typename Keep>
void rotatingRounds(std::vector<Size>& sizes, int rounds, Measure&& measure, Keep&& keep)
{
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            Size& size = sizes[(k + std::size_t(round)) % sizes.size()];
            keep(size, measure(size), round == 0);
        }
    }
}

// Keeps the fastest of the runs: `value` on the first round, or when it is lower.
inline void keepFastest(double& best, double value, bool firstRound)
{
    if (firstRound || value < best)
        best = value;
}

} // namespace bench
