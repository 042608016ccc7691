#include "Comparison.h"
#include "bench/support/Compare.h"

#include <QGuiApplication>

namespace bench {

std::vector<Comparison>& comparisons()
{
    static std::vector<Comparison> all;
    return all;
}

} // namespace bench

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
        bench::compare(comparison.name, comparison.ours, comparison.baseline, comparison.runs);
    }
    return 0;
}
