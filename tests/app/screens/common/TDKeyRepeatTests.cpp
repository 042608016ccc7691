#include "../../LibraryTestSupport.h"
#include "app/TindrelApp.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>

namespace {

void keyDown(QWidget* widget, Qt::Key key, const QString& text, bool repeat)
{
    QTest::simulateEvent(widget, true, key, Qt::NoModifier, text, repeat);
    QCoreApplication::processEvents();
}

// A text field alone in its window, which Escape closes; shown and active.
struct Window {
    Window()
    {
        auto* close = new QAction(&field);
        close->setShortcut(Qt::Key_Escape);
        QObject::connect(close, &QAction::triggered, &field, &QWidget::close);
        field.addAction(close);
        field.show();
        field.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&field));
    }
    QPlainTextEdit field;
};

} // namespace

// Return held on a row opens a window and Escape held on a sheet closes it: the repeats that
// follow reach the next window and do nothing there, marked as repeats or not. Keys that went down
// there act as usual.
TEST(TDKeyRepeat, RepeatsOfAKeyPressedInAnotherWindowAreDropped)
{
    apptest::LibraryRoot root;
    TindrelApp app;
    Window first;
    keyDown(&first.field, Qt::Key_Return, "\r", false);
    keyDown(&first.field, Qt::Key_Escape, "\x1b", false);
    ASSERT_FALSE(first.field.isVisible());
    Window second;
    keyDown(&second.field, Qt::Key_A, "a", false);
    keyDown(&second.field, Qt::Key_A, "a", true);
    keyDown(&second.field, Qt::Key_Return, "\r", true);
    keyDown(&second.field, Qt::Key_Escape, "\x1b", true);
    for (QEvent::Type type : { QEvent::KeyRelease, QEvent::KeyPress }) {
        QKeyEvent key(type, Qt::Key_Return, Qt::NoModifier, "\r");
        key.setTimestamp(5000);
        QApplication::sendEvent(&second.field, &key);
    }
    EXPECT_EQ(second.field.toPlainText(), "aa");
    EXPECT_TRUE(second.field.isVisible());
    keyDown(&second.field, Qt::Key_Escape, "\x1b", false);
    EXPECT_FALSE(second.field.isVisible());
}
