#include "../TextViewTestSupport.h"
#include "EDTextView/ui/TextView.h"
#include "platform/text/UndoManager.h"

#include <QKeyEvent>

using EDTextViewUI::Binding;
using EDTextViewUI::TextView;
using platform::AttributedString;
using platform::CharacterRange;
using platform::ParagraphStyle;
using textviewtest::waitFor;
namespace AttributeKey = platform::AttributeKey;

namespace {

void typeText(QWidget* widget, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

// A screen's state for one text view, and the view, shown.
struct Screen {
    AttributedString text;
    std::optional<CharacterRange> selection;
    int textWrites = 0;
    std::unique_ptr<TextView> view;

    explicit Screen(const QString& initial, TextView::Options options = {})
        : text(initial)
    {
        view = std::make_unique<TextView>(textBinding(), selectionBinding(), options);
        view->textViewFont(textviewtest::testFont());
        view->resize(400, 240);
        view->show();
    }
    Binding<AttributedString> textBinding()
    {
        return { [this] { return text; },
            [this](AttributedString value) {
                text = std::move(value);
                ++textWrites;
            } };
    }
    Binding<std::optional<CharacterRange>> selectionBinding()
    {
        return { [this] { return selection; },
            [this](std::optional<CharacterRange> value) { selection = value; } };
    }
    EDTextView& textView() { return *view->textView(); }
    // What the screen's render does after its state changed.
    void render() { view->updateView(textBinding(), selectionBinding(), {}); }
};

} // namespace

TEST(TextView, TypingIsWrittenBackOnceAndNeverReplacedByARenderInBetween)
{
    Screen screen("hello");
    EXPECT_EQ(screen.textView().string(), "hello") << "shown at once, before any update";
    screen.textView().setSelectedRange({ 5, 0 });
    ASSERT_TRUE(waitFor([&] { return screen.selection == CharacterRange { 5, 0 }; }));

    typeText(&screen.textView(), "!");
    EXPECT_EQ(screen.text.string(), "hello") << "the write-back waits for the next turn";
    // A render lands before the write-back, with the older text and the older caret bound.
    screen.render();
    EXPECT_EQ(screen.textView().string(), "hello!");
    EXPECT_EQ(screen.textView().selectedRange(), (CharacterRange { 6, 0 }));
    ASSERT_TRUE(waitFor([&] { return screen.text.string() == "hello!"; }));
    EXPECT_EQ(screen.textWrites, 1);
    EXPECT_EQ(screen.selection, (CharacterRange { 6, 0 }));

    // The update after the write-back pushes nothing: caret and undo stay.
    screen.render();
    EXPECT_EQ(screen.textView().selectedRange(), (CharacterRange { 6, 0 }));
    EXPECT_TRUE(screen.textView().undoManager()->canUndo());
    EXPECT_EQ(screen.textWrites, 1);

    // A change of the bound text from elsewhere replaces the content, and is not written back.
    screen.text = AttributedString("loaded");
    screen.render();
    EXPECT_EQ(screen.textView().string(), "loaded");
    QCoreApplication::processEvents();
    EXPECT_EQ(screen.textWrites, 1);
}

TEST(TextView, UpdatesForOtherReasonsKeepTheTextAndApplyEnabledWrappingAndFont)
{
    Screen screen("one two three", { TextView::Options::highlightSelectedLine });
    EXPECT_TRUE(screen.textView().highlightSelectedLine());
    EXPECT_FALSE(screen.textView().widthTracksTextView());
    screen.textView().setSelectedRange({ 4, 0 });
    typeText(&screen.textView(), "x");
    ASSERT_TRUE(waitFor([&] { return screen.text.string() == "one xtwo three"; }));

    screen.view->setEnabled(false);
    EXPECT_FALSE(screen.textView().isEditable());
    EXPECT_FALSE(screen.textView().isSelectable());
    screen.view->setEnabled(true);
    EXPECT_TRUE(screen.textView().isEditable());
    EXPECT_TRUE(screen.textView().isSelectable());
    EXPECT_TRUE(screen.textView().undoManager()->canUndo()) << "the text was not replaced";
    EXPECT_EQ(screen.textView().selectedRange(), (CharacterRange { 5, 0 }));

    screen.view->updateView(
        screen.textBinding(), screen.selectionBinding(), { TextView::Options::wrapLines });
    EXPECT_TRUE(screen.textView().widthTracksTextView());
    EXPECT_TRUE(screen.textView().highlightSelectedLine()) << "options after creation change wrapping only";

    QFont bigger = textviewtest::testFont();
    bigger.setPixelSize(20);
    screen.view->textViewFont(bigger);
    EXPECT_EQ(screen.textView().font(), bigger);
    EXPECT_TRUE(screen.textView().undoManager()->canUndo());
}

TEST(TextView, LineSpacingReachesEveryParagraphAndKeepsWhatRunsSay)
{
    AttributedString text("plain red");
    text.addAttributes({ { AttributeKey::foregroundColor, QColor(Qt::red) } }, 6, 3);
    Screen screen("");
    screen.text = text;
    screen.render();
    EXPECT_EQ(
        screen.textView().attributedString().attribute(AttributeKey::foregroundColor, 7), QColor(Qt::red));

    screen.view->lineSpacing(4);
    const AttributedString shown = screen.textView().attributedString();
    EXPECT_EQ(shown.string(), "plain red");
    for (qsizetype index : { 0, 7 }) {
        const QVariant style = shown.attribute(AttributeKey::paragraphStyle, index);
        ASSERT_TRUE(style.canConvert<ParagraphStyle>());
        EXPECT_EQ(style.value<ParagraphStyle>().lineSpacing, 4);
    }
    EXPECT_EQ(shown.attribute(AttributeKey::foregroundColor, 7), QColor(Qt::red)) << "a run keeps its colour";
    EXPECT_EQ(shown.attribute(AttributeKey::font, 0), QVariant::fromValue(textviewtest::testFont()))
        << "plain text takes the typing font";
}

// The spacing holds for text without a paragraph style of its own: what is typed into an empty
// view, and a bound text shown as it is because the caret's paragraph already had the spacing.
TEST(TextView, LineSpacingHoldsForTypedTextAndForEveryTextBoundLater)
{
    const auto paragraphHeights = [](EDTextView& view) {
        QCoreApplication::processEvents();
        view.layoutIfNeeded();
        std::vector<double> heights;
        for (const auto& shown : view.fragmentViews())
            heights.push_back(shown.fragment->layoutFragmentFrame().height());
        return heights;
    };
    Screen plain("x");
    const double spaced = paragraphHeights(plain.textView()).front() + 10;
    Screen screen("");
    screen.view->lineSpacing(10);
    typeText(&screen.textView(), "a");
    EXPECT_EQ(paragraphHeights(screen.textView()), std::vector<double> { spaced }) << "typed";
    ASSERT_TRUE(waitFor([&] { return screen.text.string() == "a"; }));
    for (const char* bound : { "x", "y\nz", "again" }) {
        screen.text = AttributedString(bound);
        screen.render();
        EXPECT_EQ(
            paragraphHeights(screen.textView()), std::vector<double>(QString(bound).count('\n') + 1, spaced))
            << bound;
    }
}

TEST(TextView, TheSelectionBindingMovesTheSelectionOnlyWithARangeInsideTheText)
{
    Screen screen("abcdef");
    screen.textView().setSelectedRange({ 2, 1 });
    QCoreApplication::processEvents();
    screen.selection.reset();
    screen.render();
    EXPECT_EQ(screen.textView().selectedRange(), (CharacterRange { 2, 1 })) << "no value leaves it";
    screen.selection = CharacterRange { 4, 40 };
    screen.render();
    EXPECT_EQ(screen.textView().selectedRange(), (CharacterRange { 2, 1 })) << "outside the text";
    // Two selections from the screen before the event loop runs: the later one holds, in the view
    // and, once the write-back has run, in the binding.
    screen.selection = CharacterRange { 1, 3 };
    screen.render();
    screen.selection = CharacterRange { 5, 0 };
    screen.render();
    EXPECT_EQ(screen.textView().selectedRange(), (CharacterRange { 5, 0 }));
    QCoreApplication::processEvents();
    EXPECT_EQ(screen.selection, (CharacterRange { 5, 0 }));
}
