#include "../FocusTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/common/TDToolbar.h"

#include <QMainWindow>
#include <QToolButton>
#include <QTreeWidget>

using apptest::LibraryRoot;

namespace {

struct MainWindow {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QMainWindow window;
    NavigationView* view;

    MainWindow()
    {
        auto category = stores.categoryStore->tdCategories().front();
        stores.projectStore->setTdProjects(
            { screentest::project("Garden", category), screentest::project("Quilt", category) });
        view = new NavigationView(stores);
        window.setCentralWidget(view);
        window.resize(1200, 760);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

QString describe(QWidget* widget)
{
    return widget->metaObject()->className() + QString(" ") + widget->objectName() + " \""
        + focustest::accessibleName(widget) + "\"";
}

} // namespace

// Tab goes from the sidebar to the toolbar's "New Project" and into the grid, each showing its
// ring, each named. Return opens the card's workspace, whose toolbar buttons follow Back in the
// Tab order.
TEST(NavigationViewKeyboard, TheMainWindowsStopsRingAreNamedAndLeadIntoTheWorkspace)
{
    MainWindow f;
    QStringList reached;
    for (const auto& stop : focustest::tabThrough(&f.window)) {
        reached.append(describe(stop.widget));
        EXPECT_TRUE(stop.ringed) << describe(stop.widget).toStdString();
        if (focustest::showsOnlyASymbol(stop.widget))
            EXPECT_FALSE(stop.widget->toolTip().isEmpty()) << describe(stop.widget).toStdString();
    }
    EXPECT_EQ(reached,
        QStringList({ "QTreeWidget sidebar \"Sidebar\"",
            "QToolButton createProjectActionButton \"New Project\"", "QWidget projectGrid \"Projects\"" }));

    QWidget* grid = f.window.findChild<QWidget*>("projectGrid");
    grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grid, Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->toolbar()->isBackShown(); }));
    QStringList names;
    for (const auto& stop : focustest::tabThrough(&f.window)) {
        EXPECT_TRUE(stop.ringed) << describe(stop.widget).toStdString();
        names.append(focustest::accessibleName(stop.widget));
    }
    const qsizetype back = names.indexOf("Back");
    ASSERT_GE(back, 0) << names.join(", ").toStdString();
    // On Linux a list box is named by its choice.
    EXPECT_EQ(names.mid(back, 6),
        QStringList({ "Back", "In Progress", "favorite", "Photo", "Settings", "New Project" }));
}
