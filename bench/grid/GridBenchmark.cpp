// Builds and shows the project grid for 100, 1,000 and 10,000 projects (half of them with covers,
// each its own JPEG file inside the library folder) in an offscreen window, and prints at each size
// the time to build and show it and the time until every cover in view is shown, against the
// 100-project figures of the same process, and how many cover retrievals were started against how
// many covers are in view. The image caches are emptied before each build, so that every cover is
// read and decoded from its file, as at start-up.

#include "Iris/cache/ImageCache.h"
#include "Iris/declarative/IRImageView.h"
#include "Iris/declarative/ImageBinder.h"
#include "Iris/declarative/ImageRetrieving.h"
#include "app/TDStores.h"
#include "app/model/TDProject.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/Environment.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
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

// Projects named "Project <i>"; the even ones have a cover file of their own in `covers`.
TDProjectStore::ProjectList makeProjects(int count, const QString& covers, const QByteArray& coverBytes,
    const std::shared_ptr<TDCategory>& category)
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
        if (i % 2 == 0) {
            const QString path = covers + QStringLiteral("/%1-%2-cover-image.jpeg").arg(count).arg(i);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(coverBytes) != coverBytes.size())
                fail("could not write a cover");
            fields.coverImageURL = platform::Url::fileUrl(path);
        }
        projects.push_back(TDProject::make(std::move(fields)));
    }
    return projects;
}

struct Run {
    double milliseconds = 0;
    double coversShownMilliseconds = 0;
    int cardsBuilt = 0;
    int cardsInView = 0;
    long long coverLoads = 0;
    int coversInView = 0;
};

// Empties the memory and disk tiers of the cache the cards' views use, once its pending writes end.
void emptyImageCache()
{
    const std::shared_ptr<iris::ImageCache>& cache = iris::ImageCache::defaultCache();
    cache->ioQueue()->sync([] {});
    cache->clearMemoryCache();
    bool cleared = false;
    cache->clearDisk([&] { cleared = true; });
    QDeadlineTimer deadline(30000);
    while (!cleared && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!cleared)
        fail("the image cache was not cleared");
}

// The cards in view of `view`.
std::vector<TDProjectItem*> cardsInView(TDProjectMasterView& view)
{
    std::vector<TDProjectItem*> inView;
    const QRect viewport(QPoint(0, 0), view.size());
    for (TDProjectItem* card : view.cards()) {
        if (card->isVisible() && QRect(card->mapTo(&view, QPoint(0, 0)), card->size()).intersects(viewport))
            inView.push_back(card);
    }
    return inView;
}

bool everyCoverShown(const std::vector<TDProjectItem*>& cards)
{
    for (TDProjectItem* card : cards) {
        if (card->hasCover() && !(card->coverView() && card->coverView()->binder()->loadedImage))
            return false;
    }
    return true;
}

// One build of the grid in a fresh window: the store gets its projects, the view is made and shown,
// and the time runs until the first frame has been painted; then on until every cover in view has
// its image and a frame with them all has been painted.
Run buildAndShow(TDStores& stores, const TDProjectStore::ProjectList& projects, CountingRetrieving& counter)
{
    stores.projectStore->setTdProjects({});
    QCoreApplication::processEvents();
    emptyImageCache();
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
        const std::vector<TDProjectItem*> inView = cardsInView(*view);
        QDeadlineTimer deadline(60000);
        while (!everyCoverShown(inView)) {
            if (deadline.hasExpired())
                fail("the covers in view were not all shown within a minute");
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        }
        window.repaint();
        run.coversShownMilliseconds
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        run.cardsBuilt = static_cast<int>(view->cards().size());
        run.cardsInView = static_cast<int>(inView.size());
        for (TDProjectItem* card : inView)
            run.coversInView += card->hasCover() ? 1 : 0;
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
    platform::Environment::setRoots(
        { root.path() + "/Documents", root.path() + "/Caches", root.path() + "/settings.ini", std::nullopt });
    // The covers lie inside the library folder: cards read no cover outside it.
    const QString covers = TDDirectoryPath::libraryFolderURL().path() + QStringLiteral("/Covers");
    if (!QDir().mkpath(covers))
        fail("could not make the covers folder");

    // A 1280 x 800 photo-like cover (gradients and shapes), written once per project with a cover.
    QImage cover(1280, 800, QImage::Format_RGB32);
    {
        QPainter painter(&cover);
        QLinearGradient gradient(0, 0, 1280, 800);
        gradient.setColorAt(0, QColor(180, 90, 40));
        gradient.setColorAt(1, QColor(40, 90, 180));
        painter.fillRect(cover.rect(), gradient);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 40; ++i) {
            painter.setBrush(QColor::fromHsv((i * 37) % 360, 160, 220));
            painter.drawEllipse(QPointF((i * 211) % 1280, (i * 97) % 800), 30 + i * 3, 20 + i * 2);
        }
    }
    QByteArray coverBytes;
    {
        QBuffer buffer(&coverBytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(90);
        if (!writer.write(cover))
            fail("could not encode the cover");
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
        sizes.push_back({ count, makeProjects(count, covers, coverBytes, category), {} });

    // Warm up fonts, styles and the image path once.
    buildAndShow(stores, sizes.front().projects, *counter);
    for (int round = 0; round < rounds; ++round) {
        for (auto& size : sizes) {
            Run run = buildAndShow(stores, size.projects, *counter);
            if (round == 0 || run.milliseconds < size.best.milliseconds)
                size.best.milliseconds = run.milliseconds;
            if (round == 0 || run.coversShownMilliseconds < size.best.coversShownMilliseconds)
                size.best.coversShownMilliseconds = run.coversShownMilliseconds;
            size.best.cardsBuilt = run.cardsBuilt;
            size.best.cardsInView = run.cardsInView;
            size.best.coverLoads = run.coverLoads;
            size.best.coversInView = run.coversInView;
        }
    }

    const double baseline = sizes.front().best.milliseconds;
    const double coversBaseline = sizes.front().best.coversShownMilliseconds;
    std::printf("grid: 1200 x 760 offscreen window, half the projects with a 1280 x 800 JPEG cover of their "
                "own in the library folder, caches emptied before each build; fastest of %d builds\n",
        rounds);
    for (const auto& size : sizes) {
        std::printf("%6d projects: build and show %.1f ms, %.2fx the 100-project build; every cover in view "
                    "shown after %.1f ms, %.2fx the 100-project figure (target <= 1.5x at 10,000); cards "
                    "built %d, in view %d; cover loads started %lld for %d covers in view\n",
            size.count, size.best.milliseconds, size.best.milliseconds / baseline,
            size.best.coversShownMilliseconds, size.best.coversShownMilliseconds / coversBaseline,
            size.best.cardsBuilt, size.best.cardsInView, size.best.coverLoads, size.best.coversInView);
    }
    iris::ImageRetrieving::setShared(nullptr);
    platform::Environment::resetRoots();
    return 0;
}
