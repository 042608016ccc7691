#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextSelectionNavigation.h"
#include "platform/text/TextViewportLayoutController.h"

#include "support/TestSupport.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <malloc.h>

#include <map>
#include <random>

using namespace platform;
using Direction = TextSelectionNavigation::Direction;
using Destination = TextSelectionNavigation::Destination;

namespace {

struct Stack {
    TextContentStorage storage;
    TextLayoutManager manager;

    Stack(const QString& text, double width)
    {
        QFont font("DejaVu Sans");
        font.setPixelSize(13);
        manager.setDefaultFont(font);
        TextContainer container;
        container.size = QSizeF(width, TextContainer::unboundedExtent);
        manager.setTextContainer(container);
        manager.setTextContentStorage(&storage);
        storage.setString(text);
    }
    TextLocation moved(TextLocation from, Direction direction, Destination destination)
    {
        const auto result = manager.textSelectionNavigation().destinationSelection(
            TextSelection(from), direction, destination, false, false);
        return result ? result->textRanges.front().location : -1;
    }
    QRectF caret(TextLocation at)
    {
        QRectF result;
        manager.enumerateTextSegments(TextRange(at), TextLayoutManager::SegmentType::standard, 0,
            [&](std::optional<TextRange>, QRectF frame, double) {
                result = frame;
                return false;
            });
        return result;
    }
    // Draws what a view showing `viewport` (container coordinates) would show; answers whether
    // any glyph was drawn.
    bool drawsSomething(QRectF viewport)
    {
        QImage image(viewport.size().toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setClipRect(QRectF(QPointF(0, 0), viewport.size()));
        painter.translate(-viewport.topLeft());
        manager.enumerateTextLayoutFragments(
            storage.layoutParagraphRange(storage.layoutParagraphIndexAtY(viewport.top())).location,
            TextLayoutManager::ensuresLayout, [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
                fragment->draw(painter, fragment->layoutFragmentFrame().topLeft());
                return fragment->layoutFragmentFrame().bottom() < viewport.bottom();
            });
        painter.end();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) != QColor(Qt::white))
                    return true;
            }
        }
        return false;
    }
};

class RecordingDelegate : public TextViewportLayoutControllerDelegate {
public:
    QRectF bounds;
    int configured = 0;
    QRectF viewportBounds(TextViewportLayoutController&) override { return bounds; }
    void willLayout(TextViewportLayoutController&) override { configured = 0; }
    void configureRenderingSurface(
        TextViewportLayoutController&, const std::shared_ptr<TextLayoutFragment>&) override
    {
        ++configured;
    }
};

QString words(int count)
{
    QString text;
    text.reserve(count * 5);
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("word ");
    return text;
}

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

} // namespace

TEST(LongText, FiveMegabyteLineOpensTypesMovesHitTestsAndDraws)
{
    const QString text = words(1'000'000);
    const qint64 length = text.size();
    for (const double width : { TextContainer::unboundedExtent, 800.0 }) {
        const bool wrapping = width < TextContainer::unboundedExtent;
        Stack stack(text, width);
        auto fragment = stack.manager.textLayoutFragment(0);
        ASSERT_TRUE(fragment);
        // Laid out where it was reached (its start), the rest estimated.
        EXPECT_TRUE(fragment->hasEstimatedText());
        EXPECT_GT(fragment->lineFragmentCount(), 1);

        // Carets run along the line (down the rows when wrapped), far past the 2^25 px that
        // QTextLayout's fixed point reaches, and a click on each finds it again.
        QRectF previous(-1, -1, 0, 0);
        for (TextLocation at = 1; at < length; at += 4999) {
            const TextLocation inWord = at - at % 5 + 2; // inside a word: no row ends there
            const QRectF caret = stack.caret(inWord);
            if (wrapping) {
                ASSERT_TRUE(caret.top() > previous.top()
                    || (caret.top() == previous.top() && caret.left() > previous.left()))
                    << inWord;
            } else {
                ASSERT_GT(caret.left(), previous.left()) << inWord;
                ASSERT_EQ(caret.top(), 0);
            }
            ASSERT_EQ(stack.manager.caretLocation(caret.center()), inWord);
            previous = caret;
        }
        const QRectF end = stack.caret(length);
        if (!wrapping) {
            EXPECT_GT(end.left(), 33554432.0);
        }
        EXPECT_TRUE(stack.drawsSomething(QRectF(end.left() - 400, end.top() - 300, 800, 600)));

        // Typing at the start, in the middle and at the end.
        for (const TextLocation at : { length, length / 2, TextLocation(0) }) {
            stack.storage.replaceCharacters(TextRange(at), AttributedString("X"));
            const QRectF typed = stack.caret(at);
            const QRectF after = stack.caret(at + 1);
            EXPECT_GT(after.left(), typed.left()) << at;
            EXPECT_EQ(stack.storage.substring(TextRange(at, at + 1)), "X");
        }
        const qint64 typed = length + 3;
        EXPECT_EQ(stack.manager.textLayoutFragment(0)->contentLength(), typed);

        // Moves to both ends by character, word, line and paragraph.
        auto& navigation = stack.manager.textSelectionNavigation();
        EXPECT_EQ(stack.moved(0, Direction::forward, Destination::character), 1);
        EXPECT_EQ(stack.moved(0, Direction::right, Destination::character), 1);
        EXPECT_EQ(stack.moved(0, Direction::forward, Destination::word), 5); // "Xword"
        EXPECT_EQ(stack.moved(typed, Direction::backward, Destination::character), typed - 1);
        EXPECT_EQ(stack.moved(typed, Direction::left, Destination::character), typed - 1);
        EXPECT_EQ(stack.moved(typed, Direction::backward, Destination::word), typed - 1); // the "X"
        EXPECT_EQ(stack.moved(typed / 2, Direction::backward, Destination::paragraph), 0);
        EXPECT_EQ(stack.moved(typed / 2, Direction::forward, Destination::paragraph), typed);
        EXPECT_EQ(stack.moved(typed / 2, Direction::forward, Destination::document), typed);
        const TextLocation lineEnd = stack.moved(typed / 2, Direction::right, Destination::line);
        const TextLocation lineStart = stack.moved(typed / 2, Direction::left, Destination::line);
        if (wrapping) {
            EXPECT_GT(lineEnd, typed / 2);
            EXPECT_LT(lineEnd, typed / 2 + 200);
            EXPECT_LT(lineStart, typed / 2);
            EXPECT_GT(lineStart, typed / 2 - 200);
        } else {
            EXPECT_EQ(lineEnd, typed);
            EXPECT_EQ(lineStart, 0);
        }
        const TextRange word = navigation.wordRange(typed / 4 + 1);
        EXPECT_EQ(stack.storage.substring(word), "word");
    }
}

TEST(LongText, TwoHundredThousandLinesOpenTypeMoveHitTestAndDraw)
{
    QString text;
    for (int i = 0; i < 200'000; ++i)
        text += QStringLiteral("line %1 of the document\n").arg(i);
    Stack stack(text, 600);
    RecordingDelegate delegate;
    auto& controller = stack.manager.textViewportLayoutController();
    controller.setDelegate(&delegate);
    const double height = stack.manager.usageBoundsForTextContainer().height();
    delegate.bounds = QRectF(0, height / 2, 600, 400);
    controller.layoutViewport();
    EXPECT_GT(delegate.configured, 10);
    EXPECT_LT(delegate.configured, 40);
    EXPECT_LT(stack.manager.cachedFragmentCount(), 100);
    EXPECT_TRUE(stack.drawsSomething(delegate.bounds));

    const qint64 middle = stack.storage.paragraph(100'000)->elementRange.location;
    for (const TextLocation at : { stack.storage.length(), middle, TextLocation(0) }) {
        stack.storage.replaceCharacters(TextRange(at), AttributedString("typed "));
        EXPECT_EQ(stack.storage.substring(TextRange(at, at + 6)), "typed ");
        EXPECT_EQ(stack.manager.caretLocation(stack.caret(at + 3).center()), at + 3);
    }
    const TextLocation end = stack.storage.length();
    EXPECT_EQ(stack.storage.paragraphCount(), 200'001); // the typing at the end started a line
    const TextLocation middleNow = stack.storage.paragraph(100'000)->elementRange.location;
    ASSERT_EQ(middleNow, middle + 6);
    EXPECT_EQ(stack.moved(middleNow + 2, Direction::forward, Destination::document), end);
    EXPECT_EQ(stack.moved(middleNow + 2, Direction::backward, Destination::document), 0);
    EXPECT_EQ(stack.moved(middleNow + 2, Direction::backward, Destination::paragraph), middleNow);
    const TextLocation paragraphEnd = stack.storage.paragraph(100'000)->paragraphContentRange.endLocation;
    EXPECT_EQ(stack.moved(middleNow + 2, Direction::forward, Destination::paragraph), paragraphEnd);
    EXPECT_EQ(stack.moved(middleNow + 2, Direction::left, Destination::line), middleNow);
    EXPECT_EQ(stack.moved(middleNow + 2, Direction::right, Destination::line), paragraphEnd);
    EXPECT_EQ(stack.moved(end, Direction::backward, Destination::character), end - 1);
    EXPECT_EQ(stack.moved(0, Direction::forward, Destination::word), 5); // "typed"

    // A click below the last line, right of its end, lands at the end; one left of the first
    // line at its start.
    EXPECT_EQ(
        stack.manager.caretLocation(QPointF(590, stack.manager.usageBoundsForTextContainer().height() + 50)),
        end);
    EXPECT_EQ(stack.manager.caretLocation(QPointF(0, 1)), 0);
}

TEST(LongText, KeystrokesReleaseTheLayoutsTheyReplace)
{
    const QString text = words(200'000);
    Stack stack(text, 800);
    RecordingDelegate delegate;
    auto& controller = stack.manager.textViewportLayoutController();
    controller.setDelegate(&delegate);
    const TextLocation middle = text.size() / 2;
    auto type = [&](TextLocation at) {
        stack.storage.replaceCharacters(TextRange(at), AttributedString("x"));
        delegate.bounds = QRectF(0, stack.caret(at).top() - 300, 800, 600);
        controller.layoutViewport();
    };

    type(middle);
    std::weak_ptr<TextLayoutFragment> first = stack.manager.textLayoutFragment(middle);
    const qint64 cached = stack.manager.layoutCacheBytes();
    const size_t heap = heapInUse();
    for (int i = 1; i < 1000; ++i)
        type(middle + i);
    EXPECT_TRUE(first.expired()); // the edit dropped the fragment it replaced
    EXPECT_EQ(stack.manager.cachedFragmentCount(), 1);
    EXPECT_LE(stack.manager.layoutCacheBytes(), cached * 6 / 5);
    // Laid out whole, the paragraph's glyphs alone take about 40 MB.
    EXPECT_LT(heapInUse(), heap + 20'000'000);

    // The cache keeps to its budget however much is laid out, keeping only the fragment in use
    // beyond it.
    stack.manager.setLayoutCacheLimit(4'000'000);
    EXPECT_LE(
        stack.manager.layoutCacheBytes(), 4'000'000 + stack.manager.textLayoutFragment(0)->memoryCost());
}

// A long line's direction is kept across keystrokes (a line of figures would otherwise be read
// whole for it at each one; `bench_textlayer --figures` measures that): strong characters typed
// before or after the figures, or over the one that decides, and isolates, still decide.
TEST(LongText, TheDirectionOfALongLineFollowsTheStrongCharactersTypedAndRemoved)
{
    Stack longer(QStringLiteral("12,345.67\t").repeated(20'000), TextContainer::unboundedExtent);
    for (int i = 0; i < 3; ++i) {
        const TextLocation end = longer.storage.length();
        longer.storage.replaceCharacters(TextRange(end), AttributedString("8"));
        longer.caret(end + 1);
    }
    const TextLocation end = longer.storage.length();
    auto direction = [&] {
        longer.caret(0);
        return longer.manager.baseWritingDirection(0);
    };
    EXPECT_EQ(direction(), Qt::LeftToRight);
    longer.storage.replaceCharacters(TextRange(end), AttributedString(QString::fromUtf8("\u05D0")));
    EXPECT_EQ(direction(), Qt::RightToLeft);
    longer.storage.replaceCharacters(TextRange(5), AttributedString("a"));
    EXPECT_EQ(direction(), Qt::LeftToRight);
    longer.storage.replaceCharacters(TextRange(5, 6), AttributedString());
    EXPECT_EQ(direction(), Qt::RightToLeft);
    longer.storage.replaceCharacters(TextRange(0), AttributedString(QString::fromUtf8("\u2066a\u2069")));
    EXPECT_EQ(direction(), Qt::RightToLeft) << "a letter inside an isolate does not count";
    longer.storage.replaceCharacters(TextRange(end + 3, end + 4), AttributedString());
    EXPECT_EQ(direction(), Qt::LeftToRight);
}

TEST(LongText, TwentyMegabyteLineLaysOutWhatIsReachedAndKeepsItInPlace)
{
    const QString text = words(4'000'000);
    const qint64 length = text.size();
    for (const double width : { TextContainer::unboundedExtent, 800.0 }) {
        const bool wrapping = width < TextContainer::unboundedExtent;
        Stack stack(text, width);
        const double height = stack.manager.usageBoundsForTextContainer().height();
        EXPECT_TRUE(stack.manager.textLayoutFragment(0)->hasEstimatedText());
        EXPECT_LT(stack.manager.layoutCacheBytes(), 1'000'000); // the start only

        // Carets reached in a scattered order (each laid out before, after or between what was laid
        // out already) run along the line in order, are found again by a click, and stay put.
        std::vector<TextLocation> places;
        for (int i = 0; i < 48; ++i) {
            const TextLocation at = length * i / 48 + (i % 3) * 2100;
            places.push_back(at - at % 5 + 2); // inside a word: no row ends there
        }
        places.push_back(length - 3);
        std::vector<TextLocation> scattered = places;
        std::shuffle(scattered.begin(), scattered.end(), std::mt19937(7));
        std::map<TextLocation, QRectF> shown;
        for (const TextLocation at : scattered) {
            shown[at] = stack.caret(at);
            ASSERT_EQ(stack.manager.caretLocation(shown[at].center()), at);
        }
        QRectF previous(-1, -1, 0, 0);
        for (const auto& [at, frame] : shown) {
            EXPECT_EQ(stack.caret(at), frame) << at;
            if (wrapping) {
                EXPECT_GT(frame.top(), previous.top()) << at;
            } else {
                EXPECT_GT(frame.left(), previous.left()) << at;
            }
            previous = frame;
        }
        if (wrapping) {
            // What was laid out took the place its estimate had.
            EXPECT_NEAR(stack.manager.usageBoundsForTextContainer().height(), height, height / 100);
        }

        // A click in text not laid out yet lays it out and lands on the caret drawn nearest to it.
        const QRectF a = shown[places[20]];
        const QRectF b = shown[places[21]];
        const QPointF click
            = wrapping ? QPointF(303, (a.top() + b.top()) / 2) : QPointF((a.left() + b.left()) / 2, 5);
        const TextLocation found = *stack.manager.caretLocation(click);
        EXPECT_GT(found, places[20]);
        EXPECT_LT(found, places[21]);
        const QRectF caret = stack.caret(found);
        EXPECT_LT(std::abs(caret.left() - click.x()), 8.0);
        EXPECT_LE(caret.top(), click.y());
        EXPECT_GT(caret.bottom(), click.y());
        EXPECT_TRUE(stack.drawsSomething(QRectF(click.x() - 400, caret.top() - 300, 800, 600)));
    }
}

TEST(LongText, UpAndDownCrossRowsNotLaidOutAndComeBack)
{
    Stack stack(words(400'000), 800);
    // Pieces shorter than a row, so that what a caret move lays out around its start does not
    // reach the row it goes to.
    stack.manager.setPieceLengths(64, 32);
    RecordingDelegate delegate;
    delegate.bounds = QRectF(0, 0, 800, 300);
    stack.manager.textViewportLayoutController().setDelegate(&delegate);
    stack.manager.textViewportLayoutController().layoutViewport();
    auto fragment = stack.manager.textLayoutFragment(QPointF(0, 0));
    qsizetype estimated = 0;
    while (!fragment->visualLine(estimated).estimated)
        ++estimated;
    ASSERT_GT(estimated, 10);
    const TextLayoutFragment::VisualLine last = fragment->visualLine(estimated - 1);
    const TextLocation start = *stack.manager.caretLocation(QPointF(201, last.y + 2));

    // Down 300 rows, one row at a time at the same x, then up again to where it started.
    TextSelection selection(start);
    auto& navigation = stack.manager.textSelectionNavigation();
    const QRectF first = stack.caret(start);
    QRectF previous = first;
    for (int i = 0; i < 300; ++i) {
        selection = *navigation.destinationSelection(
            selection, Direction::down, Destination::character, false, false);
        const QRectF caret = stack.caret(selection.textRanges.front().location);
        ASSERT_NEAR(caret.top() - previous.top(), first.height(), 1.0) << i;
        ASSERT_LT(std::abs(caret.left() - first.left()), 8.0) << i;
        previous = caret;
    }
    for (int i = 0; i < 300; ++i)
        selection = *navigation.destinationSelection(
            selection, Direction::up, Destination::character, false, false);
    EXPECT_EQ(selection.textRanges.front().location, start);
    EXPECT_EQ(stack.caret(start), first);
}

TEST(LongText, EditsInTextNotLaidOutLeaveTheLaidOutTextInPlace)
{
    QString text = words(1'000'000);
    Stack stack(text, 800);
    const QRectF start = stack.caret(12);
    const double height = stack.manager.usageBoundsForTextContainer().height();

    // An insertion and a deletion far into text not laid out yet, and a deletion from laid-out text
    // into it: the start stays where it is, and what the edits left is laid out and found again.
    const TextLocation middle = text.size() / 2;
    stack.storage.replaceCharacters(TextRange(middle), AttributedString("XYZ "));
    text.insert(middle, QStringLiteral("XYZ "));
    stack.storage.replaceCharacters(TextRange(middle + 100'000, middle + 300'000), AttributedString());
    text.remove(middle + 100'000, 200'000);
    EXPECT_EQ(stack.caret(12), start);
    EXPECT_NEAR(stack.manager.usageBoundsForTextContainer().height(), height * 0.96, height / 100);
    const TextLineFragmentHandle typed = stack.manager.lineFragment(middle + 1);
    EXPECT_TRUE(typed->attributedString().string().contains(QStringLiteral("XYZ")));
    EXPECT_FALSE(typed->isEstimated());
    stack.storage.replaceCharacters(TextRange(3000, middle + 2), AttributedString());
    text.remove(3000, middle + 2 - 3000);
    EXPECT_EQ(stack.caret(12), start);
    EXPECT_EQ(stack.storage.substring(TextRange(2998, 3004)), text.mid(2998, 6));
    for (const TextLocation at : { TextLocation(2999), TextLocation(3001), TextLocation(3004) }) {
        EXPECT_EQ(stack.manager.caretLocation(stack.caret(at).center()), at);
    }
    EXPECT_EQ(stack.manager.textLayoutFragment(0)->contentLength(), text.size());
}
