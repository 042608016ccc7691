// A project's workspace in a library of 100,000 reference images (5,000 of them the project's),
// offscreen, against bare work on the same records in the same process:
// - the workspace following one image added to another project, against a pass that picks out the
//   project's images;
// - a step of the column slider, against a grid alone given the project's images and the new count;
// - deleting one image (its record, the media file saved, its folder to the trash), against the
//   record taken out and the media file saved alone;
// - a drop of 500 small pictures onto the project: the longest the window goes without a turn of
//   its main loop while the drop goes on (a 1 ms timer's longest gap), against the same gap while
//   the 500 records are appended to the list in one go and the media file saved once.

#include "app/TDStores.h"
#include "app/model/TDCategory.h"
#include "app/model/TDMedia.h"
#include "app/model/TDProject.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Compare.h"

#include "platform/foundation/Environment.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int libraryImages = 100000;
constexpr int projectImages = 5000;
constexpr int droppedImages = 500;

QString projectsRoot;

std::shared_ptr<TDMedia> image(const platform::Uuid& project, int i)
{
    const auto id = platform::Uuid::random();
    const QString folder
        = QStringLiteral("%1/Project %2/images/%3").arg(projectsRoot).arg(i % 1000).arg(id.lowercaseString());
    return TDMedia::make(id, platform::Url::fileUrl(folder + QStringLiteral("/picture %1.jpg").arg(i)),
        platform::Url::fileUrl(folder + QStringLiteral("/thumbnail.jpg")), project);
}

// The longest gap between two ticks of a 1 ms timer on the main thread while `work` runs; `work`
// runs the main loop itself until it is done.
double longestFreeze(const std::function<void()>& work)
{
    double longest = 0;
    QElapsedTimer tick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, tick.nsecsElapsed() / 1e6);
        tick.restart();
    });
    tick.start();
    ticker.start();
    work();
    longest = std::max(longest, tick.nsecsElapsed() / 1e6);
    return longest;
}

// Prints the medians of the longest freezes and the median of the pairs' ratios, as bench::compare
// does for times.
void compareFreezes(
    const char* name, const std::function<void()>& ours, const std::function<void()>& baseline, int runs)
{
    longestFreeze(ours);
    longestFreeze(baseline);
    std::vector<double> oursGaps, baselineGaps, ratios;
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            oursGaps.push_back(longestFreeze(ours));
            baselineGaps.push_back(longestFreeze(baseline));
        } else {
            baselineGaps.push_back(longestFreeze(baseline));
            oursGaps.push_back(longestFreeze(ours));
        }
        ratios.push_back(oursGaps.back() / baselineGaps.back());
    }
    const double ratio = bench::median(ratios);
    std::printf("%s: ours %.2f ms, baseline %.2f ms, ratio %.3f (speed-up %.2fx)\n", name,
        bench::median(oursGaps), bench::median(baselineGaps), ratio, 1 / ratio);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir home;
    QDir().mkpath(home.path() + QStringLiteral("/Documents"));
    platform::Environment::setRoots({ home.path() + QStringLiteral("/Documents"),
        home.path() + QStringLiteral("/Caches"), home.path() + QStringLiteral("/settings.ini"), {} });
    QDir().mkpath(TDDirectoryPath::libraryFolderURL().path());
    projectsRoot = TDDirectoryPath::libraryFolderURL().path();
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    TDProject::Fields fields;
    fields.name = QStringLiteral("Alpha");
    fields.category = stores.categoryStore->tdCategories().front();
    fields.id = platform::Uuid::random();
    auto project = TDProject::make(std::move(fields));
    stores.projectStore->setTdProjects({ project });
    const auto elsewhere = platform::Uuid::random();

    TDMediaStore::MediaList media;
    for (int i = 0; i < libraryImages; ++i)
        media.push_back(image(i % (libraryImages / projectImages) == 0 ? project->id() : elsewhere, i));
    stores.mediaStore->setTdMedia(media);

    QWidget window;
    window.resize(1300, 760);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new TDProjectDetailView(project, stores, &window);
    layout->addWidget(view);
    window.show();
    QCoreApplication::processEvents();
    if (view->referenceGrid()->media().size() != std::size_t(projectImages)) {
        std::fprintf(
            stderr, "bench_workspace: the grid holds %zu images\n", view->referenceGrid()->media().size());
        return 1;
    }

    int serial = libraryImages;
    std::size_t picked = 0;
    bench::compare(
        "workspace follows one image added to another project (100,000 images)",
        [&] {
            auto all = stores.mediaStore->tdMedia();
            all.push_back(image(elsewhere, serial++));
            stores.mediaStore->setTdMedia(std::move(all));
            QCoreApplication::processEvents();
        },
        [&] {
            auto all = stores.mediaStore->tdMedia();
            all.push_back(image(elsewhere, serial++));
            std::vector<std::shared_ptr<TDMedia>> mine;
            for (const auto& item : all) {
                if (item->tdProjectId() == project->id())
                    mine.push_back(item);
            }
            picked += mine.size();
            stores.mediaStore->setTdMedia(std::move(all));
        },
        15);

    QWidget bareWindow;
    bareWindow.resize(window.size());
    auto* bareLayout = new QVBoxLayout(&bareWindow);
    auto* bare = new TDImageGrid(&bareWindow);
    bareLayout->addWidget(bare);
    bare->setMedia(view->referenceGrid()->media());
    bareWindow.show();
    QCoreApplication::processEvents();
    int columns = 12, bareColumns = 12;
    auto nextCount = [](int& count) { return count = count == 6 ? 12 : count - 1; };
    bench::compare(
        "a step of the column slider (100,000 images)",
        [&] {
            project->setImageColumnCount(nextCount(columns));
            testsupport::waitUntil([&] { return view->referenceGrid()->columnCount() == columns; });
            window.repaint();
        },
        [&] {
            bare->setColumnCount(nextCount(bareColumns));
            QCoreApplication::processEvents();
            bareWindow.repaint();
        },
        15);

    // Each drop brings the same 500 small pictures, each into a folder of its own.
    TDLibrary library(stores);
    QDir().mkpath(projectsRoot + QStringLiteral("/Alpha"));
    const QString dropped = home.path() + QStringLiteral("/drop");
    QDir().mkpath(dropped);
    std::vector<QUrl> drop;
    for (int i = 0; i < droppedImages; ++i) {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(i % 360, 150, 200));
        const QString path = dropped + QStringLiteral("/picture %1.png").arg(i);
        if (!picture.save(path))
            return 1;
        drop.push_back(QUrl::fromLocalFile(path));
    }
    compareFreezes(
        "longest freeze of the window during a drop of 500 images (100,000 images)",
        [&] {
            const std::size_t before = stores.mediaStore->tdMedia().size();
            view->importImages(drop);
            testsupport::waitUntil([&] { return view->savesInFlight() == 0; }, 120000);
            if (stores.mediaStore->tdMedia().size() != before + droppedImages)
                std::exit(1);
        },
        [&] {
            std::vector<std::shared_ptr<TDMedia>> records;
            for (int i = 0; i < droppedImages; ++i)
                records.push_back(image(project->id(), serial++));
            auto all = stores.mediaStore->tdMedia();
            all.insert(all.end(), records.begin(), records.end());
            stores.mediaStore->setTdMedia(all);
            bool done = false;
            stores.mediaStore->save(all, [&](auto) { done = true; });
            testsupport::waitUntil([&] { return done; }, 60000);
        },
        5);

    // Each deletion takes an image of the project whose folder is on disk.
    auto victim = [&] {
        for (const auto& item : stores.mediaStore->tdMedia()) {
            if (item->tdProjectId() == project->id() && !QFileInfo::exists(item->url().path())) {
                QDir().mkpath(item->url().deletingLastPathComponent().path());
                QFile(item->url().path()).open(QIODevice::WriteOnly);
                return item;
            }
        }
        std::exit(1);
    };
    bench::compare(
        "deleting one image (100,000 images)",
        [&] {
            bool done = false;
            library.removeMedia(victim()->id(), [&](auto) { done = true; });
            testsupport::waitUntil([&] { return done; }, 60000);
        },
        [&] {
            const auto id = victim()->id();
            auto all = stores.mediaStore->tdMedia();
            std::erase_if(all, [&](const auto& item) { return item->id() == id; });
            stores.mediaStore->setTdMedia(all);
            bool done = false;
            stores.mediaStore->save(all, [&](auto) { done = true; });
            testsupport::waitUntil([&] { return done; }, 60000);
        },
        7);
    TDLibrary::finishPendingWork(std::chrono::seconds(60));
    return picked > 0 ? 0 : 1;
}
