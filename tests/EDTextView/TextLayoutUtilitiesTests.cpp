#include "EDTextView/TextLayoutUtilities.h"

#include "platform/text/TextContentStorage.h"

#include <QColor>
#include <QFont>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace edtextview;
namespace AttributeKey = platform::AttributeKey;
using platform::TextContainer;

namespace {

struct Stack {
    TextContentStorage storage;
    TextLayoutManager manager;
    explicit Stack(const QString& text)
    {
        QFont font("DejaVu Sans Mono");
        font.setPixelSize(14);
        manager.setDefaultFont(font);
        manager.setTextContentStorage(&storage);
        storage.setString(text);
    }
};

} // namespace

TEST(TextLayoutUtilities, ClampingCoversEveryPosition)
{
    const TextRange bounds(10, 20);
    struct Case {
        TextRange range;
        TextRange expected;
    };
    const Case cases[] = {
        { TextRange(25, 30), TextRange(20) },
        { TextRange(0, 5), TextRange(10) },
        { TextRange(12), TextRange(12) },
        { TextRange(5, 15), TextRange(10, 15) },
        { TextRange(15, 25), TextRange(15, 20) },
        { TextRange(0, 30), TextRange(10, 20) },
    };
    for (const Case& c : cases)
        EXPECT_EQ(clamped(c.range, bounds), c.expected) << c.range.location << "-" << c.range.endLocation;
}

TEST(TextLayoutUtilities, ConversionsAtTheDocumentEdges)
{
    Stack stack("abc\ndef");
    EXPECT_EQ(textRange({ 7, 0 }, stack.storage), TextRange(7));
    EXPECT_FALSE(textRange({ 8, 0 }, stack.storage));
    EXPECT_EQ(textRange({ 5, 10 }, stack.storage), TextRange(5)); // end past the document
    EXPECT_EQ(textRange(CharacterRange::notFound(), stack.storage), std::nullopt);
    EXPECT_EQ(
        textRange({ 2, std::numeric_limits<qint64>::max() }, stack.storage), TextRange(2)); // no overflow
    EXPECT_EQ(characterRange(stack.storage.documentRange(), stack.storage), (CharacterRange { 0, 7 }));
    EXPECT_EQ(location(7, stack.storage), 7);
    EXPECT_FALSE(location(8, stack.storage));
    EXPECT_EQ(location(1, 2, stack.storage), 6);
    EXPECT_EQ(location(1, std::nullopt, stack.storage), 4);
    EXPECT_FALSE(location(2, 0, stack.storage));
}

TEST(TextLayoutUtilities, PositionsCountLinesAndColumns)
{
    Stack empty("");
    EXPECT_FALSE(position(0, empty.storage));
    Stack three("ab\ncd\nef");
    EXPECT_EQ(position(8, three.storage), (LineColumn { 2, 2 }));
    EXPECT_EQ(position(3, three.storage), (LineColumn { 1, 0 }));
    EXPECT_EQ(position(2, three.storage), (LineColumn { 0, 2 }));
    Stack terminated("ab\ncd\n");
    EXPECT_EQ(position(6, terminated.storage), (LineColumn { 1, 3 }));
}

TEST(TextLayoutUtilities, TextAndAttributesOfRanges)
{
    Stack stack("one\ntwo\nthree");
    stack.storage.addAttributes({ { AttributeKey::foregroundColor, QColor(Qt::red) } }, TextRange(12, 13));
    EXPECT_EQ(attributedString(stack.storage, TextRange(1, 10))->string(), "ne\ntwo\nth");
    EXPECT_FALSE(attributedString(stack.storage, TextRange(4)));
    EXPECT_EQ(attributedString(stack.storage, std::nullopt)->string(), "one\ntwo\nthree");
    EXPECT_EQ(attributes(13, stack.storage).value(AttributeKey::foregroundColor), QColor(Qt::red));
    EXPECT_TRUE(attributes(0, stack.storage).isEmpty());
    Stack empty("");
    EXPECT_TRUE(attributes(0, empty.storage).isEmpty());
    EXPECT_FALSE(attributedString(empty.storage, std::nullopt));

    const AttributedString text = *attributedString(stack.storage, std::nullopt);
    EXPECT_EQ(attributeKeys(text, { 10, 3 }), QSet<QString> { AttributeKey::foregroundColor });
    const auto values = attributeValues(text, AttributeKey::foregroundColor, { 0, 13 });
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].second, (CharacterRange { 12, 1 }));
    EXPECT_EQ(substringByComposedSequences(stack.manager, TextRange(2, 6)), "e\ntw");
}

TEST(TextLayoutUtilities, AlmostEqualFollowsTheRelativeTolerance)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(isAlmostEqual(1.0, 1.0 + 1e-9));
    EXPECT_FALSE(isAlmostEqual(1.0, 1.0 + 1e-7));
    EXPECT_TRUE(isAlmostEqual(0.0, 1e-320));
    EXPECT_FALSE(isAlmostEqual(0.0, 1e-300));
    EXPECT_TRUE(isAlmostEqual(inf, inf));
    EXPECT_FALSE(isAlmostEqual(inf, -inf));
    EXPECT_FALSE(isAlmostEqual(inf, 1e300));
    EXPECT_FALSE(isAlmostEqual(std::nan(""), std::nan("")));
    EXPECT_TRUE(isAlmostEqual(1.0f, 1.0f + 1e-9f));
    EXPECT_TRUE(isAlmostZero(1e-9));
    EXPECT_TRUE(isAlmostEqual(QSizeF(100, 20), QSizeF(100 + 1e-9, 20)));
    EXPECT_FALSE(isAlmostEqual(QPointF(0, 1), QPointF(0, 1.001)));
}

TEST(TextLayoutUtilities, DefaultLineHeightAddsExtraForTheClassicFamilies)
{
    EXPECT_EQ(defaultLineHeight(FontLineMetrics { 10.2, 2.8, 0, "Helvetica" }), 15);
    EXPECT_EQ(defaultLineHeight(FontLineMetrics { 10.2, 2.8, 0, "DejaVu Sans" }), 13);
    EXPECT_EQ(defaultLineHeight(FontLineMetrics { 10.2, 2.8, 0, "" }), 13);
    QFont font("DejaVu Sans");
    font.setPixelSize(20);
    EXPECT_GE(defaultLineHeight(font), 20);
}

TEST(TextLayoutUtilities, SelectionsAreGatheredSortedAndFiltered)
{
    Stack stack("some text here");
    TextSelection logical(TextLocation(1));
    logical.isLogical = true;
    stack.manager.setTextSelections({ TextSelection(TextRange(9, 12)), TextSelection(TextLocation(5)),
        logical, TextSelection(TextLocation(2)) });
    EXPECT_EQ(sortedSelectionTextRanges(stack.manager, false),
        (std::vector<TextRange> { TextRange(1), TextRange(2), TextRange(5), TextRange(9, 12) }));
    EXPECT_EQ(sortedSelectionTextRanges(stack.manager, true), std::vector<TextRange> { TextRange(9, 12) });
    EXPECT_EQ(textSelectionRanges(stack.manager).size(), 2u);
    EXPECT_EQ(insertionPointLocations(stack.manager), (std::vector<TextLocation> { 2, 5 }));
    stack.manager.setTextSelections({ TextSelection(TextLocation(3)) });
    EXPECT_TRUE(sortedSelectionTextRanges(stack.manager, true).empty());
}

TEST(TextLayoutUtilities, LinesSegmentsAndNearestCarets)
{
    Stack stack("first\n\nthird line");
    const auto caret
        = textSegmentFrame(stack.manager, TextLocation(2), TextLayoutManager::SegmentType::standard, 0x10);
    ASSERT_TRUE(caret);
    EXPECT_EQ(caret->width(), 0);
    const auto span
        = textSegmentFrame(stack.manager, TextRange(1, 10), TextLayoutManager::SegmentType::standard, 0x11);
    ASSERT_TRUE(span);
    EXPECT_GT(span->height(), 2 * caret->height());

    // Left of the first character gives the first caret of the line.
    EXPECT_EQ(location(stack.manager, QPointF(-50, caret->center().y()), 0), 0);
    EXPECT_EQ(location(stack.manager, QPointF(1000, caret->center().y()), 0), 5);

    const TextLineFragmentHandle line = textLineFragment(stack.manager, TextLocation(2));
    ASSERT_TRUE(line);
    EXPECT_EQ(textRange(*line.fragment, line.line), TextRange(0, 6));
    EXPECT_FALSE(isEmpty(line.line));
    EXPECT_FALSE(textLineFragment(*line.fragment, TextLocation(6))); // the very end of the fragment
    const TextLineFragmentHandle empty = textLineFragment(stack.manager, TextLocation(6));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->characterRange(), TextRange(0, 1));

    std::vector<TextLocation> starts;
    enumerateTextLayoutFragments(
        stack.manager, TextRange(0, 6), 0, [&](const std::shared_ptr<TextLayoutFragment>& each) {
            starts.push_back(each->rangeInElement().location);
            return true;
        });
    EXPECT_EQ(starts, (std::vector<TextLocation> { 0, 6 }));

    const TextRange word(7, 12);
    EXPECT_TRUE(rangesContainNearestLocation(
        stack.manager, { word }, QPointF(span->left() + 30, span->bottom() - 2), true));
    EXPECT_FALSE(rangesContainNearestLocation(
        stack.manager, { word }, QPointF(span->left() + 30, span->bottom() - 2), false));
}

TEST(TextLayoutUtilities, RectUnionKeepsEmptyRectanglesAndPixelAlignmentRoundsEdges)
{
    const QRectF joined = rectUnion(QRectF(10, 10, 0, 0), QRectF(20, 20, 5, 5));
    EXPECT_EQ(joined, QRectF(10, 10, 15, 15));
    EXPECT_EQ(pixelAligned(QRectF(0.4, 0.6, 10.2, 10.5)), QRectF(0, 1, 11, 10));
    EXPECT_EQ(EDRulerInsets(), (EDRulerInsets { 6.0, 6.0 }));
}

TEST(TextLayoutUtilities, NearestCaretLooksAtEveryCaretOfAMixedDirectionLine)
{
    Stack stack(QString::fromUcs4(U"ab \u05D0\u05D1\u05D2\u05D3 cd"));
    std::vector<std::pair<double, TextLocation>> carets;
    stack.manager.enumerateCaretOffsets(0, [&](double x, TextLocation at, bool) {
        carets.push_back({ x, at });
        return true;
    });
    const double y
        = textSegmentFrame(stack.manager, TextLocation(0), TextLayoutManager::SegmentType::standard, 0)
              ->center()
              .y();
    // Stopping at the first caret farther than the best so far, as a scan in logical order
    // would, misses the nearest caret somewhere in a mixed line; find such a point.
    auto stoppingEarly = [&](double pointX) {
        double best = std::numeric_limits<double>::infinity();
        TextLocation found = -1;
        for (const auto& [x, at] : carets) {
            const double distance = std::abs(x - pointX);
            if (distance > best)
                break;
            if (distance < best) {
                best = distance;
                found = at;
            }
        }
        return found;
    };
    auto nearest = [&](double pointX) {
        return std::min_element(carets.begin(), carets.end(), [&](const auto& a, const auto& b) {
            return std::abs(a.first - pointX) < std::abs(b.first - pointX);
        })->second;
    };
    std::optional<double> tricky;
    for (double x = 0; x < 150 && !tricky; x += 0.5) {
        if (stoppingEarly(x) != nearest(x))
            tricky = x;
    }
    ASSERT_TRUE(tricky);
    EXPECT_EQ(location(stack.manager, QPointF(*tricky, y), 0), nearest(*tricky));
}
