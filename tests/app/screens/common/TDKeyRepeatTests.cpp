#include "../../LibraryTestSupport.h"
#include "app/TindrelApp.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QTest>
#include <QVBoxLayout>

namespace {

// A key going down (once) or repeating while held, as the window system delivers it.
void keyDown(QWidget* widget, Qt::Key key, const QString& text, bool repeat)
{
    QTest::simulateEvent(widget, true, key, Qt::NoModifier, text, repeat);
    QCoreApplication::processEvents();
}

// A window with a text field and a Close action on Escape, shown and active.
struct Window {
    Window()
    {
        auto* layout = new QVBoxLayout(&widget);
        field = new QPlainTextEdit(&widget);
        layout->addWidget(field);
        auto* close = new QAction(&widget);
        close->setShortcut(Qt::Key_Escape);
        close->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(close, &QAction::triggered, &widget, &QWidget::close);
        widget.addAction(close);
        widget.show();
        widget.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&widget));
        field->setFocus();
    }
    QWidget widget;
    QPlainTextEdit* field;
};

} // namespace

// Return held on a row opens a window; the repeats that follow type nothing into it, and the keys
// pressed there afterwards, held or not, act as usual.
TEST(TDKeyRepeat, RepeatsOfAKeyPressedInAnotherWindowAreDropped)
{
    apptest::LibraryRoot root;
    TindrelApp app;
    Window first;
    keyDown(first.field, Qt::Key_Return, "\r", false);
    Window second;
    keyDown(second.field, Qt::Key_A, "a", false);
    keyDown(second.field, Qt::Key_Return, "\r", true);
    keyDown(second.field, Qt::Key_A, "a", true);
    EXPECT_EQ(second.field->toPlainText(), "aa") << "the held A went down here";
    // A repeat the window system sent as a release and a press at one time, unmarked.
    for (QEvent::Type type : { QEvent::KeyRelease, QEvent::KeyPress }) {
        QKeyEvent key(type, Qt::Key_Return, Qt::NoModifier, "\r");
        key.setTimestamp(5000);
        QApplication::sendEvent(second.field, &key);
    }
    EXPECT_EQ(second.field->toPlainText(), "aa");

    first.widget.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&first.widget));
    keyDown(first.field, Qt::Key_Escape, "\x1b", false);
    EXPECT_FALSE(first.widget.isVisible());
    second.widget.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second.widget));
    keyDown(second.field, Qt::Key_Escape, "\x1b", true);
    EXPECT_TRUE(second.widget.isVisible()) << "Escape held on a closed window leaves this one open";
    keyDown(second.field, Qt::Key_Escape, "\x1b", false);
    EXPECT_FALSE(second.widget.isVisible());
}

// Escape held on a sheet closes the sheet, not the window under it.
TEST(TDKeyRepeat, EscapeHeldOnASheetLeavesItsWindowOpen)
{
    apptest::LibraryRoot root;
    TindrelApp app;
    Window window;
    auto* sheet = new QDialog(&window.widget);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QDialog> gone = sheet;
    sheet->open();
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    keyDown(sheet, Qt::Key_Escape, "\x1b", false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return gone.isNull(); }));
    window.widget.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window.widget));
    for (int i = 0; i < 3; ++i)
        keyDown(window.field, Qt::Key_Escape, "\x1b", true);
    EXPECT_TRUE(window.widget.isVisible());
}
