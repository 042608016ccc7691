#include "../ScreenTestSupport.h"
#include "Iris/declarative/ScriptedRetrieving.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDOpeningClick.h"
#include "app/screens/common/TDSpringAnimation.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/screens/workspace/TDStatusPicker.h"

#include <QAction>
#include <QAnimationDriver>
#include <QGraphicsEffect>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

using apptest::LibraryRoot;
using screentest::alertOn;

namespace {

void writeFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("data");
}

TDLink link(const platform::Uuid& noteId)
{
    return TDLink { {}, {}, "https://example.com", platform::Uuid::random(), noteId };
}

// Project A (two notes, the first with two links; two images; a folder with files), project B
// (one note with one link, one image) and an image that belongs to no project.
struct DeleteFixture {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> a;
    std::shared_ptr<TDProject> b;
    std::shared_ptr<TDMedia> loose;
    QWidget window;
    TDProjectMasterView* view;

    DeleteFixture()
    {
        root.makeLibraryFolder();
        auto category = stores.categoryStore->tdCategories().front();
        a = screentest::project("A", category);
        b = screentest::project("B", category);
        auto note = [](const std::shared_ptr<TDProject>& project, const QString& title) {
            return TDNote::make(
                platform::Uuid::random(), project->id(), title, apptest::fileUrl("/n.txt"), {});
        };
        a->setTdNote({ note(a, "one"), note(a, "two") });
        b->setTdNote({ note(b, "only") });
        stores.linkStore->setTdLinks(
            { link(a->tdNote()[0]->id()), link(b->tdNote()[0]->id()), link(a->tdNote()[0]->id()) });
        auto image = [](std::optional<platform::Uuid> owner) {
            return TDMedia::make(
                platform::Uuid::random(), apptest::fileUrl("/i.png"), apptest::fileUrl("/t.jpg"), owner);
        };
        loose = image(std::nullopt);
        stores.mediaStore->setTdMedia({ image(a->id()), loose, image(b->id()), image(a->id()) });
        stores.projectStore->setTdProjects({ a, b });
        writeFile(root.library() + "/A/notes/one/one.txt");
        writeFile(root.library() + "/B/notes/only/only.txt");
        view = new TDProjectMasterView(stores, NavigationType::projects, nullptr, &window);
        window.resize(1000, 700);
        view->resize(1000, 700);
        window.show();
        QCoreApplication::processEvents();
    }

    // Records the note windows a deletion closes (the view is made again to take the windows).
    void recordDismissedWindows(std::vector<platform::Uuid>& dismissed)
    {
        stores.noteWindows = std::make_shared<TDNoteWindows>(TDNoteWindows {
            {}, [&](const std::shared_ptr<TDNote>& note) { dismissed.push_back(note->id()); } });
        delete view;
        view = new TDProjectMasterView(stores, NavigationType::projects, nullptr, &window);
    }

    void deleteFromMenu(const std::shared_ptr<TDProject>& project)
    {
        std::unique_ptr<QMenu> menu(view->cardMenu(project));
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions().front()->text(), "Delete");
        menu->actions().front()->trigger();
    }
};

} // namespace

TEST(TDProjectMasterView, DeleteRemovesRecordsThenSavesThenRemovesTheFolder)
{
    DeleteFixture f;
    int linkWrites = 0;
    platform::withObservationTracking([&] { f.stores.linkStore->tdLinks(); }, [&] { ++linkWrites; });
    f.deleteFromMenu(f.a);

    auto projects = f.stores.projectStore->tdProjects();
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_EQ(projects.front(), f.b);
    auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), 2u);
    EXPECT_EQ(media[0], f.loose) << "an image of no project stays, in order";
    EXPECT_EQ(media[1]->tdProjectId(), f.b->id());
    auto links = f.stores.linkStore->tdLinks();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links.front().tdNoteId, f.b->tdNote()[0]->id());
    EXPECT_EQ(linkWrites, 1);
    EXPECT_TRUE(QFileInfo(f.root.library() + "/A").isDir()) << "the folder waits for the saves";

    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/A"));
    EXPECT_TRUE(QFileInfo(f.root.library() + "/B/notes/only/only.txt").isFile());
    EXPECT_EQ(screentest::namesIn(f.root.read("projects.library")), QStringList { "B" });
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("media.library")).array().size(), 2);
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("links.library")).array().size(), 1);
    EXPECT_FALSE(f.view->showsEmptyState());

    f.deleteFromMenu(f.b);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
    EXPECT_TRUE(f.view->showsEmptyState());
    EXPECT_TRUE(f.root.libraryEntries().contains("projects.library"));
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/B"));
}

// A deleted project's notes have nothing left to show: their windows close, the others' stay.
TEST(TDProjectMasterView, DeletingAProjectClosesTheWindowsOfItsNotes)
{
    DeleteFixture f;
    std::vector<platform::Uuid> dismissed;
    f.recordDismissedWindows(dismissed);
    f.deleteFromMenu(f.a);
    EXPECT_EQ(dismissed, (std::vector<platform::Uuid> { f.a->tdNote()[0]->id(), f.a->tdNote()[1]->id() }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
    EXPECT_EQ(dismissed.size(), 2u);
}

// A hand-edited library where B also lists A's note "two": deleting A keeps what B still names.
TEST(TDProjectMasterView, ANoteAnotherProjectAlsoListsKeepsItsLinksAndItsWindow)
{
    DeleteFixture f;
    const auto two = f.a->tdNote()[1];
    f.b->setTdNote(
        { f.b->tdNote()[0], TDNote::make(two->id(), f.b->id(), "two", apptest::fileUrl("/n.txt"), {}) });
    auto links = f.stores.linkStore->tdLinks();
    links.push_back(link(two->id()));
    f.stores.linkStore->setTdLinks(links);
    std::vector<platform::Uuid> dismissed;
    f.recordDismissedWindows(dismissed);

    f.deleteFromMenu(f.a);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
    EXPECT_EQ(dismissed, std::vector<platform::Uuid> { f.a->tdNote()[0]->id() });
    std::vector<platform::Uuid> kept;
    for (const TDLink& each : f.stores.linkStore->tdLinks())
        kept.push_back(each.tdNoteId);
    EXPECT_EQ(kept, (std::vector<platform::Uuid> { f.b->tdNote()[0]->id(), two->id() }));
}

TEST(TDProjectMasterView, AFailedSaveStopsTheChainKeepsTheFolderAndSaysSo)
{
    DeleteFixture f;
    f.root.write("projects.library", "old projects");
    QDir(f.root.library()).mkdir("media.library");
    apptest::CapturedStream out(stdout);
    f.deleteFromMenu(f.a);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
    EXPECT_TRUE(out.take().contains("An error occurred: "));
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("links.library")).array().size(), 1) << "links were saved";
    EXPECT_EQ(f.root.read("projects.library"), "old projects") << "the chain stopped at the media";
    EXPECT_TRUE(QFileInfo(f.root.library() + "/A/notes/one/one.txt").isFile());
    QMessageBox* alert = alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "The library could not be saved.");
}

TEST(TDProjectMasterView, DeletingAProjectOfADangerousNameRemovesOnlyItsRecord)
{
    for (QString name : { ".", "..", "", "projects.library", "a/../..", "B" }) {
        DeleteFixture f;
        f.root.write("projects.library", "[]");
        // Records like these come from a library file edited by hand.
        auto odd = screentest::project(name, f.a->category());
        auto projects = f.stores.projectStore->tdProjects();
        projects.push_back(odd);
        f.stores.projectStore->setTdProjects(projects);
        f.deleteFromMenu(odd);
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
        EXPECT_EQ(f.stores.projectStore->tdProjects().size(), 2u);
        EXPECT_TRUE(QFileInfo(f.root.documents()).isDir()) << name.toStdString();
        EXPECT_TRUE(QFileInfo(f.root.library()).isDir());
        EXPECT_TRUE(QFileInfo(f.root.library() + "/projects.library").isFile());
        EXPECT_TRUE(QFileInfo(f.root.library() + "/A/notes/one/one.txt").isFile()) << name.toStdString();
        EXPECT_TRUE(QFileInfo(f.root.library() + "/B/notes/only/only.txt").isFile())
            << "a folder another project still names stays";
    }
}

TEST(TDProjectMasterView, ADeletedCardFadesOutAndTheNextSpringsIntoItsPlace)
{
    // A critically damped spring of response 0.1: no overshoot, nearly there after 0.1 s.
    EXPECT_EQ(TDSpringAnimation::progressAt(0.1, 0), 0);
    EXPECT_NEAR(TDSpringAnimation::progressAt(0.1, 0.05), 0.82, 0.01);
    EXPECT_NEAR(TDSpringAnimation::progressAt(0.1, 0.1), 0.986, 0.001);
    EXPECT_NEAR(TDSpringAnimation::settlingSeconds(0.1), 0.147, 0.002);

    // The animation's clock is the test's.
    struct SteppedDriver : QAnimationDriver {
        qint64 now = 0;
        qint64 elapsed() const override { return now; }
        void step(qint64 ms)
        {
            now += ms;
            advance();
        }
    } driver;
    driver.install();
    DeleteFixture f;
    ASSERT_EQ(f.view->cards().size(), 2);
    QPointer<TDProjectItem> leaving = f.view->cards()[0];
    TDProjectItem* next = f.view->cards()[1];
    const QPoint first = leaving->pos();
    const QPoint second = next->pos();

    f.deleteFromMenu(f.a);
    QCoreApplication::processEvents();
    ASSERT_TRUE(leaving) << "the card stays while it fades";
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(leaving->graphicsEffect());
    ASSERT_TRUE(fade);
    EXPECT_EQ(next->pos(), second);
    ASSERT_TRUE(testsupport::waitUntil([&] { return driver.isRunning(); }));
    driver.step(50);
    const int expected
        = qRound(second.x() + (first.x() - second.x()) * TDSpringAnimation::progressAt(0.1, 0.05));
    EXPECT_NEAR(next->x(), expected, 1);
    EXPECT_NEAR(fade->opacity(), 1 - TDSpringAnimation::progressAt(0.1, 0.05), 0.01);
    driver.step(200);
    EXPECT_EQ(next->pos(), first);
    QCoreApplication::processEvents();
    EXPECT_TRUE(leaving.isNull());
    driver.uninstall();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
}

TEST(TDProjectMasterView, OfTwoRecordsWithOneIdOnlyTheChosenOneGoes)
{
    DeleteFixture f;
    // A hand-edited library: "Twin" copies A's id, and so owns A's images too.
    TDProject::Fields fields;
    fields.name = "Twin";
    fields.category = f.a->category();
    fields.id = f.a->id();
    auto twin = TDProject::make(std::move(fields));
    f.stores.projectStore->setTdProjects({ f.a, f.b, twin });
    writeFile(f.root.library() + "/Twin/notes/x/x.txt");
    QCoreApplication::processEvents();
    ASSERT_EQ(f.view->cards().size(), 3) << "both records have a card";
    EXPECT_EQ(f.view->cards()[2]->project(), twin);

    f.deleteFromMenu(twin);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->deletesInFlight() == 0; }));
    EXPECT_EQ(f.stores.projectStore->tdProjects(), (TDProjectStore::ProjectList { f.a, f.b }));
    EXPECT_EQ(screentest::namesIn(f.root.read("projects.library")), (QStringList { "A", "B" }));
    EXPECT_EQ(f.stores.mediaStore->tdMedia().size(), 4u) << "A still owns its images";
    EXPECT_EQ(f.stores.linkStore->tdLinks().size(), 3u);
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Twin"));
    EXPECT_TRUE(QFileInfo(f.root.library() + "/A/notes/one/one.txt").isFile());
}

TEST(TDProjectMasterView, EachDestinationShowsItsProjectsOrTheEmptyState)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    stores.projectStore->setTdProjects({ screentest::project("One", category, TDStatus::inProgress, true),
        screentest::project("Two", category, TDStatus::archived), screentest::project("Three", category) });
    struct Case {
        NavigationType type;
        QStringList names;
    };
    const Case cases[] = {
        { NavigationType::projects, { "One", "Two", "Three" } },
        { NavigationType::favorite, { "One" } },
        { NavigationType::inProgress, { "One", "Three" } },
        { NavigationType::archived, { "Two" } },
        { NavigationType::finished, {} },
        { NavigationType::media, {} },
        { NavigationType::links, {} },
    };
    for (const auto& test : cases) {
        TDToolbar toolbar;
        TDProjectMasterView view(stores, test.type, &toolbar);
        view.resize(1000, 600);
        view.show();
        QCoreApplication::processEvents();
        QStringList names;
        for (TDProjectItem* card : view.cards())
            names.append(card->nameText());
        EXPECT_EQ(names, test.names) << rawValue(test.type).toStdString();
        EXPECT_EQ(view.showsEmptyState(), test.names.isEmpty());
        if (test.names.isEmpty()) {
            auto* title = view.emptyState()->findChild<QLabel*>("emptyStateTitle");
            auto* description = view.emptyState()->findChild<QLabel*>("emptyStateDescription");
            EXPECT_EQ(title->text(), "No project found");
            EXPECT_EQ(description->text(),
                "Oops! looks like there is no project. Try to make one for your creative journey.");
            EXPECT_TRUE(view.emptyState()->isVisible());
        }
        // The create button is the all-projects destination's alone.
        EXPECT_EQ(toolbar.actions().size(), test.type == NavigationType::projects ? 1 : 0);
    }
}

TEST(TDProjectMasterView, CardsAreAQuarterOfTheWholeAreaAndOnlyVisibleOnesAreBuilt)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    TDProjectStore::ProjectList projects;
    for (int i = 0; i < 400; ++i) {
        auto project = screentest::project(QStringLiteral("P%1").arg(i), category);
        if (i % 2 == 0) {
            QString cover = QStringLiteral("%1.png").arg(i);
            root.write(cover, "image bytes");
            project->setCoverImageURL(apptest::fileUrl(root.file(cover)));
        }
        projects.push_back(project);
    }
    iristest::ScopedRetrieving retrieving;
    stores.projectStore->setTdProjects({ projects[0], projects[1] });
    TDProjectMasterView view(stores, NavigationType::projects);
    view.resize(1000, 700);
    view.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(view.cards().size(), 2);
    EXPECT_EQ(view.scrollArea()->width(), 1000);
    EXPECT_EQ(view.cards()[0]->size(), QSize(238, 160));
    EXPECT_EQ(view.cards()[0]->pos(), QPoint(8 + (int(std::round((1000 - 16 - 24) / 4.0)) - 238) / 2, 8));

    stores.projectStore->setTdProjects(projects);
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.cards().size() > 2; }));
    // 700 high shows five rows (8 + 4 * 168 = 680), so 20 cards, half of them with covers.
    EXPECT_LE(view.cards().size(), 20);
    ASSERT_TRUE(testsupport::waitUntil([&] { return retrieving.manager->calls.size() == 10; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(retrieving.manager->calls.size(), 10u) << "only the covers of cards in view are retrieved";
    view.scrollArea()->verticalScrollBar()->setValue(8 + 168 * 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.cards().front()->nameText(), "P200");
    EXPECT_LE(view.cards().size(), 24);
}

// A double or triple click on a card opens its page once; the rest of the clicks land on what
// the page puts under the pointer, a note's row here, and open nothing. A click of its own does.
TEST(TDProjectMasterView, AnImpatientClickOnACardOpensOnlyItsPage)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
    project->setTdNote({ TDNote::make(
        platform::Uuid::random(), project->id(), "one", apptest::fileUrl("/n.txt"), platform::Date(8e8)) });
    stores.projectStore->setTdProjects({ project });
    int opened = 0;
    stores.noteWindows
        = std::make_shared<TDNoteWindows>(TDNoteWindows { [&](const auto&) { ++opened; }, {} });
    TDOpeningClick::Filter extraClicks;
    TDProjectMasterView view(stores, NavigationType::projects, nullptr);
    view.resize(1000, 600);
    view.show();
    QCoreApplication::processEvents();
    TDProjectItem* card = view.cards().front();
    const QPointF pointer = card->mapToGlobal(QRectF(card->rect()).center());
    const ulong start = screentest::mouseClock();
    screentest::sendMouse(card, QEvent::MouseButtonPress, start);
    screentest::sendMouse(card, QEvent::MouseButtonRelease, start + 40);
    ASSERT_EQ(view.stackDepth(), 1);
    std::vector<TDNoteItem*> rows;
    for (auto* widget : view.topPage()->findChildren<QWidget*>()) {
        if (auto* row = dynamic_cast<TDNoteItem*>(widget))
            rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), 1u);
    screentest::sendMouse(rows[0], QEvent::MouseButtonDblClick, start + 80, pointer);
    screentest::sendMouse(rows[0], QEvent::MouseButtonRelease, start + 120, pointer);
    screentest::sendMouse(rows[0], QEvent::MouseButtonPress, start + 160, pointer);
    screentest::sendMouse(rows[0], QEvent::MouseButtonRelease, start + 200, pointer);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(view.stackDepth(), 1);
    screentest::quickClicks(rows[0], 1);
    EXPECT_EQ(opened, 1);
}

TEST(TDProjectMasterView, ACardPushesTheProjectPageAndBackReturnsToTheSameGrid)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
    stores.projectStore->setTdProjects({ project });
    TDToolbar toolbar;
    toolbar.setNavigationTitle("Projects");
    TDProjectMasterView view(stores, NavigationType::projects, &toolbar);
    view.resize(1000, 600);
    view.show();
    QCoreApplication::processEvents();
    TDProjectItem* card = view.cards().front();
    QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(card->width() - 3, card->height() - 3));
    ASSERT_EQ(view.stackDepth(), 1);
    auto* page = dynamic_cast<TDProjectDetailView*>(view.topPage());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->project(), project);
    EXPECT_EQ(toolbar.title(), "Alpha");
    EXPECT_TRUE(toolbar.isBackShown());
    EXPECT_EQ(toolbar.subtitle(), project->category()->name());
    EXPECT_GE(view.minimumSize().width(), 1120)
        << "the workspace's columns widen the window, not overflow it";
    ASSERT_EQ(toolbar.actions().size(), 5) << "the workspace's four items and the create button";
    EXPECT_EQ(toolbar.actions().back(), view.createProjectAction());
    EXPECT_TRUE(toolbar.widgetFor(page->statusAction()));

    project->setName("Beta");
    ASSERT_TRUE(testsupport::waitUntil([&] { return toolbar.title() == "Beta"; }));
    toolbar.triggerBack();
    EXPECT_EQ(view.stackDepth(), 0);
    EXPECT_EQ(view.cards().front(), card) << "the same grid, the same card";
    EXPECT_EQ(toolbar.title(), "Projects");
    EXPECT_TRUE(toolbar.subtitle().isEmpty());
    EXPECT_EQ(view.minimumSize().width(), TDProjectMasterView::minimumWidth);
    EXPECT_EQ(toolbar.actions().size(), 1);
    EXPECT_FALSE(toolbar.isBackShown());
}

TEST(TDProjectMasterView, TheToolbarButtonOpensTheCreateSheetOnce)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QWidget window;
    TDToolbar toolbar(&window);
    auto* view = new TDProjectMasterView(stores, NavigationType::projects, &toolbar, &window);
    window.show();
    ASSERT_TRUE(view->createProjectAction());
    EXPECT_EQ(view->createProjectAction()->objectName(), "createProjectAction");
    toolbar.buttonFor(view->createProjectAction())->click();
    QCoreApplication::processEvents();
    CreateTDProjectSheet* sheet = view->createProjectSheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), &window);
    view->createProjectAction()->trigger();
    EXPECT_EQ(view->createProjectSheet(), sheet);
    sheet->reject();
    EXPECT_FALSE(view->openCreateNewProjectSheet());
    EXPECT_EQ(view->createProjectSheet(), nullptr);
}

// The create button's symbol is drawn in the appearance's colour, also after a live switch between
// light and dark (in the light gray it is faint on a dark toolbar).
TEST(TDProjectMasterView, TheCreateButtonFollowsALiveChangeOfAppearance)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QWidget window;
    TDToolbar toolbar(&window);
    auto* view = new TDProjectMasterView(stores, NavigationType::projects, &toolbar, &window);
    window.show();
    const QSize size(TDToolbar::iconSize, TDToolbar::iconSize);
    auto drawn = [&] { return view->createProjectAction()->icon().pixmap(size).toImage(); };
    auto expected = [&](bool dark) {
        return SymbolPainter::icon(Symbol::folderBadgePlus, TDToolbar::iconSize,
            tdappearance::color(tdappearance::SystemColor::secondaryLabel, dark).toRgb())
            .pixmap(size)
            .toImage();
    };
    for (bool dark : { true, false }) {
        screentest::ScopedPalette palette(dark);
        QCoreApplication::processEvents();
        EXPECT_TRUE(drawn() == expected(dark)) << (dark ? "dark" : "light");
    }
}

// Ctrl+N opens the create sheet as the toolbar's button does, also from a project's page; with the
// sheet open the key opens no second one.
TEST(TDProjectMasterView, CtrlNOpensTheCreateSheetOnce)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
    stores.projectStore->setTdProjects({ project });
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* toolbar = new TDToolbar(&window);
    layout->addWidget(toolbar);
    auto* view = new TDProjectMasterView(stores, NavigationType::projects, toolbar, &window);
    layout->addWidget(view);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (bool pushed : { false, true }) {
        if (pushed) {
            view->push(project);
            QCoreApplication::processEvents();
        }
        QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
        QCoreApplication::processEvents();
        CreateTDProjectSheet* sheet = view->createProjectSheet();
        ASSERT_TRUE(sheet && sheet->isVisible()) << (pushed ? "on a project's page" : "on the grid");
        QTest::keyClick(sheet, Qt::Key_N, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->createProjectSheet(), sheet);
        EXPECT_EQ(window.findChildren<CreateTDProjectSheet*>().size(), 1);
        sheet->reject();
        QCoreApplication::processEvents();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
}

// A user without a mouse reaches every project: the arrows move the ring (scrolling it into view),
// Return opens the project, Back brings the keys back to the same card, and the menu key deletes.
// In a right-to-left layout the grid starts at the right, as the arrow keys do.
TEST(TDProjectMasterView, InARightToLeftLayoutTheGridStartsAtTheRightAndTheArrowsFollowIt)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    TDProjectStore::ProjectList projects;
    for (int i = 0; i < 6; ++i)
        projects.push_back(screentest::project(QStringLiteral("P%1").arg(i), category));
    stores.projectStore->setTdProjects(projects);
    TDToolbar toolbar;
    QWidget window;
    window.setLayoutDirection(Qt::RightToLeft);
    auto* layout = new QVBoxLayout(&window);
    auto* view = new TDProjectMasterView(stores, NavigationType::projects, &toolbar);
    layout->addWidget(view);
    window.resize(1000, 500);
    window.show();
    QCoreApplication::processEvents();
    QList<TDProjectItem*> cards = view->cards();
    ASSERT_EQ(cards.size(), 6);
    EXPECT_GT(cards[0]->x(), cards[1]->x());
    EXPECT_GT(cards[0]->x(), cards[3]->x());
    EXPECT_EQ(cards[4]->x(), cards[0]->x()) << "the second row starts at the right too";
    EXPECT_GT(cards[0]->x() + cards[0]->width(), view->grid()->width() - 30);

    view->grid()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view->grid(), Qt::Key_Left);
    EXPECT_TRUE(cards[1]->showsFocusRing()) << "Left goes to the card on the left";
    QTest::keyClick(view->grid(), Qt::Key_Right);
    EXPECT_TRUE(cards[0]->showsFocusRing());
}

TEST(TDProjectMasterView, TheKeysMoveThroughTheGridOpenAProjectAndComeBackToIt)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    TDProjectStore::ProjectList projects;
    for (int i = 0; i < 30; ++i)
        projects.push_back(screentest::project(QStringLiteral("P%1").arg(i), category));
    stores.projectStore->setTdProjects(projects);
    TDToolbar toolbar;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* viewOwned = new TDProjectMasterView(stores, NavigationType::projects, &toolbar);
    TDProjectMasterView& view = *viewOwned;
    layout->addWidget(viewOwned);
    layout->addWidget(new QPushButton("Next", &window));
    window.resize(1000, 400);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QWidget* grid = view.grid();
    grid->setFocus(Qt::TabFocusReason);
    auto ringed = [&] {
        QStringList names;
        for (TDProjectItem* card : view.cards()) {
            if (card->showsFocusRing())
                names << card->nameText();
        }
        return names.join(',');
    };
    EXPECT_EQ(ringed(), "P0");
    QTest::keyClick(grid, Qt::Key_Tab);
    EXPECT_EQ(view.scrollArea()->verticalScrollBar()->value(), 0) << "Tab leaves the grid where it was";
    grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grid, Qt::Key_Left);
    EXPECT_EQ(ringed(), "P0") << "nothing before the first";
    QTest::keyClick(grid, Qt::Key_Right);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(ringed(), "P5");
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(ringed(), "P25") << "scrolled into view, and built";
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(ringed(), "P29") << "the last row is shorter: down goes to the last card";
    QTest::keyClick(grid, Qt::Key_Home);
    EXPECT_EQ(ringed(), "P0");
    QTest::keyClick(grid, Qt::Key_End);
    EXPECT_EQ(ringed(), "P29");
    QTest::keyClick(grid, Qt::Key_Up);
    QTest::keyClick(grid, Qt::Key_Left);

    QTest::keyClick(grid, Qt::Key_Return);
    ASSERT_EQ(view.stackDepth(), 1);
    EXPECT_EQ(dynamic_cast<TDProjectDetailView*>(view.topPage())->project(), projects[24]);
    EXPECT_TRUE(view.topPage()->isAncestorOf(QApplication::focusWidget())
        || view.topPage() == QApplication::focusWidget());
    toolbar.triggerBack();
    EXPECT_TRUE(grid->hasFocus());
    EXPECT_EQ(ringed(), "P24");
    grid->clearFocus();
    EXPECT_EQ(ringed(), "") << "no ring without the keys";
    grid->setFocus(Qt::TabFocusReason);

    QTest::keyClick(grid, Qt::Key_Menu);
    auto* menu = QApplication::activePopupWidget();
    ASSERT_TRUE(menu && menu->objectName() == "cardMenu");
    menu->findChild<QAction*>("deleteProjectAction")->trigger();
    menu->close();
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.deletesInFlight() == 0; }));
    ASSERT_EQ(stores.projectStore->tdProjects().size(), 29u);
    // The test platform leaves no window active once a popup closes.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(testsupport::waitUntil([&] { return ringed() == "P25"; }))
        << "the ring stays in place, on the card that took the deleted one's";
}
