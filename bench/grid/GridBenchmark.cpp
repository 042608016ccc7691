// Builds and shows the project grid for 100, 1,000 and 10,000 projects (half of them with covers) in
// an offscreen window, and prints the total time to build and show it at each size against the
// 100-project build of the same process, and how many cover retrievals were started against how
// many covers are in view.

#include "Iris/declarative/ImageRetrieving.h"
#include "app/TDStores.h"
#include "app/model/TDProject.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/Environment.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int rounds = 5;

// Counts the retrievals the cards start, and hands them on to the manager the views would use.
class CountingRetrieving final : public iris::ImageRetrieving {
public:
    explicit CountingRetrieving(std::shared_ptr<iris::ImageRetrieving> next)
        : m_next(std::move(next))
    {
    }
    iris::IrisOptionsInfo defaultOptions() const override { return m_next->defaultOptions(); }
    std::optional<iris::DownloadTask> retrieveWithParsedOptions(const iris::Source& source,
        iris::IrisParsedOptionsInfo options, ProgressBlock progress,
        iris::RetrieveImageCompletion completion) override
    {
        ++started;
        return m_next->retrieveWithParsedOptions(
            source, std::move(options), std::move(progress), std::move(completion));
    }
    void cancel(const iris::DownloadTask& task) override { m_next->cancel(task); }

    std::atomic<long long> started { 0 };

private:
    std::shared_ptr<iris::ImageRetrieving> m_next;
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_grid: %s\n", what);
    std::exit(1);
}

TDProjectStore::ProjectList makeProjects(
    int count, const QString& covers, const std::shared_ptr<TDCategory>& category)
{
    TDProjectStore::ProjectList projects;
    projects.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        TDProject::Fields fields;
        fields.name = QStringLiteral("Project %1").arg(i);
        fields.category = category;
        fields.id = platform::Uuid::random();
        fields.status = static_cast<TDStatus>(i % 3);
        fields.isFavorite = i % 5 == 0;
        if (i % 2 == 0)
            fields.coverImageURL
                = platform::Url::fileUrl(covers + QStringLiteral("/cover-%1.jpeg").arg(i % 64));
        projects.push_back(TDProject::make(std::move(fields)));
    }
    return projects;
}

struct Run {
    double milliseconds = 0;
    int cardsBuilt = 0;
    int cardsInView = 0;
    long long coverLoads = 0;
    int coversInView = 0;
};

// One build of the grid in a fresh window: the store gets its projects, the view is made and shown,
// and the time runs until the first frame has been painted.
Run buildAndShow(TDStores& stores, const TDProjectStore::ProjectList& projects, CountingRetrieving& counter)
{
    stores.projectStore->setTdProjects({});
    QCoreApplication::processEvents();
    long long loadsBefore = counter.started;
    Run run;
    auto start = std::chrono::steady_clock::now();
    {
        QWidget window;
        window.resize(1200, 760);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        stores.projectStore->setTdProjects(projects);
        auto* view = new TDProjectMasterView(stores, NavigationType::projects, nullptr, &window);
        layout->addWidget(view);
        window.show();
        QCoreApplication::processEvents();
        window.repaint();
        run.milliseconds
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // Let the retrievals the cards asked for start.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        auto cards = view->cards();
        run.cardsBuilt = static_cast<int>(cards.size());
        QRect viewport(QPoint(0, 0), view->size());
        for (TDProjectItem* card : cards) {
            if (!card->isVisible()
                || !QRect(card->mapTo(view, QPoint(0, 0)), card->size()).intersects(viewport))
                continue;
            ++run.cardsInView;
            if (card->hasCover())
                ++run.coversInView;
        }
        if (run.cardsBuilt == 0)
            fail("no card was built");
    }
    run.coverLoads = counter.started - loadsBefore;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir root;
    if (!root.isValid())
        fail("no temporary folder");
    QDir(root.path()).mkpath("Documents");
    QDir(root.path()).mkpath("covers");
    platform::Environment::setRoots(
        { root.path() + "/Documents", root.path() + "/Caches", root.path() + "/settings.ini", std::nullopt });

    // A few small covers on disk, shared by the projects.
    QImage cover(320, 200, QImage::Format_RGB32);
    cover.fill(QColor(180, 90, 40));
    for (int i = 0; i < 64; ++i) {
        if (!cover.save(root.path() + QStringLiteral("/covers/cover-%1.jpeg").arg(i), "JPEG"))
            fail("could not write a cover");
    }

    auto counter = std::make_shared<CountingRetrieving>(iris::ImageRetrieving::shared());
    iris::ImageRetrieving::setShared(counter);

    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    auto category = stores.categoryStore->tdCategories().front();

    struct Size {
        int count;
        TDProjectStore::ProjectList projects;
        Run best;
    };
    std::vector<Size> sizes;
    for (int count : { 100, 1000, 10000 })
        sizes.push_back({ count, makeProjects(count, root.path() + "/covers", category), {} });

    // Warm up fonts, styles and the image path once.
    buildAndShow(stores, sizes.front().projects, *counter);
    for (int round = 0; round < rounds; ++round) {
        for (auto& size : sizes) {
            Run run = buildAndShow(stores, size.projects, *counter);
            if (round == 0 || run.milliseconds < size.best.milliseconds)
                size.best = run;
        }
    }

    const double baseline = sizes.front().best.milliseconds;
    std::printf(
        "grid: 1200 x 760 offscreen window, half the projects with covers; fastest of %d builds\n", rounds);
    for (const auto& size : sizes) {
        std::printf("%6d projects: build and show %.1f ms, %.2fx the 100-project build (target <= 1.5x at "
                    "10,000); cards built %d, in view %d; cover loads started %lld for %d covers in view\n",
            size.count, size.best.milliseconds, size.best.milliseconds / baseline, size.best.cardsBuilt,
            size.best.cardsInView, size.best.coverLoads, size.best.coversInView);
    }
    iris::ImageRetrieving::setShared(nullptr);
    platform::Environment::resetRoots();
    return 0;
}
