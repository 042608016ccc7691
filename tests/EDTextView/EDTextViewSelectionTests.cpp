#include "TextViewTestSupport.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTimer>
#include <QWindow>

#include <tuple>

using namespace textviewtest;
using platform::TextRange;

TEST(EDTextViewSelection, ClicksSelectCaretWordAndParagraph)
{
    ShownView view("first words here\nsecond line");
    const QPoint point = view.pointOf(8); // inside "words"
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(8) });
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(6, 11) });
    // A third press close in time and place selects the paragraph.
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(0, 17) });
}

TEST(EDTextViewSelection, DragSelectsAndShiftClickExtends)
{
    ShownView view("drag across these words");
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, view.pointOf(5));
    QTest::mouseMove(view->viewport(), view.pointOf(12));
    QTest::mouseMove(view->viewport(), view.pointOf(18));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, view.pointOf(18));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(5, 18) });
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, view.pointOf(2));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(2, 5) });
}

TEST(EDTextViewSelection, KeysMoveAndExtendTheSelection)
{
    ShownView view("one two three\nfour");
    view.setCaret(0);
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        TextRange expected;
    };
    const Step steps[] = {
        { Qt::Key_Right, Qt::NoModifier, TextRange(1) },
        { Qt::Key_Right, Qt::ShiftModifier, TextRange(1, 2) },
        { Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier, TextRange(1, 3) },
        { Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier, TextRange(1, 7) },
        { Qt::Key_Left, Qt::NoModifier, TextRange(1) },
        { Qt::Key_End, Qt::NoModifier, TextRange(13) },
        { Qt::Key_Down, Qt::NoModifier, TextRange(18) },
        { Qt::Key_Home, Qt::ShiftModifier, TextRange(14, 18) },
        { Qt::Key_Home, Qt::ControlModifier, TextRange(0) },
        { Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier, TextRange(0, 18) },
        { Qt::Key_A, Qt::ControlModifier, TextRange(0, 18) },
    };
    for (const Step& step : steps) {
        QTest::keyClick(view.view.get(), step.key, step.modifiers);
        EXPECT_EQ(view.ranges(), std::vector<TextRange> { step.expected })
            << QKeySequence(step.key | step.modifiers).toString().toStdString();
    }
}

TEST(EDTextViewSelection, PageDownScrollsAndLeavesTheSelection)
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    ShownView view(text);
    view.setCaret(3);
    QTest::keyClick(view.view.get(), Qt::Key_PageDown, Qt::ShiftModifier);
    view.settle();
    EXPECT_EQ(view->verticalScrollBar()->value(), view->viewport()->height());
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(3) });
    // Moving the caret brings it back into view.
    QTest::keyClick(view.view.get(), Qt::Key_Right);
    view.settle();
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
    // Extending a selection to the end shows the end it is extended at.
    QTest::keyClick(view.view.get(), Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    view.settle();
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
}

// A selection set by offset that cuts a surrogate pair or a CR LF in two is widened to whole
// characters; typing there used to split the emoji into two halves that no file can keep.
TEST(EDTextViewSelection, ASelectionSetByOffsetNeverCutsACharacterInTwo)
{
    const QString text = QStringLiteral("a\U0001F600b\r\nc"); // the emoji at [1, 3), CR LF at [4, 6)
    ShownView view(text);
    struct Case {
        platform::CharacterRange set;
        TextRange expected;
    };
    for (const Case& c : { Case { { 2, 0 }, TextRange(1) }, Case { { 2, 1 }, TextRange(1, 3) },
             Case { { 0, 2 }, TextRange(0, 3) }, Case { { 5, 0 }, TextRange(4) },
             Case { { 3, 2 }, TextRange(3, 6) }, Case { { 1, 2 }, TextRange(1, 3) } }) {
        view->setSelectedRange(c.set);
        EXPECT_EQ(view.ranges(), std::vector<TextRange> { c.expected })
            << c.set.location << "+" << c.set.length;
    }
    view->setSelectedRange({ 2, 0 });
    QTest::keyClicks(view.view.get(), "X");
    EXPECT_EQ(view->string(), QStringLiteral("aX\U0001F600b\r\nc"));
}

namespace {

// Clicks as the window system delivers them, so that a double click is a press and a double click.
QPoint inWindow(const ShownView& view, QPoint viewportPoint)
{
    return view->viewport()->mapTo(view->window(), viewportPoint);
}

void waitOutDoubleClick()
{
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
}

} // namespace

TEST(EDTextViewSelection, ADoubleClickSelectsTheWordOfTheCharacterClicked)
{
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    ShownView view("alpha " + family + " beta");
    QWindow* window = view->window()->windowHandle();
    // The right half of the last letter of "alpha", and the middle of the joined emoji.
    QTest::mouseDClick(
        window, Qt::LeftButton, Qt::NoModifier, inWindow(view, view.pointOf(5) - QPoint(2, 0)));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(0, 5) });
    waitOutDoubleClick();
    const QPoint emoji = (view.pointOf(6) + view.pointOf(6 + family.size())) / 2;
    QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, inWindow(view, emoji));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(6, 6 + family.size()) });
}

TEST(EDTextViewSelection, ShiftClickAfterADoubleClickKeepsTheWordOnEitherSide)
{
    ShownView view("one two three four");
    QWindow* window = view->window()->windowHandle();
    QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, inWindow(view, view.pointOf(5)));
    const std::pair<qint64, TextRange> clicks[] = { { 16, TextRange(4, 18) }, { 1, TextRange(0, 7) } };
    for (const auto& [at, expected] : clicks) {
        waitOutDoubleClick();
        QTest::mouseClick(window, Qt::LeftButton, Qt::ShiftModifier, inWindow(view, view.pointOf(at)));
        EXPECT_EQ(view.ranges(), std::vector<TextRange> { expected }) << at;
    }
}

TEST(EDTextViewSelection, ADragAboveOrBelowTheTextReachesItsStartOrEnd)
{
    ShownView view("first line\nsecond line");
    const int x = view.pointOf(3).x();
    for (const auto& [from, y, expected] :
        { std::tuple(qint64(3), view->viewport()->height() + 40, TextRange(3, 22)),
            std::tuple(qint64(14), -40, TextRange(0, 14)) }) {
        view.setCaret(0);
        QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, view.pointOf(from));
        QTest::mouseMove(view->viewport(), QPoint(x, y));
        EXPECT_EQ(view.ranges(), std::vector<TextRange> { expected }) << y;
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    }
}

// A press with Shift and Control adds a caret; the pointer moving while the button is down drags
// out that caret alone. It used to extend the first caret to the pointer instead, turning every
// caret and the text between them into one selection that the next key typed over.
TEST(EDTextViewSelection, ADragFromAnAddedCaretKeepsTheOtherCarets)
{
    ShownView view("one two three four five");
    const Qt::KeyboardModifiers addCaret = Qt::ShiftModifier | Qt::ControlModifier;
    struct Case {
        qint64 press;
        qint64 release;
        std::vector<TextRange> expected;
    };
    for (const Case& c : { Case { 9, 9, { TextRange(1), TextRange(9) } },
             Case { 14, 18, { TextRange(1), TextRange(14, 18) } } }) {
        view.setCaret(1);
        waitOutDoubleClick();
        QTest::mousePress(view->viewport(), Qt::LeftButton, addCaret, view.pointOf(c.press));
        // A hand never holds quite still.
        QTest::mouseMove(view->viewport(), view.pointOf(c.press) + QPoint(1, 0));
        QTest::mouseMove(view->viewport(), view.pointOf(c.release) + QPoint(1, 0));
        QTest::mouseRelease(
            view->viewport(), Qt::LeftButton, addCaret, view.pointOf(c.release) + QPoint(1, 0));
        EXPECT_EQ(view.ranges(), c.expected) << c.press << " to " << c.release;
    }
    QTest::keyClicks(view.view.get(), "X");
    EXPECT_EQ(view->string(), "oXne two three X five");
}

namespace {

struct SelectionChangeCounter : EDTextViewDelegate {
    int changes = 0;
    void textViewDidChangeSelection(const platform::Notification&) override { ++changes; }
};

} // namespace

// While the pointer of a drag rests past the end of the text, the view goes on scrolling towards it
// but the selection stays as it is, and nobody is told of a change again and again (each telling
// reaches the delegate, screen readers and the desktop's primary selection).
TEST(EDTextViewSelection, ADragRestingPastTheEndReportsNoChangeThatIsNone)
{
    ShownView view("short text\nsecond");
    const auto counter = std::make_shared<SelectionChangeCounter>();
    view->setDelegate(counter);
    const QPoint below(30, view->viewport()->height() + 20);
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, view.pointOf(2));
    QTest::mouseMove(view->viewport(), below);
    ASSERT_EQ(view.ranges(), std::vector<TextRange> { TextRange(2, 17) });
    const int changes = counter->changes;
    QTest::mouseMove(view->viewport(), below + QPoint(5, 10));
    const auto timers = view->findChildren<QTimer*>();
    const auto autoscroll
        = std::find_if(timers.begin(), timers.end(), [](const QTimer* timer) { return timer->isActive(); });
    ASSERT_NE(autoscroll, timers.end());
    QSignalSpy ticks(*autoscroll, &QTimer::timeout);
    for (int tick = 0; tick < 3; ++tick)
        ASSERT_TRUE(ticks.wait());
    EXPECT_EQ(counter->changes, changes);
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(2, 17) });
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, below + QPoint(5, 10));
}
