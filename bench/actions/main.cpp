// What each thing a user does in the main window, a project's sheet and the settings window holds
// the main thread for, on libraries of 1,000 and 10,000 projects of 10 notes (a link on every other
// note, an image on every fourth project), with the program's own main window offscreen. For each
// action: the main thread's CPU time from the action until every library write it asked for is on
// disk, its longest stretch away from the event loop, and the ratio of that CPU time to a bare copy
// of every record into plain structs made in this process (the least any save of the whole list
// costs the main thread). Then the same for five favourites toggled in quick succession, with the
// time until the last write is on disk and the number of writes made.

#include "app/TindrelApp.h"
#include "app/model/TDCategory.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/screens/browser/CreateTDProjectSheet.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/EditTDProjectSheet.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/screens/settings/SettingsView.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/FileManager.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

double threadCpuMs()
{
    timespec time {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return double(time.tv_sec) * 1e3 + double(time.tv_nsec) / 1e6;
}

struct Cost {
    double cpuMs = 0;
    double longestMs = 0;
    double wallMs = 0;
    int writes = 0;
};

// Runs `action`, then the event loop until no library write is in flight; the main thread's CPU
// time meanwhile, and its longest stretch between two returns to the loop.
Cost measure(const TDStores& stores, const std::function<void()>& action)
{
    auto made = [&] {
        return stores.projectStore->libraryFile()->writesMade()
            + stores.mediaStore->libraryFile()->writesMade() + stores.linkStore->libraryFile()->writesMade();
    };
    Cost cost;
    const int madeBefore = made();
    const double cpuBefore = threadCpuMs();
    QElapsedTimer wall;
    wall.start();
    QElapsedTimer stretch;
    stretch.start();
    action();
    cost.longestMs = double(stretch.nsecsElapsed()) / 1e6;
    int idleTurns = 0;
    while (idleTurns < 3) {
        stretch.restart();
        QCoreApplication::processEvents();
        cost.longestMs = std::max(cost.longestMs, double(stretch.nsecsElapsed()) / 1e6);
        idleTurns = TDLibraryFile::writesInFlight() == 0 ? idleTurns + 1 : 0;
        if (idleTurns == 0)
            QThread::usleep(200);
    }
    cost.wallMs = double(wall.nsecsElapsed()) / 1e6;
    cost.cpuMs = threadCpuMs() - cpuBefore;
    cost.writes = made() - madeBefore;
    return cost;
}

// The least a snapshot of the whole list costs: every record's fields copied into plain structs.
double bareCopyMs(const TDProjectStore& store)
{
    struct Note {
        platform::Uuid id;
        QString title;
        platform::Url url;
        platform::Date date;
    };
    struct Project {
        platform::Uuid id;
        QString name, category;
        TDStatus status;
        bool favourite;
        platform::Date start;
        std::vector<Note> notes;
    };
    double fastest = 1e9;
    for (int round = 0; round < 5; ++round) {
        const double before = threadCpuMs();
        std::vector<Project> copy;
        const auto projects = store.tdProjects();
        // Reserved, as a tuned loop would.
        copy.reserve(projects.size());
        for (const auto& project : projects) {
            Project plain { project->id(), project->name(), project->category()->name(), project->status(),
                project->isFavorite(), project->startDate(), {} };
            plain.notes.reserve(project->tdNoteInPlace().size());
            for (const auto& note : project->tdNoteInPlace())
                plain.notes.push_back({ note->id(), note->title(), note->contentURL(), note->date() });
            copy.push_back(std::move(plain));
        }
        fastest = std::min(fastest, threadCpuMs() - before);
    }
    return fastest;
}

void writeLibrary(int count)
{
    const auto& categories = TDCategoryStore::defaultCategories();
    tdlibrary::ProjectList projects;
    tdlibrary::LinkList links;
    tdlibrary::MediaList media;
    for (int i = 0; i < count; ++i) {
        TDProject::Fields fields;
        fields.name = QStringLiteral("Project %1").arg(i);
        // Half the library in one category.
        fields.category = categories[i % 2 == 0 ? 0 : std::size_t(1 + i % 4)];
        fields.id = platform::Uuid::random();
        fields.status = static_cast<TDStatus>((i / 2) % 3);
        fields.isFavorite = i % 7 == 0;
        fields.startDate = platform::Date(786840000.0 + i * 3600.0);
        const platform::Url folder = TDDirectoryPath::projectDirectoryURL(fields.name);
        QDir().mkpath(folder.path() + "/notes");
        for (int n = 0; n < 10; ++n) {
            const QString title = QStringLiteral("Note %1 of %2").arg(n).arg(i);
            auto note = TDNote::make(platform::Uuid::random(), fields.id, title,
                TDDirectoryPath::noteTextFileURL(folder, title),
                platform::Date(786840000.0 + i * 3600.0 + n));
            if (n % 2 == 0)
                links.push_back(TDLink { QStringLiteral("Link of %1").arg(title), QStringLiteral("A page"),
                    QStringLiteral("https://example.com/%1/%2").arg(i).arg(n), platform::Uuid::random(),
                    note->id() });
            fields.tdNote.push_back(note);
        }
        if (i % 4 == 0) {
            const auto id = platform::Uuid::random();
            media.push_back(TDMedia::make(id, TDDirectoryPath::mediaFileURL(folder, id, "ref.jpg"),
                TDDirectoryPath::mediaThumbnailURL(folder, id), fields.id));
        }
        projects.push_back(TDProject::make(std::move(fields)));
    }
    auto put = [](const platform::Url& url, const QByteArray& bytes) {
        if (!platform::FileManager::writeAtomically(url, bytes)) {
            std::fprintf(stderr, "bench_actions: could not write %s\n", qPrintable(url.path()));
            std::exit(1);
        }
    };
    put(TDDirectoryPath::projectsLibraryURL(), tdlibrary::encodeProjects(projects).value());
    put(TDDirectoryPath::mediaLibraryURL(), tdlibrary::encodeMedia(media).value());
    put(TDDirectoryPath::linksLibraryURL(), tdlibrary::encodeLinks(links).value());
}

void type(QWidget* field, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(field, &press);
        QCoreApplication::processEvents();
    }
}

// One library size, in a process of its own so that no earlier size leaves memory or caches.
int run(int argc, char** argv, int count)
{
    TindrelApp::configureAllocator();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir root;
    QDir(root.path()).mkpath("Documents");
    platform::Environment::setRoots(
        { root.path() + "/Documents", root.path() + "/Caches", root.path() + "/settings.ini", std::nullopt });
    writeLibrary(count);

    TindrelApp tindrel;
    const TDStores stores = tindrel.stores();
    QMainWindow* window = tindrel.showMainWindow();
    window->resize(1400, 900);
    bool loaded = false;
    tindrel.loadLibraries([&] { loaded = true; });
    while (!loaded)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    measure(stores, [] {});
    const double bare = bareCopyMs(*stores.projectStore);
    std::printf("%d projects (projects file %.1f MB): a bare copy of every record %.1f ms\n", count,
        double(QFileInfo(TDDirectoryPath::projectsLibraryURL().path()).size()) / 1e6, bare);

    auto report = [&](const char* name, const Cost& cost) {
        std::printf(
            "  %-42s main thread %6.1f ms, %5.2fx the bare copy; longest stretch %6.1f ms; %d writes\n", name,
            cost.cpuMs, cost.cpuMs / bare, cost.longestMs, cost.writes);
        std::fflush(stdout);
    };
    NavigationView* navigation = tindrel.navigationView();
    TDLibrary library(stores);
    const auto project = stores.projectStore->tdProjects()[std::size_t(count / 2)];

    report("toggle a favourite", measure(stores, [&] { library.toggleFavorite(project); }));
    report("change a status", measure(stores, [&] {
        project->setStatus(TDStatus::finished);
        library.saveProjectChange();
    }));
    report("create a project", measure(stores, [&] {
        TDProject::Fields fields;
        fields.name = QStringLiteral("Brand new");
        fields.category = TDCategoryStore::defaultCategories()[0];
        fields.id = platform::Uuid::random();
        library.createProject(std::move(fields));
    }));
    report("delete a project (its card's menu)", measure(stores, [&] {
        static_cast<TDProjectMasterView*>(navigation->destinationView())
            ->deleteProject(stores.projectStore->tdProjects().back());
    }));
    for (NavigationType destination : { NavigationType::favorite, NavigationType::inProgress,
             NavigationType::media, NavigationType::links, NavigationType::projects })
        report(qPrintable(QStringLiteral("show %1").arg(rawValue(destination))),
            measure(stores, [&] { navigation->select(destination); }));

    auto* grid = static_cast<TDProjectMasterView*>(navigation->destinationView());
    QScrollBar* bar = grid->scrollArea()->verticalScrollBar();
    std::vector<double> scrollSteps;
    for (int value = 0; value <= bar->maximum(); value += std::max(120, bar->maximum() / 400))
        scrollSteps.push_back(measure(stores, [&] { bar->setValue(value); }).longestMs);
    const auto longest = std::max_element(scrollSteps.begin(), scrollSteps.end());
    const double longestScroll = *longest;
    const int longestAt = int(longest - scrollSteps.begin());
    std::sort(scrollSteps.begin(), scrollSteps.end());
    std::printf("  %-42s longest step %.1f ms (step %d of %zu), 99th percentile %.1f ms\n",
        "scroll the grid top to bottom", longestScroll, longestAt, scrollSteps.size(),
        scrollSteps[std::size_t(double(scrollSteps.size() - 1) * 0.99)]);
    double longestResize = 0;
    for (int width = 1400; width >= 1000; width -= 20)
        longestResize
            = std::max(longestResize, measure(stores, [&] { window->resize(width, 900); }).longestMs);
    std::printf("  %-42s longest step %.1f ms\n", "resize the window", longestResize);

    report("open a project's page", measure(stores, [&] { grid->push(project); }));
    auto* page = static_cast<TDProjectDetailView*>(grid->topPage());
    page->openEditSheet();
    EditTDProjectSheet* sheet = page->editSheet();
    double longestKey = 0;
    for (QChar c : QStringLiteral(" renamed"))
        longestKey = std::max(
            longestKey, measure(stores, [&] { type(sheet->form()->nameField(), QString(c)); }).longestMs);
    std::printf("  %-42s longest keystroke %.1f ms\n", "type a name in the edit sheet", longestKey);
    sheet->form()->categoryPicker()->setCurrentIndex(2);
    report("save the edit sheet (name and category)",
        measure(stores, [&] { sheet->form()->primaryButton()->click(); }));
    measure(stores, [&] { grid->pop(); });

    QWidget* settings = tindrel.openSettings();
    auto* settingsView = settings->findChild<SettingsView*>();
    report("add a category", measure(stores, [&] { stores.categoryStore->add(QStringLiteral("Zines")); }));
    report("remove a category used by half the projects", measure(stores, [&] {
        settingsView->select(stores.categoryStore->tdCategories().front());
        settingsView->deleteCategory();
        if (settingsView->alert())
            settingsView->alert()->close();
    }));
    report(
        "restore the default categories", measure(stores, [&] { settingsView->restoreDefaultCategories(); }));
    settings->close();

    // Each click in a turn of the event loop of its own, as clicks come.
    int clicks = 0;
    std::function<void()> click = [&] {
        library.toggleFavorite(project);
        if (++clicks < 5)
            QMetaObject::invokeMethod(&application, click, Qt::QueuedConnection);
    };
    const Cost burst = measure(stores, click);
    report("five favourites toggled in quick succession", burst);
    std::printf("  %-42s all on disk after %.0f ms\n", "", burst.wallMs);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--library") == 0)
        return run(argc, argv, QString::fromLocal8Bit(argv[2]).toInt());
    QCoreApplication application(argc, argv);
    std::printf("actions: the main thread's CPU time per action until its writes are on disk, against a bare "
                "copy of every record; each size in a fresh process\n");
    std::fflush(stdout);
    for (int count : { 1000, 10000 }) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        child.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("--library"), QString::number(count) });
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::fprintf(stderr, "bench_actions: the run of %d projects failed\n", count);
            return 1;
        }
    }
    return 0;
}
