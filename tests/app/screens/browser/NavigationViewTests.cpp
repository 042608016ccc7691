#include "../ScreenTestSupport.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDToolbar.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTreeWidget>

using apptest::LibraryRoot;

namespace {

QString barText(NavigationView& view, const char* name)
{
    auto* label = view.bottomBar()->findChild<QLabel*>(name);
    return label ? label->text() : QString();
}

struct Fixture {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QMainWindow window;
    NavigationView* view;

    Fixture()
    {
        view = new NavigationView(stores);
        window.setCentralWidget(view);
        window.resize(1200, 760);
        window.show();
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST(NavigationView, StartsOnAllWithBothSectionsOpenAndCountsAsProjectsArrive)
{
    Fixture f;
    QTreeWidget* sidebar = f.view->sidebar();
    EXPECT_EQ(sidebar->objectName(), "sidebar");
    ASSERT_EQ(sidebar->topLevelItemCount(), 2);
    EXPECT_EQ(sidebar->topLevelItem(0)->text(0), "Projects");
    EXPECT_EQ(sidebar->topLevelItem(1)->text(0), "Other");
    QStringList rows;
    for (int section = 0; section < 2; ++section) {
        EXPECT_TRUE(sidebar->topLevelItem(section)->isExpanded());
        for (int row = 0; row < sidebar->topLevelItem(section)->childCount(); ++row)
            rows.append(sidebar->topLevelItem(section)->child(row)->text(0));
    }
    EXPECT_EQ(
        rows, (QStringList { "All", "In Progress", "Archived", "Finished", "Favorite", "Media", "Links" }));
    ASSERT_EQ(sidebar->selectedItems().size(), 1);
    EXPECT_EQ(sidebar->selectedItems().front()->text(0), "All");
    EXPECT_EQ(f.window.windowTitle(), "Projects");
    EXPECT_EQ(f.view->toolbar()->title(), "Projects");
    EXPECT_EQ(barText(*f.view, "barLabel"), "Projects:");
    EXPECT_EQ(barText(*f.view, "barCount"), "0");

    auto category = f.stores.categoryStore->tdCategories().front();
    f.stores.projectStore->setTdProjects({ screentest::project("A", category),
        screentest::project("B", category), screentest::project("C", category) });
    ASSERT_TRUE(testsupport::waitUntil([&] { return barText(*f.view, "barCount") == "3"; }));
}

TEST(NavigationView, EachDestinationHasItsTitleGridAndCount)
{
    Fixture f;
    auto category = f.stores.categoryStore->tdCategories().front();
    f.stores.projectStore->setTdProjects({ screentest::project("A", category, TDStatus::inProgress, true),
        screentest::project("B", category, TDStatus::archived, true),
        screentest::project("C", category, TDStatus::finished),
        screentest::project("D", category, TDStatus::inProgress) });
    TDMediaStore::MediaList media;
    for (int i = 0; i < 4; ++i)
        media.push_back(
            TDMedia::make(platform::Uuid::random(), apptest::fileUrl("/m"), apptest::fileUrl("/t"), {}));
    f.stores.mediaStore->setTdMedia(media);
    TDLinkStore::LinkList links(
        5, TDLink { {}, {}, "https://example.com", platform::Uuid::random(), platform::Uuid::random() });
    f.stores.linkStore->setTdLinks(links);
    struct Case {
        const char* row;
        const char* title;
        const char* label;
        const char* count;
    };
    const Case cases[] = {
        { "In Progress", "In Progress", "Projects:", "2" },
        { "Archived", "Archived", "Projects:", "1" },
        { "Finished", "Finished", "Projects:", "1" },
        { "Favorite", "Favorite", "Projects:", "2" },
        { "Media", "Media", "Media:", "4" },
        { "Links", "Links", "Links:", "5" },
        { "All", "Projects", "Projects:", "4" },
    };
    for (const auto& test : cases) {
        QTreeWidgetItem* row
            = f.view->sidebar()->findItems(test.row, Qt::MatchExactly | Qt::MatchRecursive).front();
        QRect rect = f.view->sidebar()->visualItemRect(row);
        QTest::mouseClick(f.view->sidebar()->viewport(), Qt::LeftButton, {}, rect.center());
        QCoreApplication::processEvents();
        EXPECT_EQ(f.window.windowTitle(), test.title);
        EXPECT_EQ(f.view->toolbar()->title(), test.title);
        EXPECT_EQ(barText(*f.view, "barLabel"), test.label) << test.row;
        EXPECT_EQ(barText(*f.view, "barCount"), test.count) << test.row;
        auto* grid = dynamic_cast<TDProjectMasterView*>(f.view->destinationView());
        bool projectDestination = QString(test.label) == "Projects:";
        EXPECT_EQ(grid != nullptr, projectDestination) << test.row;
        if (grid) {
            EXPECT_EQ(QString::number(grid->cards().size()), test.count);
        }
    }
}

TEST(NavigationView, CountsFollowFavouritesAndAPushedPageStaysPut)
{
    Fixture f;
    auto category = f.stores.categoryStore->tdCategories().front();
    auto project = screentest::project("A", category);
    f.stores.projectStore->setTdProjects({ project, screentest::project("B", category) });
    QCoreApplication::processEvents();
    auto* grid = dynamic_cast<TDProjectMasterView*>(f.view->destinationView());
    ASSERT_TRUE(grid);
    ASSERT_TRUE(testsupport::waitUntil([&] { return grid->cards().size() == 2; }));
    QTest::mouseClick(grid->cardFor(project->id()), Qt::LeftButton);
    ASSERT_EQ(grid->stackDepth(), 1);
    EXPECT_EQ(f.window.windowTitle(), "A");

    // A toggle inside the opened page re-renders the counts, not the page.
    project->setIsFavorite(true);
    project->setStatus(TDStatus::finished);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(f.view->destinationView(), grid);
    EXPECT_EQ(grid->stackDepth(), 1);
    EXPECT_EQ(f.view->toolbar()->title(), "A");

    f.view->select(NavigationType::favorite);
    EXPECT_EQ(barText(*f.view, "barCount"), "1");
    project->setIsFavorite(false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return barText(*f.view, "barCount") == "0"; }));
    EXPECT_TRUE(dynamic_cast<TDProjectMasterView*>(f.view->destinationView())->showsEmptyState());
    EXPECT_TRUE(f.view->toolbar()->actions().isEmpty()) << "no create button on Favorite";

    // Back on All: a fresh grid with nothing pushed.
    f.view->select(NavigationType::projects);
    auto* fresh = dynamic_cast<TDProjectMasterView*>(f.view->destinationView());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->stackDepth(), 0);
    EXPECT_FALSE(f.view->toolbar()->isBackShown());
    EXPECT_EQ(f.view->toolbar()->actions().size(), 1);
}

// On a 1280-wide screen the sidebar and a workspace need more than the screen has: the window grew
// past its edge and the page's buttons and counts could not be reached.
TEST(NavigationView, APushedPageTooWideForTheScreenBesideTheSidebarTakesItsPlace)
{
    Fixture f;
    int screenWidth = 1280;
    f.view->setAvailableArea([&] { return QRect(0, 0, screenWidth, 1000); });
    auto category = f.stores.categoryStore->tdCategories().front();
    auto project = screentest::project("A", category);
    f.stores.projectStore->setTdProjects({ project });
    QCoreApplication::processEvents();
    auto* grid = dynamic_cast<TDProjectMasterView*>(f.view->destinationView());
    ASSERT_TRUE(testsupport::waitUntil([&] { return grid->cards().size() == 1; }));
    EXPECT_TRUE(f.view->sidebar()->isVisible()) << "the grid fits beside it";

    grid->push(project);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->sidebar()->isHidden(); }));
    QCoreApplication::processEvents();
    EXPECT_LE(f.window.width(), screenWidth);
    EXPECT_LE(f.window.minimumSizeHint().width(), screenWidth);

    grid->pop();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->sidebar()->isVisible(); }));

    screenWidth = 1920;
    grid->push(project);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.view->sidebar()->isVisible()) << "a wide screen holds both";

    // Another destination replaces the pushed page, and with it the reason to hide.
    screenWidth = 1280;
    grid->pop();
    grid->push(project);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->sidebar()->isHidden(); }));
    f.view->select(NavigationType::favorite);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->sidebar()->isVisible(); }));
}

// The main window's first width holds a workspace beside the sidebar: opening a project made it
// jump wider, and it stayed so.
TEST(NavigationView, AProjectOpensInAWindowOfThePreferredWidthWithoutWideningIt)
{
    Fixture f;
    f.view->setAvailableArea([] { return QRect(0, 0, 1920, 1080); });
    f.window.resize(NavigationView::preferredWindowWidth(), 760);
    auto project = screentest::project("A", f.stores.categoryStore->tdCategories().front());
    f.stores.projectStore->setTdProjects({ project });
    auto* grid = dynamic_cast<TDProjectMasterView*>(f.view->destinationView());
    ASSERT_TRUE(testsupport::waitUntil([&] { return grid->cards().size() == 1; }));
    const int width = f.window.width();
    grid->push(project);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.view->sidebar()->isVisible());
    EXPECT_LE(f.window.minimumSizeHint().width(), width);
    EXPECT_EQ(f.window.width(), width);
}

// A window made narrower than a project's workspace grows when one opens: near the screen's right
// edge it grew past it, hiding the page's toolbar, and after Back it stayed wide.
TEST(NavigationView, AWindowAPageWidensStaysOnTheScreenAndBackGivesItsWidthAndPlaceAgain)
{
    Fixture f;
    const QRect area(0, 0, 1600, 1000);
    f.view->setAvailableArea([&] { return area; });
    auto project = screentest::project("A", f.stores.categoryStore->tdCategories().front());
    f.stores.projectStore->setTdProjects({ project });
    auto* grid = dynamic_cast<TDProjectMasterView*>(f.view->destinationView());
    ASSERT_TRUE(testsupport::waitUntil([&] { return grid->cards().size() == 1; }));
    f.window.resize(1000, 600);
    f.window.move(580, 100);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.window.pos() == QPoint(580, 100); }));
    const QRect chosen(f.window.pos(), f.window.size());

    grid->push(project);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.window.width() > chosen.width(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.view->sidebar()->isVisible());
    EXPECT_LE(f.window.frameGeometry().right(), area.right()) << "moved in, not past the edge";
    EXPECT_GE(f.window.frameGeometry().left(), area.left());

    grid->pop();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.window.width() == chosen.width(); }))
        << f.window.width();
    EXPECT_EQ(QRect(f.window.pos(), f.window.size()), chosen);

    // Resized while the page shows, the window keeps the user's size.
    grid->push(project);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.window.width() > chosen.width(); }));
    QCoreApplication::processEvents();
    const int resized = f.window.width() + 40;
    f.window.resize(resized, 600);
    QCoreApplication::processEvents();
    grid->pop();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(f.window.width(), resized);
}

TEST(NavigationView, CollapsingASectionOrCtrlClickingKeepsTheSelection)
{
    Fixture f;
    auto category = f.stores.categoryStore->tdCategories().front();
    f.stores.projectStore->setTdProjects({ screentest::project("A", category, TDStatus::archived) });
    f.view->select(NavigationType::archived);
    QWidget* grid = f.view->destinationView();
    QTreeWidgetItem* header = f.view->sidebar()->topLevelItem(0);
    QTest::mouseClick(f.view->sidebar()->viewport(), Qt::LeftButton, {},
        f.view->sidebar()->visualItemRect(header).center());
    EXPECT_FALSE(header->isExpanded());
    EXPECT_FALSE(f.view->isMenuExpanded());
    EXPECT_TRUE(f.view->isStatusExpanded());
    EXPECT_EQ(f.view->selectedNavigationItem(), NavigationType::archived);
    EXPECT_EQ(f.view->destinationView(), grid);
    EXPECT_EQ(barText(*f.view, "barCount"), "1");

    header->setExpanded(true);
    QTreeWidgetItem* row = f.view->sidebarRow(NavigationType::archived);
    QTest::mouseClick(f.view->sidebar()->viewport(), Qt::LeftButton, Qt::ControlModifier,
        f.view->sidebar()->visualItemRect(row).center());
    ASSERT_EQ(f.view->sidebar()->selectedItems().size(), 1);
    EXPECT_EQ(f.view->sidebar()->selectedItems().front(), row);
    EXPECT_EQ(f.view->destinationView(), grid);
}

// With the mouse alone: the section that holds the page shown folds and unfolds from its header,
// and a row clicked then is chosen at the first click.
TEST(NavigationView, TheSectionOfThePageShownUnfoldsFromItsHeader)
{
    Fixture f;
    QTreeWidget* sidebar = f.view->sidebar();
    QTreeWidgetItem* header = sidebar->topLevelItem(0);
    auto click = [&](QTreeWidgetItem* item) {
        QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, sidebar->visualItemRect(item).center());
    };
    f.view->select(NavigationType::archived);
    click(header);
    ASSERT_FALSE(header->isExpanded());
    // A click on the empty part of the sidebar leaves the section folded too.
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, QPoint(20, sidebar->viewport()->height() - 5));
    EXPECT_FALSE(header->isExpanded());
    click(header);
    EXPECT_TRUE(header->isExpanded());
    EXPECT_EQ(f.view->selectedNavigationItem(), NavigationType::archived);
    click(f.view->sidebarRow(NavigationType::favorite));
    EXPECT_EQ(f.view->selectedNavigationItem(), NavigationType::favorite);
}

// Without a mouse: the arrows step from destination to destination over the section headers and
// past a collapsed section.
TEST(NavigationView, TheArrowsMoveThroughTheSidebar)
{
    Fixture f;
    QTreeWidget* sidebar = f.view->sidebar();
    EXPECT_TRUE(sidebar->focusPolicy() & Qt::TabFocus);
    const std::pair<Qt::Key, NavigationType> steps[] = {
        { Qt::Key_Up, NavigationType::projects },
        { Qt::Key_Down, NavigationType::inProgress },
        { Qt::Key_End, NavigationType::links },
        { Qt::Key_Down, NavigationType::links },
        { Qt::Key_Up, NavigationType::media },
        { Qt::Key_Up, NavigationType::favorite },
        { Qt::Key_Down, NavigationType::media },
        { Qt::Key_Home, NavigationType::projects },
    };
    for (const auto& [key, expected] : steps) {
        QTest::keyClick(sidebar, key);
        EXPECT_EQ(f.view->selectedNavigationItem(), expected);
        ASSERT_EQ(sidebar->selectedItems().size(), 1);
        EXPECT_EQ(sidebar->selectedItems().front(), f.view->sidebarRow(expected));
    }
    // Watched, not compared by address: the next page may be made where the old one was freed.
    QPointer<QWidget> grid = f.view->destinationView();
    sidebar->topLevelItem(1)->setExpanded(false);
    QTest::keyClick(sidebar, Qt::Key_End);
    EXPECT_EQ(f.view->selectedNavigationItem(), NavigationType::favorite);
    EXPECT_TRUE(grid.isNull()) << "a step changes the page, as a click does";
}

// The page shown may sit in a folded section: Up and Down go to the nearest row shown on their side
// of it, and do nothing where there is none, rather than jumping to the far end of the sidebar.
TEST(NavigationView, FromAPageInAFoldedSectionTheArrowsStepToTheNearestRowShown)
{
    Fixture f;
    QTreeWidget* sidebar = f.view->sidebar();
    QTreeWidgetItem* projects = sidebar->topLevelItem(0);
    QTreeWidgetItem* other = sidebar->topLevelItem(1);
    const struct {
        NavigationType shown;
        QTreeWidgetItem* folded;
        Qt::Key key;
        NavigationType expected;
    } steps[] = {
        { NavigationType::archived, projects, Qt::Key_Up, NavigationType::archived },
        { NavigationType::archived, projects, Qt::Key_Down, NavigationType::media },
        { NavigationType::media, other, Qt::Key_Up, NavigationType::favorite },
        { NavigationType::links, other, Qt::Key_Down, NavigationType::links },
        { NavigationType::links, other, Qt::Key_Home, NavigationType::projects },
    };
    for (const auto& step : steps) {
        projects->setExpanded(true);
        other->setExpanded(true);
        f.view->select(step.shown);
        step.folded->setExpanded(false);
        sidebar->setFocus(Qt::TabFocusReason);
        QTest::keyClick(sidebar, step.key);
        EXPECT_EQ(f.view->selectedNavigationItem(), step.expected)
            << rawValue(step.shown).toStdString() << " folded, key " << step.key;
    }
}

// A long session: each visit of a page drew new copies of its toolbar's icons into the pixmap
// cache, about 1 KB a visit that only the cache's limit ever stopped.
TEST(NavigationView, APageBuiltAgainReusesItsIcons)
{
    Fixture f;
    auto icon = [&] {
        auto* grid = dynamic_cast<TDProjectMasterView*>(f.view->destinationView());
        return grid && grid->createProjectAction() ? grid->createProjectAction()->icon().cacheKey() : 0;
    };
    const qint64 first = icon();
    ASSERT_NE(first, 0);
    f.view->select(NavigationType::archived);
    f.view->select(NavigationType::projects);
    EXPECT_EQ(icon(), first);
}

TEST(NavigationView, EverySidebarSymbolReadsSelectedAndNot)
{
    for (bool dark : { false, true }) {
        screentest::ScopedPalette palette(dark);
        Fixture f;
        QTreeWidget* sidebar = f.view->sidebar();
        for (NavigationType selected : { NavigationType::projects, NavigationType::finished }) {
            f.view->select(selected);
            QCoreApplication::processEvents();
            QImage image = sidebar->viewport()->grab().toImage();
            const qreal scale = image.devicePixelRatio();
            for (NavigationType row : { NavigationType::projects, NavigationType::finished }) {
                QRect rect = sidebar->visualItemRect(f.view->sidebarRow(row));
                // The row's own ground, beside the title; the symbol's box at the leading end.
                QColor ground = image.pixelColor(QPoint(rect.right() - 14, rect.center().y()) * scale);
                double best = 1;
                for (int x = rect.left() + 20; x < rect.left() + 33; ++x)
                    for (int y = rect.center().y() - 6; y <= rect.center().y() + 6; ++y)
                        best = std::max(best,
                            tdappearance::contrastRatio(image.pixelColor(QPoint(x, y) * scale), ground));
                EXPECT_GE(best, 1.5) << "dark " << dark << ", row " << rawValue(row).toStdString()
                                     << (row == selected ? " selected" : " not selected");
            }
        }
    }
}

// Mirrored, a row's symbol sits beside its title at the right and a section's chevron at the left
// end of its header, rather than across the whole sidebar from them.
TEST(NavigationView, InARightToLeftLayoutTheSidebarRowsAreMirrored)
{
    Fixture f;
    auto* sidebar = f.window.findChild<QTreeWidget*>("sidebar");
    sidebar->setLayoutDirection(Qt::RightToLeft);
    QCoreApplication::processEvents();
    const QImage image = sidebar->viewport()->grab().toImage().scaled(sidebar->viewport()->size());

    auto* favorite = sidebar->findItems("Favorite", Qt::MatchExactly | Qt::MatchRecursive).front();
    const QRect row = sidebar->visualItemRect(favorite);
    int starLeft = row.right();
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 90 && c.green() < 200 && c.blue() < 90)
                starLeft = std::min(starLeft, x);
        }
    }
    ASSERT_LT(starLeft, row.right()) << "the star is drawn";
    EXPECT_GT(starLeft, row.center().x()) << "the star sits by its title";

    const QRect header = sidebar->visualItemRect(sidebar->topLevelItem(0));
    const QColor ground = image.pixelColor(header.center().x(), header.center().y());
    // The left half holds the chevron alone; the title is at the right.
    int lastMarked = -1;
    for (int y = header.top(); y <= header.bottom(); ++y) {
        for (int x = header.left(); x <= header.center().x(); ++x) {
            if (image.pixelColor(x, y) != ground)
                lastMarked = std::max(lastMarked, x);
        }
    }
    EXPECT_GE(lastMarked, header.left() + 14) << "the chevron is at the left end";
    EXPECT_LT(lastMarked, header.left() + 30) << "and nothing else is";
}
