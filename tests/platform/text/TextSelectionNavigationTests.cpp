#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutFragment.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextSelectionNavigation.h"

#include <QTextBoundaryFinder>
#include <gtest/gtest.h>

#include <set>

using namespace platform;
using Direction = TextSelectionNavigation::Direction;
using Destination = TextSelectionNavigation::Destination;

namespace {

struct Stack {
    TextContentStorage storage;
    TextLayoutManager manager;

    explicit Stack(const QString& text, double width = TextContainer::unboundedExtent)
    {
        QFont font("DejaVu Sans Mono");
        font.setPixelSize(14);
        manager.setDefaultFont(font);
        TextContainer container;
        container.size = QSizeF(width, TextContainer::unboundedExtent);
        manager.setTextContainer(container);
        manager.setTextContentStorage(&storage);
        storage.setString(text);
    }
    TextSelectionNavigation& navigation() { return manager.textSelectionNavigation(); }
    TextLocation moved(TextLocation from, Direction direction, Destination destination)
    {
        const auto result
            = navigation().destinationSelection(TextSelection(from), direction, destination, false, false);
        return result ? result->textRanges.front().location : -1;
    }
};

std::set<TextLocation> graphemeBoundaries(const QString& text)
{
    std::set<TextLocation> result { 0, TextLocation(text.size()) };
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at >= 0; at = finder.toNextBoundary())
        result.insert(at);
    return result;
}

const QString mixedText
    = QString::fromUcs4(U"a\U0001F600b e\u0301\r\n\U0001F468\u200D\U0001F469\u200D\U0001F467 word "
                        U"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD end\n"
                        U"x\U0001F1EB\U0001F1F7y\u2029\r\rlast \U0001F44D\U0001F3FD line");

} // namespace

TEST(TextSelectionNavigation, MovesNeverSplitASurrogatePairOrAGraphemeCluster)
{
    Stack stack(mixedText, 160);
    const auto boundaries = graphemeBoundaries(mixedText);
    const Direction directions[] = { Direction::forward, Direction::backward, Direction::right,
        Direction::left, Direction::up, Direction::down };
    const Destination destinations[] = { Destination::character, Destination::word, Destination::line,
        Destination::paragraph, Destination::document };
    for (const TextLocation from : boundaries) {
        for (const Direction direction : directions) {
            for (const Destination destination : destinations) {
                const TextLocation to = stack.moved(from, direction, destination);
                ASSERT_TRUE(boundaries.count(to)) << "from " << from << " direction " << int(direction)
                                                  << " destination " << int(destination) << " to " << to;
            }
        }
        for (const bool decomposing : { false, true }) {
            for (const TextRange& range : stack.navigation().deletionRanges(
                     TextSelection(from), Direction::backward, Destination::character, decomposing)) {
                const QString removed = mixedText.mid(range.location, range.length());
                ASSERT_FALSE(removed.front().isLowSurrogate()) << from;
                ASSERT_FALSE(removed.back().isHighSurrogate()) << from;
                if (!decomposing) {
                    ASSERT_TRUE(boundaries.count(range.location)) << from;
                }
            }
        }
    }
    // Moving forward by character visits every cluster once.
    TextLocation at = 0;
    int steps = 0;
    while (at < mixedText.size()) {
        const TextLocation next = stack.moved(at, Direction::forward, Destination::character);
        ASSERT_GT(next, at);
        at = next;
        ++steps;
    }
    EXPECT_EQ(steps, int(boundaries.size()) - 1);
}

TEST(TextSelectionNavigation, CarriageReturnLineFeedIsOneStep)
{
    Stack stack("ab\r\ncd");
    EXPECT_EQ(stack.moved(2, Direction::forward, Destination::character), 4);
    EXPECT_EQ(stack.moved(4, Direction::backward, Destination::character), 2);
    EXPECT_EQ(stack.moved(2, Direction::right, Destination::character), 4);
    const auto ranges = stack.navigation().deletionRanges(
        TextSelection(TextLocation(4)), Direction::backward, Destination::character, true);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], TextRange(2, 4));
}

TEST(TextSelectionNavigation, WordLineParagraphAndDocumentDestinations)
{
    Stack stack("hello big world\nsecond para");
    struct Case {
        TextLocation from;
        Direction direction;
        Destination destination;
        TextLocation expected;
    };
    const Case cases[] = {
        { 0, Direction::forward, Destination::word, 5 },
        { 5, Direction::forward, Destination::word, 9 },
        { 15, Direction::forward, Destination::word, 22 },
        { 12, Direction::backward, Destination::word, 10 },
        { 16, Direction::backward, Destination::word, 10 },
        { 7, Direction::right, Destination::line, 15 },
        { 7, Direction::left, Destination::line, 0 },
        { 20, Direction::backward, Destination::paragraph, 16 },
        { 3, Direction::forward, Destination::paragraph, 15 },
        { 3, Direction::forward, Destination::document, 27 },
        { 3, Direction::down, Destination::character, 19 },
        { 19, Direction::up, Destination::character, 3 },
        { 3, Direction::up, Destination::character, 0 },
        { 20, Direction::down, Destination::character, 27 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(stack.moved(c.from, c.direction, c.destination), c.expected)
            << "from " << c.from << " direction " << int(c.direction) << " destination "
            << int(c.destination);
}

// Ideographs are no words to the boundary finder: a word move still stops at each, as a double
// click selects each, instead of crossing the whole run of them (which Ctrl+Backspace would delete).
TEST(TextSelectionNavigation, WordMovesStopAtEachIdeograph)
{
    // "\U00020BB7" is an ideograph outside the BMP; "\u3001" and "\u3002" are punctuation.
    Stack stack(
        QString::fromUcs4(U"\u65E5\u672C\u306E\u30C6\u30AD\u30B9\u30C8\u3001\U00020BB7\u5B57 ok\u3002"));
    std::vector<TextLocation> forward, backward;
    for (TextLocation at = 0; forward.size() < 12;) {
        at = stack.moved(at, Direction::forward, Destination::word);
        forward.push_back(at);
    }
    for (TextLocation at = stack.storage.length(); backward.size() < 12;) {
        at = stack.moved(at, Direction::backward, Destination::word);
        backward.push_back(at);
    }
    EXPECT_EQ(forward, (std::vector<TextLocation> { 1, 2, 3, 7, 10, 11, 14, 15, 15, 15, 15, 15 }));
    EXPECT_EQ(backward, (std::vector<TextLocation> { 12, 10, 8, 3, 2, 1, 0, 0, 0, 0, 0, 0 }));
}

TEST(TextSelectionNavigation, UpAndDownKeepTheColumnAcrossAShortLine)
{
    Stack stack("a long first line\nab\nanother long line");
    auto down = stack.navigation().destinationSelection(
        TextSelection(TextLocation(10)), Direction::down, Destination::character, false, false);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->textRanges.front().location, 20); // end of "ab"
    auto again = stack.navigation().destinationSelection(
        *down, Direction::down, Destination::character, false, false);
    ASSERT_TRUE(again);
    const TextLocation below = again->textRanges.front().location;
    EXPECT_GE(below, 21 + 9);
    EXPECT_LE(below, 21 + 11);
}

TEST(TextSelectionNavigation, ExtendingKeepsTheAnchor)
{
    Stack stack("one two three");
    auto selection = stack.navigation().destinationSelection(
        TextSelection(TextLocation(4)), Direction::forward, Destination::word, true, false);
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->textRanges.front(), TextRange(4, 7));
    selection = stack.navigation().destinationSelection(
        *selection, Direction::backward, Destination::word, true, false);
    selection = stack.navigation().destinationSelection(
        *selection, Direction::backward, Destination::word, true, false);
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->textRanges.front(), TextRange(0, 4));
    // A plain move collapses a selection to the side it moves to.
    auto collapsed = stack.navigation().destinationSelection(
        TextSelection(TextRange(2, 6)), Direction::left, Destination::character, false, false);
    EXPECT_EQ(collapsed->textRanges.front(), TextRange(2));
}

TEST(TextSelectionNavigation, GranularSelectionsCoverWordsParagraphsAndLines)
{
    Stack stack("alpha beta\ngamma");
    auto& navigation = stack.navigation();
    EXPECT_EQ(navigation.textSelection(TextSelection::Granularity::word, TextSelection(TextLocation(7)))
                  .textRanges.front(),
        TextRange(6, 10));
    EXPECT_EQ(navigation.textSelection(TextSelection::Granularity::paragraph, TextSelection(TextLocation(2)))
                  .textRanges.front(),
        TextRange(0, 11));
    EXPECT_EQ(navigation.textSelection(TextSelection::Granularity::line, TextSelection(TextLocation(13)))
                  .textRanges.front(),
        TextRange(11, 16));
}

TEST(TextSelectionNavigation, ClickAndShiftClickMakeCaretsAndExtensions)
{
    Stack stack("click here please");
    auto frameOf = [&](TextLocation location) {
        QRectF result;
        stack.manager.enumerateTextSegments(TextRange(location), TextLayoutManager::SegmentType::standard, 0,
            [&](std::optional<TextRange>, QRectF frame, double) {
                result = frame;
                return false;
            });
        return result;
    };
    auto clicked = stack.navigation().textSelections(frameOf(6).center(), 0, {}, 0, false, {});
    ASSERT_EQ(clicked.size(), 1u);
    EXPECT_EQ(clicked[0].textRanges.front(), TextRange(6));
    auto extended = stack.navigation().textSelections(
        frameOf(13).center(), 0, clicked, TextSelectionNavigation::extend, true, {});
    ASSERT_EQ(extended.size(), 1u);
    EXPECT_EQ(extended[0].textRanges.front(), TextRange(6, 13));
}

TEST(TextSelectionNavigation, VisualMovesFollowRightToLeftText)
{
    Stack stack(QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD"));
    EXPECT_EQ(stack.moved(0, Direction::left, Destination::character), 1);
    EXPECT_EQ(stack.moved(2, Direction::right, Destination::character), 1);
    EXPECT_EQ(stack.moved(0, Direction::left, Destination::word), 4);
    EXPECT_EQ(stack.moved(2, Direction::left, Destination::line), 9);
    EXPECT_EQ(stack.moved(2, Direction::right, Destination::line), 0);
}

TEST(TextSelectionNavigation, RightAndLeftCrossMixedDirectionParagraphsToTheEnds)
{
    const QString text
        = QString::fromUcs4(U"left to right\n\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD "
                            U"\u05E9\u05DC\u05D5\u05DD\nmore ab\n\u05D0\u05D1 cd \u05D2\u05D3");
    const TextLocation end = text.size();
    for (const double width : { TextContainer::unboundedExtent, 70.0 }) {
        Stack stack(text, width);
        // Pressing one arrow again and again gets to the end of the document, whatever the
        // direction of the paragraphs on the way.
        auto walk = [&](TextLocation from, Direction direction) {
            TextSelection selection(from);
            for (int step = 0; step < 4 * end; ++step) {
                selection = *stack.navigation().destinationSelection(
                    selection, direction, Destination::character, false, false);
                const TextLocation at = selection.textRanges.front().location;
                if (at == (direction == Direction::right ? end : 0))
                    return true;
            }
            return false;
        };
        EXPECT_TRUE(walk(0, Direction::right)) << width;
        EXPECT_TRUE(walk(end, Direction::left)) << width;
        // Pressing on settles at the far edge of the last row instead of going round.
        TextLocation settled = end;
        for (int step = 0; step < 40; ++step)
            settled = stack.moved(settled, Direction::right, Destination::character);
        EXPECT_EQ(stack.moved(settled, Direction::right, Destination::character), settled);

        // Word moves too: the right-to-left last paragraph is crossed to its start, its right edge.
        TextLocation at = 0;
        std::set<TextLocation> visited;
        for (TextLocation next = 0; visited.insert(at).second; at = next) {
            next = stack.moved(at, Direction::right, Destination::word);
            if (next == at)
                break;
        }
        EXPECT_EQ(stack.moved(at, Direction::right, Destination::word), at) << width << " goes round";
        EXPECT_EQ(at, text.lastIndexOf('\n') + 1) << width;
    }
}

// A line long enough to be laid out in pieces, English with Hebrew phrases: the arrows go through
// every character, across the pieces, in either direction.
TEST(TextSelectionNavigation, ArrowsCrossEveryPieceOfALongMixedDirectionLine)
{
    QString text = QStringLiteral("Start ");
    while (text.size() < 3 * textLayoutPieceLimit)
        text += QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD ").repeated(30)
            + QStringLiteral("word ").repeated(10);
    const TextLocation end = text.size();
    Stack stack(text);
    for (const Direction direction : { Direction::right, Direction::left }) {
        TextSelection selection(direction == Direction::right ? 0 : end);
        std::set<TextLocation> visited { selection.textRanges.front().location };
        for (int step = 0; step < 2 * end; ++step) {
            selection = *stack.navigation().destinationSelection(
                selection, direction, Destination::character, false, false);
            visited.insert(selection.textRanges.front().location);
        }
        EXPECT_EQ(visited.size(), size_t(end + 1)) << (direction == Direction::right ? "right" : "left");
    }
}

TEST(TextSelectionNavigation, SentenceAndParagraphMovesGoOnPastEachBoundary)
{
    Stack stack("One. Two three.  Four?\nNext paragraph. Last one.\n\nend");
    auto walk = [&](TextLocation from, Direction direction, Destination destination) {
        std::vector<TextLocation> stops;
        for (int i = 0; i < 8; ++i) {
            from = stack.moved(from, direction, destination);
            stops.push_back(from);
        }
        return stops;
    };
    EXPECT_EQ(walk(0, Direction::forward, Destination::sentence),
        (std::vector<TextLocation> { 4, 15, 22, 38, 48, 49, 53, 53 }));
    EXPECT_EQ(walk(53, Direction::backward, Destination::sentence),
        (std::vector<TextLocation> { 50, 49, 39, 23, 17, 5, 0, 0 }));
    EXPECT_EQ(walk(0, Direction::forward, Destination::paragraph),
        (std::vector<TextLocation> { 22, 48, 49, 53, 53, 53, 53, 53 }));
    EXPECT_EQ(walk(53, Direction::backward, Destination::paragraph),
        (std::vector<TextLocation> { 50, 49, 23, 0, 0, 0, 0, 0 }));

    // Extending by paragraph grows the selection each time.
    TextSelection selection(TextLocation(0));
    std::vector<TextRange> ranges;
    for (int i = 0; i < 3; ++i) {
        selection = *stack.navigation().destinationSelection(
            selection, Direction::forward, Destination::paragraph, true, false);
        ranges.push_back(selection.textRanges.front());
    }
    EXPECT_EQ(ranges, (std::vector<TextRange> { TextRange(0, 22), TextRange(0, 48), TextRange(0, 49) }));
}

// Pressing one key again and again walks to an edge of the document and stays there, whatever the
// directions of the paragraphs on the way; a walk that comes back to a place it left goes round for
// ever.
TEST(TextSelectionNavigation, RepeatedMovesComeToRestAtTheDocumentsEdges)
{
    const QString arabic = QString::fromUcs4(
        U"\u0645\u0631\u062D\u0628\u0627 \u0628\u0643\u0645 \u0641\u064A \u0627\u0644\u0628\u064A\u062A");
    const QString hebrew = QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD");
    const QString texts[] = { "abc\n" + arabic, hebrew + "\nleft to right",
        "one two\n" + arabic + "\nx " + hebrew + " y\n", "  " + hebrew + "  \n  \n" + arabic };
    const std::pair<Direction, Destination> keys[] = { { Direction::right, Destination::word },
        { Direction::left, Destination::word }, { Direction::forward, Destination::word },
        { Direction::backward, Destination::word }, { Direction::up, Destination::line },
        { Direction::down, Destination::line }, { Direction::forward, Destination::paragraph },
        { Direction::backward, Destination::paragraph } };
    for (const QString& text : texts) {
        for (const double width : { TextContainer::unboundedExtent, 60.0 }) {
            Stack stack(text, width);
            const bool documentRightToLeft = stack.manager.baseWritingDirection(0) == Qt::RightToLeft;
            for (const auto& [direction, destination] : keys) {
                const bool towardsEnd = direction == Direction::right || direction == Direction::left
                    ? (direction == Direction::right) != documentRightToLeft
                    : direction == Direction::forward || direction == Direction::down;
                const TextRange edge = stack.navigation().paragraphRange(towardsEnd ? text.size() : 0);
                SCOPED_TRACE(testing::Message() << text.toStdString() << " width " << width << " direction "
                                                << int(direction) << " destination " << int(destination));
                for (const TextLocation start : graphemeBoundaries(text)) {
                    std::set<TextLocation> visited;
                    TextLocation at = start;
                    for (TextLocation next; (next = stack.moved(at, direction, destination)) != at;
                         at = next) {
                        visited.insert(at);
                        ASSERT_FALSE(visited.count(next)) << "from " << start << " round again at " << next;
                    }
                    EXPECT_TRUE(at >= edge.location && at <= edge.endLocation)
                        << "from " << start << " rests at " << at;
                }
            }
        }
    }
}

// After Thai or Devanagari text, Qt's boundary finder breaks emoji, flags and surrogate pairs; a
// caret there would split them and Backspace would leave half a character behind.
TEST(TextSelectionNavigation, CharacterMovesStepOverWholeEmojiAfterThaiOrIndicText)
{
    const QString thumb = QString::fromUcs4(U"\U0001F44D\U0001F3FD");
    const QString flag = QString::fromUcs4(U"\U0001F1EB\U0001F1F7");
    const QString family = QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString heart = QString::fromUcs4(U"\u2764\uFE0F");
    for (const QString& lead : { QString::fromUcs4(U"\u0928\u092E\u0938\u094D\u0924\u0947"),
             QString::fromUcs4(U"\u0E44\u0E17\u0E22") }) {
        const QString text = lead + thumb + flag + " " + family + heart;
        Stack stack(text);
        const qsizetype start = lead.size();
        const std::vector<TextLocation> stops { start + 4, start + 8, start + 9, start + 17, text.size() };
        std::vector<TextLocation> forward, right;
        for (TextLocation at = start; at < text.size();)
            forward.push_back(at = stack.moved(at, Direction::forward, Destination::character));
        for (TextLocation at = start; at < text.size();)
            right.push_back(at = stack.moved(at, Direction::right, Destination::character));
        EXPECT_EQ(forward, stops);
        EXPECT_EQ(right, stops);
        // Back from the end, and Backspace, take whole characters too.
        EXPECT_EQ(stack.moved(text.size(), Direction::backward, Destination::character), start + 9 + 8);
        const auto removed = stack.navigation().deletionRanges(
            TextSelection(TextLocation(start + 8)), Direction::backward, Destination::character, false);
        ASSERT_EQ(removed.size(), 1u);
        EXPECT_EQ(removed[0], TextRange(start + 4, start + 8));
    }
    // A prepended mark holds on to the digit after it.
    Stack stack("x\u06DD1y");
    EXPECT_EQ(stack.moved(3, Direction::backward, Destination::character), 1);
    EXPECT_EQ(stack.moved(1, Direction::forward, Destination::character), 3);
}

TEST(TextSelectionNavigation, WordMovesStopAtEachWordAfterThaiAndAroundUnderscores)
{
    // Qt's dictionary breaking of Thai glued the space or hyphen after a Thai word to it, so a word
    // move skipped the next word and a double click took the space along.
    const QString thai = QString::fromUcs4(U"\u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22");
    for (const QString& gap : { QStringLiteral(" "), QStringLiteral("-") }) {
        Stack stack(thai + gap + "abc def");
        EXPECT_EQ(stack.moved(4, Direction::forward, Destination::word), 7);
        EXPECT_EQ(stack.moved(7, Direction::forward, Destination::word), 11);
        EXPECT_EQ(stack.moved(11, Direction::backward, Destination::word), 8);
        EXPECT_EQ(stack.navigation().wordRange(5), TextRange(4, 7));
    }
    // A word that begins or ends with "_" is a stop like any other.
    Stack stack("call __init__ now");
    EXPECT_EQ(stack.moved(4, Direction::forward, Destination::word), 13);
    EXPECT_EQ(stack.moved(13, Direction::backward, Destination::word), 5);
    EXPECT_EQ(stack.moved(17, Direction::backward, Destination::word), 14);
}

// QTextLayout stops inside a flag or an emoji next to right-to-left text; taking the way on from its
// logical step sent Right back and forth, or round in a circle, never reaching the line's end.
TEST(TextSelectionNavigation, ArrowsCrossEmojiAndFlagsInRightToLeftText)
{
    for (const QString& text : { QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD\U0001F1EB\U0001F1F7  "),
             QString::fromUcs4(U"\u05E2\u05D5\u05DC\u05DD\u2764\uFE0F3.5e\u0301 ") }) {
        Stack stack(text);
        for (const auto& [from, direction, to] :
            { std::tuple { TextLocation(text.size()), Direction::right, 0 },
                std::tuple { TextLocation(0), Direction::left, int(text.size()) } }) {
            std::set<TextLocation> visited;
            TextLocation at = from;
            while (at != to && visited.insert(at).second)
                at = stack.moved(at, direction, Destination::character);
            EXPECT_EQ(at, to) << text.toStdString() << " from " << from;
        }
    }
}

// QTextLayout's steps through text in both directions leave out the spaces a wrapped line ends
// with: Right from before the last letter of such a line jumped that letter to the next row, and
// the caret after it was never reached. Every caret is reached, walking either way.
TEST(TextSelectionNavigation, ArrowsReachEveryCaretOfWrappedMixedDirectionRows)
{
    struct Case {
        QString text;
        Direction forward;
    };
    const QString hebrewInEnglish
        = QString::fromUcs4(U"abc \u05E9\u05DC\u05D5\u05DD 123 \u05E2\u05D5\u05DC\u05DD def ");
    const QString directionMarks = QString::fromUcs4(U"a\tb c d \u200Fe\u200Ef ");
    const QString englishInHebrew
        = QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD abc \u05E9\u05DC\u05D5\u05DD 12 \u05D0 ");
    const QString flagInHebrew
        = QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD \U0001F1EB\U0001F1F7 \u05D0 xy ");
    std::vector<std::pair<Case, double>> cases = {
        { { hebrewInEnglish.repeated(6), Direction::right }, 190 },
        { { directionMarks.repeated(8), Direction::right }, 190 },
        { { englishInHebrew.repeated(6), Direction::left }, 190 },
        { { flagInHebrew.repeated(6), Direction::left }, 190 },
    };
    // Rows that start or end with a run of the other direction: words of both directions (and
    // numbers, which take the direction around them) wrapped at every width, so that each kind
    // of word stands at each edge of some row.
    const QString rightToLeftWords[] = { QString::fromUcs4(U"\u05D0\u05D1"),
        QString::fromUcs4(U"\u0645\u0631\u062D\u0628\u0627"), QString::fromUcs4(U"\u05D2\u05D3\u05D4\u05D5"),
        QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD") };
    const QString leftToRightWords[]
        = { QStringLiteral("ab"), QStringLiteral("word"), QStringLiteral("xyz") };
    for (const bool rightToLeft : { false, true }) {
        QString text = rightToLeft ? rightToLeftWords[0] + ' ' : leftToRightWords[0] + ' ';
        for (int i = 0; i < 11; ++i) {
            text += rightToLeftWords[i % 4] + ' ' + leftToRightWords[(i + 1) % 3] + ' ';
            if (i % 4 == 3)
                text += QString::number(i * 7) + ' ';
        }
        for (double width = 40; width <= 150; width += 9)
            cases.push_back({ { text, rightToLeft ? Direction::left : Direction::right }, width });
    }
    for (const auto& [c, width] : cases) {
        SCOPED_TRACE(testing::Message() << "width " << width);
        Stack stack(c.text, width);
        const TextLocation end = c.text.size();
        const std::set<TextLocation> carets = graphemeBoundaries(c.text);
        const Direction backward = c.forward == Direction::right ? Direction::left : Direction::right;
        for (const auto& [from, direction] :
            { std::pair { TextLocation(0), c.forward }, std::pair { end, backward } }) {
            TextSelection selection(from);
            std::set<TextLocation> visited { from };
            for (int step = 0; step < 2 * end; ++step) {
                selection = *stack.navigation().destinationSelection(
                    selection, direction, Destination::character, false, false);
                visited.insert(selection.textRanges.front().location);
            }
            std::vector<TextLocation> missed;
            std::set_difference(
                carets.begin(), carets.end(), visited.begin(), visited.end(), std::back_inserter(missed));
            EXPECT_TRUE(missed.empty()) << c.text.toStdString() << (from == 0 ? " onwards" : " back")
                                        << ", first caret missed: " << (missed.empty() ? -1 : missed.front());
        }
    }
}

// A click past the end of a row cut inside a word, or in text written without spaces, leaves the
// caret at the end of that row, drawn there (the same offset begins the next row); a click at the
// start of the next row leaves it there; a drag ending past a row's end ends on that row.
TEST(TextSelectionNavigation, AClickPastTheEndOfAWrappedRowLeavesTheCaretOnThatRow)
{
    for (const QString& text : { QStringLiteral("abcdefghijklmnopqrstuvwxyz").repeated(4),
             QString::fromUtf8("这是一个很长的中文句子用来测试换行的时候光标的位置是否正确").repeated(2) }) {
        Stack stack(text, 200);
        auto fragment = stack.manager.textLayoutFragment(0);
        ASSERT_GE(fragment->visualLineCount(), 3);
        const auto drawnRow = [&](const std::vector<TextSelection>& selections) {
            const auto handle = stack.manager.lineFragment(
                selections.at(0).textRanges.back().endLocation, selections.at(0).affinity);
            return handle ? handle->visualLineIndex() : -1;
        };
        for (qsizetype row = 0; row + 1 < fragment->visualLineCount(); ++row) {
            const auto visual = fragment->visualLine(row);
            const QPointF pastTheEnd(1000, visual.y + visual.height / 2);
            EXPECT_EQ(drawnRow(stack.navigation().textSelections(pastTheEnd, 0, {}, 0, false, {})), row);
            EXPECT_EQ(drawnRow(stack.navigation().textSelections(
                          pastTheEnd, 0, { TextSelection(0) }, TextSelectionNavigation::extend, true, {})),
                row);
            const QPointF nextRowStart(-10, pastTheEnd.y() + visual.height);
            EXPECT_EQ(
                drawnRow(stack.navigation().textSelections(nextRowStart, 0, {}, 0, false, {})), row + 1);
        }
    }
}

// Where a row is cut inside a word, its end and the next row's start are one offset. Each arrow
// press across that edge passes over one character, in text of either direction: back from the
// next row's start to before the row's last letter, as a press forward from there reaches the
// next row's start; and forward from the row's end (after End, or a click past it) to after the
// next row's first letter.
TEST(TextSelectionNavigation, ArrowsAcrossARowCutInsideAWordPassOneCharacter)
{
    using Affinity = TextSelection::Affinity;
    const QString words[] = { QStringLiteral("abcdefghijklmnopqrstuvwxyz"),
        QString::fromUcs4(U"\u05D0\u05D1\u05D2\u05D3\u05D4\u05D5\u05D6\u05D7\u05D8\u05D9\u05DB"
                          U"\u05DC\u05DE\u05E0\u05E1\u05E2\u05E4\u05E6\u05E7\u05E8\u05E9\u05EA") };
    for (const QString& word : words) {
        Stack stack(word.repeated(4), 200);
        const bool rightToLeft = word.front().direction() == QChar::DirR;
        const Direction forward = rightToLeft ? Direction::left : Direction::right;
        const Direction back = rightToLeft ? Direction::right : Direction::left;
        auto moved = [&](TextLocation from, Affinity affinity, Direction direction) {
            const auto result = stack.navigation().destinationSelection(
                TextSelection(from, affinity), direction, Destination::character, false, false);
            return result ? result->textRanges.front().location : -1;
        };
        const auto fragment = stack.manager.textLayoutFragment(0);
        ASSERT_GE(fragment->visualLineCount(), 3);
        for (qsizetype row = 0; row + 1 < fragment->visualLineCount(); ++row) {
            const TextLocation edge = fragment->visualLine(row).characterRange.endLocation;
            SCOPED_TRACE(
                testing::Message() << (rightToLeft ? "right to left" : "left to right") << ", edge " << edge);
            EXPECT_EQ(moved(edge, Affinity::downstream, back), edge - 1);
            EXPECT_EQ(moved(edge - 1, Affinity::downstream, forward), edge);
            EXPECT_EQ(moved(edge, Affinity::upstream, forward), edge + 1);
            EXPECT_EQ(moved(edge + 1, Affinity::downstream, back), edge);
        }
    }
}
