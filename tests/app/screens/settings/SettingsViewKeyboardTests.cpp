#include "../FocusTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/screens/settings/SettingsView.h"

#include <QVBoxLayout>

// Every stop rings and is named, light and dark; the list rings the box it sits in, for the keys
// and not for a click.
TEST(SettingsViewKeyboard, EveryStopRingsAndIsNamed)
{
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        apptest::LibraryRoot root;
        TDStores stores = screentest::makeStores();
        QWidget window;
        (new QVBoxLayout(&window))->addWidget(new SettingsView(stores, &window));
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

        QStringList reached;
        for (QWidget* stop : focustest::tabThrough(&window, "categoryList"))
            reached.append(stop->objectName());
        EXPECT_EQ(reached,
            QStringList(
                { "categoryList", "restoreDefaultButton", "deleteCategoryButton", "addCategoryButton" }));

        QWidget* list = window.findChild<QWidget*>("categoryList");
        QWidget* box = window.findChild<QWidget*>("categoryBox");
        list->setFocus(Qt::MouseFocusReason);
        const QImage clicked = box->grab().toImage();
        list->clearFocus();
        const QImage without = box->grab().toImage();
        list->setFocus(Qt::TabFocusReason);
        EXPECT_GE(focustest::changedPixels(box->grab().toImage(), without), focustest::visibleRing);
        EXPECT_LT(focustest::changedPixels(clicked, without), focustest::visibleRing);
    }
}

// "minus" from the keys goes grey once its category is gone: the keys go back to the list, where
// the arrows choose the next one, not on to "plus", where a second Space would open the sheet.
TEST(SettingsViewKeyboard, MinusFromTheKeysHandsThemBackToTheList)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QWidget window;
    auto* view = new SettingsView(stores, &window);
    (new QVBoxLayout(&window))->addWidget(view);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QWidget* minus = window.findChild<QWidget*>("deleteCategoryButton");
    minus->setFocus(Qt::TabFocusReason);
    QTest::keyClick(minus, Qt::Key_Space);
    QCoreApplication::processEvents();
    ASSERT_EQ(stores.categoryStore->tdCategories().size(), 4u);
    ASSERT_TRUE(QApplication::focusWidget());
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "categoryList");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_FALSE(view->newCategoryField()) << "no sheet opened";
}
