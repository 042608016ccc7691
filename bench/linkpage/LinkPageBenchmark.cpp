// Builds and shows the Links page for 100, 1,000 and 10,000 saved links in an offscreen window, and
// prints at each size the time to build and show it against the 100-link figure of the same
// process, then the time for one link added while the page shows. The links are shaped like saved
// web pages: most with a title and a description of one sentence to a paragraph (some with typographic
// quotes and dashes, a few in another script), some without either.

#include "app/TDStores.h"
#include "app/model/TDLink.h"
#include "app/screens/browser/TDLinkMasterView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Links.h"
#include "bench/support/Rounds.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QScrollBar>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int rounds = 9;
constexpr double targetRatio = 1.5;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_linkpage: %s\n", what);
    std::exit(1);
}

std::vector<TDLink> makeLinks(int count)
{
    std::vector<TDLink> links;
    links.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        links.push_back(bench::makeLink(i, platform::Uuid::random()));
    return links;
}

struct Run {
    double buildMilliseconds = 0;
    double addMilliseconds = 0;
    int cardsBuilt = 0;
};

// One opening of the page on a filled store: the page is made and shown in a fresh window, timed
// until its first frame has been painted (the links past the view are measured afterwards, between
// events); then one
// link appended to the store while it shows (the list scrolled half way down), timed until the
// page has followed and painted again.
Run buildAndShow(TDStores& stores, const std::vector<TDLink>& links, const TDLink& added)
{
    stores.linkStore->setTdLinks({});
    QCoreApplication::processEvents();
    std::vector<TDLink> withOneMore = links;
    withOneMore.push_back(added);
    Run run;
    QWidget window;
    window.resize(1200, 760);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    stores.linkStore->setTdLinks(links);
    QCoreApplication::processEvents();
    auto start = std::chrono::steady_clock::now();
    auto* view = new TDLinkMasterView(stores, &window);
    layout->addWidget(view);
    window.show();
    QCoreApplication::processEvents();
    window.repaint();
    run.buildMilliseconds
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.cardsBuilt = static_cast<int>(view->cards().size());
    if (run.cardsBuilt == 0)
        fail("no card was built");

    // The page measures the links past the view between events; that settles before the add.
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    for (int turn = 0; turn < 50; ++turn)
        QCoreApplication::processEvents();
    window.repaint();
    start = std::chrono::steady_clock::now();
    stores.linkStore->setTdLinks(std::move(withOneMore));
    QCoreApplication::processEvents();
    window.repaint();
    run.addMilliseconds
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (view->cards().empty())
        fail("the cards went away after the add");
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };

    struct Size {
        int count;
        std::vector<TDLink> links;
        Run best;
    };
    std::vector<Size> sizes;
    for (int count : { 100, 1000, 10000 })
        sizes.push_back({ count, makeLinks(count), {} });
    const TDLink added = bench::makeLink(3, platform::Uuid::random());

    // Warm up fonts, styles and the text measurements once.
    buildAndShow(stores, sizes.front().links, added);
    bench::rotatingRounds(
        sizes, rounds, [&](Size& size) { return buildAndShow(stores, size.links, added); },
        [](Size& size, const Run& run, bool first) {
            bench::keepFastest(size.best.buildMilliseconds, run.buildMilliseconds, first);
            bench::keepFastest(size.best.addMilliseconds, run.addMilliseconds, first);
            size.best.cardsBuilt = run.cardsBuilt;
        });

    const double baseline = sizes.front().best.buildMilliseconds;
    const double addBaseline = sizes.front().best.addMilliseconds;
    std::printf("linkpage: 1200 x 760 offscreen window; fastest of %d builds\n", rounds);
    for (const auto& size : sizes) {
        std::printf("%6d links: build and show %.1f ms, %.2fx the 100-link build (target <= %.1fx at "
                    "10,000); one link added while showing %.2f ms, %.2fx the 100-link figure; cards "
                    "built %d\n",
            size.count, size.best.buildMilliseconds, size.best.buildMilliseconds / baseline, targetRatio,
            size.best.addMilliseconds, size.best.addMilliseconds / addBaseline, size.best.cardsBuilt);
    }
    return 0;
}
