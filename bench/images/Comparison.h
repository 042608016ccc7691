#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bench {

// One measurement against a baseline in the same run. `prepare` runs once, untimed; `ours` and
// `baseline` run alternately, several times each, and the medians are compared.
struct Comparison {
    std::string name;
    std::function<void()> prepare;
    std::function<void()> ours;
    std::function<void()> baseline;
    int runs = 7;
};

std::vector<Comparison>& comparisons();

// Registers a comparison at static initialisation: `static bench::Registration r({...});`.
struct Registration {
    explicit Registration(Comparison comparison) { comparisons().push_back(std::move(comparison)); }
};

} // namespace bench
