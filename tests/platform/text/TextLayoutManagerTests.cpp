#include "platform/text/GraphemeClusters.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextSelectionNavigation.h"
#include "platform/text/TextViewportLayoutController.h"

#include "support/TestSupport.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTextLayout>
#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

QFont testFont()
{
    QFont font("DejaVu Sans");
    font.setPixelSize(14);
    return font;
}

struct Stack {
    TextContentStorage storage;
    TextLayoutManager manager;

    explicit Stack(const QString& text, double width = TextContainer::unboundedExtent)
        : Stack(AttributedString(text), width)
    {
    }
    explicit Stack(const AttributedString& text, double width = TextContainer::unboundedExtent)
    {
        manager.setDefaultFont(testFont());
        TextContainer container;
        container.size = QSizeF(width, TextContainer::unboundedExtent);
        manager.setTextContainer(container);
        manager.setTextContentStorage(&storage);
        storage.setAttributedString(text);
    }
};

struct LineShape {
    TextRange characters;
    double top;
    double height;
    bool operator==(const LineShape&) const = default;
};

struct FragmentShape {
    TextRange range;
    double y;
    double height;
    std::vector<LineShape> lines;
    bool operator==(const FragmentShape&) const = default;
};

std::vector<FragmentShape> shapes(TextLayoutManager& manager)
{
    std::vector<FragmentShape> result;
    manager.enumerateTextLayoutFragments(
        0, TextLayoutManager::ensuresLayout, [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
            FragmentShape shape { fragment->rangeInElement(), fragment->layoutFragmentFrame().top(),
                fragment->layoutFragmentFrame().height(), {} };
            for (const TextLineFragment& line : fragment->textLineFragments())
                shape.lines.push_back({ line.characterRange(), line.typographicBounds().top(),
                    line.typographicBounds().height() });
            result.push_back(shape);
            return true;
        });
    return result;
}

QString randomWords(std::mt19937& random)
{
    static const QString words[]
        = { "alpha ", "be ", "gamma-delta ", "\n", "\r\n", "x", "longerwordthanmost ", "\t" };
    QString text;
    const int count = int(random() % 6);
    for (int i = 0; i < count; ++i)
        text += words[random() % std::size(words)];
    return text;
}

} // namespace

TEST(TextLayoutManager, IncrementalLayoutEqualsAFreshLayout)
{
    for (const double width : { 180.0, TextContainer::unboundedExtent }) {
        std::mt19937 random(width > 1000 ? 7 : 11);
        QString initial;
        for (int i = 0; i < 40; ++i)
            initial += randomWords(random) + "\n";
        Stack incremental(initial, width);
        incremental.storage.setChunkLimits(4, 64);
        incremental.storage.setString(initial);
        for (int step = 0; step < 400; ++step) {
            const qint64 length = incremental.storage.length();
            const qint64 start = length ? qint64(random() % (length + 1)) : 0;
            const qint64 span = std::min<qint64>(length - start, random() % 8);
            incremental.storage.replaceCharacters(
                TextRange(start, start + span), AttributedString(randomWords(random)));

            // Lay out part of the document in between, as scrolling would.
            incremental.manager.ensureLayout(TextRange(start, std::min(length, start + 30)));
            if (step % 7 == 0) {
                // A font change in text that is already laid out.
                QFont large = testFont();
                large.setPixelSize(22);
                incremental.storage.addAttributes(
                    { { AttributeKey::font, large } }, TextRange(start + 10, start + 14));
            }
            if (step % 100 != 99)
                continue;
            Stack fresh(incremental.storage.attributedString(), width);
            ASSERT_EQ(shapes(incremental.manager), shapes(fresh.manager))
                << "width " << width << " step " << step;
            EXPECT_DOUBLE_EQ(incremental.manager.usageBoundsForTextContainer().height(),
                fresh.manager.usageBoundsForTextContainer().height());
        }
    }
}

TEST(TextLayoutManager, UnlaidParagraphsHaveEstimatedHeightsAndTheCacheStaysBounded)
{
    QString text;
    for (int i = 0; i < 5000; ++i)
        text += QStringLiteral("paragraph number %1\n").arg(i);
    Stack stack(text);
    constexpr qint64 limit = 1'000'000;
    stack.manager.setLayoutCacheLimit(limit);
    const QFontMetricsF metrics(testFont());
    const double line = metrics.ascent() + metrics.descent();
    EXPECT_NEAR(stack.manager.usageBoundsForTextContainer().height(), 5001 * line, 1.0);

    stack.manager.ensureLayout(TextRange(0, stack.storage.length()));
    // Within the budget, give or take the few most recent fragments, which always stay.
    EXPECT_LE(stack.manager.layoutCacheBytes(), limit * 5 / 4);
    EXPECT_GT(stack.manager.cachedFragmentCount(), 10);
    EXPECT_LT(stack.manager.cachedFragmentCount(), 1000);
    // Heights of fragments that left the cache stay measured.
    EXPECT_TRUE(stack.storage.isLayoutParagraphMeasured(10));
    auto fragment = stack.manager.textLayoutFragment(stack.storage.paragraph(4000)->elementRange.location);
    ASSERT_TRUE(fragment);
    EXPECT_NEAR(fragment->layoutFragmentFrame().top(), 4000 * fragment->layoutFragmentFrame().height(), 1.0);
}

TEST(TextLayoutManager, SegmentsGiveCaretsAndLinePiecesWithEmptyLinesAtZeroWidth)
{
    Stack stack("abc\n\ndef");
    std::vector<QRectF> frames;
    auto collect = [&](std::optional<TextRange>, QRectF frame, double) {
        frames.push_back(frame);
        return true;
    };
    stack.manager.enumerateTextSegments(TextRange(1), TextLayoutManager::SegmentType::standard, 0, collect);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].width(), 0);
    EXPECT_GT(frames[0].left(), 5.0); // after the padding and the "a"

    frames.clear();
    stack.manager.enumerateTextSegments(
        TextRange(1, 7), TextLayoutManager::SegmentType::selection, 0, collect);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_GT(frames[0].width(), 0);
    EXPECT_EQ(frames[1].width(), 0); // the empty paragraph between
    EXPECT_GT(frames[2].width(), 0);
    EXPECT_LT(frames[0].top(), frames[1].top());
    EXPECT_LT(frames[1].top(), frames[2].top());
}

TEST(TextLayoutManager, HitTestingFindsTheCaretUnderItsOwnFrame)
{
    Stack stack("first line\nsecond, longer line\n\nend", 120);
    for (TextLocation location = 0; location <= stack.storage.length(); ++location) {
        QRectF caret;
        stack.manager.enumerateTextSegments(TextRange(location), TextLayoutManager::SegmentType::standard, 0,
            [&](std::optional<TextRange>, QRectF frame, double) {
                caret = frame;
                return false;
            });
        const auto found = stack.manager.caretLocation(caret.center());
        ASSERT_TRUE(found);
        // A caret after a terminator is shown at the start of the next line, which is the same place.
        const QString text = stack.storage.string();
        if (location > 0 && location < text.size() && text[location - 1] != u'\n'
            && text[location] != u'\n') {
            EXPECT_EQ(*found, location) << location;
        }
    }
}

TEST(TextLayoutManager, WrappedLinesSplitAParagraphAndCaretOffsetsRunLeftToRight)
{
    Stack stack("one two three four five six seven eight nine ten", 90);
    auto fragment = stack.manager.textLayoutFragment(0);
    ASSERT_TRUE(fragment);
    const auto& lines = fragment->textLineFragments();
    ASSERT_GT(lines.size(), 2u);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].characterRange().location, lines[i - 1].characterRange().endLocation);
    double lastX = -1;
    int carets = 0;
    stack.manager.enumerateCaretOffsets(0, [&](double x, TextLocation, bool leading) {
        EXPECT_TRUE(leading);
        EXPECT_GT(x, lastX);
        lastX = x;
        ++carets;
        return true;
    });
    EXPECT_EQ(carets, lines[0].characterRange().length()); // the wrap position belongs to the next line
    const auto range
        = stack.manager.lineFragmentRange(QPointF(10, lines[1].typographicBounds().center().y()), 0);
    ASSERT_TRUE(range);
    EXPECT_EQ(*range, lines[1].characterRange());
}

// The caret after a wrapped row's last character is drawn at the next row's start: a click past a
// row's end must find one drawn on that row, not at the start of the next.
TEST(TextLayoutManager, APointPastTheEndOfAWrappedRowFindsACaretOnThatRow)
{
    Stack stack("one two three four five six seven eight nine ten", 90);
    auto fragment = stack.manager.textLayoutFragment(0);
    ASSERT_TRUE(fragment);
    const auto lines = fragment->textLineFragments();
    ASSERT_GT(lines.size(), 2u);
    for (const auto& line : lines) {
        const QRectF row = line.typographicBounds().translated(fragment->layoutFragmentFrame().topLeft());
        const auto found = stack.manager.caretLocation(QPointF(row.right() + 40, row.center().y()));
        ASSERT_TRUE(found);
        QRectF caret;
        stack.manager.enumerateTextSegments(TextRange(*found), TextLayoutManager::SegmentType::standard, 0,
            [&](std::optional<TextRange>, QRectF frame, double) {
                caret = frame;
                return false;
            });
        EXPECT_NEAR(caret.center().y(), row.center().y(), 1) << "row of " << line.characterRange().location;
        EXPECT_GE(caret.left(), row.right() - 40) << "row of " << line.characterRange().location;
    }
}

TEST(TextLayoutManager, RenderingAttributesMoveWithEdits)
{
    Stack stack("hello wrld here");
    stack.manager.addRenderingAttribute(AttributeKey::spellingState, "1", TextRange(6, 10));
    auto runs = [&] {
        std::vector<TextRange> result;
        stack.manager.enumerateRenderingAttributes(0, false, [&](const TextAttributes&, TextRange range) {
            result.push_back(range);
            return true;
        });
        return result;
    };
    stack.storage.replaceCharacters(TextRange(0), AttributedString(">> "));
    EXPECT_EQ(runs(), std::vector<TextRange> { TextRange(9, 13) });
    stack.storage.replaceCharacters(TextRange(13), AttributedString("!")); // typed right after: not joined
    EXPECT_EQ(runs(), std::vector<TextRange> { TextRange(9, 13) });
    stack.storage.replaceCharacters(TextRange(10, 12), AttributedString("o")); // inside: cut at the edit
    EXPECT_EQ(runs(), (std::vector<TextRange> { TextRange(9, 10), TextRange(11, 12) }));
    stack.manager.removeRenderingAttribute(AttributeKey::spellingState, TextRange(0, 100));
    EXPECT_TRUE(runs().empty());
}

namespace {

class RecordingDelegate : public TextViewportLayoutControllerDelegate {
public:
    QRectF bounds;
    std::vector<TextRange> configured;
    int passes = 0;
    QRectF viewportBounds(TextViewportLayoutController&) override { return bounds; }
    void willLayout(TextViewportLayoutController&) override { configured.clear(); }
    void configureRenderingSurface(
        TextViewportLayoutController&, const std::shared_ptr<TextLayoutFragment>& fragment) override
    {
        configured.push_back(fragment->rangeInElement());
    }
    void didLayout(TextViewportLayoutController&) override { ++passes; }
};

} // namespace

TEST(TextViewportLayoutController, LaysOutOnlyTheFragmentsInTheViewport)
{
    QString text;
    for (int i = 0; i < 20000; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    Stack stack(text);
    RecordingDelegate delegate;
    auto& controller = stack.manager.textViewportLayoutController();
    controller.setDelegate(&delegate);
    const QFontMetricsF metrics(testFont());
    const double line = metrics.ascent() + metrics.descent();

    delegate.bounds = QRectF(0, 1000 * line + 1, 800, 20 * line);
    controller.layoutViewport();
    EXPECT_EQ(delegate.passes, 1);
    ASSERT_GE(delegate.configured.size(), 20u);
    EXPECT_LE(delegate.configured.size(), 22u);
    EXPECT_EQ(delegate.configured.front(), stack.storage.paragraph(1000)->elementRange);
    ASSERT_TRUE(controller.viewportRange());
    EXPECT_EQ(controller.viewportRange()->location, delegate.configured.front().location);
    EXPECT_EQ(controller.viewportRange()->endLocation, delegate.configured.back().endLocation);
    EXPECT_LE(stack.manager.cachedFragmentCount(), 22);
}

TEST(TextLayoutManager, EmptyDocumentHasOneEmptyLineForTheCaret)
{
    Stack stack("");
    int segments = 0;
    stack.manager.enumerateTextSegments(TextRange(0), TextLayoutManager::SegmentType::standard, 0,
        [&](std::optional<TextRange>, QRectF frame, double) {
            ++segments;
            EXPECT_GT(frame.height(), 0);
            EXPECT_EQ(frame.left(), 5.0);
            return true;
        });
    EXPECT_EQ(segments, 1);
    EXPECT_EQ(stack.storage.paragraphCount(), 0);
}

TEST(TextLayoutManager, UsageWidthIncludesTheLineFragmentPadding)
{
    // The text view widens its frame by the padding only where the layer leaves it out; ours
    // keeps it in, so the two widths differ by twice the padding.
    Stack stack("01234567890123456789");
    stack.manager.ensureLayout(stack.storage.documentRange());
    const double padded = stack.manager.usageBoundsForTextContainer().width();
    TextContainer container = stack.manager.textContainer();
    container.lineFragmentPadding = 0;
    stack.manager.setTextContainer(container);
    stack.manager.ensureLayout(stack.storage.documentRange());
    EXPECT_NEAR(padded - stack.manager.usageBoundsForTextContainer().width(), 10.0, 1e-6);
}

TEST(TextLayoutManager, LineHeightMultiplePutsTheExtraHeightAboveTheGlyphs)
{
    ParagraphStyle style;
    style.lineHeightMultiple = 1.5;
    Stack plain("text");
    Stack tall(AttributedString("text", { { AttributeKey::paragraphStyle, QVariant::fromValue(style) } }));
    const TextLineFragment& normal = plain.manager.textLayoutFragment(0)->textLineFragments().front();
    const TextLineFragment& line = tall.manager.textLayoutFragment(0)->textLineFragments().front();
    EXPECT_NEAR(line.typographicBounds().height(), 1.5 * normal.typographicBounds().height(), 1e-6);
    EXPECT_NEAR(
        line.glyphOrigin().y() - normal.glyphOrigin().y(), 0.5 * normal.typographicBounds().height(), 1e-6);
}

TEST(TextViewportLayoutController, ReportsHowFarNewlyMeasuredTextAboveMovedTheVisibleText)
{
    std::mt19937 random(3);
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QString(int(random() % 120), QLatin1Char('w'))
                    .replace(QLatin1String("wwwww"), QLatin1String("word "))
            + "\n";
    Stack stack(text, 200);
    RecordingDelegate delegate;
    auto& controller = stack.manager.textViewportLayoutController();
    controller.setDelegate(&delegate);
    const double middle = stack.manager.usageBoundsForTextContainer().height() / 2;

    delegate.bounds = QRectF(0, middle, 200, 300);
    controller.layoutViewport();
    EXPECT_EQ(controller.lastHeightCorrection(), 0); // nothing was measured before
    const TextLocation anchor = delegate.configured.front().location;
    const double before = stack.manager.textLayoutFragment(anchor)->layoutFragmentFrame().top();

    delegate.bounds.translate(0, -400);
    controller.layoutViewport();
    const double after = stack.manager.textLayoutFragment(anchor)->layoutFragmentFrame().top();
    EXPECT_NE(after, before);
    EXPECT_NEAR(after - before, controller.lastHeightCorrection(), 1e-3);
}

TEST(TextContentStorage, CaretsMoveBehindTextInsertedAtEachOfThem)
{
    Stack stack("abcdef");
    stack.manager.setTextSelections(
        { TextSelection(TextLocation(1)), TextSelection(TextLocation(3)), TextSelection(TextRange(4, 6)) });
    stack.storage.performEditingTransaction([&] {
        // Last range first, as a multi-caret insert does.
        stack.storage.replaceCharacters(TextRange(4, 6), AttributedString("X"));
        stack.storage.replaceCharacters(TextRange(3), AttributedString("X"));
        stack.storage.replaceCharacters(TextRange(1), AttributedString("X"));
    });
    EXPECT_EQ(stack.storage.string(), "aXbcXdX");
    std::vector<TextRange> carets;
    for (const TextSelection& selection : stack.manager.textSelections())
        carets.push_back(selection.textRanges.front());
    EXPECT_EQ(carets, (std::vector<TextRange> { TextRange(2), TextRange(5), TextRange(7) }));
}

TEST(TextLayoutFragment, DrawsItsLinesWhereTheirBoundsSay)
{
    Stack stack("Wide\nW", 400);
    auto fragment = stack.manager.textLayoutFragment(0);
    QImage whole(200, 40, QImage::Format_ARGB32);
    whole.fill(Qt::white);
    {
        QPainter painter(&whole);
        fragment->draw(painter, QPointF(0, 0));
    }
    QImage byLine(200, 40, QImage::Format_ARGB32);
    byLine.fill(Qt::white);
    {
        QPainter painter(&byLine);
        for (const TextLineFragment& line : fragment->textLineFragments())
            line.draw(painter, line.typographicBounds().topLeft());
    }
    EXPECT_EQ(whole, byLine);
    // Something was drawn right of the padding.
    bool inked = false;
    for (int x = 5; x < 60 && !inked; ++x) {
        for (int y = 0; y < 20 && !inked; ++y)
            inked = whole.pixelColor(x, y) != QColor(Qt::white);
    }
    EXPECT_TRUE(inked);
}

TEST(TextLayoutManager, TextInTheDefaultColourDrawsInItWhateverThePen)
{
    // Runs in the default font and colour are laid out without formats; they must still draw in
    // that colour, not in the painter's pen, beside runs of other colours.
    const QColor blue(0, 0, 255);
    const QColor red(255, 0, 0);
    AttributedString text(
        "BLUE", { { AttributeKey::foregroundColor, blue }, { AttributeKey::font, testFont() } });
    text.append(AttributedString("RED", { { AttributeKey::foregroundColor, red } }));
    Stack stack(text);
    stack.manager.setDefaultForegroundColor(blue);
    auto fragment = stack.manager.textLayoutFragment(0);
    QImage image(200, 40, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(Qt::green);
        fragment->draw(painter, QPointF(0, 0));
    }
    auto hue = [&](int fromX, int toX) {
        QColor darkest(Qt::white);
        for (int x = fromX; x < toX; ++x) {
            for (int y = 0; y < 40; ++y) {
                if (image.pixelColor(x, y).lightness() < darkest.lightness())
                    darkest = image.pixelColor(x, y);
            }
        }
        return darkest.hue();
    };
    const double split = fragment->lineFragment(0).locationForCharacter(4).x();
    EXPECT_EQ(hue(0, int(split) - 1), blue.hue());
    EXPECT_EQ(hue(int(split) + 1, 200), red.hue());
}

namespace {

// The hue of the darkest ink a line draws between two x (its whole width by default), on white,
// with a pen it must not use.
int inkHue(const TextLineFragment& line, double fromX = 0, double toX = 0)
{
    const QRectF bounds = line.typographicBounds();
    QImage image(int(bounds.right()) + 2, int(bounds.bottom()) + 2, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setPen(Qt::magenta);
        line.draw(painter, bounds.topLeft());
    }
    QColor darkest(Qt::white);
    for (int x = int(std::max(fromX, bounds.left())) + 1; x < int(toX > 0 ? toX : bounds.right()) - 1; ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixelColor(x, y).lightness() < darkest.lightness())
                darkest = image.pixelColor(x, y);
        }
    }
    return darkest.hue();
}

} // namespace

// A new default colour keeps every fragment and measured height: text without a colour of its own
// draws in the new one, text given a colour keeps it, even one equal to the old default, whose
// paragraph alone is laid out again. Back to the first colour, nothing is laid out. A new font
// still lays everything out again.
TEST(TextLayoutManager, ANewDefaultColourRedrawsWithoutANewLayout)
{
    const QColor blue(0, 0, 255), green(0, 128, 0), red(255, 0, 0);
    AttributedString text("PLAIN\n");
    text.append(AttributedString("BLUE", { { AttributeKey::foregroundColor, blue } }));
    text.append(AttributedString(" rest\n"));
    text.append(AttributedString("RED", { { AttributeKey::foregroundColor, red } }));
    text.append(AttributedString("\nmore\n"));
    Stack stack(text);
    stack.manager.setDefaultForegroundColor(blue);
    int made = 0;
    stack.manager.setFragmentFactory([&made] {
        ++made;
        return std::make_shared<TextLayoutFragment>();
    });
    std::vector<std::shared_ptr<TextLayoutFragment>> before;
    for (qint64 i = 0; i < 3; ++i)
        before.push_back(stack.manager.layoutFragment(i, true));

    stack.manager.setDefaultForegroundColor(green);
    for (qint64 i = 0; i < 3; ++i)
        EXPECT_TRUE(stack.storage.isLayoutParagraphMeasured(i)) << i;
    EXPECT_EQ(stack.manager.layoutFragment(0, true).get(), before[0].get());
    EXPECT_EQ(stack.manager.layoutFragment(2, true).get(), before[2].get());
    const auto mixed = stack.manager.layoutFragment(1, true);
    EXPECT_EQ(made, 4) << "only the paragraph with text in the old default colour is laid out again";
    EXPECT_EQ(mixed->layoutFragmentFrame().height(), before[1]->layoutFragmentFrame().height());
    const double split = mixed->lineFragment(0).locationForCharacter(4).x();
    EXPECT_EQ(inkHue(before[0]->lineFragment(0)), green.hue());
    EXPECT_EQ(inkHue(mixed->lineFragment(0), 0, split), blue.hue());
    EXPECT_EQ(inkHue(mixed->lineFragment(0), split), green.hue());
    EXPECT_EQ(inkHue(before[2]->lineFragment(0)), red.hue());

    stack.manager.setDefaultForegroundColor(blue);
    EXPECT_EQ(stack.manager.layoutFragment(1, true).get(), mixed.get());
    EXPECT_EQ(made, 4);
    EXPECT_EQ(inkHue(mixed->lineFragment(0), split), blue.hue());

    QFont larger = testFont();
    larger.setPixelSize(20);
    stack.manager.setDefaultFont(larger);
    EXPECT_NE(stack.manager.layoutFragment(0, true).get(), before[0].get());
}

// A long paragraph laid out in part keeps its pieces through a new colour, in which it lays out
// the rest, and an edit after the change builds on both.
TEST(TextLayoutManager, ALongParagraphKeepsItsPiecesThroughANewDefaultColour)
{
    const QColor blue(0, 0, 255), green(0, 128, 0);
    Stack stack(QStringLiteral("word ").repeated(400) + "\n", 300);
    stack.manager.setPieceLengths(64, 32, 256);
    stack.manager.setDefaultForegroundColor(blue);
    stack.manager.ensureLayout(TextRange(0, 100));
    const auto fragment = stack.manager.layoutFragment(0, true);
    ASSERT_TRUE(fragment->hasEstimatedText());

    stack.manager.setDefaultForegroundColor(green);
    stack.manager.ensureLayout(TextRange(1500, 1600));
    EXPECT_EQ(stack.manager.layoutFragment(0, true).get(), fragment.get());
    EXPECT_EQ(inkHue(fragment->lineFragment(0)), green.hue());
    EXPECT_EQ(inkHue(stack.manager.lineFragment(1550).line), green.hue());

    stack.storage.replaceCharacters(TextRange(1550, 1550), AttributedString("x"));
    EXPECT_EQ(inkHue(stack.manager.layoutFragment(0, true)->lineFragment(0)), green.hue());
    EXPECT_EQ(inkHue(stack.manager.lineFragment(1550).line), green.hue());
}

TEST(TextLayoutFragment, DrawingLeavesThePaintersPenAndTransformAsTheyWere)
{
    Stack stack("Two rows of text that wrap inside a narrow container", 120);
    stack.manager.setDefaultForegroundColor(Qt::blue);
    auto fragment = stack.manager.textLayoutFragment(0);
    ASSERT_GT(fragment->visualLineCount(), 1);
    QImage image(200, 120, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const QPen pen(Qt::green, 3);
    painter.setPen(pen);
    painter.translate(7.25, 11.5);
    const QTransform transform = painter.transform();
    fragment->draw(painter, QPointF(3, 4));
    EXPECT_EQ(painter.pen(), pen);
    EXPECT_EQ(painter.transform(), transform);
}

TEST(TextLayoutManager, LaidOutParagraphsTakeTheDirectionTheManagerAnswersBeforeLayout)
{
    const QString shalom = QStringLiteral(u"\u05e9\u05dc\u05d5\u05dd");
    const QString isolate = QStringLiteral(u"\u2067");
    const QString paragraphs[] = { "plain", shalom + " world", "123 " + shalom,
        isolate + shalom + QStringLiteral(u"\u2069") + " then latin", isolate + shalom, "42", "",
        // A right-to-left character outside the Basic Multilingual Plane after thousands of digits.
        QString(4095, u'7') + QString::fromUcs4(U"\U00010800") + "abc" };
    QString text;
    for (const QString& paragraph : paragraphs)
        text += paragraph + "\n";
    Stack stack(text, 300);
    std::vector<Qt::LayoutDirection> before;
    for (qint64 i = 0; i < stack.storage.layoutParagraphCount(); ++i)
        before.push_back(stack.manager.baseWritingDirection(stack.storage.layoutParagraphRange(i).location));
    EXPECT_EQ(before[1], Qt::RightToLeft);
    EXPECT_EQ(before[3], Qt::LeftToRight);
    EXPECT_EQ(before[7], Qt::RightToLeft);
    for (qint64 i = 0; i < stack.storage.layoutParagraphCount(); ++i)
        EXPECT_EQ(stack.manager.layoutFragment(i, true)->baseWritingDirection(), before[size_t(i)]) << i;
}

TEST(TextLayoutManager, StorageOutlivesItsLayoutManagerAndTheOtherWayRound)
{
    auto storage = std::make_unique<TextContentStorage>();
    {
        TextLayoutManager manager;
        manager.setTextContentStorage(storage.get());
        storage->setString("a\nb");
    }
    storage->replaceCharacters(TextRange(0), AttributedString("new paragraph\n")); // no estimator left behind
    EXPECT_TRUE(storage->textLayoutManagers().empty());

    TextLayoutManager manager;
    manager.setTextContentStorage(storage.get());
    storage.reset();
    EXPECT_EQ(manager.textContentStorage(), nullptr);
    EXPECT_EQ(manager.textLayoutFragment(0), nullptr);
}

TEST(TextLayoutManager, ParagraphStylesAlignTabAndSpaceTheLines)
{
    auto styled = [](const QString& text, const ParagraphStyle& style) {
        return AttributedString(text, { { AttributeKey::paragraphStyle, QVariant::fromValue(style) } });
    };
    auto lineBounds = [](Stack& stack, TextLocation at) {
        auto fragment = stack.manager.textLayoutFragment(at);
        return fragment->lineFragment(*fragment->lineFragmentIndex(at - fragment->rangeInElement().location))
            .typographicBounds();
    };
    ParagraphStyle style;
    const QString hebrew = QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD");
    struct Alignment {
        TextAlignment alignment;
        QString text;
        double left; // of the line, in a 400 wide container with 5 of padding: -1 where it ends at 395
    };
    const Alignment alignments[] = {
        { TextAlignment::natural, "short", 5 },
        { TextAlignment::left, "short", 5 },
        { TextAlignment::right, "short", -1 },
        { TextAlignment::natural, hebrew, -1 },
        { TextAlignment::left, hebrew, 5 },
    };
    for (const Alignment& each : alignments) {
        style.alignment = each.alignment;
        Stack stack(styled(each.text, style), 400);
        const QRectF bounds = lineBounds(stack, 0);
        if (each.left >= 0) {
            EXPECT_NEAR(bounds.left(), each.left, 0.5) << int(each.alignment);
        } else {
            EXPECT_NEAR(bounds.right(), 395, 1.5) << int(each.alignment);
        }
    }
    style.alignment = TextAlignment::center;
    Stack centered(styled("short", style), 400);
    const QRectF middle = lineBounds(centered, 0);
    EXPECT_NEAR(middle.left() - 5, 395 - middle.right(), 1.0);

    // Justified rows fill the width, carets and all, but for the last; a right-to-left paragraph's
    // last row keeps to the right.
    style.alignment = TextAlignment::justified;
    for (const QString& text : { QString("one two three four five six seven eight nine ten eleven twelve"),
             QString(hebrew + " " + hebrew + " " + hebrew + " " + hebrew + " " + hebrew + " " + hebrew) }) {
        Stack justified(styled(text, style), 160);
        auto fragment = justified.manager.textLayoutFragment(0);
        ASSERT_GT(fragment->visualLineCount(), 1);
        const TextLineFragment first = fragment->lineFragment(0);
        EXPECT_NEAR(first.typographicBounds().left(), 5, 0.5);
        EXPECT_NEAR(first.typographicBounds().right(), 155, 0.5);
        const bool rightToLeft = text.isRightToLeft();
        // The caret at the row's far end (before the space the row ends with) sits at its edge.
        const qint64 farEnd = first.characterRange().endLocation - 1;
        EXPECT_NEAR(first.locationForCharacter(farEnd).x(), rightToLeft ? 5 : 155, 4) << rightToLeft;
        const TextLineFragment last = fragment->lineFragment(fragment->lineFragmentCount() - 1);
        if (rightToLeft) {
            EXPECT_NEAR(last.typographicBounds().right(), 155, 1.5);
        } else {
            EXPECT_NEAR(last.typographicBounds().left(), 5, 0.5);
        }
        EXPECT_NEAR(last.locationForCharacter(last.characterRange().location).x(),
            rightToLeft ? last.typographicBounds().right() : 5, 1.5);
    }

    // Tabs stop at multiples of the interval.
    for (const double interval : { 50.0, 120.0 }) {
        style = ParagraphStyle();
        style.defaultTabInterval = interval;
        Stack stack(styled("a\tb", style));
        EXPECT_NEAR(stack.manager.textLayoutFragment(0)->lineFragment(0).locationForCharacter(2).x(),
            5 + interval, 0.5);
    }

    // Line spacing goes below every line: in the rows and in selections, not in carets.
    style = ParagraphStyle();
    style.lineSpacing = 7;
    Stack spaced(styled("one two three four five six", style), 80);
    auto fragment = spaced.manager.textLayoutFragment(0);
    ASSERT_GT(fragment->visualLineCount(), 2);
    const QFontMetricsF metrics(testFont());
    const double natural = metrics.ascent() + metrics.descent();
    EXPECT_NEAR(fragment->visualLine(1).y - fragment->visualLine(0).y, natural + 7, 0.01);
    EXPECT_NEAR(fragment->layoutFragmentFrame().height(), fragment->visualLineCount() * (natural + 7), 0.01);
    auto height = [&](TextRange range, TextLayoutManager::SegmentType type) {
        double result = 0;
        spaced.manager.enumerateTextSegments(
            range, type, 0, [&](std::optional<TextRange>, QRectF frame, double) {
                result = frame.height();
                return false;
            });
        return result;
    };
    EXPECT_NEAR(height(TextRange(1), TextLayoutManager::SegmentType::standard), natural, 0.01);
    EXPECT_NEAR(height(TextRange(0, 2), TextLayoutManager::SegmentType::selection), natural + 7, 0.01);
    EXPECT_NEAR(height(TextRange(0, 2), TextLayoutManager::SegmentType::highlight), natural, 0.01);

    // Paragraphs without a style of their own take the manager's default.
    Stack plain("one two three four five six", 80);
    ParagraphStyle spacing;
    spacing.lineSpacing = 7;
    plain.manager.setDefaultParagraphStyle(spacing);
    EXPECT_NEAR(plain.manager.textLayoutFragment(0)->layoutFragmentFrame().height(),
        fragment->layoutFragmentFrame().height(), 0.01);
}

TEST(TextLayoutManager, SegmentOptionsExtendTheEndsAndLeaveOutTheMiddle)
{
    Stack stack("alpha beta gamma delta epsilon zeta eta theta iota kappa", 120);
    const TextRange range(3, 45);
    auto segments = [&](unsigned options) {
        std::vector<QRectF> frames;
        stack.manager.enumerateTextSegments(range, TextLayoutManager::SegmentType::selection, options,
            [&](std::optional<TextRange>, QRectF frame, double) {
                frames.push_back(frame);
                return true;
            });
        return frames;
    };
    const std::vector<QRectF> plain = segments(0);
    ASSERT_GT(plain.size(), 2u);
    EXPECT_GT(plain.front().left(), 10); // from the range's start, not the row's
    EXPECT_LT(plain.back().right(), 100); // to its end

    const std::vector<QRectF> extended
        = segments(TextLayoutManager::headSegmentExtended | TextLayoutManager::tailSegmentExtended);
    ASSERT_EQ(extended.size(), plain.size());
    EXPECT_EQ(extended.front().left(), plain.front().left());
    EXPECT_NEAR(extended.front().right(), 115, 0.01); // to the container's trailing edge
    EXPECT_NEAR(extended.back().left(), 5, 0.01); // from its leading edge
    EXPECT_EQ(extended.back().right(), plain.back().right());

    const std::vector<QRectF> ends = segments(TextLayoutManager::middleFragmentsExcluded);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends.front(), plain.front());
    EXPECT_EQ(ends.back(), plain.back());

    // Inside one row nothing is extended.
    std::vector<QRectF> one;
    stack.manager.enumerateTextSegments(TextRange(1, 3), TextLayoutManager::SegmentType::selection,
        TextLayoutManager::headSegmentExtended | TextLayoutManager::tailSegmentExtended,
        [&](std::optional<TextRange>, QRectF frame, double) {
            one.push_back(frame);
            return true;
        });
    ASSERT_EQ(one.size(), 1u);
    EXPECT_LT(one.front().width(), 30);
}

// Where the caret at `at` is drawn.
static double caretXOf(TextLayoutManager& manager, TextLocation at)
{
    double x = 0;
    manager.enumerateTextSegments(TextRange(at), TextLayoutManager::SegmentType::standard, 0,
        [&](std::optional<TextRange>, QRectF frame, double) {
            x = frame.left();
            return false;
        });
    return x;
}

// A range that ends inside a right-to-left run covers the characters it holds, wherever the
// runs put them, and none other: a selection in mixed text highlights what is selected. A point
// near a character's logical start finds the caret before that character, also where two runs
// put two carets at one place.
TEST(TextLayoutManager, MixedDirectionTextIsHighlightedAndHitWhereItsCharactersStand)
{
    // "Hello", Arabic words, digits the Arabic run takes to its left, "world".
    const QString text = QString::fromUtf8(
        "Hello \u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645 123 world");
    Stack stack(text);
    auto caretX = [&](TextLocation at) { return caretXOf(stack.manager, at); };
    for (const TextRange range : { TextRange(3, 16), TextRange(9, 22), TextRange(14, 26) }) {
        std::vector<QRectF> frames;
        stack.manager.enumerateTextSegments(range, TextLayoutManager::SegmentType::selection, 0,
            [&](std::optional<TextRange>, QRectF frame, double) {
                frames.push_back(frame);
                return true;
            });
        // Each character lies between its two carets, unless a run starts or ends at it.
        for (TextLocation at = 0; at + 1 < TextLocation(text.size()); ++at) {
            const double from = caretX(at);
            const double to = caretX(at + 1);
            if (std::abs(to - from) > 12)
                continue;
            const QPointF middle((from + to) / 2, frames.front().center().y());
            const bool covered = std::any_of(
                frames.begin(), frames.end(), [&](const QRectF& frame) { return frame.contains(middle); });
            EXPECT_EQ(covered, range.contains(at))
                << "character " << at << " of " << range.location << "-" << range.endLocation;
            const QPointF nearStart(from + (to - from) / 4, middle.y());
            EXPECT_EQ(stack.manager.caretLocation(nearStart), at) << "character " << at;
        }
    }
}

// A line longer than the carets scanned one by one: a click at the far end of a run of the other
// direction finds the caret drawn there, not the one after the run's last character, which is
// drawn at its other end.
TEST(TextLayoutManager, ClicksInALongMixedDirectionLineFindTheCaretDrawnUnderThem)
{
    QString text;
    while (text.size() < 400)
        text += QString::fromUtf8("Hello \u0645\u0631\u062d\u0628\u0627 world ");
    Stack stack(text);
    auto caretX = [&](TextLocation at) { return caretXOf(stack.manager, at); };
    const double y = stack.manager.lineFragment(0)->typographicBounds().center().y();
    for (TextLocation at = 0; at <= TextLocation(text.size()); ++at) {
        const double x = caretX(at) + 0.3;
        const auto found = stack.manager.caretLocation(QPointF(x, y));
        ASSERT_TRUE(found);
        EXPECT_NEAR(caretX(*found), x, 1.0) << "a click by the caret of " << at << " finds " << *found;
    }
}

// Where one piece of a long paragraph ends and the next begins, a row ends where one layout of the
// whole paragraph would end it: not past the width when the next piece's first word does not fit
// after the spaces, nor early when those spaces hang past the row's end.
TEST(TextLayoutManager, RowsWherePiecesMeetEndWhereOneLayoutWouldEndThem)
{
    const QString texts[] = { "mm  cc   a     iabc  wx 1 ", "ab ve  - the       cm word and more words",
        "one two  three    four five six  seven", "aaaaaa     b c d e f g h i j k l m n o p" };
    for (const QString& text : texts) {
        for (double width = 20; width < 200; width += 7) {
            Stack stack(text, width);
            stack.manager.setPieceLengths(12, 6);
            QTextLayout layout(text, testFont());
            QTextOption option;
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            option.setUseDesignMetrics(true);
            layout.setTextOption(option);
            layout.beginLayout();
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
                line.setLineWidth(width - 10);
            layout.endLayout();
            std::vector<qint64> expected;
            for (int i = 0; i < layout.lineCount(); ++i)
                expected.push_back(layout.lineAt(i).textStart());
            std::vector<qint64> rows;
            auto fragment = stack.manager.textLayoutFragment(0);
            for (qsizetype row = 0; row < fragment->visualLineCount(); ++row)
                rows.push_back(fragment->visualLine(row).characterRange.location);
            EXPECT_EQ(rows, expected) << text.toStdString() << " in " << width;
        }
    }
}

TEST(TextLayoutManager, LongParagraphsEditedPieceByPieceStayWhole)
{
    // Small pieces, so that a short text is cut into many and edits land on their boundaries. (No
    // tabs: a tab stops at multiples of the interval from its piece's start, so widths would
    // depend on where the pieces were cut.)
    // Hostile bits too: a lone surrogate, a right-to-left override left open, Hebrew.
    const QString pieces[] = { "word ", "longerword ", "e\u0301", QString::fromUcs4(U"\U0001F600"), "x", "  ",
        QString(QChar(0xD800)), QString(QChar(0x202E)), QString::fromUcs4(U"\u05E9\u05DC\u05D5\u05DD ") };
    for (const double width : { TextContainer::unboundedExtent, 150.0 }) {
        std::mt19937 random(width > 1000 ? 5 : 6);
        QString initial;
        for (int i = 0; i < 400; ++i)
            initial += pieces[random() % std::size(pieces)];
        Stack stack(initial, width);
        stack.manager.setPieceLengths(64, 32);
        for (int step = 0; step < 300; ++step) {
            const qint64 length = stack.storage.length();
            const qint64 start = qint64(random() % (length + 1));
            const qint64 span = std::min<qint64>(length - start, random() % 6);
            stack.storage.replaceCharacters(
                TextRange(start, start + span), AttributedString(pieces[random() % std::size(pieces)]));
            auto fragment = stack.manager.textLayoutFragment(0);
            if (step % 30 != 29)
                continue;
            // The lines cover the paragraph in order, say what the storage says, never start inside a
            // cluster, and sit side by side in their rows.
            const QString text = stack.storage.string();
            const auto& lines = fragment->textLineFragments();
            ASSERT_GT(lines.size(), 10u);
            TextLocation at = 0;
            for (size_t i = 0; i < lines.size(); ++i) {
                const TextLineFragment& line = lines[i];
                ASSERT_EQ(line.characterRange().location, at) << step;
                ASSERT_EQ(line.attributedString().string(), text.mid(at, line.characterRange().length()));
                ASSERT_TRUE(line.isValidCaretIndex(at)) << at;
                at = line.characterRange().endLocation;
                if (i > 0 && lines[i - 1].visualLineIndex() == line.visualLineIndex()) {
                    // Left to right, or right to left in a right-to-left paragraph.
                    const QRectF before = lines[i - 1].typographicBounds();
                    const QRectF bounds = line.typographicBounds();
                    if (fragment->baseWritingDirection() == Qt::RightToLeft) {
                        ASSERT_NEAR(before.left(), bounds.right(), 0.01);
                    } else {
                        ASSERT_NEAR(before.right(), bounds.left(), 0.01);
                    }
                }
            }
            ASSERT_EQ(at, text.size());
            if (width > 1000) {
                // Unwrapped, the text is one row as long as laid out at once.
                Stack fresh(text, width);
                fresh.manager.setPieceLengths(64, 32);
                EXPECT_EQ(fragment->visualLineCount(), 1);
                const double freshWidth = fresh.manager.textLayoutFragment(0)->layoutFragmentFrame().width();
                EXPECT_NEAR(fragment->layoutFragmentFrame().width(), freshWidth, freshWidth / 1000);
            }
            // A click on any caret finds a caret drawn there: that one, or another at the same place
            // (where runs of opposite direction meet, or where a row ends and the next starts).
            auto caretFrame = [&](TextLocation caret) {
                QRectF frame;
                stack.manager.enumerateTextSegments(TextRange(caret),
                    TextLayoutManager::SegmentType::standard, 0,
                    [&](std::optional<TextRange>, QRectF each, double) {
                        frame = each;
                        return false;
                    });
                return frame;
            };
            for (TextLocation caret = 0; caret <= text.size(); caret += 7) {
                if (!fragment->lineFragment(*fragment->lineFragmentIndex(caret)).isValidCaretIndex(caret))
                    continue;
                const QRectF frame = caretFrame(caret);
                const TextLocation found = *stack.manager.caretLocation(frame.center());
                if (found == caret)
                    continue;
                const QRectF other = caretFrame(found);
                const bool rowEnd = width < 1000 && text[caret - 1] == u' ';
                // Where two pieces meet in right-to-left text, each may show that place elsewhere.
                const bool join
                    = fragment->lineFragment(*fragment->lineFragmentIndex(found)).characterRange().location
                    == found;
                EXPECT_TRUE(rowEnd || join
                    || (std::abs(other.left() - frame.left()) < 1.0 && other.top() == frame.top()))
                    << caret << " found " << found;
            }
        }
    }
}

TEST(TextLayoutManager, LineHandlesKeepTheirFragmentUsableAfterTheCacheLetsItGo)
{
    Stack stack("first paragraph\nsecond");
    TextLineFragmentHandle handle = stack.manager.lineFragment(3);
    ASSERT_TRUE(handle);
    const double x = handle->locationForCharacter(3).x();
    const std::weak_ptr<TextLayoutFragment> held = handle.fragment;
    stack.storage.replaceCharacters(TextRange(0), AttributedString("new "));
    stack.manager.setLayoutCacheLimit(0);
    ASSERT_FALSE(held.expired());
    EXPECT_EQ(handle->locationForCharacter(3).x(), x);
    QImage image(200, 40, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        handle->draw(painter, handle->typographicBounds().topLeft());
    }
    EXPECT_NE(image, [] {
        QImage blank(200, 40, QImage::Format_ARGB32);
        blank.fill(Qt::white);
        return blank;
    }());
    handle = {};
    EXPECT_TRUE(held.expired());
}

// After Thai, Qt's own cluster boundaries fall inside flags, joined emoji sequences and emoji with
// a variation selector. Neither a cut between the pieces of a long paragraph (laid out whole or
// where it is reached) nor a click may land there: the character would be drawn in two halves, or
// Backspace would take half of it.
TEST(TextLayoutManager, PiecesAndClicksAfterThaiKeepEmojiWhole)
{
    const QString thai = QString::fromUtf8("\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35");
    const QString emoji[] = { QString::fromUtf8("\U0001F1F9\U0001F1ED"),
        QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467"), QString::fromUtf8("\u2764\uFE0F"),
        QString::fromUtf8("\U0001F1F9\U0001F1ED").repeated(41) };
    QString text = thai;
    for (int i = 0; text.size() < 500; ++i)
        text += emoji[i % 4] + (i % 7 == 6 ? thai : QString());
    auto isBoundary = [&](qint64 at) { return isGraphemeBoundary(text, qsizetype(at)); };

    for (const qsizetype estimateBeyond : { qsizetype(100000), qsizetype(60) }) {
        for (const qsizetype target : { 7, 9, 13, 24, 90 }) {
            Stack stack(text);
            stack.manager.setPieceLengths(target * 2, target, estimateBeyond);
            const auto fragment = stack.manager.textLayoutFragment(0);
            // Reach the text a piece at a time from its end, so that an estimate is cut where it is
            // reached, far from its start.
            for (qint64 at = text.size(); at >= 0; at -= target)
                stack.manager.lineFragment(TextLocation(at));
            std::vector<qint64> starts;
            stack.manager.enumerateTextLayoutFragments(
                0, TextLayoutManager::ensuresLayout, [&](const std::shared_ptr<TextLayoutFragment>& laidOut) {
                    for (const TextLineFragment& line : laidOut->textLineFragments())
                        if (!line.isEstimated())
                            starts.push_back(line.characterRange().location);
                    return false;
                });
            ASSERT_GT(starts.size(), 4u) << target;
            for (qint64 start : starts)
                EXPECT_TRUE(isBoundary(start)) << "a piece starts at " << start << " of " << target;
        }
    }

    Stack stack(text);
    const auto line = stack.manager.lineFragment(0);
    ASSERT_TRUE(line);
    const QRectF bounds = line->typographicBounds();
    for (qint64 at = 0; at <= text.size(); ++at)
        EXPECT_EQ(line->isValidCaretIndex(at), isBoundary(at)) << at;
    for (double x = bounds.left() - 2; x < bounds.right() + 2; x += 1.5) {
        const auto found = stack.manager.caretLocation(QPointF(x, bounds.center().y()));
        ASSERT_TRUE(found);
        EXPECT_TRUE(isBoundary(*found)) << "a click at " << x << " finds " << *found;
    }
}

// Up and Down keep the column they started from across short lines; an edit ends that run. After
// Down onto a short line and typing there, the next Down used to land at the old column instead of
// below the caret.
TEST(TextLayoutManager, AnEditEndsTheColumnThatUpAndDownKeep)
{
    using Direction = TextSelectionNavigation::Direction;
    using Destination = TextSelectionNavigation::Destination;
    Stack stack(QStringLiteral("xxxxxxxxxx\nxx\nxxxxxxxxxx"));
    TextSelectionNavigation& navigation = stack.manager.textSelectionNavigation();
    const auto down = [&](const TextSelection& from) {
        return *navigation.destinationSelection(from, Direction::down, Destination::character, false, false);
    };
    // Typing and Backspace at the caret at the end of the short line.
    for (const auto& [replaced, typed] :
        { std::pair { TextRange(13), QStringLiteral("y") }, std::pair { TextRange(12, 13), QString() } }) {
        stack.storage.setString(QStringLiteral("xxxxxxxxxx\nxx\nxxxxxxxxxx"));
        stack.manager.setTextSelections(std::vector { down(TextSelection(TextLocation(8))) });
        ASSERT_EQ(stack.manager.textSelections().front().textRanges.front(), TextRange(13));
        stack.storage.replaceCharacters(replaced, AttributedString(typed));
        const TextSelection after = stack.manager.textSelections().front();
        EXPECT_EQ(down(after).textRanges.front().location,
            down(TextSelection(after.textRanges.front().location)).textRanges.front().location)
            << "after replacing at " << replaced.location;
    }
}

// A blank line inside text given a paragraph style is as tall as the lines around it: its style is
// on its line end, as its font is.
TEST(TextLayoutManager, AnEmptyParagraphTakesTheStyleOnItsLineEnd)
{
    ParagraphStyle multiple;
    multiple.lineHeightMultiple = 1.8;
    ParagraphStyle spacing;
    spacing.lineSpacing = 7;
    for (const ParagraphStyle& style : { multiple, spacing }) {
        for (const QString& text : { QStringLiteral("text\n\nmore"), QStringLiteral("text\r\n\r\nmore"),
                 QStringLiteral("text\u2029\u2029more") }) {
            Stack stack(
                AttributedString(text, { { AttributeKey::paragraphStyle, QVariant::fromValue(style) } }),
                400);
            auto first = stack.manager.textLayoutFragment(0);
            auto empty = stack.manager.textLayoutFragment(stack.storage.layoutParagraphRange(1).location);
            ASSERT_TRUE(first && empty);
            ASSERT_EQ(empty->layoutParagraphIndex(), 1);
            EXPECT_NEAR(empty->layoutFragmentFrame().height(), first->layoutFragmentFrame().height(), 1e-6)
                << text.size();
        }
    }
}
