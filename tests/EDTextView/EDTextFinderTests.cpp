#include "EDTextView/EDFindBar.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextSearch.h"
#include "TextViewTestSupport.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/UndoManager.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

#include <QRegularExpression>
#include <QSignalSpy>

#include <random>
#include <set>


using namespace textviewtest;
using platform::CharacterRange;
using platform::TextRange;

namespace {

// Refuses edits of one range, and counts what it was asked.
class RefusingDelegate : public EDTextViewDelegate {
public:
    std::optional<TextRange> refused;
    int asked = 0;
    bool textViewShouldChangeText(EDTextView&, TextRange range, const QString&) override
    {
        ++asked;
        return !refused || range != *refused;
    }
};

std::vector<qint64> freshSearch(const EDTextView& view, const QString& string, EDTextSearchOptions options)
{
    return EDTextSearch(view.textContentStorage(), string, options).all();
}

std::vector<qint64> indexOfLoop(const QString& text, const QString& word, Qt::CaseSensitivity cs)
{
    std::vector<qint64> result;
    for (qsizetype at = text.indexOf(word, 0, cs); at >= 0; at = text.indexOf(word, at + word.size(), cs))
        result.push_back(at);
    return result;
}

void press(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    // As the application delivers a key: the shortcut override first, then the press if nothing
    // took it.
    QKeyEvent override(QEvent::ShortcutOverride, key, modifiers);
    QCoreApplication::sendEvent(widget, &override);
    QTest::keyClick(widget, key, modifiers);
}


} // namespace

// The client answers in UTF-16 ranges, makes one selection of every range and leaves out what does
// not convert or is transient.
TEST(EDTextFinderClient, AnswersInUtf16RangesAndSelectsThroughOneSelection)
{
    ShownView view;
    EDTextFinderClient& client = view->textFinderClient();
    EXPECT_EQ(client.string(), QString());
    EXPECT_EQ(client.stringLength(), 0);
    view->setString(u"h\u00e9llo"_qs);
    EXPECT_EQ(client.stringLength(), 5);
    view->setString(u"a\U0001F600b\nsecond line\nthird"_qs);
    EXPECT_EQ(client.stringLength(), 22) << "a character outside the BMP counts 2";
    EXPECT_TRUE(client.isEditable() && client.isSelectable() && !client.allowsMultipleSelection());

    client.setSelectedRanges({ { 0, 1 }, { 5, 6 }, { 999, 1 } });
    ASSERT_EQ(view->textLayoutManager().textSelections().size(), 1u);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { { 0, 1 }, { 5, 11 } }));
    EXPECT_EQ(client.selectedRanges(), (std::vector<CharacterRange> { { 0, 1 }, { 5, 6 } }));
    EXPECT_EQ(client.firstSelectedRange(), (CharacterRange { 0, 1 }));
    client.setSelectedRanges({ { 999, 1 } });
    EXPECT_EQ(view.ranges().size(), 2u) << "a selection of nothing is not made";

    auto selections = view->textLayoutManager().textSelections();
    platform::TextSelection transient(TextRange(2, 3));
    transient.isTransient = true;
    selections.push_back(transient);
    view->textLayoutManager().setTextSelections(selections);
    EXPECT_EQ(client.selectedRanges().size(), 2u) << "transient selections are left out";

    view.settle();
    const auto rects = client.rectsForCharacterRange({ 3, 16 });
    ASSERT_TRUE(rects);
    ASSERT_EQ(rects->size(), 3u) << "one rectangle per line";
    EXPECT_LT((*rects)[0].top(), (*rects)[1].top());
    EXPECT_LT((*rects)[1].top(), (*rects)[2].top());
    EXPECT_FALSE(client.rectsForCharacterRange({ 25, 1 }));
    CharacterRange effective { 7, 7 };
    EXPECT_EQ(client.contentView(3, &effective), view.view.get());
    EXPECT_EQ(effective, (CharacterRange { 0, 22 }));

    // The paragraph at a range's start is drawn for the client's own view only.
    auto drawn = [&](const QWidget* contentView) {
        QImage image(view->bounds().size().toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        client.drawCharacters({ 6, 2 }, contentView, &painter);
        painter.end();
        return std::any_of(reinterpret_cast<const QRgb*>(image.constBits()),
            reinterpret_cast<const QRgb*>(image.constBits()) + image.width() * image.height(),
            [](QRgb pixel) { return qAlpha(pixel) != 0; });
    };
    EXPECT_TRUE(drawn(view.view.get()));
    QWidget other;
    EXPECT_FALSE(drawn(&other));

    EDTextFinderClient orphan;
    EXPECT_EQ(orphan.firstSelectedRange(), (CharacterRange { 0, 0 }));
    EXPECT_FALSE(orphan.shouldReplaceCharacters({ { 0, 1 } }, { "x" }));
    EXPECT_FALSE(orphan.rectsForCharacterRange({ 0, 1 }));
}

TEST(EDTextFinderClient, ShouldReplaceStopsAtTheFirstRefusalAndSkipsRangesOutsideTheText)
{
    ShownView view("one two three");
    auto delegate = std::make_shared<RefusingDelegate>();
    view->setDelegate(delegate);
    EDTextFinderClient& client = view->textFinderClient();
    delegate->refused = TextRange(4, 7);
    EXPECT_FALSE(client.shouldReplaceCharacters({ { 0, 3 }, { 4, 3 }, { 8, 5 } }, { "1", "2", "3" }));
    EXPECT_EQ(delegate->asked, 2) << "the third pair is not asked about";
    delegate->asked = 0;
    EXPECT_TRUE(client.shouldReplaceCharacters({ { 0, 3 }, { 40, 1 }, { 8, 5 } }, { "1", "2" }));
    EXPECT_EQ(delegate->asked, 1) << "a range beyond the text is skipped, and so is a pair without a string";
    EXPECT_TRUE(client.shouldReplaceCharacters({}, {}));
}

// Under a line-height multiple the glyphs are drawn in the middle of their taller row: the
// rectangles of a range cover its letters there, not the foot of the row below them.
TEST(EDTextFinderClient, TheRectanglesOfARangeCoverItsLettersAtEveryLineHeight)
{
    for (const double multiple : { 0.8, 1.0, 1.5, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        // Ink on the middle line only, from the top of an "H" to the foot of a "g".
        ShownView view(QStringLiteral("\nHg Hg\n\n"));
        setLineHeightMultiple(*view, multiple);
        view->setTextColor(QColor(0, 0, 0), CharacterRange { 0, 8 });
        view->setInsertionPointColor(Qt::red);
        view.setCaret(0);
        view.settle();
        const QImage shot = view->viewport()->grab().toImage();
        const auto [inkTop, inkBottom] = inkRows(shot);
        ASSERT_GE(inkTop, 0);
        const auto rects = view->textFinderClient().rectsForCharacterRange({ 1, 5 });
        ASSERT_TRUE(rects);
        ASSERT_EQ(rects->size(), 1u);
        const QRectF rect((view->viewToViewport(rects->front().topLeft())), rects->front().size());
        EXPECT_LE(rect.top(), inkTop + 1) << "the top of the letters sticks out above";
        EXPECT_GE(rect.top(), inkTop - 5) << "it reaches far above the letters";
        EXPECT_GE(rect.bottom(), inkBottom - 1) << "the foot of the g sticks out below";
        EXPECT_LE(rect.bottom(), inkBottom + 3) << "it reaches far below the letters";
    }
}

// Case, whole words, matches that could overlap, text outside the BMP and matches across
// paragraphs, on text kept in many small pieces.
TEST(EDTextSearch, FindsMatchesWithItsOptions)
{
    struct Case {
        QString text;
        QString string;
        EDTextSearchOptions options;
        std::vector<qint64> expected;
    };
    const Case cases[] = {
        { "The the THE", "the", {}, { 0, 4, 8 } },
        { "The the THE", "the", { true, false }, { 4 } },
        { "cat concat cat_ cat. caté cat", "cat", { false, true }, { 0, 16, 26 } },
        { "\U0001F600cat \U0001D400cat", "cat", { false, true }, { 2 } },
        { "aaaa aaa", "aa", {}, { 0, 2, 5 } },
        { "(x) (x)y", "(x)", { false, true }, { 0, 4 } },
        { "end\nstart end\nstart", "end\nstart", {}, { 0, 10 } },
        { "Stra\u00dfe STRASSE", "stra\u00dfe", {}, { 0, 7 } },
    };
    for (const Case& c : cases) {
        ShownView view;
        view->textContentStorage().setChunkLimits(2, 8);
        view->setString(c.text);
        EXPECT_EQ(freshSearch(*view, c.string, c.options), c.expected) << c.text.toStdString();
    }
}

// Ignoring case compares full case foldings, where one character may stand for two: every match
// covers whole characters, and its length is that of the text it covers.
TEST(EDTextSearch, IgnoringCaseComparesFullCaseFoldings)
{
    struct Case {
        QString text;
        QString string;
        bool caseSensitive;
        std::vector<std::pair<qint64, qint64>> expected; // start, length
    };
    const Case cases[] = {
        { u"Stra\u00dfe STRASSE Strasse STRA\u1E9EE"_qs, u"stra\u00dfe"_qs, false,
            { { 0, 6 }, { 7, 7 }, { 15, 7 }, { 23, 6 } } },
        { u"Stra\u00dfe STRASSE"_qs, u"strasse"_qs, false, { { 0, 6 }, { 7, 7 } } },
        { u"Stra\u00dfe stra\u00dfe STRASSE"_qs, u"stra\u00dfe"_qs, true, { { 7, 6 } } },
        { u"\u0130stanbul ISTANBUL istanbul"_qs, u"istanbul"_qs, false, { { 0, 8 }, { 9, 8 }, { 18, 8 } } },
        { u"istanbul"_qs, u"\u0130STANBUL"_qs, false, { { 0, 8 } } },
        { u"\u0131stanbul"_qs, u"istanbul"_qs, false, {} },
        { u"a\u00dfb \u00df"_qs, u"ss"_qs, false, { { 1, 1 }, { 4, 1 } } },
        { u"\u00df"_qs, u"s"_qs, false, {} },
        { u"\ufb01ne fine"_qs, u"FINE"_qs, false, { { 0, 3 }, { 4, 4 } } },
        { u"\u00dfs ss\u00df"_qs, u"sss"_qs, false, { { 0, 2 }, { 4, 2 } } },
        { u"MASSE Ma\u00dfe"_qs, u"masse"_qs, false, { { 0, 5 }, { 6, 4 } } },
    };
    for (const Case& c : cases) {
        ShownView view;
        view->textContentStorage().setChunkLimits(2, 8);
        view->setString(c.text);
        const EDTextSearch search(view->textContentStorage(), c.string, { c.caseSensitive, false });
        std::vector<std::pair<qint64, qint64>> found;
        for (const qint64 at : search.all())
            found.emplace_back(at, search.lengthAt(at));
        EXPECT_EQ(found, c.expected) << c.text.toStdString() << " / " << c.string.toStdString();
    }
    ShownView view(u"a\u00dfb \u00df"_qs);
    EXPECT_EQ(freshSearch(*view, "SS", { false, true }), (std::vector<qint64> { 4 })) << "a whole word";
}

// A match never ends or starts inside a grapheme cluster: "cafe" is not found in a decomposed "café"
// (nor in a precomposed one), and replacing leaves every accent on its letter.
TEST(EDTextSearch, AMatchKeepsEveryMarkWithItsLetter)
{
    struct Case {
        QString text;
        QString string;
        std::vector<qint64> expected;
    };
    const Case cases[] = {
        { u"cafe\u0301 caf\u00e9 cafe."_qs, u"cafe"_qs, { 11 } },
        { u"cafe\u0301 cafe"_qs, u"cafe\u0301"_qs, { 0 } },
        { u"e\u0301e"_qs, u"e"_qs, { 2 } },
        { u"x \u0301"_qs, u"\u0301"_qs, {} },
        // Nothing combines with a line break or a tab: a stray mark after one leaves it findable.
        { u"end\n\u0301x end\nx"_qs, u"end\n"_qs, { 0, 7 } },
        { u"a\r\n\u0301\t\u0301 b\u0301"_qs, u"\u0301"_qs, { 3, 5 } },
        { u"a\r\nb\r"_qs, u"\r"_qs, { 4 } },
        { u"\U0001F44D\U0001F3FD \U0001F44D"_qs, u"\U0001F44D"_qs, { 5 } },
        { u"\u1100\u1161 \u1100"_qs, u"\u1100"_qs, { 3 } },
    };
    for (const Case& c : cases) {
        ShownView view;
        view->textContentStorage().setChunkLimits(2, 8);
        view->setString(c.text);
        EXPECT_EQ(freshSearch(*view, c.string, {}), c.expected) << c.text.toStdString();
    }

    ShownView view(u"cafe\u0301 au lait, cafe noir"_qs);
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("cafe");
    finder.setReplaceString("tea");
    finder.performAction(EDTextFinder::replaceAll);
    EXPECT_EQ(view->string(), u"cafe\u0301 au lait, tea noir"_qs);

    // A copy that takes the place of a line break takes the mark after it too: the match there is
    // gone.
    view->setString(u"\n\u0301x\n\u0301x\n"_qs);
    finder.setSearchString(u"\u0301x\n"_qs);
    ASSERT_EQ(finder.matches(), (std::vector<qint64> { 1, 4 }));
    finder.setReplaceString("y");
    view->setSelectedRange({ 0, 4 });
    finder.performAction(EDTextFinder::replaceAllInSelection);
    EXPECT_EQ(view->string(), u"\ny\u0301x\n"_qs);
    EXPECT_EQ(finder.matches(), freshSearch(*view, finder.searchString(), finder.options()));
}

// An accented letter is found whether it is written as one character or as the letter and its
// mark, in either case or exactly, and replacing every way it is written undoes to the same text.
TEST(EDTextSearch, AnAccentedLetterIsFoundHoweverItIsWritten)
{
    const QString text = u"cafe\u0301 caf\u00e9 CAF\u00c9 CAFE\u0301 cafe \u212b \u00e5"_qs;
    ShownView view(text);
    view->textContentStorage().setChunkLimits(2, 8);
    view->setString(text);
    for (const QString& string : { u"caf\u00e9"_qs, u"cafe\u0301"_qs, u"CAF\u00c9"_qs }) {
        const EDTextSearch search(view->textContentStorage(), string, {});
        std::vector<std::pair<qint64, qint64>> found;
        for (const qint64 at : search.all())
            found.emplace_back(at, search.lengthAt(at));
        EXPECT_EQ(
            found, (std::vector<std::pair<qint64, qint64>> { { 0, 5 }, { 6, 4 }, { 11, 4 }, { 16, 5 } }))
            << string.toStdString();
    }
    EXPECT_EQ(freshSearch(*view, u"caf\u00e9"_qs, { true, false }), (std::vector<qint64> { 0, 6 }));
    EXPECT_EQ(freshSearch(*view, u"CAFE\u0301"_qs, { true, true }), (std::vector<qint64> { 11, 16 }));
    EXPECT_EQ(freshSearch(*view, u"a\u030a"_qs, {}), (std::vector<qint64> { 27, 29 }))
        << "the angstrom sign too";

    EDTextFinder& finder = view->textFinder();
    finder.setSearchString(u"caf\u00e9"_qs);
    finder.setReplaceString("tea");
    finder.performAction(EDTextFinder::replaceAll);
    EXPECT_EQ(view->string(), u"tea tea tea tea cafe \u212b \u00e5"_qs);
    view->undoManager()->undo();
    EXPECT_EQ(view->string(), text);
    EXPECT_EQ(finder.matches(), (std::vector<qint64> { 0, 6, 11, 16 }));
}

// Replace All leaves the selection on the text it held, wherever the matches around it are, and
// a selection that reached into a match holds all of its copy: the caret does not jump to where
// the replaced text ends, nor the view with it.
TEST(EDTextFinder, ReplaceAllLeavesTheSelectionOnTheTextItHeld)
{
    struct Case {
        QString text;
        CharacterRange selected;
        int action;
        CharacterRange expected;
    };
    const Case cases[] = {
        { "cat one two cat three four cat", { 16, 5 }, EDTextFinder::replaceAll, { 20, 5 } },
        { "cat one two cat three four cat", { 12, 3 }, EDTextFinder::replaceAll, { 14, 5 } },
        { "cat one two cat three four cat", { 13, 0 }, EDTextFinder::replaceAll, { 19, 0 } },
        { "cat one two cat three four cat", { 9, 4 }, EDTextFinder::replaceAll, { 11, 8 } },
        { "cat1 cat2 cat3 cat4", { 5, 9 }, EDTextFinder::replaceAllInSelection, { 5, 13 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selected.location);
        ShownView view(c.text);
        EDTextFinder& finder = view->textFinder();
        finder.setSearchString("cat");
        finder.setReplaceString("tiger");
        view->setSelectedRange(c.selected);
        finder.performAction(c.action);
        EXPECT_EQ(view->selectedRange(), c.expected);
    }
    {
        // A copy that joins a CR to an LF leaves no caret between them: a key typed there would
        // split the line end again.
        ShownView view(u"a\rcat\nb"_qs);
        view->setSelectedRange({ 2, 3 });
        view->textFinder().setSearchString("cat");
        view->textFinder().setReplaceString("");
        view->textFinder().performAction(EDTextFinder::replaceAll);
        EXPECT_EQ(view->string(), u"a\r\nb"_qs);
        EXPECT_EQ(view->selectedRange(), (CharacterRange { 1, 0 }));
    }

    // In a long note, a selection far from the first match.
    QString text;
    while (text.size() < 200'000)
        text += QStringLiteral("the quick brown fox jumps over the lazy dog\n");
    ShownView view(text);
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("fox");
    finder.setReplaceString("wolf");
    const qint64 line = 3000;
    view->setSelectedRange({ line * 44 + 20, 5 });
    finder.performAction(EDTextFinder::replaceAll);
    view.settle();
    EXPECT_EQ(view->selectedRange(), (CharacterRange { line * 45 + 21, 5 }));
    EXPECT_EQ(view->string().mid(line * 45 + 21, 5), "jumps");
    const auto rects = view->textFinderClient().rectsForCharacterRange({ line * 45 + 21, 5 });
    ASSERT_TRUE(rects && rects->size() == 1u);
    const QRectF shown(view->viewToViewport(rects->front().topLeft()), rects->front().size());
    EXPECT_TRUE(QRectF(view->viewport()->rect()).contains(shown)) << "the view stays there";
}

// Replacing, stepping and selecting go by each match's own length where folding changes it.
TEST(EDTextFinder, MatchesOfAnotherLengthAreSelectedAndReplacedWhole)
{
    ShownView view(u"Stra\u00dfe, STRASSE, stra\u00dfe"_qs);
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("strasse");
    view.setCaret(0);
    finder.performAction(EDTextFinder::nextMatch);
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 0, 6 }));
    EXPECT_EQ(finder.currentMatch(), 0u);
    finder.performAction(EDTextFinder::nextMatch);
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 8, 7 }));
    finder.setReplaceString("road");
    finder.performAction(EDTextFinder::replace);
    view.settle();
    EXPECT_EQ(view->string(), u"Stra\u00dfe, road, stra\u00dfe"_qs);
    finder.performAction(EDTextFinder::replaceAll);
    view.settle();
    EXPECT_EQ(view->string(), u"road, road, road"_qs);
    EXPECT_TRUE(finder.matches().empty());
    view->undoManager()->undo();
    EXPECT_EQ(finder.matches(), (std::vector<qint64> { 0, 14 }));
    EXPECT_EQ(finder.matchRange(1), TextRange(14, 20));
}

// The storage's blocks (4 units here) end anywhere once edited, inside surrogate and CRLF pairs
// too; what a search finds across their joins is what it finds in the same text kept in one piece.
TEST(EDTextSearch, MatchesAcrossBlockJoinsAreThoseOfTheTextInOnePiece)
{
    platform::TextContentStorage split;
    split.setChunkLimits(2, 8);
    QString text = QStringLiteral("ab a b");
    split.setString(text);
    const QString alphabet[] = { u"a"_qs, u"b"_qs, u" "_qs, u"\r\n"_qs, u"\n"_qs, u"\U0001D400"_qs,
        u"\U0001F600"_qs, u"_"_qs, u"A"_qs };
    const QString strings[] = { u"ab"_qs, u"a b"_qs, u"b\na"_qs, u"aa"_qs, u"\U0001D400a"_qs, u"A"_qs };
    std::mt19937 random(31);
    for (int edit = 0; edit < 300; ++edit) {
        const qint64 start = qint64(random() % quint32(text.size() + 1));
        const qint64 end = std::min<qint64>(text.size(), start + qint64(random() % 3));
        QString inserted;
        for (int i = int(random() % 4); i > 0; --i)
            inserted += alphabet[random() % std::size(alphabet)];
        text.replace(start, end - start, inserted);
        split.replaceCharacters(TextRange(start, end), platform::AttributedString(inserted));
        platform::TextContentStorage whole;
        whole.setString(text);
        const qint64 from = qint64(random() % quint32(text.size() + 1));
        const qint64 limit = from + qint64(random() % 20);
        const std::vector<TextRange> windows { TextRange(from, limit), TextRange(limit + 3, limit + 9) };
        for (const QString& string : strings) {
            for (const EDTextSearchOptions options : { EDTextSearchOptions { false, false },
                     EDTextSearchOptions { true, true }, EDTextSearchOptions { false, true } }) {
                const EDTextSearch inBlocks(split, string, options);
                const EDTextSearch inOnePiece(whole, string, options);
                ASSERT_EQ(inBlocks.all(), inOnePiece.all())
                    << string.toStdString() << " in " << text.toStdString();
                ASSERT_EQ(inBlocks.next(from, limit), inOnePiece.next(from, limit)) << text.toStdString();
                ASSERT_EQ(inBlocks.inWindows(windows), inOnePiece.inWindows(windows)) << text.toStdString();
            }
        }
    }
}

// Matches follow random edits exactly as a fresh search would find them, for strings that can and
// cannot overlap, with and without whole words, across small pieces of text.
TEST(EDTextFinder, MatchesFollowEditsAsAFreshSearchWould)
{
    ShownView view("aaaaa");
    view->textContentStorage().setChunkLimits(3, 24);
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("aa");
    EXPECT_EQ(finder.matches(), (std::vector<qint64> { 0, 2 }));
    // One more "a" in front shifts which pairs match, to the end of the run.
    view->replaceCharacters(TextRange(0), platform::AttributedString("a"), false);
    EXPECT_EQ(finder.matches(), (std::vector<qint64> { 0, 2, 4 }));

    std::mt19937 random(7);
    // `edits` random replacements of up to `most - 1` characters by as many from `alphabet`, each
    // followed by a comparison with a fresh search.
    const auto editRandomly = [&](const QString& string, const QString& alphabet, int edits, int most) {
        for (int edit = 0; edit < edits; ++edit) {
            const qint64 length = view->textContentStorage().length();
            const qint64 start = qint64(random() % quint32(length + 1));
            const qint64 end = std::min<qint64>(length, start + qint64(random() % quint32(most)));
            QString inserted;
            for (int i = int(random() % quint32(most)); i > 0; --i)
                inserted += alphabet[qsizetype(random() % quint32(alphabet.size()))];
            view->replaceCharacters(TextRange(start, end), platform::AttributedString(inserted), false);
            ASSERT_EQ(finder.matches(), freshSearch(*view, string, finder.options()))
                << string.toStdString() << " whole words " << finder.options().wholeWords << " after edit "
                << edit << " in \"" << view->string().toStdString() << '"';
        }
    };
    // Ignoring case, with characters that fold to two and combining marks.
    for (const QString& string : { u"ss"_qs, u"si"_qs, u"a"_qs }) {
        view->setString(u"ssss \u00dfs ia\u0301 SSi"_qs);
        finder.setOptions({ false, false });
        finder.setSearchString(string);
        editRandomly(string, u"ss\u00dfSia\u0130 \u0301"_qs, 300, 3);
    }
    for (const QString& string :
        { QStringLiteral("ab"), QStringLiteral("aa"), QStringLiteral("a b"), QStringLiteral("b\na") }) {
        for (const bool wholeWords : { false, true }) {
            // Long runs of "a", where a match that could overlap decides where the next ones are.
            view->setString(QStringLiteral("aaaaaaaaa b aaaaaaa\nab_ab aaaaaa\nbab ab"));
            finder.setOptions({ true, wholeWords });
            finder.setSearchString(string);
            editRandomly(string, QStringLiteral("aaaab \n_"), 400, 4);
        }
    }
}

// Typing a search string into the field looks for each longer string only where the one before
// it occurs, and finds what a full search finds: with every option, on text in small pieces with
// case pairs outside the BMP, for strings that can overlap themselves, and after edits between
// keystrokes. Typing on after the first letter makes no pass over the text.
TEST(EDTextFinder, TypingOnFindsAmongTheLastMatchesWhatAFullSearchFinds)
{
    ShownView view;
    view->textContentStorage().setChunkLimits(2, 8);
    EDTextFinder& finder = view->textFinder();
    const QString alphabet[] = { u"a"_qs, u"a"_qs, u"aa"_qs, u"A"_qs, u"b"_qs, u"ab"_qs, u"aba"_qs, u"c"_qs,
        u" "_qs, u"_"_qs, u"\n"_qs, u"\U00010400"_qs, u"\U00010428"_qs, u"\u00e9"_qs, u"."_qs, u"s"_qs,
        u"S"_qs, u"\u00df"_qs, u"\u0130"_qs, u"i"_qs, u"\u0301"_qs };
    std::mt19937 random(17);
    auto randomText = [&](int pieces) {
        QString text;
        for (int i = 0; i < pieces; ++i)
            text += alphabet[random() % std::size(alphabet)];
        return text;
    };
    int narrowed = 0;
    int recalled = 0;
    for (int round = 0; round < 80; ++round) {
        view->setString(randomText(400));
        // Strings that can overlap themselves on the way ("aa", "aba"), strings that fold to another
        // length or end before a combining mark, and random ones.
        const QString words[] = { u"abc.A"_qs, u"aaab a"_qs, u"abab_a"_qs, randomText(6), u"as\u00dfi a"_qs,
            u"issa\u0301b"_qs, u"\u0130sS"_qs, randomText(6) };
        const QString typed = words[round % 8];
        for (const EDTextSearchOptions options :
            { EDTextSearchOptions { false, false }, EDTextSearchOptions { true, false },
                EDTextSearchOptions { false, true }, EDTextSearchOptions { true, true } }) {
            finder.setOptions(options);
            finder.setSearchString(QString());
            // Typed key by key, then taken back with Backspace: a string typed since the last edit
            // is not searched again.
            qsizetype typedSinceEdit = 1;
            for (qsizetype length = 1; length <= typed.size(); ++length) {
                const bool edited = random() % 8 == 0;
                if (edited) {
                    const qint64 at = qint64(random() % quint32(view->textContentStorage().length() + 1));
                    view->replaceCharacters(TextRange(at), platform::AttributedString(randomText(2)), false);
                    typedSinceEdit = length;
                }
                const QString string = typed.first(length);
                const bool canNarrow = length > 1 && !edited;
                const quint64 passes = EDTextSearch::passCount();
                finder.searchIncrementally(string);
                const quint64 passesAfter = EDTextSearch::passCount();
                ASSERT_EQ(finder.matches(), freshSearch(*view, string, options))
                    << string.toStdString() << " case " << options.caseSensitive << " words "
                    << options.wholeWords << " in \"" << view->string().toStdString() << '"';
                if (canNarrow) {
                    // Characters that fold to several are looked for in one pass of their own.
                    const bool uniform = EDTextSearch(view->textContentStorage(), string, options).hasUniformLength();
                    ASSERT_LE(passesAfter - passes, uniform ? 0u : 1u) << string.toStdString();
                    ++narrowed;
                }
            }
            for (qsizetype length = typed.size() - 1; length >= 1; --length) {
                const QString string = typed.first(length);
                const quint64 passes = EDTextSearch::passCount();
                finder.searchIncrementally(string);
                const quint64 passesAfter = EDTextSearch::passCount();
                ASSERT_EQ(finder.matches(), freshSearch(*view, string, options))
                    << "Backspace to " << string.toStdString() << " in \"" << view->string().toStdString() << '"';
                if (length >= typedSinceEdit) {
                    ASSERT_EQ(passesAfter, passes) << "Backspace to " << string.toStdString();
                    ++recalled;
                }
            }
        }
    }
    EXPECT_GT(narrowed, 400);
    EXPECT_GT(recalled, 400);
}

// Next and previous wrap; replace acts on the selected match; replace all replaces each match once
// (also where the replacement holds the string) and undoes in one step.
TEST(EDTextFinder, FindsAndReplacesThroughItsActions)
{
    ShownView view("a cat, a dog, a cat\nand a cat.");
    EDTextFinder& finder = view->textFinder();
    EXPECT_FALSE(finder.validateAction(EDTextFinder::nextMatch)) << "nothing to find yet";
    finder.setSearchString("cat");
    EXPECT_EQ(finder.matches(), (std::vector<qint64> { 2, 16, 26 }));
    view.setCaret(3);
    finder.performAction(EDTextFinder::nextMatch);
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 16, 3 }));
    EXPECT_EQ(finder.currentMatch(), 1u);
    finder.performAction(EDTextFinder::nextMatch);
    finder.performAction(EDTextFinder::nextMatch);
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 2, 3 })) << "wraps to the first";
    finder.performAction(EDTextFinder::previousMatch);
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 26, 3 })) << "wraps to the last";

    finder.setReplaceString("lynx");
    finder.performAction(EDTextFinder::replace);
    // Each user action is an undo step of its own once the event loop has had its turn.
    view.settle();
    EXPECT_EQ(view->string(), "a cat, a dog, a cat\nand a lynx.");
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 26, 4 }));
    view.setCaret(0);
    finder.performAction(EDTextFinder::replaceAndFind);
    EXPECT_EQ(view->string(), "a cat, a dog, a cat\nand a lynx.") << "the first press shows the match";
    finder.performAction(EDTextFinder::replaceAndFind);
    view.settle();
    EXPECT_EQ(view->string(), "a lynx, a dog, a cat\nand a lynx.");
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 17, 3 })) << "and goes on to the next";
    view->undoManager()->undo();
    EXPECT_EQ(view->string(), "a cat, a dog, a cat\nand a lynx.") << "each replacement is an undo step";

    view->setString("a\naa\nb a");
    finder.setSearchString("a");
    finder.setReplaceString("aa");
    finder.performAction(EDTextFinder::replaceAll);
    view.settle();
    EXPECT_EQ(view->string(), "aa\naaaa\nb aa");
    EXPECT_EQ(finder.matches(), freshSearch(*view, "a", finder.options()));
    view->undoManager()->undo();
    EXPECT_EQ(view->string(), "a\naa\nb a") << "replace all is one undo step";
    EXPECT_FALSE(view->undoManager()->canUndo());
    view->undoManager()->redo();
    EXPECT_EQ(view->string(), "aa\naaaa\nb aa");

    view->setString("x1 x2 x3 x4");
    finder.setSearchString("x");
    finder.setReplaceString("y");
    view->setSelectedRange({ 3, 5 });
    finder.performAction(EDTextFinder::replaceAllInSelection);
    EXPECT_EQ(view->string(), "x1 y2 y3 x4");
}

// Replacing asks the delegate first and is refused in a view that may not be edited, whichever
// way it is asked for; finding still works there.
TEST(EDTextFinder, ReplaceIsRefusedWhereTheTextMayNotChange)
{
    ShownView view("one cat, two cats");
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("cat");
    finder.setReplaceString("dog");
    auto delegate = std::make_shared<RefusingDelegate>();
    delegate->refused = TextRange(13, 16);
    view->setDelegate(delegate);
    finder.performAction(EDTextFinder::replaceAll);
    EXPECT_EQ(view->string(), "one cat, two cats") << "one refusal keeps every match";
    view->setDelegate(nullptr);

    view->setIsEditable(false);
    view->setSelectedRange({ 4, 3 });
    for (const int action : { EDTextFinder::replace, EDTextFinder::replaceAndFind, EDTextFinder::replaceAll,
             EDTextFinder::replaceAllInSelection, EDTextFinder::showReplaceInterface }) {
        EXPECT_FALSE(finder.validateAction(action)) << action;
        finder.performAction(action);
    }
    view->textFinderClient().replaceCharacters(std::vector<CharacterRange> { { 4, 3 } }, "dog");
    view->textFinderClient().replaceCharacters(CharacterRange { 4, 3 }, "dog");
    EXPECT_EQ(view->string(), "one cat, two cats");
    EXPECT_TRUE(finder.validateAction(EDTextFinder::nextMatch));

    QTest::keyClick(view.view.get(), Qt::Key_H, Qt::ControlModifier);
    ASSERT_TRUE(finder.isFindBarVisible()) << "Ctrl+H finds in a read-only view";
    EDFindBar* bar = finder.findBar();
    EXPECT_FALSE(bar->isReplaceVisible());
    EXPECT_FALSE(bar->replaceAllButton()->isEnabled());
    EXPECT_FALSE(bar->replaceToggle()->isEnabled());
    view->setFocus();
    press(view.view.get(), Qt::Key_Escape);
    EXPECT_FALSE(finder.isFindBarVisible()) << "Escape in the read-only text closes the bar";
}

// All matches of a common word in a 5 MB note, and replacing them all as one undo step.
TEST(EDTextFinder, AllMatchesInAFiveMegabyteNote)
{
    QString text;
    const QString line
        = QStringLiteral("Line %1: the caf\u00e9 sketch needs The other pass at the lettering.\n");
    for (int i = 0; text.size() < 5'000'000; ++i)
        text += line.arg(i);
    ShownView view(text);
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("the");
    EXPECT_EQ(finder.matches(), indexOfLoop(text, "the", Qt::CaseInsensitive));
    finder.setOptions({ true, false });
    EXPECT_EQ(finder.matches(), indexOfLoop(text, "the", Qt::CaseSensitive));

    finder.setReplaceString("a");
    finder.performAction(EDTextFinder::replaceAll);
    QString expected = text;
    expected.replace("the", "a");
    EXPECT_TRUE(view->string() == expected);
    EXPECT_TRUE(finder.matches().empty());
    view->undoManager()->undo();
    EXPECT_TRUE(view->string() == text) << "one undo step puts every match back";
    EXPECT_EQ(finder.matches().size(), indexOfLoop(text, "the", Qt::CaseSensitive).size());
}

// A long text pasted, or a replace all undone, while a common word is searched: the matches in
// the new text are found in a pass over each edit, not in a search of its own for each match, for
// words whose matches could overlap ("that") too.
TEST(EDTextFinder, MatchesInALongPasteAreFoundInOnePassPerEdit)
{
    QString pasted;
    for (int i = 0; pasted.size() < 300'000; ++i)
        pasted += QStringLiteral("The cat %1 and the_hat, that is that\n").arg(i);
    for (const QString& word : { u"the"_qs, u"that"_qs }) {
        for (const bool wholeWords : { false, true }) {
            ShownView view("a note about that sea\n");
            EDTextFinder& finder = view->textFinder();
            finder.setOptions({ false, wholeWords });
            finder.setSearchString(word);
            QSignalSpy edits(&view->textContentStorage(), &platform::TextContentStorage::textDidChange);
            quint64 passes = EDTextSearch::passCount();
            view->replaceCharacters(TextRange(13), platform::AttributedString(pasted), false);
            ASSERT_EQ(edits.count(), 1);
            EXPECT_LE(EDTextSearch::passCount() - passes, 2u)
                << word.toStdString() << ", whole words " << wholeWords;
            EXPECT_EQ(finder.matches(), freshSearch(*view, word, finder.options()));
            ASSERT_GT(finder.matches().size(), 5'000u);

            finder.setReplaceString("a");
            finder.performAction(EDTextFinder::replaceAll);
            edits.clear();
            passes = EDTextSearch::passCount();
            view->undoManager()->undo();
            EXPECT_LE(EDTextSearch::passCount() - passes, 2u * quint64(edits.count()))
                << edits.count() << " edits, " << word.toStdString() << ", whole words " << wholeWords;
            EXPECT_EQ(finder.matches(), freshSearch(*view, word, finder.options()));
        }
    }
}

// Menu items carry the action as their tag; anything else asks for nothing.
TEST(EDTextFinder, FindActionsTakeTheirTagFromAMenuItem)
{
    ShownView view("text");
    QObject notAnItem;
    view->performTextFinderAction(&notAnItem);
    view->performTextFinderAction(nullptr);
    EXPECT_FALSE(view->textFinder().isFindBarVisible());
    QAction refused;
    refused.setProperty(EDTextFinder::tagProperty, EDTextFinder::selectAll);
    view->performTextFinderAction(&refused);
    QAction show;
    show.setProperty(EDTextFinder::tagProperty, EDTextFinder::showFindInterface);
    view->performFindPanelAction(&show);
    EXPECT_TRUE(view->textFinder().isFindBarVisible());
}

// The bar as a user drives it with keys: open, type, step through the matches, replace, close.
TEST(EDFindBar, DrivenByKeys)
{
    ShownView view("the cat and the hat\nthe end");
    view.setCaret(2);
    EDTextFinder& finder = view->textFinder();
    press(view.view.get(), Qt::Key_F, Qt::ControlModifier);
    EDFindBar* bar = finder.findBar();
    ASSERT_TRUE(bar && bar->isVisible());
    EXPECT_TRUE(waitFor([&] { return bar->findField()->hasFocus(); }));
    EXPECT_EQ(view->viewport()->geometry().top(), bar->geometry().bottom() + 1) << "docked above the text";

    QTest::keyClicks(bar->findField(), "the");
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 12, 3 }))
        << "the first match after where typing began";
    EXPECT_EQ(bar->matchCountLabel()->text(), "2 of 3");
    press(bar->findField(), Qt::Key_Return);
    EXPECT_EQ(bar->matchCountLabel()->text(), "3 of 3");
    press(bar->findField(), Qt::Key_Return, Qt::ShiftModifier);
    press(bar->findField(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(bar->matchCountLabel()->text(), "1 of 3");
    press(bar->findField(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(bar->matchCountLabel()->text(), "2 of 3");

    // Every match near what shows carries the highlight the view draws.
    view->viewport()->repaint();
    int highlighted = 0;
    view->textLayoutManager().enumerateRenderingAttributes(0, false, [&](const auto& attributes, TextRange) {
        highlighted += attributes.contains(EDTextFinder::highlightAttribute);
        return true;
    });
    EXPECT_EQ(highlighted, 3);

    bar->wholeWordsBox()->click();
    QTest::keyClicks(bar->findField(), "x");
    EXPECT_EQ(bar->matchCountLabel()->text(), "No matches");
    EXPECT_FALSE(bar->nextButton()->isEnabled() || bar->previousButton()->isEnabled())
        << "nothing to step to";
    QTest::keyClick(bar->findField(), Qt::Key_Backspace);
    EXPECT_TRUE(bar->nextButton()->isEnabled() && bar->previousButton()->isEnabled());

    press(bar->findField(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(bar->isReplaceVisible());
    EXPECT_TRUE(bar->replaceField()->hasFocus());
    QTest::keyClicks(bar->replaceField(), "a");
    press(bar->replaceField(), Qt::Key_Return);
    EXPECT_EQ(view->string(), "the cat and a hat\nthe end");
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 18, 3 }));
    bar->replaceAllButton()->click();
    EXPECT_EQ(view->string(), "a cat and a hat\na end");
    EXPECT_EQ(bar->matchCountLabel()->text(), "No matches");
    EXPECT_FALSE(bar->replaceAllButton()->isEnabled() || bar->replaceButton()->isEnabled())
        << "nothing left to replace";

    press(bar->replaceField(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(view->viewport()->geometry().top(), view->contentsRect().top()) << "the margin is given back";
    EXPECT_TRUE(waitFor([&] { return view->hasFocus(); }));
    highlighted = 0;
    view->textLayoutManager().enumerateRenderingAttributes(0, false, [&](const auto& attributes, TextRange) {
        highlighted += attributes.contains(EDTextFinder::highlightAttribute);
        return true;
    });
    EXPECT_EQ(highlighted, 0) << "closing the bar takes the highlights away";

    // In the view: Escape closes an open bar only, and F3 opens it while there is nothing to find.
    press(view.view.get(), Qt::Key_F, Qt::ControlModifier);
    view->setFocus();
    QKeyEvent escape(QEvent::ShortcutOverride, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(view.view.get(), &escape);
    EXPECT_TRUE(escape.isAccepted());
    QTest::keyClick(view.view.get(), Qt::Key_Escape);
    EXPECT_FALSE(finder.isFindBarVisible());
    finder.setSearchString({});
    press(view.view.get(), Qt::Key_F3);
    EXPECT_TRUE(finder.isFindBarVisible());
}

// Without search as you type, text typed in the field can be looked for before anything matches.
TEST(EDFindBar, TextTypedButNotYetSearchedForCanBeLookedFor)
{
    ShownView view("the cat");
    view->setIsIncrementalSearchingEnabled(false);
    press(view.view.get(), Qt::Key_F, Qt::ControlModifier);
    EDFindBar* bar = view->textFinder().findBar();
    ASSERT_TRUE(bar && bar->isVisible());
    bar->findField()->selectAll();
    QTest::keyClicks(bar->findField(), "dog");
    bar->nextButton()->click();
    EXPECT_FALSE(bar->nextButton()->isEnabled()) << "searched for and not found";
    bar->findField()->selectAll();
    QTest::keyClicks(bar->findField(), "cat");
    ASSERT_TRUE(bar->nextButton()->isEnabled());
    bar->nextButton()->click();
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 4, 3 }));
}

// Typing in the find field searches from the caret, also one put by a click after the bar opened;
// a string that is not found leaves no earlier match selected under "No matches" but the caret
// where the search began, and the bar opened again shows what was typed.
TEST(EDFindBar, SearchAsYouTypeStartsAtTheCaretAndSelectsNothingItCannotFind)
{
    ShownView view("cat one\ncats two\ncat three\ncats four");
    view.setCaret(0);
    press(view.view.get(), Qt::Key_F, Qt::ControlModifier);
    EDFindBar* bar = view->textFinder().findBar();
    ASSERT_TRUE(bar && bar->isVisible());
    bar->findField()->selectAll();
    QTest::keyClicks(bar->findField(), "cat");
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 0, 3 }));
    view.setCaret(20);
    QTest::keyClicks(bar->findField(), "s");
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 27, 4 }));
    QTest::keyClicks(bar->findField(), "x");
    EXPECT_EQ(bar->matchCountLabel()->text(), "No matches");
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 20, 0 }));

    press(bar->findField(), Qt::Key_Escape);
    press(view.view.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(bar->findField()->text(), "catsx");
}

// Ctrl+E makes the selection, across paragraphs too, the search string without opening the bar;
// Ctrl+G then finds it. With nothing selected, or more than the find field holds, it changes nothing.
TEST(EDTextFinder, CtrlEUsesTheSelectionForFind)
{
    ShownView view("a cat\nand a dog, a cat\nand a dog");
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("dog");
    view->setSelectedRange({ 2, 9 });
    press(view.view.get(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(finder.searchString(), "cat\nand a");
    EXPECT_FALSE(finder.isFindBarVisible());
    press(view.view.get(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 19, 9 }));

    view->setString(view->string() + QString(EDTextFinder::longestSearchString, u'x'));
    for (const CharacterRange selection :
        { CharacterRange { 0, 0 }, CharacterRange { 2, EDTextFinder::longestSearchString + 1 } }) {
        view->setSelectedRange(selection);
        press(view.view.get(), Qt::Key_E, Qt::ControlModifier);
        EXPECT_EQ(finder.searchString(), "cat\nand a");
    }
}

// A screen reader names each control of the bar, the fields and the icon buttons too, and the
// options by their full names where the bar shows short ones.
TEST(EDFindBar, EveryControlHasANameForScreenReaders)
{
    ShownView view("a cat", QSize(360, 200));
    view->doCommandBySelector("showReplaceInterface:");
    EDFindBar* bar = view->textFinder().findBar();
    ASSERT_TRUE(bar && bar->isReplaceVisible());
    const std::pair<QWidget*, const char*> controls[]
        = { { bar->findField(), "Find" }, { bar->replaceField(), "Replace With" },
              { bar->previousButton(), "Previous Match" }, { bar->nextButton(), "Next Match" },
              { bar->doneButton(), "Close Find Bar" }, { bar->matchCaseBox(), "Match Case" },
              { bar->wholeWordsBox(), "Whole Words" }, { bar->replaceToggle(), "Hide Replace" },
              { bar->replaceButton(), "Replace" }, { bar->replaceAllButton(), "Replace All" } };
    for (const auto& [control, name] : controls) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_TRUE(accessible) << control->objectName().toStdString();
        EXPECT_EQ(accessible->text(QAccessible::Name), name) << control->objectName().toStdString();
    }
    EXPECT_NE(bar->matchCaseBox()->text(), "Match Case") << "a narrow bar shows the short names";
}

// The count a screen reader is told of changes once per key as the string is typed (not first a
// count against the old selection), on stepping to another match, when nothing matches and when
// the count goes away.
TEST(EDFindBar, TheMatchCountChangesOncePerKey)
{
    ShownView view("a cat, a cot and a cat");
    view->doCommandBySelector("showFindInterface:");
    EDFindBar* bar = view->textFinder().findBar();
    ASSERT_TRUE(bar);
    QStringList shown;
    QObject::connect(&view->textFinder(), &EDTextFinder::matchesDidChange, bar,
        [&] {
            // The label tells of a new text only, not of the same one given again.
            if (shown.isEmpty() || shown.back() != bar->matchCountLabel()->text())
                shown << bar->matchCountLabel()->text();
        });
    bar->findField()->selectAll();
    QTest::keyClicks(bar->findField(), "ca");
    press(bar->findField(), Qt::Key_Return);
    press(bar->findField(), Qt::Key_Return);
    QTest::keyClicks(bar->findField(), "x");
    view->textFinder().setSearchString(QString());
    EXPECT_EQ(shown, (QStringList { "1 of 3", "1 of 2", "2 of 2", "1 of 2", "No matches", "" }));
}

// The count is in the digits the rest of the program shows, whatever the locale's own.
TEST(EDFindBar, CountsInPlainDigitsInEveryLocale)
{
    const QLocale before;
    for (const QLocale& locale : { QLocale(QLocale::Arabic, QLocale::Egypt), QLocale(QLocale::German),
             QLocale(QLocale::Marathi, QLocale::India) }) {
        QLocale::setDefault(locale);
        EXPECT_EQ(EDFindBar::matchCountText(12345, 1233), "1234 of 12345") << locale.name().toStdString();
        EXPECT_EQ(EDFindBar::matchCountText(12345, std::nullopt), "12345 matches");
    }
    QLocale::setDefault(before);
}

// Backspace in the find field goes back to the matches of what was typed, without a search; an
// edit of the text, or closing the bar, forgets them.
TEST(EDFindBar, BackspaceReusesWhatWasTyped)
{
    QString text;
    for (int i = 0; i < 500; ++i)
        text += QStringLiteral("the Stra\u00dfe there, other strasse %1\n").arg(i);
    ShownView view(text);
    view.setCaret(0);
    press(view.view.get(), Qt::Key_F, Qt::ControlModifier);
    EDFindBar* bar = view->textFinder().findBar();
    ASSERT_TRUE(bar && bar->isVisible());
    EDTextFinder& finder = view->textFinder();
    for (const QString& word : { u"there"_qs, u"strasse"_qs }) {
        bar->findField()->clear();
        QTest::keyClicks(bar->findField(), word);
        for (qsizetype length = word.size() - 1; length >= 1; --length) {
            const quint64 passes = EDTextSearch::passCount();
            QTest::keyClick(bar->findField(), Qt::Key_Backspace);
            EXPECT_EQ(EDTextSearch::passCount(), passes) << word.toStdString();
            ASSERT_EQ(finder.searchString(), word.first(length));
            EXPECT_EQ(finder.matches(), freshSearch(*view, word.first(length), finder.options()));
        }
    }
    QTest::keyClicks(bar->findField(), "tr");
    view->replaceCharacters(TextRange(0), platform::AttributedString("str "), false);
    QTest::keyClick(bar->findField(), Qt::Key_Backspace);
    EXPECT_EQ(finder.matches(), freshSearch(*view, "st", finder.options())) << "the text changed";
}

// However narrow the view, down to the width of a note window's editor, every control of the bar is
// whole, inside it and clear of the others, and the text starts below it.
TEST(EDFindBar, EveryControlStaysWholeInANarrowView)
{
    ShownView view("the cat and the hat", QSize(800, 300));
    view->doCommandBySelector("showReplaceInterface:");
    EDFindBar* bar = view->textFinder().findBar();
    ASSERT_TRUE(bar && bar->isVisible() && bar->isReplaceVisible());
    QTest::keyClicks(bar->findField(), "the");
    const QList<QWidget*> controls = { bar->replaceToggle(), bar->findField(), bar->matchCountLabel(),
        bar->previousButton(), bar->nextButton(), bar->matchCaseBox(), bar->wholeWordsBox(),
        bar->doneButton(), bar->replaceField(), bar->replaceButton(), bar->replaceAllButton() };
    for (int width : { 800, 520, 450, 400, 330 }) {
        SCOPED_TRACE(width);
        view->resize(width, 300);
        QCoreApplication::processEvents();
        EXPECT_EQ(bar->width(), view->contentsRect().width());
        std::vector<QRect> placed;
        for (QWidget* control : controls) {
            SCOPED_TRACE(control->objectName().toStdString());
            const QRect box(control->mapTo(bar, QPoint()), control->size());
            EXPECT_TRUE(bar->rect().contains(box));
            EXPECT_GE(box.width(), control->minimumSizeHint().width()) << "squeezed";
            for (const QRect& other : placed)
                EXPECT_FALSE(box.intersects(other));
            placed.push_back(box);
        }
        EXPECT_EQ(view->viewport()->geometry().top(), bar->geometry().bottom() + 1);
    }
    // Narrow, the replace row comes and goes under the find row, and the text follows the bar.
    for (bool replacing : { false, true }) {
        bar->replaceToggle()->click();
        QCoreApplication::processEvents();
        EXPECT_EQ(bar->isReplaceVisible(), replacing);
        EXPECT_EQ(bar->width(), view->contentsRect().width());
        EXPECT_TRUE(bar->rect().contains(
                        QRect(bar->replaceAllButton()->mapTo(bar, QPoint()), bar->replaceAllButton()->size()))
            || !replacing);
        EXPECT_EQ(view->viewport()->geometry().top(), bar->geometry().bottom() + 1);
    }
}

// The highlights cover the matches near what shows, follow scrolling, and take in a match typed
// while the bar is open.
TEST(EDTextFinder, HighlightsFollowScrollingAndTyping)
{
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("line %1 of the note\n").arg(i);
    ShownView view(text);
    EDTextFinder& finder = view->textFinder();
    view.setCaret(0);
    finder.performAction(EDTextFinder::showFindInterface);
    finder.setSearchString("the");
    auto highlighted = [&] {
        view->viewport()->repaint();
        std::vector<qint64> starts;
        view->textLayoutManager().enumerateRenderingAttributes(
            0, false, [&](const auto& attributes, TextRange run) {
                if (attributes.contains(EDTextFinder::highlightAttribute))
                    starts.push_back(run.location);
                return true;
            });
        return starts;
    };
    auto isHighlighted = [&](qint64 start) {
        const auto starts = highlighted();
        return std::find(starts.begin(), starts.end(), start) != starts.end();
    };
    EXPECT_TRUE(isHighlighted(finder.matches().front()));
    EXPECT_LT(highlighted().size(), finder.matches().size()) << "only near what shows";

    view->scrollRangeToVisible({ text.size() - 1, 0 });
    view.settle();
    EXPECT_TRUE(isHighlighted(finder.matches().back()));
    EXPECT_FALSE(isHighlighted(finder.matches().front()));

    const qint64 at = text.size() - 5;
    view.setCaret(at);
    view->insertText(QStringLiteral(" the"), CharacterRange::notFound());
    EXPECT_TRUE(isHighlighted(at + 1)) << "a match typed in view is highlighted at once";
    const auto starts = highlighted();
    EXPECT_EQ(starts.size(), std::set<qint64>(starts.begin(), starts.end()).size()) << "each once";
}

// Replace all after edits acts on the text as it is now, never on ranges the edits moved.
TEST(EDTextFinder, ReplaceAllAfterEditsReplacesWhatIsThereNow)
{
    ShownView view("cat concat cat\ncat_ cat");
    EDTextFinder& finder = view->textFinder();
    finder.setOptions({ false, true });
    finder.setSearchString("cat");
    view.setCaret(0);
    view->insertText(QStringLiteral("Cat, "), CharacterRange::notFound());
    view.setCaret(view->string().size());
    view->insertText(QStringLiteral(" bobcat cat"), CharacterRange::notFound());
    view->setSelectedRange({ 9, 0 });
    view->insertText(QStringLiteral("x"), CharacterRange::notFound());
    finder.setReplaceString("dog");
    const QString before = view->string();
    finder.performAction(EDTextFinder::replaceAll);
    QString expected = before;
    expected.replace(
        QRegularExpression(QStringLiteral("\\bcat\\b"), QRegularExpression::CaseInsensitiveOption),
        QStringLiteral("dog"));
    EXPECT_EQ(view->string(), expected);
    EXPECT_TRUE(finder.matches().empty());
}

// A view that stops taking edits while the replace bar is open turns its replace controls off at
// once, and back on when it takes edits again.
TEST(EDFindBar, ReplaceControlsFollowWhetherTheTextMayChange)
{
    ShownView view("one cat, two cats");
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("cat");
    finder.performAction(EDTextFinder::showReplaceInterface);
    EDFindBar* bar = finder.findBar();
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->replaceAllButton()->isEnabled());

    view->setIsEditable(false);
    EXPECT_FALSE(bar->replaceButton()->isEnabled());
    EXPECT_FALSE(bar->replaceAllButton()->isEnabled());
    EXPECT_FALSE(bar->replaceField()->isEnabled());
    EXPECT_FALSE(bar->replaceToggle()->isEnabled());

    view->setIsEditable(true);
    EXPECT_TRUE(bar->replaceAllButton()->isEnabled());
}

// Two regional indicators make one flag, paired from the start of their run: a flag is found only
// where one stands, never across the end of one and the start of the next (Germany then Sweden
// hold Spain's letters), after edits anywhere in a run too, however long it is.
TEST(EDTextFinder, FindsAFlagOnlyWhereOneStands)
{
    const QString germany = u"\U0001F1E9\U0001F1EA"_qs;
    const QString sweden = u"\U0001F1F8\U0001F1EA"_qs;
    const QString spain = u"\U0001F1EA\U0001F1F8"_qs;
    // In a run of nothing but halves, the flags are the pairs from its start.
    auto pairedFlags = [](const QString& run, const QString& flag) {
        std::vector<qint64> result;
        for (qsizetype at = 0; at + 4 <= run.size(); at += 4) {
            if (run.sliced(at, 4) == flag)
                result.push_back(at);
        }
        return result;
    };

    ShownView view(germany + sweden + u" or "_qs + spain);
    view->textContentStorage().setChunkLimits(3, 16);
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString(spain);
    EXPECT_EQ(finder.matches(), (std::vector<qint64> { 12 }));
    finder.setReplaceString(u"\U0001F1EB\U0001F1F7"_qs);
    finder.performAction(EDTextFinder::replaceAll);
    EXPECT_EQ(view->string(), germany + sweden + u" or \U0001F1EB\U0001F1F7"_qs) << "the flags before stay";

    // A half flag typed at the start of a long run pairs every flag after it anew.
    QString run;
    for (int i = 0; i < 40; ++i)
        run += i % 3 ? spain : sweden;
    view->setString(run);
    finder.searchIncrementally(spain.first(2));
    finder.searchIncrementally(spain);
    ASSERT_EQ(finder.matches(), pairedFlags(run, spain));
    std::mt19937 random(3);
    for (int edit = 0; edit < 60; ++edit) {
        const qint64 at = 2 * qint64(random() % quint32(view->string().size() / 2 + 1));
        const bool removing = random() % 2 && at + 2 <= view->string().size();
        view->replaceCharacters(TextRange(at, removing ? at + 2 : at),
            platform::AttributedString(removing ? QString() : spain.first(2)), false);
        ASSERT_EQ(finder.matches(), pairedFlags(view->string(), spain)) << "after edit " << edit;
    }

    // A note of nothing but flags is searched in one pass, not one walk through the run per flag.
    QString flags;
    while (flags.size() < 2'000'000)
        flags += spain;
    view->setString(flags);
    finder.setSearchString(sweden);
    EXPECT_TRUE(finder.matches().empty());
    finder.setSearchString(spain);
    EXPECT_EQ(finder.matches().size(), size_t(flags.size() / 4));
}
