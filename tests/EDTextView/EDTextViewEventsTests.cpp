#include "TextViewTestSupport.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

using namespace textviewtest;
using platform::TextRange;

// A right click with only a caret selects the word whose letters are under the pointer, whichever
// half of a letter it is on; past a line's end, below the text or on a space it only moves the
// caret there, so that Paste from the menu inserts where the click was and replaces no word.
TEST(EDTextViewEvents, ARightClickSelectsOnlyAWordUnderThePointer)
{
    ShownView view("one two\nthree");
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    const double half = view.pointOf(1).x() - view.pointOf(0).x();
    auto rightClick = [&](QPoint at) {
        view.setCaret(0);
        QTimer::singleShot(0, [] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
                menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view->viewport(), &event);
        return view.ranges();
    };
    using Ranges = std::vector<TextRange>;
    const QPoint rightHalfOfE = view.pointOf(3) - QPoint(int(half / 4) + 1, 0);
    EXPECT_EQ(rightClick(rightHalfOfE), (Ranges { TextRange(0, 3) }));
    const QPoint leftHalfOfT = view.pointOf(4) + QPoint(int(half / 4) + 1, 0);
    EXPECT_EQ(rightClick(leftHalfOfT), (Ranges { TextRange(4, 7) }));
    EXPECT_EQ(rightClick(view.pointOf(7) + QPoint(200, 0)), (Ranges { TextRange(7) }));
    EXPECT_EQ(rightClick(view.pointOf(13) + QPoint(0, 100)), (Ranges { TextRange(13) }));
    const QPoint onTheSpace = view.pointOf(3) + QPoint(int(half / 2), 0);
    EXPECT_EQ(rightClick(onTheSpace).front().length(), 0);
}

// Alt with a letter belongs to the window first (a menu's or a button's key); it types the letter
// only where nothing else takes it.
TEST(EDTextViewEvents, AltWithALetterReachesTheWindowBeforeTyping)
{
    ShownView view("note");
    view.moveIntoNewWindow();
    view.setCaret(4);
    QAction action(view->window());
    action.setShortcut(QKeySequence(Qt::ALT | Qt::Key_T));
    view->window()->addAction(&action);
    int triggered = 0;
    QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
    QTest::keyClick(view.view.get(), Qt::Key_T, Qt::AltModifier);
    EXPECT_EQ(triggered, 1);
    EXPECT_EQ(view->string(), "note");
    QTest::keyClick(view.view.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(view->string(), "notes");
}
