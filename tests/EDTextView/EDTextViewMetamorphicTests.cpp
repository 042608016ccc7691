#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>

#include <cstdlib>
#include <random>

using namespace textviewtest;
using platform::CharacterRange;
using platform::TextLayoutManager;
using platform::TextRange;

// The same text reached by different paths, or a view changed and changed back, lays out and
// draws the same.
namespace {

QString randomText(std::mt19937& random)
{
    static const QString words[] = { "word", "a", "layout", "\u05e9\u05dc\u05d5\u05dd",
        "\u0645\u0631\u062d\u0628\u0627", "e\u0301", QString::fromUcs4(U"\U0001F600"), "\u03b1\u03b2\u03b3",
        "\t", "longerwordthanmostrowsholdatall" };
    QString text;
    const int paragraphs = 1 + int(random() % 12);
    for (int p = 0; p < paragraphs; ++p) {
        const int count = random() % 4 == 0 ? 0 : int(random() % 120);
        for (int i = 0; i < count; ++i)
            text += words[random() % std::size(words)] + (random() % 6 ? " " : "  ");
        if (p + 1 < paragraphs || random() % 2)
            text += u'\n';
    }
    return text;
}

struct Snapshot {
    struct Row {
        qint64 start;
        qint64 end;
        double top;
        double height;
        bool operator==(const Row&) const = default;
    };
    std::vector<Row> rows;
    std::vector<QRectF> carets;
    double height = 0;
    int scrollRange = 0;
    QImage image;
    bool operator==(const Snapshot& other) const
    {
        return rows == other.rows && carets == other.carets && height == other.height
            && scrollRange == other.scrollRange && image == other.image;
    }
};

std::ostream& operator<<(std::ostream& out, const Snapshot& s)
{
    out << s.rows.size() << " rows, height " << s.height << ", scroll range " << s.scrollRange;
    return out;
}

// Where the first difference is, to say so.
std::string difference(const Snapshot& a, const Snapshot& b)
{
    for (size_t i = 0; i < std::min(a.rows.size(), b.rows.size()); ++i) {
        if (!(a.rows[i] == b.rows[i]))
            return "row " + std::to_string(i) + " [" + std::to_string(a.rows[i].start) + ", "
                + std::to_string(a.rows[i].end) + ") at " + std::to_string(a.rows[i].top) + " against ["
                + std::to_string(b.rows[i].start) + ", " + std::to_string(b.rows[i].end) + ") at "
                + std::to_string(b.rows[i].top);
    }
    for (size_t i = 0; i < std::min(a.carets.size(), b.carets.size()); ++i) {
        if (a.carets[i] != b.carets[i])
            return "caret " + std::to_string(i);
    }
    if (a.image != b.image) {
        QRect differs;
        for (int y = 0; y < std::min(a.image.height(), b.image.height()); ++y)
            for (int x = 0; x < std::min(a.image.width(), b.image.width()); ++x)
                if (a.image.pixel(x, y) != b.image.pixel(x, y))
                    differs |= QRect(x, y, 1, 1);
        return "pixels differ in (" + std::to_string(differs.x()) + ", " + std::to_string(differs.y()) + ") "
            + std::to_string(differs.width()) + "x" + std::to_string(differs.height());
    }
    return "sizes";
}

// Lets posted layouts, scroll bars shown or hidden and the layouts after them run.
void settleFully(ShownView& view)
{
    for (int turn = 0; turn < 6; ++turn)
        view.settle();
}

Snapshot snapshot(ShownView& view)
{
    settleFully(view);
    Snapshot s;
    TextLayoutManager& manager = view->textLayoutManager();
    manager.enumerateTextLayoutFragments(0, TextLayoutManager::ensuresLayout,
        [&](const std::shared_ptr<platform::TextLayoutFragment>& fragment) {
            const QRectF frame = fragment->layoutFragmentFrame();
            const qint64 start = fragment->rangeInElement().location;
            for (qsizetype i = 0; i < fragment->visualLineCount(); ++i) {
                const auto row = fragment->visualLine(i);
                s.rows.push_back({ start + row.characterRange.location,
                    start + row.characterRange.endLocation, frame.top() + row.y, row.height });
            }
            return true;
        });
    const qint64 length = view->textContentStorage().length();
    for (qint64 at = 0; at <= length; at += 1 + at % 13) {
        manager.enumerateTextSegments(
            TextRange(at), TextLayoutManager::SegmentType::standard, 0, [&](auto, QRectF frame, double) {
                s.carets.push_back(frame);
                return false;
            });
    }
    // What shows at the top, without the caret, which blinks.
    view->setSelectedTextRange(TextRange(0));
    settleFully(view);
    view->verticalScrollBar()->setValue(0);
    view->clearFocus();
    settleFully(view);
    s.height = view->frameSize().height();
    s.scrollRange = view->verticalScrollBar()->maximum();
    s.image = view->grab().toImage();
    view->setFocus();
    return s;
}

int seeds(int fixed)
{
    const char* value = std::getenv("TINDREL_RANDOM_SEEDS");
    return fixed + (value ? std::max(0, std::atoi(value)) : 0);
}

} // namespace

TEST(EDTextViewMetamorphic, TextSetTypedPastedEditedOrUndoneLaysOutAndDrawsTheSame)
{
    for (int seed = 1; seed <= seeds(6); ++seed) {
        std::mt19937 random { std::uint32_t(seed) };
        QString text = randomText(random);
        // Now and then a paragraph long enough to be laid out in pieces.
        if (seed % 3 == 0) {
            QString paragraph;
            while (paragraph.size() < 9000)
                paragraph += randomText(random).replace(u'\n', u' ');
            text += paragraph;
        }
        ShownView view(QString(), QSize(300 + int(random() % 300), 240));
        view->setString(text);
        const Snapshot atOnce = snapshot(view);

        // Typed, in bursts of a few characters.
        view->setString(QString());
        for (qsizetype at = 0; at < text.size();) {
            qsizetype burst = std::min<qsizetype>(text.size() - at, 1 + random() % 40);
            if (at + burst < text.size() && text.at(at + burst).isLowSurrogate())
                ++burst;
            view->insertText(text.mid(at, burst), CharacterRange::notFound());
            at += burst;
            if (random() % 8 == 0)
                view.settle();
        }
        const Snapshot typed = snapshot(view);
        EXPECT_EQ(typed, atOnce) << "typed, seed " << seed << ": " << difference(typed, atOnce);

        view->setString(QString());
        QGuiApplication::clipboard()->setText(text);
        view->paste();
        const Snapshot pasted = snapshot(view);
        EXPECT_EQ(pasted, atOnce) << "pasted, seed " << seed << ": " << difference(pasted, atOnce);

        // Loaded with a middle part changed, then edited back to it; edited away and undone.
        const qsizetype from = text.isEmpty() ? 0 : qsizetype(random() % text.size());
        qsizetype to = std::min(text.size(), from + qsizetype(random() % 200));
        if (to < text.size() && text.at(to).isLowSurrogate())
            ++to;
        const qsizetype start = from > 0 && text.at(from).isLowSurrogate() ? from - 1 : from;
        view->setString(text.left(start) + "changed\nhere" + text.mid(to));
        view.settle();
        view->setSelectedTextRange(TextRange(start, start + 12));
        view->insertText(text.mid(start, to - start), CharacterRange::notFound());
        const Snapshot edited = snapshot(view);
        EXPECT_EQ(edited, atOnce) << "edited, seed " << seed << ": " << difference(edited, atOnce);

        view->setString(text);
        view.settle();
        view->setSelectedTextRange(TextRange(start, to));
        view->insertText(QStringLiteral("gone\n\nfor now "), CharacterRange::notFound());
        view.settle();
        view->undoManager()->undo();
        const Snapshot undone = snapshot(view);
        EXPECT_EQ(undone, atOnce) << "undone, seed " << seed << ": " << difference(undone, atOnce);
    }
}

TEST(EDTextViewMetamorphic, WidthWrappingAndScrollingChangedAndChangedBackLeaveTheViewAsItWas)
{
    for (int seed = 1; seed <= seeds(6); ++seed) {
        std::mt19937 random { std::uint32_t(seed + 1000) };
        QString text;
        for (int i = 0; i < 4; ++i)
            text += randomText(random);
        const QSize size(300 + int(random() % 300), 240);
        ShownView view(text, size);
        // Scrolled through page by page first, so that every height is measured.
        for (int page = 0;
             page < 400 && view->verticalScrollBar()->value() < view->verticalScrollBar()->maximum();
             ++page) {
            view->scrollPageDown();
            view.settle();
        }
        const Snapshot before = snapshot(view);
        // The measured height is the document's, and the scroll bar reaches its end.
        ASSERT_FALSE(before.rows.empty());
        const Snapshot::Row& last = before.rows.back();
        EXPECT_NEAR(before.height, last.top + last.height, 1.0) << "seed " << seed;
        EXPECT_EQ(before.scrollRange, std::max(0, int(std::ceil(before.height)) - view->viewport()->height()))
            << "seed " << seed;

        view->resize(size.width() / 2 + 1, size.height());
        view.settle();
        view->resize(size);
        const Snapshot resized = snapshot(view);
        EXPECT_EQ(resized, before) << "resized, seed " << seed << ": " << difference(resized, before);

        view->setWidthTracksTextView(false);
        view.settle();
        view->setWidthTracksTextView(true);
        const Snapshot rewrapped = snapshot(view);
        EXPECT_EQ(rewrapped, before) << "rewrapped, seed " << seed << ": " << difference(rewrapped, before);

        // The program has no zoom; a larger font and back is the nearest thing.
        QFont larger = testFont();
        larger.setPixelSize(22);
        view->setFont(larger);
        settleFully(view);
        view->setFont(testFont());
        const Snapshot refonted = snapshot(view);
        EXPECT_EQ(refonted, before) << "refonted, seed " << seed << ": " << difference(refonted, before);

        view->scrollToEndOfDocument();
        view.settle();
        view->scrollToBeginningOfDocument();
        const Snapshot scrolled = snapshot(view);
        EXPECT_EQ(scrolled, before) << "scrolled, seed " << seed << ": " << difference(scrolled, before);
    }
}

// A click finds a place in the row drawn under it, and each row with text in view has ink in its
// band of the view's picture.
TEST(EDTextViewMetamorphic, ClicksFindTheRowDrawnUnderThem)
{
    int rowsSeen = 0;
    int clicksChecked = 0;
    for (int seed = 1; seed <= seeds(4); ++seed) {
        std::mt19937 random { std::uint32_t(seed + 2000) };
        const QString text = randomText(random) + randomText(random);
        ShownView view(text, QSize(250 + int(random() % 300), 240));
        view->verticalScrollBar()->setValue(int(random() % (view->verticalScrollBar()->maximum() + 1)));
        view->clearFocus();
        settleFully(view);
        const QImage image = view->grab().toImage();
        const QColor background = image.pixelColor(image.width() / 2, image.height() - 1);
        const QRectF visible = view->documentVisibleRect();
        TextLayoutManager& manager = view->textLayoutManager();
        struct Band {
            qint64 start, end;
            double top, bottom;
            bool ink;
        };
        std::vector<Band> bands;
        manager.enumerateTextLayoutFragments(0, TextLayoutManager::ensuresLayout,
            [&](const std::shared_ptr<platform::TextLayoutFragment>& fragment) {
                const QRectF frame = fragment->layoutFragmentFrame();
                const qint64 start = fragment->rangeInElement().location;
                const QString string = fragment->attributedString().string();
                for (qsizetype i = 0; i < fragment->visualLineCount(); ++i) {
                    const auto row = fragment->visualLine(i);
                    const QString shown
                        = string.mid(row.characterRange.location, row.characterRange.length());
                    bands.push_back({ start + row.characterRange.location,
                        start + row.characterRange.endLocation, frame.top() + row.y,
                        frame.top() + row.y + row.height, !shown.trimmed().isEmpty() });
                }
                return frame.top() < visible.bottom();
            });
        for (const Band& band : bands) {
            const double top = view->viewToViewport(QPointF(0, band.top)).y();
            const double bottom = view->viewToViewport(QPointF(0, band.bottom)).y();
            if (!band.ink || top < 0 || bottom > view->viewport()->height())
                continue;
            ++rowsSeen;
            bool inked = false;
            for (int y = int(std::ceil(top)); y < int(bottom) && !inked; ++y)
                for (int x = 0; x < view->viewport()->width() && !inked; ++x)
                    inked = image.pixelColor(x, y) != background;
            EXPECT_TRUE(inked) << "seed " << seed << ": row [" << band.start << ", " << band.end << ") at "
                               << band.top << " draws nothing";
        }
        for (int click = 0; click < 200; ++click) {
            const QPointF point(random() % view->viewport()->width(), random() % view->viewport()->height());
            const QPointF inView = view->viewportToView(point);
            const auto band = std::find_if(bands.begin(), bands.end(),
                [&](const Band& b) { return inView.y() >= b.top && inView.y() < b.bottom; });
            if (band == bands.end())
                continue;
            const auto found = manager.caretLocation(inView);
            ASSERT_TRUE(found);
            ++clicksChecked;
            EXPECT_TRUE(*found >= band->start && *found <= band->end)
                << "seed " << seed << ": a click at " << point.x() << ", " << point.y() << " finds " << *found
                << " outside the row [" << band->start << ", " << band->end << ") drawn there";
        }
    }
    EXPECT_GT(rowsSeen, 20);
    EXPECT_GT(clicksChecked, 200);
}
