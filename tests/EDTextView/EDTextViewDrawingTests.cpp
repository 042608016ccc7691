#include "EDTextView/EDTextLayoutFragment.h"
#include "TextViewTestSupport.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include "platform/text/UndoManager.h"

using namespace textviewtest;
using platform::TextRange;

namespace AttributeKey = platform::AttributeKey;

namespace {

// The rows of the viewport that hold ink of the text's colour, between two heights.
std::pair<int, int> inkRows(const QImage& image, int top, int bottom, QColor ink)
{
    int first = -1, last = -1;
    for (int y = std::max(0, top); y < std::min(image.height(), bottom); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == ink) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
        }
    }
    return { first, last };
}

// The region the viewport was asked to paint, summed over paint events.
struct PaintedRegion : QObject {
    QRegion region;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            region += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

// The viewport's pixels on screen that differ from what a fresh paint gives, outside the carets
// (which blink on their own time).
int stalePixels(const ShownView& view)
{
    view.settle();
    QCoreApplication::processEvents();
    QWidget* viewport = view->viewport();
    const QImage shown = QGuiApplication::primaryScreen()
                             ->grabWindow(view->winId())
                             .toImage()
                             .copy(QRect(viewport->mapTo(view.view.get(), QPoint(0, 0)), viewport->size()))
                             .convertToFormat(QImage::Format_RGB32);
    const QImage fresh = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QRegion carets;
    for (const EDInsertionPointView& caret : view->insertionPointViews())
        carets += QRectF(view->viewToViewport(caret.frame.topLeft()), caret.frame.size())
                      .toAlignedRect()
                      .adjusted(-2, -2, 2, 2);
    int stale = 0;
    for (int y = 0; y < std::min(shown.height(), fresh.height()); ++y) {
        for (int x = 0; x < std::min(shown.width(), fresh.width()); ++x)
            stale += shown.pixel(x, y) != fresh.pixel(x, y) && !carets.contains(QPoint(x, y));
    }
    return stale;
}

} // namespace

// A line-height multiple makes the row taller and the text sits in the middle of it.
TEST(EDTextViewDrawing, TextOfATallerLineIsCentredInItsRow)
{
    ShownView view("Hxg");
    // No caret: it would be ink from the top of the row to its bottom.
    view->clearFocus();
    const QColor ink(0, 0, 0);
    view->setTextColor(ink, platform::CharacterRange { 0, 3 });
    const auto rowOf = [&] {
        view.settle();
        const auto& fragment = *view->fragmentViews().front().fragment;
        const auto row = fragment.visualLine(0);
        const double top = view->viewToViewport(view->fragmentViews().front().frame.topLeft()).y();
        return std::make_pair(int(top + row.y), int(top + row.y + row.height));
    };
    const auto [plainTop, plainBottom] = rowOf();
    const auto [plainInkTop, plainInkBottom]
        = inkRows(view->viewport()->grab().toImage(), plainTop, plainBottom, ink);
    platform::ParagraphStyle style;
    style.lineHeightMultiple = 2.0;
    view->addAttributes(
        { { AttributeKey::paragraphStyle, QVariant::fromValue(style) } }, TextRange(0, 3), true);
    const auto [top, bottom] = rowOf();
    EXPECT_NEAR(bottom - top, 2 * (plainBottom - plainTop), 2);
    const auto [inkTop, inkBottom] = inkRows(view->viewport()->grab().toImage(), top, bottom, ink);
    ASSERT_GE(inkTop, 0);
    // The same space above the ink as below it, give or take the glyphs' own asymmetry.
    const int plainAbove = plainInkTop - plainTop, plainBelow = plainBottom - plainInkBottom;
    const int extra = (bottom - top) - (plainBottom - plainTop);
    EXPECT_NEAR(inkTop - top, plainAbove + extra / 2, 1);
    EXPECT_NEAR(bottom - inkBottom, plainBelow + extra / 2, 1);
}

// Every paragraph end is marked as well as the white space inside the text; the mark follows the
// text's direction, and the last paragraph has none when no line end follows it.
TEST(EDTextViewDrawing, ParagraphEndsAreMarkedWithTheInvisibleCharacters)
{
    ShownView view(QStringLiteral("hello world\n\u05D0\u05D1\nlast"));
    view->setShowsInvisibleCharacters(true);
    view.settle();
    ASSERT_EQ(view->fragmentViews().size(), 3u);
    auto fragment = [&](size_t index) {
        return dynamic_cast<EDTextLayoutFragment*>(view->fragmentViews()[index].fragment.get());
    };
    const QRectF everywhere(-1e6, -1e6, 2e6, 2e6);
    EXPECT_EQ(fragment(0)->invisibleCharacterMarks(everywhere).size(), 1u);
    const auto end = fragment(0)->paragraphEndMark();
    ASSERT_TRUE(end);
    const double afterText = fragment(0)->textLineFragments().front().locationForCharacter(11).x();
    EXPECT_GT(end->left(), afterText);
    const auto rightToLeftEnd = fragment(1)->paragraphEndMark();
    ASSERT_TRUE(rightToLeftEnd);
    EXPECT_LT(rightToLeftEnd->right(), fragment(1)->textLineFragments().front().locationForCharacter(2).x());
    EXPECT_FALSE(fragment(2)->paragraphEndMark());

    // Drawn: ink after "world" that is not there without the marks.
    const QPoint mark
        = view->viewToViewport(end->center() + view->fragmentViews()[0].frame.topLeft()).toPoint();
    const QColor base = view->palette().color(QPalette::Base);
    EXPECT_NE(view->viewport()->grab().toImage().pixelColor(mark), base);
    view->setShowsInvisibleCharacters(false);
    view.settle();
    EXPECT_EQ(view->viewport()->grab().toImage().pixelColor(mark), base);
}

// Dragging out of the view scrolls on while the pointer stays outside, and the selection follows;
// letting go stops it.
TEST(EDTextViewDrawing, DraggingOutOfTheViewKeepsScrolling)
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    ShownView view(text, QSize(300, 200));
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, view.pointOf(2));
    QTest::mouseMove(view->viewport(), QPoint(40, view->viewport()->height() + 30));
    const int first = view->verticalScrollBar()->value();
    EXPECT_GT(first, 0);
    // No more pointer events: the view scrolls by itself, and the selection grows with it.
    ASSERT_TRUE(waitFor([&] { return view->verticalScrollBar()->value() > first + 100; }));
    EXPECT_GT(view.ranges().front().endLocation, 100);
    QTest::mouseRelease(
        view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(40, view->viewport()->height() + 30));
    for (const QTimer* timer : view->findChildren<QTimer*>())
        EXPECT_FALSE(timer->isActive());
}

// A window that opens during a drag (a menu, an alert) takes the release: the drag ends with the
// button all the same, and the next one starts from its own press.
TEST(EDTextViewDrawing, ADragEndsWithItsButtonWhereverTheReleaseGoes)
{
    ShownView view(QStringLiteral("line\n").repeated(200), QSize(300, 200));
    QWindow* window = view->window()->windowHandle();
    auto at = [&](QPoint viewportPoint) {
        return window->mapFromGlobal(view->viewport()->mapToGlobal(viewportPoint));
    };
    auto dragWhileAPopupTakesTheRelease = [&](int from, QPoint to) {
        // Through the window system's path, as a pointer's events come.
        QTest::mousePress(window, Qt::LeftButton, {}, at(view.pointOf(from)));
        QTest::mouseMove(window, at(to));
        QWidget popup(nullptr, Qt::Popup);
        popup.setGeometry(QRect(view->mapToGlobal(QPoint(10, 10)), QSize(40, 40)));
        popup.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&popup));
        QTest::mouseRelease(window, Qt::LeftButton, {}, at(to));
        ASSERT_FALSE(QGuiApplication::mouseButtons() & Qt::LeftButton);
        popup.close();
        QCoreApplication::processEvents();
    };
    const int below = view->viewport()->height() + 30;
    dragWhileAPopupTakesTheRelease(2, QPoint(20, below));
    EXPECT_TRUE(waitFor([&] {
        const auto timers = view->findChildren<QTimer*>();
        return std::none_of(
            timers.begin(), timers.end(), [](const QTimer* timer) { return timer->isActive(); });
    })) << "scrolling on with no button held";

    view->verticalScrollBar()->setValue(0);
    view.setCaret(0);
    dragWhileAPopupTakesTheRelease(6, view.pointOf(8));
    QTest::mousePress(window, Qt::LeftButton, {}, at(view.pointOf(20)));
    QTest::mouseMove(window, at(view.pointOf(22)));
    QTest::mouseRelease(window, Qt::LeftButton, {}, at(view.pointOf(22)));
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(20, 22) });
}

// Attribute edits change what they name over their range and nothing else; none is an undo step.
TEST(EDTextViewDrawing, AttributesAreAddedSetAndRemovedOverARange)
{
    ShownView view("abcdef");
    const QColor red(Qt::red);
    view->addAttributes({ { AttributeKey::foregroundColor, red }, { AttributeKey::underlineStyle, 1 } },
        TextRange(1, 4), true);
    const auto& storage = view->textContentStorage();
    EXPECT_EQ(storage.attributes(1).value(AttributeKey::foregroundColor), red);
    EXPECT_TRUE(storage.attributes(0).value(AttributeKey::font).isValid()) << "added, not replaced";
    EXPECT_FALSE(storage.attributes(4).contains(AttributeKey::underlineStyle));
    view->removeAttribute(AttributeKey::underlineStyle, TextRange(2, 6), true);
    EXPECT_TRUE(storage.attributes(1).contains(AttributeKey::underlineStyle));
    EXPECT_FALSE(storage.attributes(2).contains(AttributeKey::underlineStyle));
    view->setAttributes(
        { { AttributeKey::backgroundColor, QColor(Qt::yellow) } }, platform::CharacterRange { 2, 2 }, true);
    EXPECT_EQ(storage.attributes(2).size(), 1) << "set replaces everything";
    EXPECT_EQ(storage.attributes(1).value(AttributeKey::foregroundColor), red);
    EXPECT_EQ(view->string(), "abcdef");
    EXPECT_FALSE(view->undoManager()->canUndo());
}

// A caret scrolled out of sight stops its blink timer and starts again, shown, when it is back.
TEST(EDTextViewDrawing, ACaretOutOfSightStandsStill)
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("paragraph %1\n").arg(i);
    ShownView view(text);
    view.setCaret(5);
    const auto blinking = [&] {
        view.settle();
        const auto* caret = dynamic_cast<EDTextInsertionIndicator*>(
            view->insertionPointViews().at(0).textInsertionIndicator.get());
        return caret && caret->isBlinking();
    };
    EXPECT_TRUE(blinking());
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    EXPECT_FALSE(blinking());
    view->verticalScrollBar()->setValue(0);
    EXPECT_TRUE(blinking());
}

// The caret blinks while the view has the focus and stands still without it; a delegate's
// indicator draws every caret.
TEST(EDTextViewDrawing, CaretBlinksWhileFocusedAndDelegateIndicatorsDrawIt)
{
    ShownView view("two carets");
    ASSERT_EQ(view->insertionPointViews().size(), 1u);
    auto* builtIn = dynamic_cast<EDTextInsertionIndicator*>(
        view->insertionPointViews().front().textInsertionIndicator.get());
    ASSERT_TRUE(builtIn);
    EXPECT_TRUE(builtIn->isBlinking());
    ASSERT_TRUE(waitFor([&] { return builtIn->isHidden(); }, 2000));
    ASSERT_TRUE(waitFor([&] { return !builtIn->isHidden(); }, 2000));

    struct Block : EDInsertionPointIndicator {
        int* blinking;
        explicit Block(int* blinking)
            : blinking(blinking)
        {
        }
        QColor insertionPointColor() const override { return Qt::magenta; }
        void setInsertionPointColor(const QColor&) override { }
        void blinkStart() override { ++*blinking; }
        void blinkStop() override { }
        void paint(QPainter& painter, const QRectF& rect) const override
        {
            painter.fillRect(rect, Qt::magenta);
        }
    };
    struct Delegate : EDTextViewDelegate {
        int blinking = 0;
        std::vector<QRectF> asked;
        std::unique_ptr<EDInsertionPointIndicator> insertionPointIndicator(EDTextView&, QRectF frame) override
        {
            asked.push_back(frame);
            return std::make_unique<Block>(&blinking);
        }
    };
    auto delegate = std::make_shared<Delegate>();
    view->setDelegate(delegate);
    view->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(1)), platform::TextSelection(TextRange(6)) });
    view.settle();
    ASSERT_EQ(view->insertionPointViews().size(), 2u);
    EXPECT_EQ(delegate->blinking, 2);
    EXPECT_EQ(delegate->asked.front().topLeft(), QPointF(0, 0));
    const QImage image = view->viewport()->grab().toImage();
    const QRectF caret = view->insertionPointViews().back().frame;
    EXPECT_EQ(image.pixelColor(view->viewToViewport(caret.center()).toPoint()), QColor(Qt::magenta));

    view->clearFocus();
    view.settle();
    EXPECT_TRUE(view->insertionPointViews().empty());
}

// The context menu's items run their commands.
TEST(EDTextViewDrawing, ContextMenuItemsRunTheirCommands)
{
    ShownView view("copy this");
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    view->setSelectedTextRange(TextRange(5, 9));
    view.settle();
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, view.pointOf(6), view->viewport()->mapToGlobal(view.pointOf(6)));
    QMenu* menu = view->menuForEvent(&event);
    ASSERT_TRUE(menu);
    auto item = [&](const QString& title) -> QAction* {
        for (QAction* action : menu->actions()) {
            if (action->text() == title)
                return action;
        }
        ADD_FAILURE() << title.toStdString();
        return nullptr;
    };
    item("Copy")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "this");
    item("Cut")->trigger();
    EXPECT_EQ(view->string(), "copy ");
    item("Paste")->trigger();
    item("Paste and Match Style")->trigger();
    EXPECT_EQ(view->string(), "copy thisthis");
    item("Select All")->trigger();
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(0, 13) }));
}

// Moving the caret and typing repaint the carets, the selected-line band and the rows that changed,
// not the whole text, and leave nothing of the old ones drawn; an edit that moves the rows below
// repaints them too, where they were and where they are.
TEST(EDTextViewDrawing, WhatAPaintOfAnotherAreaLaysOutStillReachesTheScreen)
{
    // A small paint (a caret's blink) that comes before the layout an edit asked for lays the edit
    // out: the text it placed beyond that small area was left undrawn until something repainted.
    ShownView view;
    view->setString(QStringLiteral("Text given just before a small paint."));
    view->viewport()->repaint(QRect(0, 0, 4, 4));
    EXPECT_TRUE(QTest::qWaitFor([&] { return stalePixels(view) == 0; }, 2000));
}

TEST(EDTextViewDrawing, CaretMovesAndTypingRepaintOnlyWhatChanged)
{
    QString text = QStringLiteral("a paragraph long enough to wrap over two rows of this narrow view\n\n");
    // All of it in view: rows that move up leave the last one's place empty.
    for (int i = 0; i < 8; ++i)
        text += QStringLiteral("paragraph %1\n").arg(i);
    for (const bool band : { false, true }) {
        SCOPED_TRACE(band ? "with the selected-line band" : "without a band");
        ShownView view(text, QSize(300, 240));
        view->setHighlightSelectedLine(band);
        view.setCaret(3);
        EXPECT_EQ(stalePixels(view), 0);
        PaintedRegion painted;
        view->viewport()->installEventFilter(&painted);
        const int viewportArea = view->viewport()->width() * view->viewport()->height();
        struct Key {
            int key;
            Qt::KeyboardModifiers modifiers;
            bool repaintsMore;
        };
        const Key keys[]
            = { { Qt::Key_Right, {}, false }, { Qt::Key_Down, {}, false }, { Qt::Key_Down, {}, false },
                  { Qt::Key_Down, {}, false }, { Qt::Key_Right, Qt::ShiftModifier, false },
                  { Qt::Key_Left, {}, false }, { Qt::Key_X, {}, false }, { Qt::Key_Backspace, {}, false },
                  { Qt::Key_Up, {}, false }, { Qt::Key_Return, {}, true }, { Qt::Key_Backspace, {}, true },
                  { Qt::Key_End, Qt::ControlModifier, true }, { Qt::Key_Backspace, {}, true },
                  { Qt::Key_Up, {}, false }, { Qt::Key_Home, {}, false }, { Qt::Key_Backspace, {}, true } };
        for (const Key& key : keys) {
            painted.region = QRegion();
            QTest::keyClick(view.view.get(), Qt::Key(key.key), key.modifiers);
            view.settle();
            QCoreApplication::processEvents();
            int area = 0;
            for (const QRect& rect : painted.region)
                area += rect.width() * rect.height();
            // A band is the width of the view and a paragraph's rows high: two of them stay well
            // under half the viewport.
            if (!key.repaintsMore) {
                EXPECT_LT(area, viewportArea / 2) << "key " << key.key;
            }
            EXPECT_EQ(stalePixels(view), 0) << "key " << key.key;
        }
        view->viewport()->removeEventFilter(&painted);
    }
}

// The band turned on while the text shows, then a selection made before anything else is laid
// out: the band goes, all of it.
TEST(EDTextViewDrawing, ASelectionClearsABandTurnedOnWhileTheTextShows)
{
    const std::vector<std::pair<const char*, std::function<void(ShownView&)>>> selections = {
        { "Shift+End",
            [](ShownView& view) { QTest::keyClick(view.view.get(), Qt::Key_End, Qt::ShiftModifier); } },
        { "a range given", [](ShownView& view) { view->setSelectedTextRange(TextRange(2, 30)); } },
    };
    for (const auto& [name, select] : selections) {
        ShownView view(QStringLiteral("first line\nsecond line\nthird line\n"));
        view.setCaret(0);
        view.settle();
        view->setHighlightSelectedLine(true);
        view.settle();
        ASSERT_EQ(stalePixels(view), 0) << name;
        select(view);
        EXPECT_EQ(stalePixels(view), 0) << name;
    }
}
