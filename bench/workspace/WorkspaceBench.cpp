// A project's workspace in a library of 100,000 reference images (5,000 of them the project's),
// offscreen, against bare work on the same records in the same process:
// - the workspace following one image added to another project, against a pass that picks out the
//   project's images;
// - a step of the column slider, against a grid alone given the project's images and the new count;
// - deleting one image (its record, the media file saved, its folder to the trash), against the
//   record taken out and the media file saved alone.

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
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int libraryImages = 100000;
constexpr int projectImages = 5000;

QString projectsRoot;

std::shared_ptr<TDMedia> image(const platform::Uuid& project, int i)
{
    const auto id = platform::Uuid::random();
    const QString folder
        = QStringLiteral("%1/Project %2/images/%3").arg(projectsRoot).arg(i % 1000).arg(id.lowercaseString());
    return TDMedia::make(id, platform::Url::fileUrl(folder + QStringLiteral("/picture %1.jpg").arg(i)),
        platform::Url::fileUrl(folder + QStringLiteral("/thumbnail.jpg")), project);
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

    // Each deletion takes an image of the project whose folder is on disk.
    TDLibrary library(stores);
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
