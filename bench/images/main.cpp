#include "Comparison.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace bench {

std::vector<Comparison>& comparisons()
{
    static std::vector<Comparison> all;
    return all;
}

} // namespace bench

namespace {

double milliseconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// Prints, per comparison, the median times and the ratio of ours to the baseline (below 1: ours is
// faster) with its inverse, the speed-up.
int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (bench::Comparison& comparison : bench::comparisons()) {
        if (comparison.prepare)
            comparison.prepare();
        // One untimed run of each warms caches and loads plug-ins.
        comparison.ours();
        comparison.baseline();
        std::vector<double> ours, baseline;
        for (int i = 0; i < comparison.runs; ++i) {
            ours.push_back(milliseconds(comparison.ours));
            baseline.push_back(milliseconds(comparison.baseline));
        }
        const double oursMs = median(ours), baselineMs = median(baseline);
        std::printf("%s: ours %.2f ms, baseline %.2f ms, ratio %.3f (speed-up %.2fx)\n",
            comparison.name.c_str(), oursMs, baselineMs, oursMs / baselineMs, baselineMs / oursMs);
        std::fflush(stdout);
    }
    return 0;
}
