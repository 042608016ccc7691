// Repeats ordinary flows of the program many times in an offscreen window and prints, for each, what
// grows per round after a warm-up: heap in use, open file descriptors, threads, widgets (top-level
// and all) and live QObjects. A program left open for days must give back what a round took.
//
//   bench_longuse [flow[:rounds] ...]   flows: notes navigation pages sheets images covers changes
//                                       appearance
//                                       (all by default)
//
// The growth of a flow is the difference between two snapshots taken after the warm-up and after
// the measured rounds, divided by the rounds; the process settles (posted events, deferred deletes,
// the library's saves) before each snapshot.

#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextView.h"
#include "Iris/cache/ImageCache.h"
#include "app/TindrelApp.h"
#include "app/model/TDCategory.h"
#include "app/model/TDMedia.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDLinkMasterView.h"
#include "app/screens/browser/TDMediaMasterView.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/TDImageGrid.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Memory.h"
#include "platform/foundation/Environment.h"
#include "tests/support/TestSupport.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMimeData>
#include <QPalette>
#include <QPixmapCache>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <unistd.h>

// Qt's hook table (qhooks_p.h): slots 3 and 4 are called as each QObject is made and destroyed.
extern quintptr Q_CORE_EXPORT qtHookData[];

namespace {

std::atomic<qint64> liveObjects { 0 };
void objectAdded(QObject*)
{
    ++liveObjects;
}
void objectRemoved(QObject*)
{
    --liveObjects;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_longuse: %s\n", what);
    std::exit(1);
}

// Runs the main loop until `condition` holds, at most 10 s (the loads of a long run are slow).
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    return testsupport::waitUntil(condition, timeoutMs);
}

int entriesIn(const char* folder)
{
    return int(QDir(QString::fromLatin1(folder))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

struct Snapshot {
    qint64 heap = 0;
    int fds = 0;
    int threads = 0;
    int topLevels = 0;
    int widgets = 0;
    qint64 objects = 0;
};

void settle()
{
    for (int turn = 0; turn < 5; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    TDLibrary::finishPendingWork(std::chrono::seconds(10));
    for (int turn = 0; turn < 5; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

Snapshot snapshot()
{
    // The caches that give back on their own time (the image cache's entries expire after minutes,
    // Qt's pixmap cache holds up to its limit) are emptied, so that what is left grows for good.
    iris::ImageCache::defaultCache()->clearMemoryCache();
    QPixmapCache::clear();
    settle();
    // Decoded images' memory is kept for the next decode of the same size, for 2 to 4 s.
    waitUntil([] { return false; }, 4500);
    settle();
    Snapshot s;
    s.heap = bench::heapInUse();
    s.fds = entriesIn("/proc/self/fd");
    s.threads = entriesIn("/proc/self/task");
    s.topLevels = int(QApplication::topLevelWidgets().size());
    s.widgets = int(QApplication::allWidgets().size());
    s.objects = liveObjects.load();
    return s;
}

void typeInto(QWidget* widget, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

class Harness {
public:
    Harness()
    {
        QDir(m_home.path()).mkdir(QStringLiteral("Documents"));
        platform::Environment::setRoots({ m_home.path() + QStringLiteral("/Documents"),
            m_home.path() + QStringLiteral("/Caches"), m_home.path() + QStringLiteral("/settings.ini"), {} });
        QDir().mkpath(TDDirectoryPath::libraryFolderURL().path());
        m_app = std::make_unique<TindrelApp>();
        m_app->showMainWindow();
        if (!waitUntil([&] { return m_app->isLibraryLoaded(); }))
            fail("the library did not load");
        fillLibrary();
    }

    TindrelApp& app() { return *m_app; }
    const TDStores& stores() { return m_app->stores(); }
    NavigationView* navigation() { return m_app->navigationView(); }

    // Six projects of two notes each, and links from the first notes.
    void fillLibrary()
    {
        auto category = stores().categoryStore->tdCategories().front();
        TDProjectStore::ProjectList projects;
        TDProjectStore::NoteMap noteMap;
        TDLinkStore::LinkList links;
        for (int p = 0; p < 6; ++p) {
            TDProject::Fields fields;
            fields.name = QStringLiteral("Project %1").arg(p);
            fields.category = category;
            fields.id = platform::Uuid::random();
            fields.status = p % 2 ? TDStatus::inProgress : TDStatus::finished;
            fields.isFavorite = p % 3 == 0;
            fields.startDate = platform::Date(7.5e8 + p);
            if (!TDProjectStore::createProjectDirectory(fields.name))
                fail("could not create a project folder");
            for (int n = 0; n < 2; ++n) {
                const QString title = QStringLiteral("Note %1").arg(n);
                auto url
                    = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL(fields.name), title);
                if (!url)
                    fail("could not create a note");
                auto note = TDNote::make(
                    platform::Uuid::random(), fields.id, title, url.value(), platform::Date(7.6e8 + n));
                noteMap[note->id()] = { p, n };
                fields.tdNote.push_back(note);
                m_notes.push_back(note);
                for (int l = 0; l < 40; ++l) {
                    TDLink link;
                    link.title = QStringLiteral("A page about things %1").arg(l);
                    link.desc = QStringLiteral(
                        "Its description, long enough to wrap onto a second line of the card.");
                    link.url = QStringLiteral("https://example.com/%1/%2").arg(p).arg(l);
                    link.id = platform::Uuid::random();
                    link.tdNoteId = note->id();
                    links.push_back(link);
                }
            }
            projects.push_back(TDProject::make(std::move(fields)));
        }
        stores().projectStore->setTdProjects(projects);
        stores().projectStore->setNoteMap(noteMap);
        stores().projectStore->save(projects);
        stores().linkStore->setTdLinks(links);
        stores().linkStore->save(links);
        QDir().mkpath(dropFolder());
        for (int i = 0; i < 4; ++i) {
            QImage picture(640, 480, QImage::Format_RGB32);
            picture.fill(QColor::fromHsv(i * 80, 200, 200));
            const QString path = dropFolder() + QStringLiteral("/picture %1.png").arg(i);
            if (!picture.save(path))
                fail("could not write a picture");
            m_pictures.push_back(QUrl::fromLocalFile(path));
        }
        settle();
    }

    QString dropFolder() const { return m_home.path() + QStringLiteral("/drop"); }
    const std::vector<std::shared_ptr<TDNote>>& notes() const { return m_notes; }
    const std::vector<QUrl>& pictures() const { return m_pictures; }

    TDProjectMasterView* projectsPage()
    {
        navigation()->select(NavigationType::projects);
        auto* page = dynamic_cast<TDProjectMasterView*>(navigation()->destinationView());
        if (!page)
            fail("the projects page did not show");
        return page;
    }
    // The workspace of the project at `index`, opened from the grid.
    TDProjectDetailView* openProject(int index)
    {
        TDProjectMasterView* page = projectsPage();
        while (page->stackDepth() > 0)
            page->pop();
        page->push(stores().projectStore->tdProjects().at(std::size_t(index)));
        QCoreApplication::processEvents();
        auto* detail = dynamic_cast<TDProjectDetailView*>(page->topPage());
        if (!detail)
            fail("the project's workspace did not show");
        return detail;
    }

private:
    QTemporaryDir m_home;
    std::unique_ptr<TindrelApp> m_app;
    std::vector<std::shared_ptr<TDNote>> m_notes;
    std::vector<QUrl> m_pictures;
};

// Opens a note's window, types into it, saves with its Save action and closes it.
void noteRound(Harness& h, int round)
{
    const auto& note = h.notes()[std::size_t(round) % 4];
    QMainWindow* window = h.app().openNoteWindow(note);
    auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
    if (!waitUntil([&] { return content->noteView() && content->noteView()->editor()->isEnabled(); }))
        fail("the note window did not load its text");
    EDTextView* text = content->noteView()->editor()->textView();
    for (QChar c : QStringLiteral("a few words "))
        typeInto(text, QString(c));
    for (QAction* action : content->actions()) {
        if (action->shortcut() == QKeySequence(QKeySequence::Save))
            action->trigger();
    }
    if (round % 2 == 0) {
        text->textFinder().performAction(EDTextFinder::showFindInterface);
        QCoreApplication::processEvents();
        text->textFinder().performAction(EDTextFinder::hideFindInterface);
    }
    h.app().dismissNoteWindow(note);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void navigationRound(Harness& h, int round)
{
    static const NavigationType pages[] = { NavigationType::projects, NavigationType::inProgress,
        NavigationType::archived, NavigationType::finished, NavigationType::favorite, NavigationType::media,
        NavigationType::links };
    h.navigation()->select(pages[round % 7]);
    QCoreApplication::processEvents();
    if (round % 7 == 0) {
        h.openProject(round / 7 % 6);
        h.projectsPage()->pop();
        QCoreApplication::processEvents();
    }
}

void scrollToEnds(QAbstractScrollArea* area)
{
    QScrollBar* bar = area->verticalScrollBar();
    for (int step = 0; step <= 10; ++step) {
        bar->setValue(bar->minimum() + (bar->maximum() - bar->minimum()) * step / 10);
        QCoreApplication::processEvents();
    }
    bar->setValue(bar->minimum());
}

void pagesRound(Harness& h, int)
{
    h.navigation()->select(NavigationType::media);
    QCoreApplication::processEvents();
    if (auto* media = dynamic_cast<TDMediaMasterView*>(h.navigation()->destinationView()))
        scrollToEnds(media->grid());
    h.navigation()->select(NavigationType::links);
    QCoreApplication::processEvents();
    if (auto* links = dynamic_cast<TDLinkMasterView*>(h.navigation()->destinationView()))
        scrollToEnds(links->scrollArea());
}

void sheetsRound(Harness& h, int round)
{
    TDProjectMasterView* page = h.projectsPage();
    page->openCreateProjectSheet();
    QCoreApplication::processEvents();
    if (auto* sheet = page->createProjectSheet())
        sheet->reject();
    settle();

    TDProjectDetailView* detail = h.openProject(round % 6);
    detail->setShowCoverImagePopover(true);
    QCoreApplication::processEvents();
    detail->setShowCoverImagePopover(false);
    detail->setShowPopoverToChangeImageColumnCount(true);
    QCoreApplication::processEvents();
    detail->setShowPopoverToChangeImageColumnCount(false);
    detail->openEditSheet();
    QCoreApplication::processEvents();
    if (auto* sheet = detail->editSheet())
        sheet->reject();
    detail->openCreateNewNoteSheet();
    QCoreApplication::processEvents();
    if (auto* sheet = detail->createNoteSheet())
        sheet->reject();
    settle();
    QWidget* settings = h.app().openSettings();
    QCoreApplication::processEvents();
    settings->close();
    page->pop();
}

void imagesRound(Harness& h, int round)
{
    TDProjectDetailView* detail = h.openProject(round % 6);
    const auto before = h.stores().mediaStore->tdMedia().size();
    // Dropped as a file manager drops them.
    QMimeData data;
    data.setUrls(QList<QUrl>(h.pictures().begin(), h.pictures().end()));
    QWidget* area = detail->imagesArea();
    const QPoint at = area->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &drop);
    if (!waitUntil([&] {
            return h.stores().mediaStore->tdMedia().size() == before + h.pictures().size()
                && detail->savesInFlight() == 0;
        }))
        fail("the dropped images were not added");
    for (const auto& media : h.stores().mediaStore->tdMedia())
        detail->deleteReferenceImage(media);
    if (!waitUntil([&] { return h.stores().mediaStore->tdMedia().empty() && detail->savesInFlight() == 0; }))
        fail("the images were not deleted");
    h.projectsPage()->pop();
}

void coversRound(Harness& h, int round)
{
    TDProjectDetailView* detail = h.openProject(round % 6);
    detail->setCoverImage(h.pictures()[std::size_t(round) % h.pictures().size()].toLocalFile());
    if (!waitUntil([&] { return detail->project()->coverImageURL() && detail->savesInFlight() == 0; }))
        fail("the cover was not set");
    // The card shows it on the grid.
    h.projectsPage()->pop();
    QCoreApplication::processEvents();
    detail = h.openProject(round % 6);
    detail->removeCoverImage(*detail->project()->coverImageURL());
    if (!waitUntil([&] { return !detail->project()->coverImageURL() && detail->savesInFlight() == 0; }))
        fail("the cover was not removed");
    h.projectsPage()->pop();
}

// A project made and deleted, and a note added to another project and deleted.
void changesRound(Harness& h, int round)
{
    TDLibrary library(h.stores());
    TDProject::Fields fields;
    fields.name = QStringLiteral("Passing %1").arg(round);
    fields.category = h.stores().categoryStore->tdCategories().front();
    fields.id = platform::Uuid::random();
    fields.startDate = platform::Date(7.7e8);
    bool made = false;
    library.createProject(fields, [&](auto) { made = true; });
    if (!waitUntil([&] { return made; }))
        fail("the project was not made");
    TDProjectMasterView* page = h.projectsPage();
    std::shared_ptr<TDProject> project;
    for (const auto& p : h.stores().projectStore->tdProjects())
        if (p->id() == fields.id)
            project = p;
    if (!project)
        fail("the project is not in the store");
    page->deleteProject(project);
    if (!waitUntil([&] { return page->deletesInFlight() == 0; }))
        fail("the project was not deleted");

    TDProjectDetailView* detail = h.openProject(round % 6);
    const auto earlier = detail->project()->tdNote();
    const auto before = earlier.size();
    detail->openCreateNewNoteSheet();
    detail->confirmNewNote();
    if (!waitUntil(
            [&] { return detail->project()->tdNote().size() == before + 1 && detail->savesInFlight() == 0; }))
        fail("the note was not made");
    // Deleted from its row's menu, which also closes the window the new note opened in.
    for (TDNoteItem* row : detail->noteItems()) {
        if (std::find(earlier.begin(), earlier.end(), row->note()) != earlier.end())
            continue;
        for (QAction* action : row->actions()) {
            if (action->objectName() == QLatin1String("deleteNoteAction"))
                action->trigger();
        }
    }
    if (!waitUntil(
            [&] { return detail->project()->tdNote().size() == before && detail->savesInFlight() == 0; }))
        fail("the note was not deleted");
    h.projectsPage()->pop();
}

QPalette appearance(bool dark)
{
    QPalette palette;
    if (dark) {
        palette.setColor(QPalette::Window, QColor(0x32, 0x32, 0x32));
        palette.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
        palette.setColor(QPalette::Button, QColor(0x3C, 0x3C, 0x3C));
        palette.setColor(QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Text, Qt::white);
        palette.setColor(QPalette::ButtonText, Qt::white);
    } else {
        palette.setColor(QPalette::Window, QColor(0xEC, 0xEC, 0xEC));
        palette.setColor(QPalette::WindowText, Qt::black);
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
    }
    return palette;
}

void appearanceRound(Harness&, int round)
{
    QApplication::setPalette(appearance(round % 2 == 0));
    QCoreApplication::processEvents();
}

struct Flow {
    const char* name;
    int warmUp;
    int rounds;
    void (*round)(Harness&, int);
    std::function<void(Harness&)> setUp;
    std::function<void(Harness&)> tearDown;
};

void run(Harness& h, const Flow& flow)
{
    if (flow.setUp)
        flow.setUp(h);
    int round = 0;
    for (; round < flow.warmUp; ++round) {
        flow.round(h, round);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const Snapshot before = snapshot();
    for (int i = 0; i < flow.rounds; ++i, ++round) {
        flow.round(h, round);
        // What the event loop would delete on its return: without a running loop it would pile up.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const Snapshot after = snapshot();
    if (flow.tearDown)
        flow.tearDown(h);
    const double n = flow.rounds;
    std::printf("%-11s %4d rounds: heap %+9.0f B, fds %+6.2f, threads %+6.2f, top-level widgets %+6.2f, "
                "widgets %+7.2f, QObjects %+7.2f per round\n",
        flow.name, flow.rounds, double(after.heap - before.heap) / n, (after.fds - before.fds) / n,
        (after.threads - before.threads) / n, (after.topLevels - before.topLevels) / n,
        (after.widgets - before.widgets) / n, double(after.objects - before.objects) / n);
    // Windows left behind are named, to say which they are.
    if (after.topLevels > before.topLevels) {
        for (QWidget* window : QApplication::topLevelWidgets())
            std::printf("    top-level %s \"%s\"%s\n", window->metaObject()->className(),
                qPrintable(window->objectName()), window->isVisible() ? ", shown" : "");
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    // Memory a thread's allocator cache holds reads as in use; with those caches off, the heap in use
    // is what the program holds.
    if (!qEnvironmentVariableIsSet("GLIBC_TUNABLES")) {
        setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0", 1);
        execv("/proc/self/exe", argv);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtHookData[3] = reinterpret_cast<quintptr>(&objectAdded);
    qtHookData[4] = reinterpret_cast<quintptr>(&objectRemoved);
    TindrelApp::configureAllocator();
    QApplication application(argc, argv);
    Harness harness;

    // The appearance changes with a project's workspace and a note window open.
    const std::vector<Flow> flows = {
        { "notes", 20, 200, noteRound, {}, {} },
        { "navigation", 35, 500, navigationRound, {}, {} },
        { "pages", 5, 60, pagesRound, {}, {} },
        { "sheets", 5, 60, sheetsRound, {}, {} },
        { "images", 3, 30, imagesRound, {}, {} },
        { "covers", 3, 30, coversRound, {}, {} },
        { "changes", 3, 30, changesRound, {}, {} },
        { "appearance", 10, 50, appearanceRound,
            [](Harness& h) {
                h.openProject(0);
                h.app().openNoteWindow(h.notes().front());
            },
            [](Harness& h) {
                h.app().dismissNoteWindow(h.notes().front());
                h.projectsPage()->pop();
            } },
    };
    // "name" runs a flow, "name:N" runs it for N rounds.
    const QStringList wanted = QCoreApplication::arguments().mid(1);
    for (Flow flow : flows) {
        if (wanted.isEmpty()) {
            run(harness, flow);
            continue;
        }
        for (const QString& argument : wanted) {
            if (argument.section(u':', 0, 0) != QLatin1String(flow.name))
                continue;
            if (argument.contains(u':'))
                flow.rounds = std::max(1, argument.section(u':', 1).toInt());
            run(harness, flow);
        }
    }
    // For a heap profiler: what the rounds left behind is still held at the exit, not freed with
    // the windows.
    if (qEnvironmentVariableIsSet("LONGUSE_EXIT_HOLDING"))
        std::exit(0);
    return 0;
}
