#include "../FocusTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/TDToolbar.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QTreeWidget>

namespace {

// The main window's view in `window`, shown and active so that it takes the keys; null when the
// window could not be made active.
NavigationView* showInActiveWindow(QMainWindow& window, const TDStores& stores, QSize size)
{
    auto* view = new NavigationView(stores);
    window.setCentralWidget(view);
    window.resize(size);
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window) ? view : nullptr;
}

} // namespace

// Tab goes from the sidebar to "New Project" and into the grid, each ringed and named; Return opens
// the card's workspace, whose toolbar buttons follow Back.
TEST(NavigationViewKeyboard, TheStopsRingAreNamedAndLeadIntoTheWorkspace)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    stores.projectStore->setTdProjects({ screentest::project("Garden", category) });
    QMainWindow window;
    NavigationView* view = showInActiveWindow(window, stores, QSize(1200, 760));
    ASSERT_TRUE(view);

    QStringList names;
    for (QWidget* stop : focustest::tabThrough(&window))
        names.append(focustest::accessibleName(stop));
    EXPECT_EQ(names, QStringList({ "Sidebar", "New Project", "Projects" }));

    QWidget* grid = window.findChild<QWidget*>("projectGrid");
    grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grid, Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitUntil([&] { return view->toolbar()->isBackShown(); }));
    names.clear();
    for (QWidget* stop : focustest::tabThrough(&window))
        names.append(focustest::accessibleName(stop));
    const qsizetype back = names.indexOf("Back");
    ASSERT_GE(back, 0) << names.join(", ").toStdString();
    // On Linux a list box is named by its choice.
    EXPECT_EQ(names.mid(back, 6),
        QStringList({ "Back", "In Progress", "favorite", "Photo", "Settings", "New Project" }));
}

// The section headers fold from the keys as a tree's parents do; the page shown stays until a
// destination is reached, and the header the keys are on shows the ring instead of the row.
TEST(NavigationViewKeyboard, TheSectionHeadersFoldAndUnfoldFromTheKeys)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QMainWindow window;
    NavigationView* view = showInActiveWindow(window, stores, QSize(1000, 700));
    ASSERT_TRUE(view);
    QTreeWidget* sidebar = view->sidebar();
    QTreeWidgetItem* projects = sidebar->topLevelItem(0);
    QTreeWidgetItem* other = sidebar->topLevelItem(1);
    sidebar->setFocus(Qt::TabFocusReason);
    QWidget* page = view->destinationView();
    auto headerPicture
        = [&] { return sidebar->viewport()->grab(sidebar->visualItemRect(projects)).toImage(); };
    const QImage unringed = headerPicture();

    auto press = [&](Qt::Key key, QTreeWidgetItem* current) {
        QTest::keyClick(sidebar, key);
        EXPECT_EQ(sidebar->currentItem(), current)
            << sidebar->currentItem()->text(0).toStdString() << " for " << current->text(0).toStdString();
    };
    press(Qt::Key_Left, projects);
    EXPECT_GE(focustest::changedPixels(headerPicture(), unringed), focustest::visibleRing);
    press(Qt::Key_Left, projects);
    EXPECT_FALSE(view->isMenuExpanded());
    EXPECT_EQ(view->selectedNavigationItem(), NavigationType::projects);
    EXPECT_EQ(view->destinationView(), page) << "a header shows no page of its own";
    // From a header the steps reach the other header, so both sections can fold and come back.
    press(Qt::Key_Down, other);
    press(Qt::Key_Return, other);
    EXPECT_FALSE(view->isStatusExpanded());
    press(Qt::Key_Down, other);
    press(Qt::Key_Space, other);
    EXPECT_TRUE(view->isStatusExpanded());
    press(Qt::Key_Up, projects);
    press(Qt::Key_Right, projects);
    EXPECT_TRUE(view->isMenuExpanded());
    press(Qt::Key_Right, view->sidebarRow(NavigationType::projects));
    EXPECT_EQ(view->destinationView(), page);

    // Rows still step over the headers; Right from a header goes back to the page shown in its
    // section, or to its first row.
    press(Qt::Key_End, view->sidebarRow(NavigationType::links));
    press(Qt::Key_Left, other);
    press(Qt::Key_Up, view->sidebarRow(NavigationType::favorite));
    EXPECT_EQ(view->selectedNavigationItem(), NavigationType::favorite);
    press(Qt::Key_Down, view->sidebarRow(NavigationType::media));
    press(Qt::Key_Left, other);
    press(Qt::Key_Right, view->sidebarRow(NavigationType::media));
    press(Qt::Key_Up, view->sidebarRow(NavigationType::favorite));
    press(Qt::Key_Left, projects);
    press(Qt::Key_Right, view->sidebarRow(NavigationType::favorite));

    // Tab comes back to the page shown, not to the header left behind.
    press(Qt::Key_Left, projects);
    window.setFocus(Qt::OtherFocusReason);
    sidebar->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(sidebar->currentItem(), view->sidebarRow(NavigationType::favorite));

    // Right to left, the arrows trade places.
    sidebar->setLayoutDirection(Qt::RightToLeft);
    press(Qt::Key_Right, projects);
    press(Qt::Key_Right, projects);
    EXPECT_FALSE(view->isMenuExpanded());
    press(Qt::Key_Left, projects);
    EXPECT_TRUE(view->isMenuExpanded());
}

// A click on another destination leaves the keys in the main window: the grid that had them is
// replaced, and the keys go on in the page that takes its place.
TEST(NavigationViewKeyboard, AClickOnAnotherDestinationKeepsTheKeysInTheWindow)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    auto garden = screentest::project("Garden", category);
    garden->setIsFavorite(true);
    stores.projectStore->setTdProjects({ garden, screentest::project("Lamp", category) });
    QMainWindow window;
    NavigationView* view = showInActiveWindow(window, stores, QSize(1200, 760));
    ASSERT_TRUE(view);

    QWidget* grid = window.findChild<QWidget*>("projectGrid");
    grid->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(grid->hasFocus());
    auto* sidebar = window.findChild<QTreeWidget*>("sidebar");
    auto* favorite = sidebar->findItems("Favorite", Qt::MatchExactly | Qt::MatchRecursive).front();
    const QRect row = sidebar->visualItemRect(favorite);
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, row.center());
    QCoreApplication::processEvents();
    ASSERT_EQ(view->navigationTitle(), "Favorite");

    QWidget* now = QApplication::focusWidget();
    ASSERT_TRUE(now) << "the keys went nowhere";
    EXPECT_EQ(now->objectName(), "projectGrid");
    EXPECT_TRUE(window.isAncestorOf(now));

    // A page with nowhere to take them (no archived project) leaves them in the sidebar.
    auto* archived = sidebar->findItems("Archived", Qt::MatchExactly | Qt::MatchRecursive).front();
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, sidebar->visualItemRect(archived).center());
    QCoreApplication::processEvents();
    ASSERT_EQ(view->navigationTitle(), "Archived");
    EXPECT_EQ(QApplication::focusWidget(), sidebar);
}

// The grid that had the keys and is left with no card (its last project deleted from the keys, or
// moved out of the destination by its page) hands them to the sidebar, where the arrows act.
TEST(NavigationViewKeyboard, AGridLeftWithoutCardsHandsTheKeysToTheSidebar)
{
    apptest::LibraryRoot root;
    root.makeLibraryFolder();
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    auto lamp = screentest::project("Lamp", category, TDStatus::archived, true);
    stores.projectStore->setTdProjects({ lamp, screentest::project("Garden", category) });
    QMainWindow window;
    NavigationView* view = showInActiveWindow(window, stores, QSize(1200, 760));
    ASSERT_TRUE(view);

    view->select(NavigationType::archived);
    auto* archived = dynamic_cast<TDProjectMasterView*>(view->destinationView());
    ASSERT_TRUE(archived);
    archived->grid()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(archived->grid(), Qt::Key_Return);
    ASSERT_EQ(archived->stackDepth(), 1);
    lamp->setStatus(TDStatus::inProgress);
    QCoreApplication::processEvents();
    view->toolbar()->triggerBack();
    ASSERT_TRUE(archived->showsEmptyState());
    EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::focusWidget() == view->sidebar(); }));
    QTest::keyClick(view->sidebar(), Qt::Key_Down);
    EXPECT_EQ(view->selectedNavigationItem(), NavigationType::finished) << "the arrows act again";

    view->select(NavigationType::favorite);
    auto* favorite = dynamic_cast<TDProjectMasterView*>(view->destinationView());
    ASSERT_TRUE(favorite);
    favorite->grid()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(favorite->grid(), Qt::Key_Menu);
    auto* menu = QApplication::activePopupWidget();
    ASSERT_TRUE(menu && menu->objectName() == "cardMenu");
    menu->findChild<QAction*>("deleteProjectAction")->trigger();
    menu->close();
    ASSERT_TRUE(testsupport::waitUntil([&] { return favorite->deletesInFlight() == 0; }));
    ASSERT_TRUE(favorite->showsEmptyState());
    // The test platform leaves no window active once a popup closes.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), view->sidebar());
}

// A screen reader hears the grid as a list of projects: the ringed card is its focused item, named
// by the project, and pressing an item opens the project's page.
TEST(NavigationViewKeyboard, AScreenReaderHearsTheProjectGridAsAListOfNamedProjects)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    stores.projectStore->setTdProjects(
        { screentest::project("Garden", category), screentest::project("Lamp", category) });
    QMainWindow window;
    NavigationView* view = showInActiveWindow(window, stores, QSize(1200, 760));
    ASSERT_TRUE(view);
    auto* page = dynamic_cast<TDProjectMasterView*>(view->destinationView());
    ASSERT_TRUE(page);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(page->grid());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);

    page->grid()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(page->grid(), Qt::Key_Right);
    const QList<TDProjectItem*> cards = page->cards();
    ASSERT_EQ(cards.size(), 2);
    QAccessibleInterface* garden = QAccessible::queryAccessibleInterface(cards[0]);
    QAccessibleInterface* lamp = QAccessible::queryAccessibleInterface(cards[1]);
    ASSERT_TRUE(garden && lamp);
    EXPECT_EQ(lamp->role(), QAccessible::ListItem);
    EXPECT_EQ(lamp->text(QAccessible::Name), "Lamp");
    EXPECT_TRUE(lamp->state().focused);
    EXPECT_FALSE(garden->state().focused);
    EXPECT_EQ(list->focusChild(), lamp);

    ASSERT_TRUE(garden->actionInterface());
    garden->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(page->stackDepth(), 1);
}
