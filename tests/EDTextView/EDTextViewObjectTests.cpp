#include "TextViewTestSupport.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/text/UndoManager.h"

#include <QLineEdit>

using namespace textviewtest;
using platform::TextRange;

TEST(EDTextViewObject, NewViewDefaultsAndCoupledFlags)
{
    EDTextView view;
    EXPECT_TRUE(view.isEditable());
    EXPECT_TRUE(view.isSelectable());
    EXPECT_FALSE(view.isFirstResponder());
    EXPECT_EQ(view.typingAttributes().size(), 3);
    EXPECT_EQ(view.textColor(), view.palette().color(QPalette::Text));
    // Setting the typing colour leaves the text's colour alone.
    view.setString("abc");
    view.setTextColor(QColor(Qt::red));
    EXPECT_NE(view.textContentStorage()
                  .attributes(0)
                  .value(platform::AttributeKey::foregroundColor)
                  .value<QColor>(),
        QColor(Qt::red));
    view.setIsSelectable(false);
    EXPECT_FALSE(view.isEditable());
    view.setIsEditable(true);
    EXPECT_TRUE(view.isSelectable());
    // Without undo there is no undo manager, whatever the delegate offers.
    struct Host : EDTextViewDelegate {
        platform::UndoManager manager;
        platform::UndoManager* undoManager(EDTextView&) override { return &manager; }
    };
    auto host = std::make_shared<Host>();
    view.setDelegate(host);
    EXPECT_EQ(view.undoManager(), &host->manager);
    view.setAllowsUndo(false);
    EXPECT_EQ(view.undoManager(), nullptr);
}

TEST(EDTextViewObject, ReplacingTheTextKeepsTheCaretInsideIt)
{
    ShownView view("a longer first text");
    view.setCaret(15);
    view->setString("short");
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(5) });
    // A range ending past the text is not selected.
    view->setSelectedTextRange(TextRange(2, 6));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(5) });
    view->setSelectedTextRange(TextRange(2, 5));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(2, 5) });

    // A new text arriving while the mouse selects: the drag goes on inside the new text, not from
    // where it began in the old one.
    view->setString("a longer first text, long enough to select by dragging over it");
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, view.pointOf(60));
    QTest::mouseMove(view->viewport(), view.pointOf(50));
    view->setString("short");
    view.settle();
    QTest::mouseMove(view->viewport(), view.pointOf(2));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, view.pointOf(2));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(2, 5) });
}

TEST(EDTextViewObject, EditingBeginsAndEndsWithTheFocusNotWithTheWindow)
{
    ShownView view("text");
    QLineEdit other;
    other.show();
    std::vector<QString> names;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        QString(), view.view.get(), [&](const platform::Notification& note) {
            if (note.name == EDTextView::didBeginEditingNotification
                || note.name == EDTextView::didEndEditingNotification)
                names.push_back(note.name);
        });
    EXPECT_TRUE(view->isFirstResponder());
    // Another window becoming active leaves the view first responder of its own window.
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(view->isFirstResponder());
    EXPECT_TRUE(view->insertionPointViews().empty());
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.view.get()));
    view.settle();
    EXPECT_EQ(view->insertionPointViews().size(), 1u);
    view->clearFocus();
    view->setFocus();
    EXPECT_EQ(names,
        (std::vector<QString> {
            EDTextView::didEndEditingNotification, EDTextView::didBeginEditingNotification }));
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}
