#pragma once

#include <QtGlobal>

#include <random>
#include <vector>

namespace testimages {

// The seeds a comparison runs: `fixed` fixed ones, and TINDREL_RANDOM_SEEDS=N more drawn afresh for
// long runs (a failure names its seed, which then reproduces it as a fixed one).
inline std::vector<unsigned> comparisonSeeds(unsigned fixed)
{
    std::vector<unsigned> seeds;
    for (unsigned seed = 1; seed <= fixed; ++seed)
        seeds.push_back(seed);
    const int extra = qEnvironmentVariableIntValue("TINDREL_RANDOM_SEEDS");
    std::random_device device;
    for (int i = 0; i < extra; ++i)
        seeds.push_back(device());
    return seeds;
}

// A length from 1 to `max`, mostly small: the edges (1, 2, odd widths) are where decoders slip.
inline int smallLength(std::mt19937& random, int max)
{
    const int kind = int(random() % 4);
    if (kind == 0)
        return 1 + int(random() % 3);
    if (kind == 1)
        return 1 + int(random() % 17);
    return 1 + int(random() % unsigned(max));
}

} // namespace testimages
