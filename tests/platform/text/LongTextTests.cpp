#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextSelectionNavigation.h"
#include "platform/text/TextViewportLayoutController.h"

#include "support/TestSupport.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <malloc.h>

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
