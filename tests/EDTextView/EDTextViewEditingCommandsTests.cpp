#include "EDCompletion/EDCompletionWindowController.h"
#include "EDTextView/EDFontManager.h"
#include "EDTextView/YankingManager.h"
#include "TextViewTestSupport.h"

#include <QColorDialog>
#include <QFontDialog>
#include <QLabel>
#include <QLocale>
#include <QScrollBar>

#include <tuple>

using namespace textviewtest;
using platform::TextRange;
using platform::TextSelection;

namespace AttributeKey = platform::AttributeKey;

namespace {

void select(ShownView& view, std::vector<TextRange> ranges)
{
    std::vector<TextSelection> selections;
    for (const TextRange& range : ranges)
        selections.emplace_back(range);
    view->textLayoutManager().setTextSelections(std::move(selections));
}

QFont fontAt(ShownView& view, qint64 at)
{
    return view->textContentStorage().attributes(at).value(AttributeKey::font).value<QFont>();
}

class Word : public EDCompletionItem {
public:
    explicit Word(const QString& text)
        : m_label(std::make_unique<QLabel>(text))
    {
    }
    QString id() const override { return m_label->text(); }
    QWidget* view() const override { return m_label.get(); }

private:
    std::unique_ptr<QLabel> m_label;
};

// Offers the words that start with what is typed before the caret, and inserts the rest of the
// chosen one.
struct Completer : EDTextViewDelegate {
    QStringList words { "apple", "apricot", "banana" };
    bool allow = true;
    std::vector<platform::TextLocation> askedAt;
    QString prefix(EDTextView& view, platform::TextLocation at) const
    {
        const QString text = view.string().left(at);
        return text.mid(text.lastIndexOf(' ') + 1);
    }
    std::optional<EDCompletionItems> completionItems(EDTextView& view, platform::TextLocation at) override
    {
        askedAt.push_back(at);
        EDCompletionItems items;
        for (const QString& word : words) {
            if (word.startsWith(prefix(view, at)))
                items.push_back(std::make_shared<Word>(word));
        }
        return items;
    }
    void insertCompletionItem(EDTextView& view, const std::shared_ptr<EDCompletionItem>& item) override
    {
        const platform::TextLocation caret = view.selectedRange().location;
        view.insertText(item->id().mid(prefix(view, caret).size()), platform::CharacterRange::notFound());
    }
    bool textViewShouldChangeText(EDTextView&, TextRange, const QString&) override { return allow; }
};

} // namespace

// The case commands work on whole words, at every selection, keep each word's formatting, and
// survive changes of length (German "ß" is "SS" in capitals).
TEST(EDTextViewEditingCommands, CaseCommandsChangeWholeWordsAtEverySelection)
{
    ShownView view("hello big world");
    view.setCaret(2);
    QTest::keyClick(view.view.get(), Qt::Key_U, Qt::AltModifier);
    EXPECT_EQ(view->string(), "HELLO big world");
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(0, 5) }));

    view->setSelectedTextRange(TextRange(2, 12));
    view->capitalizeWord();
    EXPECT_EQ(view->string(), "Hello Big World");

    view->setString("straße und maß, FUSS");
    QFont bold = testFont();
    bold.setBold(true);
    view->addAttributes({ { AttributeKey::font, bold } }, TextRange(16, 20), true);
    select(view, { TextRange(2), TextRange(13), TextRange(17) });
    view->uppercaseWord();
    EXPECT_EQ(view->string(), "STRASSE und MASS, FUSS");
    EXPECT_EQ(
        view.ranges(), (std::vector<TextRange> { TextRange(0, 7), TextRange(12, 16), TextRange(18, 22) }));
    view->lowercaseWord();
    EXPECT_EQ(view->string(), "strasse und mass, fuss");
    EXPECT_TRUE(fontAt(view, 19).bold()) << "the word keeps its own formatting";
    EXPECT_FALSE(fontAt(view, 13).bold());

    view->setIsEditable(false);
    view.setCaret(1);
    view->capitalizeWord();
    EXPECT_EQ(view->string(), "strasse und mass, fuss");
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(1) })) << "not even the word is selected";
}

// Capitalize gives a word's first letter its title case, which for a ligature or a digraph is not
// all capitals.
TEST(EDTextViewEditingCommands, CapitalizeGivesTheFirstLetterItsTitleCase)
{
    ShownView view("\uFB01sh \uFB02ag \u01C6ungla \u01C9ubav \u00DFa word");
    view->selectAll();
    view->capitalizeWord();
    EXPECT_EQ(view->string(), QString("Fish Flag \u01C5ungla \u01C8ubav Ssa Word"));
}

// Capitalize lowers the rest of each word as the language does: a final Greek sigma, a capital
// whose lower case is two characters, numerals and letters in circles, and in Turkish the dotless
// and the dotted I.
TEST(EDTextViewEditingCommands, CapitalizeLowersTheRestOfEachWordAsTheLanguageDoes)
{
    ShownView view;
    const std::vector<std::tuple<QLocale::Language, QString, QString>> cases = {
        { QLocale::English, "\u039F\u0394\u039F\u03A3 \u03B1\u03A3 \u03B1\u03A3\u03B1",
            "\u039F\u03B4\u03BF\u03C2 \u0391\u03C3 \u0391\u03C3\u03B1" },
        { QLocale::English, "x\u0130y \u2160\u2161\u2162 \u24B6\u24B7 \u01C4UNGLA mcDONALD 4TH \U0001D400BC",
            "Xi\u0307y \u2160\u2171\u2172 \u24B6\u24B7 \u01C5ungla Mcdonald 4th \U0001D400bc" },
        { QLocale::English, "\U00010400\U00010401 a\U00010400 istanbul Istanbul",
            "\U00010400\U00010429 A\U00010428 Istanbul Istanbul" },
        { QLocale::Turkish, "ISTANBUL \u0130ZM\u0130R \u0131\u015F\u0131k I\u0307i",
            "Istanbul \u0130zmir I\u015F\u0131k I\u0307i" },
        { QLocale::Lithuanian, "\u00CC\u00CC \u012E\u0300\u012E", "\u00CCi\u0307\u0300 \u012E\u0300\u012F" },
    };
    const QLocale saved;
    for (const auto& [language, text, expected] : cases) {
        QLocale::setDefault(QLocale(language));
        view->setString(text);
        view->selectAll();
        view->capitalizeWord();
        EXPECT_EQ(view->string(), expected) << text.toStdString();
    }
    QLocale::setDefault(saved);
}

// Consecutive kills join, and Ctrl+Y yanks the joined text at every caret; a yank is an edit like
// typing, refused by a read-only view and by the delegate, and it works across views.
TEST(EDTextViewEditingCommands, YankInsertsTheLastKillAtEveryCaret)
{
    ShownView view("one two three\nfour");
    view.setCaret(13);
    view->deleteWordBackward();
    view->deleteWordBackward();
    EXPECT_EQ(view->string(), "one \nfour");
    select(view, { TextRange(0), TextRange(5) });
    QTest::keyClick(view.view.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "two threeone \ntwo threefour");
    EXPECT_TRUE(YankingManager::shared().yanking);
    // Yanking again inserts the same text: the yank ended no run but its own.
    view.setCaret(0);
    view->yank();
    EXPECT_TRUE(view->string().startsWith("two threetwo three"));

    ShownView other("[]");
    other.setCaret(1);
    other->yank();
    EXPECT_EQ(other->string(), "[two three]");

    other->setIsEditable(false);
    other->yank();
    other->setIsEditable(true);
    auto refusing = std::make_shared<Completer>();
    refusing->allow = false;
    other->setDelegate(refusing);
    other->yank();
    EXPECT_EQ(other->string(), "[two three]");
    // A selected range is not a caret: nothing is yanked over it.
    other->setDelegate(nullptr);
    other->setSelectedTextRange(TextRange(1, 4));
    other->yank();
    EXPECT_EQ(other->string(), "[two three]");
}

// A kill at several carets keeps the pieces in the order the carets were made, not the order they
// stand in; carets in one word still give that word once.
TEST(EDTextViewEditingCommands, AKillAtSeveralCaretsKeepsThePiecesInTheCaretsOrder)
{
    ShownView view("say hello there");
    view.setCaret(15);
    for (const qint64 caret : { 7, 9 }) {
        QTest::mouseClick(
            view->viewport(), Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, view.pointOf(caret));
    }
    ASSERT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(15), TextRange(7), TextRange(9) }));
    QTest::keyClick(view.view.get(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "say  ");
    EXPECT_EQ(YankingManager::shared().currentEntry(), "therehello");
    // A second kill in the run goes before the first, its pieces again in the carets' order.
    view->setString("ab cd ef gh");
    select(view, { TextRange(11), TextRange(5) });
    view->deleteWordBackward();
    view->deleteWordBackward();
    EXPECT_EQ(view->string(), " ");
    EXPECT_EQ(YankingManager::shared().currentEntry(), "ef ab ghcd");
}

// The run of kills is the process's: a caret moved in another view ends it, a refused kill does
// not, and what one view kills the other yanks, either way round.
TEST(EDTextViewEditingCommands, KillRunsAndYanksAreSharedByEveryView)
{
    ShownView first("one two three");
    ShownView second("[]");
    first.setCaret(13);
    first->deleteWordBackward();
    second.setCaret(1);
    first->deleteWordBackward();
    EXPECT_EQ(YankingManager::shared().currentEntry(), "two ") << "not joined to \"three\"";

    auto refusing = std::make_shared<Completer>();
    refusing->allow = false;
    first->setDelegate(refusing);
    first->deleteWordBackward();
    EXPECT_EQ(first->string(), "one ");
    first->setDelegate(nullptr);
    first->deleteWordBackward();
    EXPECT_EQ(YankingManager::shared().currentEntry(), "one two ") << "the refused kill kept the run";

    second->yank();
    EXPECT_EQ(second->string(), "[one two ]");
    second.setCaret(5);
    second->deleteToEndOfLine();
    EXPECT_EQ(second->string(), "[one ");
    first->yank();
    EXPECT_EQ(first->string(), "two ]");
}

// While the pop-up shows, a typed letter closes it and is typed; when the view's window stops
// being the active one, the pop-up closes and nothing is inserted.
TEST(EDTextViewEditingCommands, CompletionClosesOnTypingAndWhenItsWindowLosesFocus)
{
    ShownView view("I like ap");
    view.setCaret(9);
    const auto completer = std::make_shared<Completer>();
    view->setDelegate(completer);
    EDCompletionWindowController& popUp = view->completionWindowController();

    view->complete();
    ASSERT_TRUE(popUp.isVisible());
    QTest::keyClick(view.view.get(), Qt::Key_R);
    EXPECT_FALSE(popUp.isVisible());
    EXPECT_EQ(view->string(), "I like apr");

    view->complete();
    ASSERT_TRUE(popUp.isVisible());
    EXPECT_EQ(popUp.window()->contentViewController()->items().size(), 1u);
    QWidget other;
    other.show();
    other.activateWindow();
    EXPECT_TRUE(waitFor([&] { return !popUp.isVisible(); }));
    EXPECT_EQ(view->string(), "I like apr");
    EXPECT_TRUE(popUp.window()->contentViewController()->items().empty());

    // Back in the window, the keys are the view's again.
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.view.get()));
    QTest::keyClick(view.view.get(), Qt::Key_Return);
    EXPECT_EQ(view->string(), "I like apr\n");
}

// Ctrl+Space and Escape show the delegate's completions under the caret and hide them again;
// Return gives the chosen item to the delegate, which inserts it.
TEST(EDTextViewEditingCommands, CompletionShowsTheDelegatesItemsUnderTheCaret)
{
    ShownView view("I like ap");
    view.setCaret(9);
    const auto completer = std::make_shared<Completer>();

    // Without a delegate there is nothing to show, and Escape is left to the window.
    QTest::keyClick(view.view.get(), Qt::Key_Escape);
    EXPECT_FALSE(view->hasCompletions());

    view->setDelegate(completer);
    QTest::keyClick(view.view.get(), Qt::Key_Space, Qt::ControlModifier);
    EDCompletionWindowController& popUp = view->completionWindowController();
    ASSERT_TRUE(popUp.isVisible());
    EXPECT_EQ(completer->askedAt.back(), 9);
    EXPECT_EQ(popUp.window()->contentViewController()->items().size(), 2u);
    // Below the caret's line, a little to its left.
    const QRect caret = view->firstRect(platform::CharacterRange { 9, 0 });
    EXPECT_NEAR(popUp.window()->y(), caret.bottom(), 2);
    EXPECT_NEAR(popUp.window()->x(), caret.left() - 14, 2);

    QTest::keyClick(view.view.get(), Qt::Key_Escape);
    EXPECT_FALSE(popUp.isVisible());
    QTest::keyClick(view.view.get(), Qt::Key_Escape);
    ASSERT_TRUE(popUp.isVisible());
    QTest::keyClick(view.view.get(), Qt::Key_Down);
    QTest::keyClick(view.view.get(), Qt::Key_Return);
    EXPECT_FALSE(popUp.isVisible());
    EXPECT_EQ(view->string(), "I like apricot");

    // Only a selected range, no caret: nothing shows.
    view->setSelectedTextRange(TextRange(0, 1));
    view->complete();
    EXPECT_FALSE(popUp.isVisible());
}

// The items were offered for the caret and the text as they were: a click that moves the caret, or
// a text set under the pop-up, closes it, and Return is then the view's again.
TEST(EDTextViewEditingCommands, CompletionClosesWhenTheCaretOrTheTextChangesUnderIt)
{
    ShownView view("I like ap and more");
    view.setCaret(9);
    const auto completer = std::make_shared<Completer>();
    view->setDelegate(completer);
    view->complete();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view.pointOf(13));
    QTest::keyClick(view.view.get(), Qt::Key_Return);
    EXPECT_EQ(view->string(), "I like ap and\n more");
    view.setCaret(9);
    view->complete();
    ASSERT_TRUE(view->completionWindowController().isVisible());
    view->setString("banana");
    EXPECT_FALSE(view->completionWindowController().isVisible());
}

// Under a line-height multiple the pop-up opens just below the letters, as the caret stands.
TEST(EDTextViewEditingCommands, CompletionOpensBelowTheLettersAtEveryLineHeight)
{
    for (const double multiple : { 1.0, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        ShownView view("I like ap\nnext");
        setLineHeightMultiple(*view, multiple);
        view.setCaret(9);
        const auto completer = std::make_shared<Completer>();
        view->setDelegate(completer);
        view->complete();
        EDCompletionWindowController& popUp = view->completionWindowController();
        ASSERT_TRUE(popUp.isVisible());
        const QRect caret = view->firstRect(platform::CharacterRange { 9, 0 });
        EXPECT_NEAR(popUp.window()->y(), caret.bottom(), 2);
        view->cancelOperation(nullptr);
    }
}

// The list keeps beside its caret: above the line when there is no room below it, and there as the
// text scrolls, until the caret goes out of sight.
TEST(EDTextViewEditingCommands, CompletionStaysBesideItsCaretAtTheFootOfTheScreenAndWhenScrolled)
{
    const QString text = QString("line\n").repeated(60) + "I like ap";
    const qint64 caret = text.size();
    ShownView view(text + "\n" + text);
    view->window()->move(40, view->screen()->availableGeometry().bottom() + 1 - view->window()->height());
    view.setCaret(caret);
    view->scrollRangeToVisible(platform::CharacterRange { caret, 0 });
    view.settle();
    const auto completer = std::make_shared<Completer>();
    view->setDelegate(completer);
    view->complete();
    EDCompletionWindowController& popUp = view->completionWindowController();
    const auto aboveTheLine = [&] {
        const QRect line = view->firstRect(platform::CharacterRange { caret, 0 });
        return popUp.isVisible() && std::abs(popUp.window()->frameGeometry().bottom() - line.top()) <= 2;
    };
    EXPECT_TRUE(aboveTheLine());
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + 20);
    EXPECT_TRUE(waitFor(aboveTheLine));
    view->verticalScrollBar()->setValue(0);
    EXPECT_TRUE(waitFor([&] { return !popUp.isVisible(); }));
}

// A narrower view wraps the caret's line elsewhere: the list goes with the caret.
TEST(EDTextViewEditingCommands, CompletionFollowsItsCaretWhenTheViewIsResized)
{
    ShownView view(QString("word ").repeated(30) + "I like ap");
    view->setWidthTracksTextView(true);
    const qint64 caret = view->string().size();
    view.setCaret(caret);
    const auto completer = std::make_shared<Completer>();
    view->setDelegate(completer);
    view->complete();
    EDCompletionWindowController& popUp = view->completionWindowController();
    ASSERT_TRUE(popUp.isVisible());
    const QRect before = view->firstRect(platform::CharacterRange { caret, 0 });
    view->resize(250, view->height());
    const auto besideTheCaret = [&] {
        const QRect now = view->firstRect(platform::CharacterRange { caret, 0 });
        return now != before && popUp.isVisible() && std::abs(popUp.window()->y() - now.bottom()) <= 2
            && std::abs(popUp.window()->x() - (now.left() - 14)) <= 2;
    };
    EXPECT_TRUE(waitFor(besideTheCaret));
}

// The font and colour commands change attributes only: the typing attributes at a caret, the text
// of a selection run by run.
TEST(EDTextViewEditingCommands, FontAndColourChangeTypingAttributesOrTheSelection)
{
    ShownView view("serif sans");
    QFont serif("DejaVu Serif");
    serif.setPointSize(10);
    QFont sans("DejaVu Sans");
    sans.setPointSize(12);
    view->setAttributes({ { AttributeKey::font, serif } }, TextRange(0, 5), true);
    view->setAttributes({ { AttributeKey::font, sans } }, TextRange(5, 10), true);

    // The dialog changed only the size: each run keeps its family and takes the size.
    QFont chosen = serif;
    chosen.setPointSize(20);
    view->setSelectedTextRange(TextRange(0, 10));
    view->changeFont(EDFontManager(serif, chosen));
    EXPECT_EQ(fontAt(view, 0).family(), "DejaVu Serif");
    EXPECT_EQ(fontAt(view, 7).family(), "DejaVu Sans");
    EXPECT_EQ(fontAt(view, 7).pointSize(), 20);

    // With a caret only the next typed text changes.
    view.setCaret(10);
    QFont italic = chosen;
    italic.setItalic(true);
    view->changeFont(EDFontManager(chosen, italic));
    EXPECT_FALSE(fontAt(view, 7).italic());
    QTest::keyClicks(view.view.get(), "x");
    EXPECT_TRUE(fontAt(view, 10).italic());

    auto colourAt = [&](qint64 at) {
        return view->textContentStorage().attributes(at).value(AttributeKey::foregroundColor).value<QColor>();
    };
    view->changeColor(Qt::red);
    EXPECT_EQ(view->textColor(), QColor(Qt::red));
    EXPECT_NE(colourAt(9), QColor(Qt::red));
    select(view, { TextRange(0, 2), TextRange(6, 8) });
    view->changeColor(Qt::blue);
    EXPECT_EQ(colourAt(1), QColor(Qt::blue));
    EXPECT_EQ(colourAt(7), QColor(Qt::blue));
    EXPECT_NE(colourAt(4), QColor(Qt::blue));
    // A caret beside a selected range: only what is typed next changes.
    select(view, { TextRange(0, 2), TextRange(4) });
    view->changeColor(Qt::green);
    EXPECT_EQ(colourAt(1), QColor(Qt::blue));
    EXPECT_EQ(view->textColor(), QColor(Qt::green));

    // Underline: the first range decides; Ctrl+U underlines a plain start, removes a present one.
    select(view, { TextRange(0, 3) });
    QTest::keyClick(view.view.get(), Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(view->textContentStorage().attributes(1).value(AttributeKey::underlineStyle).toInt(), 1);
    select(view, { TextRange(1, 8) });
    QTest::keyClick(view.view.get(), Qt::Key_U, Qt::ControlModifier);
    EXPECT_FALSE(view->textContentStorage().attributes(1).contains(AttributeKey::underlineStyle));
    EXPECT_TRUE(view->textContentStorage().attributes(0).contains(AttributeKey::underlineStyle));

    // The dialogs open from their keys and apply what the user chose.
    view->setSelectedTextRange(TextRange(0, 5));
    QTest::keyClick(view.view.get(), Qt::Key_T, Qt::ControlModifier);
    auto* fonts = view->findChild<QFontDialog*>();
    ASSERT_TRUE(fonts);
    QFont bold = fontAt(view, 0);
    bold.setBold(true);
    fonts->setCurrentFont(bold);
    fonts->accept();
    EXPECT_TRUE(fontAt(view, 2).bold());
    QTest::keyClick(view.view.get(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    auto* colours = view->findChild<QColorDialog*>();
    ASSERT_TRUE(colours);
    colours->setCurrentColor(Qt::darkGreen);
    colours->accept();
    EXPECT_EQ(colourAt(2), QColor(Qt::darkGreen));

    view->setUsesFontPanel(false);
    view->changeFont(EDFontManager(serif, chosen));
    EXPECT_TRUE(fontAt(view, 2).bold());
}
