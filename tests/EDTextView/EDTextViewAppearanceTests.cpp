#include "EDTextView/EDDefaultTextColor.h"
#include "EDTextView/EDTextLayoutFragment.h"
#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QScrollBar>

using namespace textviewtest;
using platform::TextRange;

namespace AttributeKey = platform::AttributeKey;

namespace {

// The lightest pixel and the reddest one (red above the other channels) where the characters
// [from, to) of the first line are drawn.
struct Ink {
    int lightest = 0;
    int reddest = 0;
};

Ink inkOf(const ShownView& view, qint64 from, qint64 to)
{
    const QImage image = view->viewport()->grab().toImage();
    const QPoint start = view.pointOf(from), end = view.pointOf(to);
    Ink ink;
    for (int y = start.y() - 5; y <= start.y() + 5; ++y) {
        for (int x = start.x() + 1; x < end.x() - 1; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            ink.lightest = std::max(ink.lightest, pixel.lightness());
            ink.reddest = std::max(ink.reddest, pixel.red() - std::max(pixel.green(), pixel.blue()));
        }
    }
    return ink;
}

platform::TextLocation viewportStart(EDTextView& view)
{
    return view.textLayoutManager().textViewportLayoutController().viewportRange()->location;
}

struct ChangeCounter : EDTextViewDelegate {
    int changes = 0;
    void textDidChange(const platform::Notification&) override { ++changes; }
};

} // namespace

// The desktop switches from light to dark while text is shown: text in the default colour, typed
// or set, and text an undo brings back, is drawn in the new text colour; a word given a colour on
// purpose keeps it; nothing about the text changes and no undo step is added.
TEST(EDTextViewAppearance, DefaultColouredTextFollowsAPaletteChangeAndChosenColoursStay)
{
    ScopedPalette light(false);
    ShownView view("plain words here\n");
    auto counter = std::make_shared<ChangeCounter>();
    view->setDelegate(counter);
    view.setCaret(16);
    QTest::keyClicks(view.view.get(), " typed");
    view->setSelectedTextRange(TextRange(0, 5));
    view->changeColor(Qt::red);
    // An undo step that holds a copy of the deleted word.
    view->setSelectedTextRange(TextRange(6, 12));
    QTest::keyClick(view.view.get(), Qt::Key_Delete);
    ASSERT_EQ(view->string(), "plain here typed\n");
    const int changes = counter->changes;

    ScopedPalette dark(true);
    view.settle();
    EXPECT_EQ(view->textColor(), QColor(Qt::white));
    EXPECT_GT(inkOf(view, 6, 16).lightest, 200) << "set and typed text is drawn light on dark";
    EXPECT_GT(inkOf(view, 0, 5).reddest, 120) << "the red word stays red";
    EXPECT_EQ(view->textContentStorage().attributes(1).value(AttributeKey::foregroundColor), QColor(Qt::red));
    EXPECT_TRUE(EDDefaultTextColor::isHeldBy(
        view->textContentStorage().attributes(12).value(AttributeKey::foregroundColor)))
        << "the text names the default colour, so the layer lays it out without formats";
    EXPECT_EQ(counter->changes, changes);

    view->undoManager()->undo();
    view.settle();
    ASSERT_EQ(view->string(), "plain words here typed\n") << "the switch added no undo step";
    EXPECT_GT(inkOf(view, 6, 12).lightest, 200) << "the word the undo brought back";
    // Assistive technologies hear the colour drawn.
    QAccessibleTextInterface* accessible
        = QAccessible::queryAccessibleInterface(view.view.get())->textInterface();
    ASSERT_TRUE(accessible);
    int start = 0, end = 0;
    EXPECT_TRUE(accessible->attributes(8, &start, &end).contains("color:rgb(255,255,255)"));
    EXPECT_TRUE(accessible->attributes(1, &start, &end).contains("color:rgb(255,0,0)"));
}

// Text laid out and drawn before the switch, with nothing else happening after it, is laid out
// again in the new colour.
TEST(EDTextViewAppearance, TextShownBeforeASwitchIsDrawnInTheNewColour)
{
    ScopedPalette light(false);
    ShownView view("first paragraph\nsecond paragraph\n");
    view.setCaret(20);
    view.settle();
    view->viewport()->repaint();

    ScopedPalette dark(true);
    view.settle();
    EXPECT_GT(inkOf(view, 0, 15).lightest, 200);
}

// A switch with a long note paged to its middle moves nothing: the scroll position, the caret and
// every paragraph in view stay where they were, none is laid out again, and the text shows in the
// new colour. A new font still lays the text out again.
TEST(EDTextViewAppearance, ASwitchKeepsTheLayoutOfALongNote)
{
    ScopedPalette light(false);
    ShownView view;
    int made = 0;
    view->textLayoutManager().setFragmentFactory([&made] {
        ++made;
        return std::make_shared<EDTextLayoutFragment>();
    });
    // Paragraphs of unlike lengths, some wrapped, so that estimates of their heights miss.
    QString text;
    for (int i = 0; i < 1000; ++i)
        text += QStringLiteral("paragraph %1 ").arg(i).repeated(1 + (i * 7) % 11) + QLatin1Char('\n');
    view->setString(text);
    view.settle();
    QScrollBar& scrollBar = *view->verticalScrollBar();
    while (scrollBar.value() < scrollBar.maximum() / 2) {
        scrollBar.triggerAction(QAbstractSlider::SliderPageStepAdd);
        view.settle();
    }
    view.setCaret(viewportStart(*view) + 30);
    view.settle();
    const auto shown = [&] {
        std::vector<QRectF> frames { QRectF(0, scrollBar.value(), 0, 0) };
        for (const auto& caret : view->insertionPointViews())
            frames.push_back(caret.frame);
        for (const auto& fragment : view->fragmentViews())
            frames.push_back(fragment.frame);
        return frames;
    };
    const std::vector<QRectF> before = shown();
    ASSERT_GT(before.size(), 5u);
    const int madeBefore = made;
    {
        ScopedPalette dark(true);
        view.settle();
        EXPECT_TRUE(shown() == before) << "nothing moved";
        EXPECT_EQ(made, madeBefore) << "no paragraph was laid out again";
        EXPECT_GT(inkOf(view, viewportStart(*view), viewportStart(*view) + 9).lightest, 200);
    }
    view.settle();
    EXPECT_TRUE(shown() == before) << "nor back in light";
    EXPECT_EQ(made, madeBefore);

    QFont larger = testFont();
    larger.setPixelSize(18);
    view->setFont(larger);
    view.settle();
    EXPECT_GT(made, madeBefore) << "a new font lays the text out again";
}

// A caret in the palette's colour takes the new one at a switch, though it does not move; a caret
// given a colour keeps it.
TEST(EDTextViewAppearance, TheCaretFollowsAPaletteChangeUnlessGivenAColour)
{
    ScopedPalette light(false);
    ShownView view("caret");
    view.setCaret(2);
    view.settle();
    const auto colour = [&] {
        view.settle();
        EXPECT_EQ(view->insertionPointViews().size(), 1u);
        return view->insertionPointViews().empty()
            ? QColor()
            : view->insertionPointViews().front().textInsertionIndicator->insertionPointColor();
    };
    EXPECT_EQ(colour(), QColor(Qt::black));
    {
        ScopedPalette dark(true);
        EXPECT_EQ(colour(), QColor(Qt::white));
        view->setInsertionPointColor(Qt::magenta);
    }
    EXPECT_EQ(colour(), QColor(Qt::magenta));
}
