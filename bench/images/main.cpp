#include "Comparison.h"
#include "bench/support/Compare.h"

#include <QGuiApplication>

#include <string>

namespace bench {

std::vector<Comparison>& comparisons()
{
    static std::vector<Comparison> all;
    return all;
}

} // namespace bench

// Prints, per comparison, the median times and the ratio of ours to the baseline (below 1: ours is
// faster) with its inverse, the speed-up. An argument keeps only the comparisons whose names hold it.
int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string only = argc > 1 ? argv[1] : "";
    for (bench::Comparison& comparison : bench::comparisons()) {
        if (comparison.name.find(only) == std::string::npos)
            continue;
        if (comparison.prepare)
            comparison.prepare();
        bench::compare(comparison.name, comparison.ours, comparison.baseline, comparison.runs);
    }
    return 0;
}
