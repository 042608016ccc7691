#include "../FocusTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/common/TDToolbar.h"

#include <QMainWindow>

// Tab goes from the sidebar to "New Project" and into the grid, each ringed and named; Return opens
// the card's workspace, whose toolbar buttons follow Back.
TEST(NavigationViewKeyboard, TheStopsRingAreNamedAndLeadIntoTheWorkspace)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = stores.categoryStore->tdCategories().front();
    stores.projectStore->setTdProjects({ screentest::project("Garden", category) });
    QMainWindow window;
    auto* view = new NavigationView(stores);
    window.setCentralWidget(view);
    window.resize(1200, 760);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

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
