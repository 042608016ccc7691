#include "EDTextView/TextCheckingPanels.h"
#include "TextViewTestSupport.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/SpellChecker.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <utility>

using namespace textviewtest;
using platform::CharacterRange;
using platform::TextRange;

namespace {

struct Mark {
    QString text;
    QString state;
    bool operator==(const Mark&) const = default;
};

void PrintTo(const Mark& mark, std::ostream* out)
{
    *out << mark.text.toStdString() << ":" << mark.state.toStdString();
}

std::vector<Mark> marks(EDTextView& view)
{
    std::vector<Mark> found;
    const QString text = view.string();
    view.textLayoutManager().enumerateRenderingAttributes(
        0, false, [&](const platform::TextAttributes& attributes, TextRange run) {
            const QString state = attributes.value(TextCheckingController::spellingStateKey).toString();
            if (!state.isEmpty())
                found.push_back({ text.mid(run.location, run.length()), state });
            return true;
        });
    return found;
}

Mark spelling(const char* word)
{
    return { QString::fromUtf8(word), TextCheckingController::spellingValue };
}

bool waitUntilChecked(EDTextView& view)
{
    return waitFor([&] { return view.textCheckingController().isIdle(); });
}

// A view with continuous spelling on and its first check done, with a delegate so that it has a
// context menu.
struct CheckedView : ShownView {
    std::shared_ptr<EDTextViewDelegate> delegate = std::make_shared<EDTextViewDelegate>();
    explicit CheckedView(const QString& text)
        : ShownView(text)
    {
        view->setDelegate(delegate);
        view->setIsContinuousSpellCheckingEnabled(true);
        EXPECT_TRUE(waitUntilChecked(*view));
    }
    QMenu* menuAt(qint64 location)
    {
        const QPoint point = pointOf(location);
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, view->viewport()->mapToGlobal(point));
        return view->menuForEvent(&event);
    }
};

QStringList titles(const QMenu& menu)
{
    QStringList result;
    for (QAction* action : menu.actions())
        result << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return result;
}

QAction* item(const QMenu& menu, const QString& title)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == title)
            return action;
        if (action->menu())
            if (QAction* inner = item(*action->menu(), title))
                return inner;
    }
    return nullptr;
}

// Where a widget is painted while `change` runs and the events it posts are handled.
QRegion paintedBy(QWidget* widget, const std::function<void()>& change)
{
    struct Watch : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(event)->region();
            return false;
        }
    } watch;
    QCoreApplication::processEvents();
    widget->installEventFilter(&watch);
    change();
    QCoreApplication::processEvents();
    widget->removeEventFilter(&watch);
    return watch.painted;
}

} // namespace

TEST(EDTextViewTextChecking, MisspeltWordsAreMarkedAndASuggestionReplacesOne)
{
    const QString text = "Ths paragraph has thre mispelled words.\nThis one is fine.";
    CheckedView view(text);
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("Ths"), spelling("thre"), spelling("mispelled") }));

    // The guesses come first, then a separator, then the view's own items.
    QMenu* menu = view.menuAt(text.indexOf("mispelled") + 3);
    ASSERT_TRUE(menu);
    const QStringList shown = titles(*menu);
    ASSERT_GE(shown.size(), 5);
    EXPECT_EQ(shown.front(), "misspelled");
    const qsizetype ignore = shown.indexOf("Ignore Spelling");
    ASSERT_GT(ignore, 0);
    EXPECT_EQ(
        shown.mid(ignore - 1, 5), (QStringList { "-", "Ignore Spelling", "Learn Spelling", "-", "Cut" }));

    menu->actions().front()->trigger();
    EXPECT_EQ(view->string(), "Ths paragraph has thre misspelled words.\nThis one is fine.");
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("Ths"), spelling("thre") }));
    // One step of its own.
    view->undo();
    EXPECT_EQ(view->string(), text);

    // A view that may not be edited offers the guesses disabled, and refuses them anyway.
    view->setIsEditable(false);
    menu = view.menuAt(text.indexOf("thre") + 1);
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions().front()->isEnabled());
    view->replaceCharacters(CharacterRange { text.indexOf("thre"), 4 }, platform::AttributedString("three"));
    EXPECT_EQ(view->string(), text);
    // A correct word has no spelling items.
    menu = view.menuAt(text.indexOf("fine") + 1);
    ASSERT_TRUE(menu);
    EXPECT_EQ(titles(*menu).front(), "Cut");
}

// Ignoring is for one text; learning is for every text and survives a restart (the test's home
// folder holds the personal word list).
TEST(EDTextViewTextChecking, IgnoreAndLearnSpelling)
{
    const QString text = "Zorbliqa met Quintaxel today.";
    CheckedView first(text);
    CheckedView second(text);
    ASSERT_EQ(marks(*first), (std::vector<Mark> { spelling("Zorbliqa"), spelling("Quintaxel") }));

    QMenu* menu = first.menuAt(2);
    ASSERT_TRUE(menu);
    item(*menu, "Ignore Spelling")->trigger();
    EXPECT_EQ(marks(*first), (std::vector<Mark> { spelling("Quintaxel") }));
    EXPECT_EQ(marks(*second), (std::vector<Mark> { spelling("Zorbliqa"), spelling("Quintaxel") }));
    // Typed again, an ignored word stays unmarked.
    first->setString(text + " Zorbliqa again.");
    ASSERT_TRUE(waitUntilChecked(*first));
    EXPECT_EQ(marks(*first), (std::vector<Mark> { spelling("Quintaxel") }));

    menu = first.menuAt(text.indexOf("Quintaxel") + 2);
    ASSERT_TRUE(menu);
    item(*menu, "Learn Spelling")->trigger();
    EXPECT_TRUE(marks(*first).empty());
    EXPECT_EQ(marks(*second), (std::vector<Mark> { spelling("Zorbliqa") }));

    const platform::SpellChecker restarted;
    EXPECT_TRUE(restarted.isCorrect("Quintaxel"));
    EXPECT_FALSE(restarted.isCorrect("Zorbliqa"));
    // The checker is the process's: the next run of this test starts from scratch.
    ASSERT_TRUE(platform::SpellChecker::shared().unlearnWord("Quintaxel").isSuccess());
}

// A word learnt by a slip of the hand can be unlearnt from the same menu, and is marked again.
TEST(EDTextViewTextChecking, ALearntWordCanBeUnlearnt)
{
    const QString text = "Vextrolian\u2019s plan, and a fine plan.";
    CheckedView view(text);
    ASSERT_EQ(marks(*view), (std::vector<Mark> { spelling("Vextrolian\u2019s") }));
    QMenu* menu = view.menuAt(3);
    ASSERT_TRUE(menu);
    item(*menu, "Learn Spelling")->trigger();
    ASSERT_TRUE(marks(*view).empty());

    menu = view.menuAt(text.indexOf("plan"));
    ASSERT_TRUE(menu);
    EXPECT_EQ(titles(*menu).front(), "Cut") << "a word never learnt offers nothing";
    menu = view.menuAt(text.indexOf("\u2019s") + 2);
    ASSERT_TRUE(menu);
    EXPECT_EQ(titles(*menu).mid(0, 3), (QStringList { "Unlearn Spelling", "-", "Cut" }));
    item(*menu, "Unlearn Spelling")->trigger();
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("Vextrolian\u2019s") }));
    EXPECT_FALSE(platform::SpellChecker().isCorrect("Vextrolian's")) << "after a restart too";
}

// Learning, ignoring or unlearning a word looks up only the places of that word, and leaves the
// marks a check of the whole text would leave, whatever the case, apostrophes or soft hyphens.
TEST(EDTextViewTextChecking, AChangeOfOneWordLooksUpOnlyItsPlacesAndMarksAsAFullCheck)
{
    QString text;
    for (int i = 0; i < 40; ++i)
        text += "Wrokle fendrak, ";
    text += "Glimbrot met GLIMBROT and glimbrot\u2019s glim\u00ADbrot and glimbrots.\n"
            "Glimbrot2 at www.glimbrot.org; qeplar and Qeplar said glimbrot.";
    CheckedView view(text);
    TextCheckingController& controller = view->textCheckingController();
    const platform::SpellChecker& checker = controller.spellChecker();
    const auto before = marks(*view);
    // Each change against a check of the whole text from scratch, and the words it looked up.
    const auto change = [&](const std::function<void()>& act) {
        const quint64 lookUps = checker.lookUpCount();
        act();
        const quint64 looked = checker.lookUpCount() - lookUps;
        const auto changed = marks(*view);
        TextCheckingController::checkEveryTextAgain();
        EXPECT_TRUE(waitUntilChecked(*view));
        EXPECT_EQ(changed, marks(*view));
        return looked;
    };

    EXPECT_LE(change([&] { controller.learnSpelling("glimbrot"); }), 5u);
    EXPECT_EQ(marks(*view).size(), before.size() - 4);
    QObject sender;
    sender.setProperty("spellingWord", "qeplar");
    EXPECT_LE(change([&] { controller.ignoreSpelling(&sender); }), 2u);
    EXPECT_EQ(marks(*view).size(), before.size() - 5) << "\"Qeplar\" is another word to ignore";
    EXPECT_LE(change([&] { controller.unlearnSpelling("glimbrot"); }), 5u);
    EXPECT_EQ(marks(*view).size(), before.size() - 1);
}

// A word list that cannot be written is said so when a word is learnt or unlearnt; the word still
// counts for this run.
TEST(EDTextViewTextChecking, AWordListThatCannotBeSavedIsReported)
{
    // The list is in the test's own home folder. A folder where it should be: no write replaces it.
    const QString list = platform::SpellChecker::shared().personalWordListPath();
    QFile::remove(list);
    ASSERT_TRUE(QDir().mkpath(list));
    CheckedView view("Wexquonder is here.");
    const auto alerts = [&] { return view->findChildren<QMessageBox*>("wordListNotSaved"); };
    QMenu* menu = view.menuAt(2);
    ASSERT_TRUE(menu);
    item(*menu, "Learn Spelling")->trigger();
    EXPECT_TRUE(marks(*view).empty());
    ASSERT_EQ(alerts().size(), 1);
    EXPECT_TRUE(alerts().front()->text().contains("Wexquonder"));
    alerts().front()->close();
    EXPECT_TRUE(waitFor([&] { return alerts().isEmpty(); }));

    menu = view.menuAt(2);
    ASSERT_TRUE(menu);
    item(*menu, "Unlearn Spelling")->trigger();
    EXPECT_EQ(alerts().size(), 1);
    EXPECT_TRUE(QDir(list).removeRecursively());
}

// An edit clears the mark of the word it touches at once and re-checks its own paragraph only.
TEST(EDTextViewTextChecking, AnEditRechecksOnlyItsParagraph)
{
    const QString text = "First paragrap here.\nSecond has a wrod.\nThird is speled badly.";
    CheckedView view(text);
    ASSERT_EQ(
        marks(*view), (std::vector<Mark> { spelling("paragrap"), spelling("wrod"), spelling("speled") }));
    QSignalSpy checked(&view->textCheckingController(), &TextCheckingController::didCheck);

    view.setCaret(text.indexOf("wrod") + 2);
    QTest::keyClicks(view.view.get(), "x");
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("paragrap"), spelling("speled") }))
        << "the edited word loses its mark before any check";
    ASSERT_TRUE(waitUntilChecked(*view));
    const qsizetype second = text.indexOf("Second");
    ASSERT_EQ(checked.size(), 1);
    EXPECT_EQ(checked[0][0].toLongLong(), second);
    EXPECT_EQ(checked[0][1].toLongLong(), text.indexOf("Third") + 1 - second);

    // The word being typed at the caret waits until the caret leaves it.
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("paragrap"), spelling("speled") }));
    view.setCaret(0);
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(
        marks(*view), (std::vector<Mark> { spelling("paragrap"), spelling("wrxod"), spelling("speled") }));

    // An edit in a paragraph without marks keeps the marks of the paragraphs around it, before
    // and after the check of its own.
    view->setString("Teh start.\nA clean middle line.\nThe ending wrod.");
    ASSERT_TRUE(waitUntilChecked(*view));
    view.setCaret(view->string().indexOf("middle"));
    QTest::keyClicks(view.view.get(), "calm ");
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("Teh"), spelling("wrod") }));
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("Teh"), spelling("wrod") }));

    // A line break or a space typed in front of a misspelt word is no part of it: the check puts
    // its mark back while the caret still stands before it. Deleting there edits the word.
    view->setString("Good start.\nXwrod end.");
    ASSERT_TRUE(waitUntilChecked(*view));
    view.setCaret(view->string().indexOf("Xwrod"));
    for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Space }) {
        QTest::keyClick(view.view.get(), key);
        ASSERT_TRUE(waitUntilChecked(*view));
        EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("Xwrod") })) << "after key " << key;
    }
    QTest::keyClick(view.view.get(), Qt::Key_Delete);
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(marks(*view), std::vector<Mark>());
    view.setCaret(0);
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("wrod") }));
}

// In a long line, a keystroke re-checks the words it touched, not the line: re-marking a line of
// megabytes held the window for a quarter of a second after every pause in typing.
TEST(EDTextViewTextChecking, AnEditInALongParagraphRechecksOnlyTheWordsItTouched)
{
    const QString unit = "good wrod ";
    const int count = int(TextCheckingController::wholeRecheckLength / unit.size()) + 100;
    CheckedView view(unit.repeated(count));
    ASSERT_EQ(marks(*view).size(), size_t(count));
    QSignalSpy checked(&view->textCheckingController(), &TextCheckingController::didCheck);
    const qsizetype middle = unit.size() * (count / 2);
    const auto expectMarks = [&](const QString& around, const std::vector<Mark>& there, size_t total) {
        std::vector<Mark> near;
        for (const Mark& mark : marks(*view)) {
            if (around.contains(mark.text))
                near.push_back(mark);
        }
        EXPECT_EQ(near, there) << around.toStdString();
        EXPECT_EQ(marks(*view).size(), total) << around.toStdString();
        for (const QList<QVariant>& check : checked)
            EXPECT_LT(check[1].toLongLong(), 3 * unit.size()) << "a check of " << check[1].toLongLong();
        checked.clear();
    };

    // The misspelt word mended: its mark goes, every other stays.
    view.setCaret(middle + 7);
    QTest::keyClick(view.view.get(), Qt::Key_Backspace);
    QTest::keyClicks(view.view.get(), "or");
    QTest::keyClick(view.view.get(), Qt::Key_Delete);
    view.setCaret(0);
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(view->string().mid(middle, unit.size()), "good word ");
    expectMarks("word", {}, size_t(count - 1));

    // Two words joined by deleting the space between them are judged as one.
    view.setCaret(middle + 4);
    QTest::keyClick(view.view.get(), Qt::Key_Delete);
    view.setCaret(0);
    ASSERT_TRUE(waitUntilChecked(*view));
    expectMarks("goodword", { spelling("goodword") }, size_t(count));

    // A space typed inside the joined word makes two correct words again.
    view.setCaret(middle + 4);
    QTest::keyClick(view.view.get(), Qt::Key_Space);
    view.setCaret(0);
    ASSERT_TRUE(waitUntilChecked(*view));
    expectMarks("good word", {}, size_t(count - 1));
}

// A view that records the longest piece of its text read for the text checker, and the most marks
// it was given at once.
class ReadCountingView : public EDTextView {
public:
    mutable qint64 longestRead = 0;
    size_t mostMarksAtOnce = 0;
    void addAnnotation(
        const QString& key, const QString& value, const std::vector<CharacterRange>& ranges) override
    {
        mostMarksAtOnce = std::max(mostMarksAtOnce, ranges.size());
        EDTextView::addAnnotation(key, value, ranges);
    }
    std::optional<platform::AttributedString> annotatedSubstring(
        CharacterRange proposed, CharacterRange* actual) override
    {
        const auto text = EDTextView::annotatedSubstring(proposed, actual);
        longestRead = std::max<qint64>(longestRead, text ? text->length() : 0);
        return text;
    }
    QString plainSubstring(CharacterRange range) const override
    {
        const QString text = EDTextView::plainSubstring(range);
        longestRead = std::max<qint64>(longestRead, text.size());
        return text;
    }
};

// A line of megabytes is marked in pieces, and the spelling items for a word in it read the words
// around it, not the line: the first check held the window for a tenth of a second and the menu a
// quarter of a second at 10 MB. Its guesses and its other items work as anywhere.
TEST(EDTextViewTextChecking, ALongLineIsMarkedInPiecesAndItsMenuReadsOnlyAroundTheWord)
{
    ReadCountingView view;
    view.setFont(testFont());
    view.resize(480, 320);
    view.show();
    const QString unit = "good wrod ";
    view.setString(unit.repeated(20'000));
    auto delegate = std::make_shared<EDTextViewDelegate>();
    view.setDelegate(delegate);
    view.setIsContinuousSpellCheckingEnabled(true);
    ASSERT_TRUE(waitUntilChecked(view));
    // The first check marks the line piece by piece, so that the window never takes every mark of
    // it in one go.
    EXPECT_EQ(marks(view).size(), size_t(20'000));
    EXPECT_LE(view.mostMarksAtOnce, size_t(TextCheckingController::batchLength / unit.size() + 1));

    const qint64 word = unit.size() * 10'000 + 5;
    view.setSelectedTextRange(TextRange(word + 2));
    view.longestRead = 0;
    QMenu* menu = view.menuForEvent(nullptr);
    ASSERT_TRUE(menu);
    EXPECT_LT(view.longestRead, 1024);
    const QStringList shown = titles(*menu);
    ASSERT_TRUE(shown.contains("Learn Spelling")) << shown.join(", ").toStdString();
    EXPECT_EQ(shown.front(), "word");
    menu->actions().front()->trigger();
    EXPECT_EQ(view.string().mid(word - 5, 2 * unit.size()), "good word good wrod ");

    // A word learnt before offers to be unlearnt, read the same way.
    view.textCheckingController().learnSpelling("goood");
    view.setSelectedTextRange(TextRange(word - 3));
    view.insertText("o", CharacterRange { word - 3, 0 });
    view.setSelectedTextRange(TextRange(word - 3));
    view.longestRead = 0;
    menu = view.menuForEvent(nullptr);
    ASSERT_TRUE(menu);
    EXPECT_LT(view.longestRead, 1024);
    EXPECT_EQ(titles(*menu).front(), "Unlearn Spelling");
    view.textCheckingController().unlearnSpelling("goood");
}

TEST(EDTextViewTextChecking, ASentenceThatDoesNotParseIsMarked)
{
    if (!platform::SpellChecker::shared().isGrammarCheckingAvailable())
        GTEST_SKIP() << "no English grammar dictionary";
    const QString text = "The cat sat on the mat. Mat the on sat quickly cat the went.";
    ShownView view(text);
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    view->setIsGrammarCheckingEnabled(true);
    ASSERT_TRUE(waitUntilChecked(*view));
    const qsizetype bad = text.indexOf("Mat");
    EXPECT_EQ(marks(*view), (std::vector<Mark> { { text.mid(bad), TextCheckingController::grammarValue } }));

    const QPoint point = view.pointOf(bad + 1);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, view->viewport()->mapToGlobal(point));
    QMenu* menu = view->menuForEvent(&event);
    ASSERT_TRUE(menu);
    // The engine's note, and no corrections since it offers none.
    EXPECT_EQ(titles(*menu).mid(0, 3), (QStringList { "This sentence may not be grammatical.", "-", "Cut" }));
    EXPECT_FALSE(menu->actions().front()->isEnabled());

    // Turned off, its marks go.
    view->toggleGrammarChecking();
    EXPECT_TRUE(marks(*view).empty());
}

// Settings as traits: yes or no, never default; a setting never read takes the user's choice.
TEST(EDTextViewTextChecking, SettingsAndTraits)
{
    platform::UserDefaults::standard().setInteger("AutomaticQuoteSubstitutionEnabled", 1);
    ShownView view;
    EXPECT_EQ(view->spellCheckingType(), TextInputTraitType::no);
    EXPECT_EQ(view->grammarCheckingType(), TextInputTraitType::no);
    EXPECT_EQ(view->textReplacementType(), TextInputTraitType::no);
    view->setSpellCheckingType(TextInputTraitType::yes);
    EXPECT_TRUE(view->isContinuousSpellCheckingEnabled());
    view->setSpellCheckingType(TextInputTraitType::defaultValue);
    EXPECT_FALSE(view->isContinuousSpellCheckingEnabled());
    view->setTextReplacementType(TextInputTraitType::yes);
    EXPECT_EQ(view->textReplacementType(), TextInputTraitType::yes);
    EXPECT_EQ(view->textCompletionType(), TextInputTraitType::no);
    // Never read: the toggle stores the opposite of the user's choice, and a later change of the
    // choice no longer reaches the view.
    view->toggleAutomaticQuoteSubstitution();
    platform::UserDefaults::standard().setInteger("AutomaticQuoteSubstitutionEnabled", 0);
    EXPECT_EQ(view->smartQuotesType(), TextInputTraitType::no);
    view->toggleAutomaticQuoteSubstitution();
    EXPECT_EQ(view->smartQuotesType(), TextInputTraitType::yes);
    // The toggle keeps the user's choice: put it back for the views of later tests.
    platform::UserDefaults::standard().setInteger("AutomaticQuoteSubstitutionEnabled", 0);
}

// A substitution turned on or off in one note is the user's choice: the next note opens with it,
// while a view already open keeps its own setting.
TEST(EDTextViewTextChecking, ASubstitutionToggledInOneViewIsTheNextViewsChoice)
{
    const struct {
        void (EDTextView::*toggle)(QObject*);
        bool (EDTextView::*isEnabled)() const;
        QString key;
    } cases[] = {
        { &EDTextView::toggleAutomaticQuoteSubstitution, &EDTextView::isAutomaticQuoteSubstitutionEnabled,
            "AutomaticQuoteSubstitutionEnabled" },
        { &EDTextView::toggleAutomaticSpellingCorrection, &EDTextView::isAutomaticSpellingCorrectionEnabled,
            "AutomaticSpellingCorrectionEnabled" },
        { &EDTextView::toggleAutomaticTextCompletion, &EDTextView::isAutomaticTextCompletionEnabled,
            "AutomaticTextCompletionEnabled" },
    };
    for (const auto& testCase : cases) {
        const std::string name = testCase.key.toStdString();
        platform::UserDefaults::standard().setInteger(testCase.key, 0);
        ShownView open, first;
        EXPECT_FALSE(((*open).*testCase.isEnabled)()) << name;
        ((*first).*testCase.toggle)(nullptr);
        ShownView next;
        EXPECT_TRUE(((*next).*testCase.isEnabled)()) << name;
        EXPECT_FALSE(((*open).*testCase.isEnabled)()) << name;
        ((*next).*testCase.toggle)(nullptr);
        ShownView last;
        EXPECT_FALSE(((*last).*testCase.isEnabled)()) << name;
    }
}

TEST(EDTextViewTextChecking, AnnotatedSubstringCarriesOnlyTheAnnotationsOfItsParagraphs)
{
    const QString text = "012345678\nabcdefghij klmn\nthird paragraph";
    ShownView view(text);
    const QString key = TextCheckingController::spellingStateKey;
    view->addAnnotations({ { key, "1" } }, { 10, 4 });
    view->addAnnotations({ { key, "2" } }, { 26, 5 });

    CharacterRange actual { 0, 0 };
    const auto whole = view->annotatedSubstring(CharacterRange::notFound(), &actual);
    ASSERT_TRUE(whole);
    EXPECT_EQ(actual, (CharacterRange { 0, text.size() }));
    EXPECT_EQ(whole->string(), text);

    // A few characters give their whole paragraph. The mark over 10-14 lies over 0-4 of it; the
    // third paragraph's mark, after its end, and the text's own font are left out.
    const auto part = view->annotatedSubstring({ 12, 3 }, &actual);
    ASSERT_TRUE(part);
    EXPECT_EQ(actual, (CharacterRange { 10, 16 }));
    platform::AttributedString::Span span;
    EXPECT_EQ(part->attributes(1, &span).value(key).toString(), "1");
    EXPECT_EQ(span, (platform::AttributedString::Span { 0, 4 }));
    EXPECT_TRUE(part->attributes(8).isEmpty());
    EXPECT_EQ(part->runs().size(), 2u);
    // A range from an earlier paragraph keeps its start.
    ASSERT_TRUE(view->annotatedSubstring({ 5, 10 }, &actual));
    EXPECT_EQ(actual, (CharacterRange { 5, 21 }));

    // A mark that begins before the range is not the range's.
    view->addAnnotations({ { key, "2" } }, { 8, 4 });
    const auto after = view->annotatedSubstring({ 12, 0 }, &actual);
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->attributes(0).isEmpty());
    EXPECT_EQ(after->attributes(3, &span).value(key).toString(), "1");
    EXPECT_EQ(span, (platform::AttributedString::Span { 2, 2 }));

    // Set replaces and ignores an empty range.
    view->setAnnotations({ { key, "2" } }, { 12, 0 });
    EXPECT_EQ(marks(*view).size(), 3u);
    view->setAnnotations({ { key, "1" } }, { 7, 6 });
    EXPECT_EQ(marks(*view), (std::vector<Mark> { { "78\nabc", "1" }, { "d", "1" }, { "third", "2" } }));
    EXPECT_FALSE(view->annotatedSubstring({ CharacterRange::notFoundLocation, 3 }, &actual));
}

TEST(EDTextViewTextChecking, SubstitutionsAsTheUserTypes)
{
    ShownView view;
    view->setIsAutomaticQuoteSubstitutionEnabled(true);
    QTest::keyClicks(view.view.get(), "\"Hi,\" she said. Don't ('x')");
    EXPECT_EQ(view->string(), "\u201CHi,\u201D she said. Don\u2019t (\u2018x\u2019)");

    view->setString(QString());
    view->setIsAutomaticQuoteSubstitutionEnabled(false);
    view->setIsAutomaticSpellingCorrectionEnabled(true);
    QTest::keyClicks(view.view.get(), "I recieve teh");
    EXPECT_TRUE(waitFor([&] { return view->string() == "I receive teh"; }));
    QTest::keyClicks(view.view.get(), ". ");
    EXPECT_TRUE(waitFor([&] { return view->string() == "I receive the. "; }));
    // A longer correction keeps the caret after what was typed since.
    QTest::keyClicks(view.view.get(), "It occured ");
    EXPECT_TRUE(waitFor([&] { return view->string() == "I receive the. It occurred "; }));
    QTest::keyClicks(view.view.get(), "x");
    EXPECT_EQ(view->string(), "I receive the. It occurred x");
}

// A quotation mark typed after the opening punctuation of other languages opens a quotation too.
TEST(EDTextViewTextChecking, SmartQuotesOpenAfterTheOpeningMarksOfOtherLanguages)
{
    ShownView view;
    view->setIsAutomaticQuoteSubstitutionEnabled(true);
    for (const QChar c : QString("\u00AB'a'\u00BB \u201E'b' \u00BF\"c?\" \u00A1'd!' \u2039\"e\"")) {
        // Typed as a keyboard layout of those languages sends them.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(view.view.get(), &press);
    }
    EXPECT_EQ(view->string(),
        QString("\u00AB\u2018a\u2019\u00BB \u201E\u2018b\u2019 \u00BF\u201Cc?\u201D \u00A1\u2018d!\u2019 "
                "\u2039\u201Ce\u201D"));
}

namespace {

// Types `typed` into a view with automatic correction on and gives back what stands once every
// correction has come: a misspelt word typed after it is corrected last, as corrections come in order.
QString typedWithCorrection(const QString& typed)
{
    ShownView view;
    view->setIsAutomaticSpellingCorrectionEnabled(true);
    QTest::keyClicks(view.view.get(), typed + " recieve ");
    EXPECT_TRUE(waitFor([&] { return view->string().endsWith(" receive "); })) << typed.toStdString();
    return view->string().chopped(QStringLiteral(" receive ").size());
}

} // namespace

// Web and e-mail addresses, paths and abbreviations typed with correction on stay as typed, while
// a word that ends a sentence is still corrected once the space after it comes.
TEST(EDTextViewTextChecking, AutomaticCorrectionLeavesAddressesAlone)
{
    const struct {
        QString typed;
        QString expected;
    } cases[] = {
        { "see www.exmaple.com now", "see www.exmaple.com now" },
        { "mail jonh.smiht@exmaple.org now", "mail jonh.smiht@exmaple.org now" },
        { "go to https://gihtub.com/foo", "go to https://gihtub.com/foo" },
        { "in /usr/lcoal/bin", "in /usr/lcoal/bin" },
        { "ask teh.", "ask the." },
        { "he said \"teh.\"", "he said \"the.\"" },
        { "(see teh.)", "(see the.)" },
        { "Ratio: teh:", "Ratio: the:" },
        // The words of an address after its first part, whatever comes between them.
        { "see https://en.wikipedia.org/wiki/Foo_(barr) now",
            "see https://en.wikipedia.org/wiki/Foo_(barr) now" },
        { "see www.exmaple.com/some-pgae? now", "see www.exmaple.com/some-pgae? now" },
        { "at exmaple.com/a-serach, now", "at exmaple.com/a-serach, now" },
        { "at https://exmaple.com/x?q=a+serach now", "at https://exmaple.com/x?q=a+serach now" },
        { "a self-contianed (teh) list", "a self-contained (the) list" },
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(typedWithCorrection(testCase.typed), testCase.expected);
}

// An apostrophe typed in a web address stays as typed; in prose, and a double quote after an
// address, still turn.
TEST(EDTextViewTextChecking, SmartQuotesLeaveApostrophesInWebAddresses)
{
    ShownView view;
    view->setIsAutomaticQuoteSubstitutionEnabled(true);
    QTest::keyClicks(view.view.get(), "Ender's https://en.wikipedia.org/wiki/Ender's_Game \"www.x.org/a's\"");
    EXPECT_EQ(
        view->string(), "Ender\u2019s https://en.wikipedia.org/wiki/Ender's_Game \u201Cwww.x.org/a's\u201D");
}

// An automatic correction that the user takes back with Undo is not made again in that text, not
// even once the word is ended again; other words, and the same word in another text, still are.
TEST(EDTextViewTextChecking, ACorrectionTakenBackIsNotMadeAgain)
{
    ShownView view;
    view->setIsAutomaticSpellingCorrectionEnabled(true);
    QTest::keyClicks(view.view.get(), "I saw teh ");
    ASSERT_TRUE(waitFor([&] { return view->string() == "I saw the "; }));
    QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
    ASSERT_EQ(view->string(), "I saw teh ");
    // Undo leaves the caret after the word it put back: the next key ends it again.
    view.setCaret(9);
    QTest::keyClicks(view.view.get(), ",");
    view.setCaret(view->string().size());
    QTest::keyClicks(view.view.get(), "teh recieve ");
    // Corrections come in order: once the last one is in, none came before it.
    ASSERT_TRUE(waitFor([&] { return view->string().endsWith("receive "); }));
    EXPECT_EQ(view->string(), "I saw teh, teh receive ");

    ShownView other;
    other->setIsAutomaticSpellingCorrectionEnabled(true);
    QTest::keyClicks(other.view.get(), "teh ");
    EXPECT_TRUE(waitFor([&] { return other->string() == "the "; }));
}

// Provisional text of an input method is the input method's: no quote or correction turns it, while
// the text it commits is substituted as typed text is.
TEST(EDTextViewTextChecking, NoSubstitutionInsideAComposition)
{
    ShownView view;
    view->setIsAutomaticQuoteSubstitutionEnabled(true);
    QTest::keyClicks(view.view.get(), "a ");
    const auto compose = [&](const QString& preedit, const QString& commit) {
        QInputMethodEvent event(preedit, {});
        event.setCommitString(commit);
        QApplication::sendEvent(view.view.get(), &event);
    };
    compose("'", QString());
    EXPECT_EQ(view->string(), "a '");
    compose(QString(), "\u00E9");
    EXPECT_EQ(view->string(), "a \u00E9");
    QTest::keyClicks(view.view.get(), " ");
    compose("'", QString());
    EXPECT_EQ(view->string(), "a \u00E9 '");
    compose(QString(), "'");
    EXPECT_EQ(view->string(), "a \u00E9 \u2018");
}

// A word in capitals or with a digit is a name, an acronym or a code, not a misspelling.
TEST(EDTextViewTextChecking, AutomaticCorrectionLeavesCapitalsAndDigitsAlone)
{
    const struct {
        QString typed;
        QString expected;
    } cases[] = {
        { "NASAA landed", "NASAA landed" },
        { "the QWERTZY team", "the QWERTZY team" },
        { "TEH'S plan", "TEH'S plan" },
        { "teh2 and B2B", "teh2 and B2B" },
        { "Teh end", "The end" },
        { "Recieve it", "Receive it" },
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(typedWithCorrection(testCase.typed), testCase.expected);
}

// The spelling panel walks through the text: Find Next selects a misspelt word and shows its
// guesses, Change replaces it and goes on, Ignore skips it from then on.
TEST(EDTextViewTextChecking, SpellingPanelChangesAndIgnoresWords)
{
    const QString text = "Ths is a tset of the panel.";
    ShownView view(text);
    view->showGuessPanel();
    SpellingPanel* panel = SpellingPanel::visiblePanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->target(), view.view.get());
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().contains("Ths"); }));
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 0, 3 }));
    EXPECT_FALSE(panel->wordField()->text().isEmpty());

    panel->wordField()->setText("This");
    panel->changeButton()->click();
    EXPECT_TRUE(view->string().startsWith("This is a tset"));
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().contains("tset"); }));
    EXPECT_EQ(view->selectedRange(), (CharacterRange { text.indexOf("tset") + 1, 4 }));

    panel->ignoreButton()->click();
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().startsWith("No spelling"); }));
    EXPECT_TRUE(marks(*view).empty());
    const QPointer<SpellingPanel> closed(panel);
    panel->close();
    EXPECT_TRUE(waitFor([&] { return !closed; }));
}

// Settings changed while a check runs drop that check and start over; a view closed meanwhile
// takes nothing more from its worker.
TEST(EDTextViewTextChecking, ChecksInFlightAreDroppedWhenSettingsChangeOrTheViewGoes)
{
    QString text;
    for (int i = 0; i < 4000; ++i)
        text += QStringLiteral("A paragrap of words, wordz and more words.\n");
    {
        ShownView closing(text);
        closing->setIsContinuousSpellCheckingEnabled(true);
        EXPECT_FALSE(closing->textCheckingController().isIdle());
    }
    ShownView view(text);
    view->setIsContinuousSpellCheckingEnabled(true);
    view->setIsContinuousSpellCheckingEnabled(false);
    EXPECT_TRUE(view->textCheckingController().isIdle());
    view->setIsContinuousSpellCheckingEnabled(true);
    ASSERT_TRUE(waitUntilChecked(*view));
    EXPECT_EQ(marks(*view).size(), 8000u);
}

// Marks repaint the view where it shows them: a check of a long text does not repaint the view for
// every paragraph and mark below what shows, and a paragraph without marks is not repainted.
TEST(EDTextViewTextChecking, MarksRepaintOnlyWhatTheViewShows)
{
    QString text = "A wrod in view.\n";
    for (int i = 0; i < 300; ++i)
        text += "A clean line of words.\n";
    text += "A wrod far below.";
    ShownView view(text);
    const qsizetype near = text.indexOf("wrod"), far = text.lastIndexOf("wrod");
    const QString key = TextCheckingController::spellingStateKey;
    const auto repaintsNear = [&](const std::function<void()>& change) {
        return paintedBy(view->viewport(), change).contains(view.pointOf(near + 2));
    };

    EXPECT_TRUE(repaintsNear([&] { view->addAnnotations({ { key, "1" } }, { near, 4 }); }));
    EXPECT_FALSE(repaintsNear([&] { view->addAnnotations({ { key, "1" } }, { far, 4 }); }));
    EXPECT_FALSE(repaintsNear([&] { view->removeAnnotation(key, { far, 4 }); }));
    EXPECT_FALSE(repaintsNear([&] {
        view->removeAnnotation(key, { near + 4, 10 });
    })) << "nothing marked there";
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("wrod") }));
    EXPECT_TRUE(repaintsNear([&] { view->removeAnnotation(key, { 0, text.size() }); }));
    EXPECT_TRUE(marks(*view).empty());

    // Checking marks both; the one in view shows. Scrolled down, the other shows too.
    EXPECT_TRUE(repaintsNear([&] {
        view->setIsContinuousSpellCheckingEnabled(true);
        EXPECT_TRUE(waitUntilChecked(*view));
    }));
    EXPECT_EQ(marks(*view), (std::vector<Mark> { spelling("wrod"), spelling("wrod") }));
    const QRegion scrolled = paintedBy(view->viewport(), [&] { view->scrollRangeToVisible({ far, 4 }); });
    EXPECT_TRUE(scrolled.contains(view.pointOf(far + 2)));
}

// A check in flight when a word is learnt looked it up before: what it sends back must not mark
// the word again. The text takes two snapshots; the word is learnt as the second one is checked.
TEST(EDTextViewTextChecking, AWordLearntWhileACheckIsInFlightIsNotMarkedAgain)
{
    QString text;
    for (int i = 0; i < 60000; ++i)
        text += i % 7 == 0 ? "Glimbrot wrokle fendrak and qeplar.\n" : "Glimbrot said the plan was fine.\n";
    for (const int delay : { 0, 7 }) {
        ShownView view(text);
        TextCheckingController& controller = view->textCheckingController();
        view->setIsContinuousSpellCheckingEnabled(true);
        bool learnt = false;
        QObject::connect(&controller, &TextCheckingController::didCheck, [&](qint64, qint64) {
            QTimer::singleShot(delay, &controller, [&] {
                if (!std::exchange(learnt, true))
                    controller.learnSpelling("glimbrot");
            });
        });
        // A long text, so that a check is under way when the word is learnt: slow builds (the
        // sanitizers') take seconds over each check of it.
        constexpr int wholeChecks = 60'000;
        ASSERT_TRUE(waitFor([&] { return learnt && controller.isIdle(); }, wholeChecks));
        const auto left = marks(*view);
        // Three misspellings on every seventh line, and no Glimbrot.
        EXPECT_EQ(left.size(), 25716u);
        TextCheckingController::checkEveryTextAgain();
        ASSERT_TRUE(waitFor([&] { return controller.isIdle(); }, wholeChecks));
        EXPECT_TRUE(left == marks(*view));
        ASSERT_TRUE(platform::SpellChecker::shared().unlearnWord("glimbrot").isSuccess());
    }
}

// Change in the spelling panel corrects the word it found, not whatever was selected since (it
// shows the next problem from there instead); a word that moved with an edit before it is still
// the one corrected.
TEST(EDTextViewTextChecking, SpellingPanelChangesOnlyTheWordItFound)
{
    const QString text = "Ths is a tset.";
    ShownView view(text);
    view->showGuessPanel();
    SpellingPanel* panel = SpellingPanel::visiblePanel();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().contains("Ths"); }));

    view->setSelectedRange({ 4, 2 });
    panel->wordField()->setText("This");
    panel->changeButton()->click();
    EXPECT_EQ(view->string(), text);
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().contains("tset"); }));
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 9, 4 }));

    // Text put before the word moves it, and the selection with it.
    view->insertText(QStringLiteral("So "), { 0, 0 });
    view->setSelectedRange({ 12, 4 });
    panel->wordField()->setText("test");
    panel->changeButton()->click();
    EXPECT_EQ(view->string(), "So Ths is a test.");
    panel->close();
}

// A spelling panel left open over a text view that closes forgets that view's word: its buttons
// have nothing to act on. Over a view that turns read-only, the panels offer no change.
TEST(EDTextViewTextChecking, SpellingPanelForgetsAClosedView)
{
    auto view = std::make_unique<ShownView>("Ths is it.");
    (*view)->showGuessPanel();
    SpellingPanel* panel = SpellingPanel::visiblePanel();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().contains("Ths"); }));
    EXPECT_TRUE(panel->ignoreButton()->isEnabled());
    // A note that stays open but may no longer change takes no correction.
    ASSERT_TRUE(panel->changeButton()->isEnabled());
    (*view)->setIsEditable(false);
    EXPECT_TRUE(waitFor([&] { return !panel->changeButton()->isEnabled(); }));
    (*view)->setIsEditable(true);
    EXPECT_TRUE(waitFor([&] { return panel->changeButton()->isEnabled(); }));
    view.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(panel->problemLabel()->text().contains("Ths"));
    EXPECT_FALSE(panel->changeButton()->isEnabled());
    EXPECT_FALSE(panel->ignoreButton()->isEnabled());
    EXPECT_FALSE(panel->learnButton()->isEnabled());
    EXPECT_FALSE(panel->findNextButton()->isEnabled());
    panel->close();

    auto other = std::make_unique<ShownView>("Words.");
    (*other)->orderFrontSubstitutionsPanel();
    SubstitutionsPanel& substitutions = SubstitutionsPanel::shared();
    ASSERT_EQ(substitutions.target(), other->view.get());
    EXPECT_TRUE(substitutions.smartQuotesBox()->isEnabled());
    (*other)->setIsEditable(false);
    EXPECT_TRUE(waitFor([&] { return !substitutions.smartQuotesBox()->isEnabled(); }));
    other.reset();
    EXPECT_FALSE(substitutions.smartQuotesBox()->isEnabled());
    substitutions.close();
}

// The panels serve the note the user works in: moving to another note moves them there, and what
// the spelling panel found in the first is not the second's to change.
TEST(EDTextViewTextChecking, PanelsServeTheNoteTheUserWorksIn)
{
    ShownView first("Ths is one.");
    ShownView second("A wrod in two.");
    first->showGuessPanel();
    SpellingPanel* panel = SpellingPanel::visiblePanel();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().contains("Ths"); }));
    const auto workIn = [](ShownView& view) {
        view->activateWindow();
        view->setFocus();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.view.get()));
        QCoreApplication::processEvents();
    };

    workIn(second);
    EXPECT_EQ(panel->target(), second.view.get());
    EXPECT_FALSE(panel->problemLabel()->text().contains("Ths"));
    EXPECT_FALSE(panel->changeButton()->isEnabled());
    panel->findNextButton()->click();
    ASSERT_TRUE(waitFor([&] { return panel->problemLabel()->text().contains("wrod"); }));
    EXPECT_EQ(second->selectedRange(), (CharacterRange { 2, 4 }));
    panel->close();

    first->setIsAutomaticQuoteSubstitutionEnabled(true);
    first->orderFrontSubstitutionsPanel();
    SubstitutionsPanel& substitutions = SubstitutionsPanel::shared();
    EXPECT_TRUE(substitutions.smartQuotesBox()->isChecked());
    workIn(second);
    EXPECT_EQ(substitutions.target(), second.view.get());
    EXPECT_FALSE(substitutions.smartQuotesBox()->isChecked());
    substitutions.smartQuotesBox()->click();
    EXPECT_TRUE(second->isAutomaticQuoteSubstitutionEnabled());
    EXPECT_TRUE(first->isAutomaticQuoteSubstitutionEnabled());
    substitutions.close();
    // The toggle is the user's choice for new views: put it back for later tests.
    platform::UserDefaults::standard().setInteger("AutomaticQuoteSubstitutionEnabled", 0);
}

// A guess chosen from a context menu after the text changed under it replaces nothing but the word
// it was offered for.
TEST(EDTextViewTextChecking, MenuGuessLeavesTextThatMovedUnderIt)
{
    CheckedView view("Ths is it.");
    QMenu* menu = view.menuAt(1);
    ASSERT_TRUE(menu);
    const QString guess = menu->actions().front()->text();
    ASSERT_FALSE(guess.isEmpty());
    view->insertText(QStringLiteral("So "), { 0, 0 });
    menu->actions().front()->trigger();
    EXPECT_EQ(view->string(), "So Ths is it.");

    ASSERT_TRUE(waitUntilChecked(*view));
    menu = view.menuAt(4);
    ASSERT_TRUE(menu);
    menu->actions().front()->trigger();
    EXPECT_EQ(view->string(), "So " + guess + " is it.");
}
