#include "../FocusTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/screens/settings/SettingsView.h"

#include <QVBoxLayout>

using apptest::LibraryRoot;

// Every stop of the settings window shows a ring while it has the keys, light and dark, and has a
// name; the borderless "Restore the default" and the minus and plus buttons among them.
TEST(SettingsViewKeyboard, EveryStopRingsAndIsNamed)
{
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        LibraryRoot root;
        TDStores stores = screentest::makeStores();
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(new SettingsView(stores, &window));
        window.setFixedWidth(480);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

        QStringList reached;
        for (const auto& stop : focustest::tabThrough(&window)) {
            const std::string what = stop.widget->objectName().toStdString();
            reached.append(stop.widget->objectName());
            // The list rings the box it sits in.
            if (stop.widget->objectName() != "categoryList")
                EXPECT_TRUE(stop.ringed) << what;
            EXPECT_FALSE(focustest::accessibleName(stop.widget).isEmpty()) << what;
            if (focustest::showsOnlyASymbol(stop.widget))
                EXPECT_FALSE(stop.widget->toolTip().isEmpty()) << what;
        }
        for (const char* name :
            { "categoryList", "restoreDefaultButton", "deleteCategoryButton", "addCategoryButton" })
            EXPECT_TRUE(reached.contains(name)) << name << " in " << reached.join(", ").toStdString();

        QWidget* list = window.findChild<QWidget*>("categoryList");
        QWidget* box = window.findChild<QWidget*>("categoryBox");
        list->setFocus(Qt::MouseFocusReason);
        const QImage clicked = box->grab().toImage();
        list->clearFocus();
        const QImage without = box->grab().toImage();
        list->setFocus(Qt::TabFocusReason);
        EXPECT_GE(focustest::changedPixels(box->grab().toImage(), without), focustest::visibleRing);
        EXPECT_LT(focustest::changedPixels(clicked, without), focustest::visibleRing)
            << "no ring after a click";
    }
}
