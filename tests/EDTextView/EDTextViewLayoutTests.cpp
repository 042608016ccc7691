#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextLayoutFragment.h"
#include "EDTextView/EDVerticalRuler.h"
#include "TextViewTestSupport.h"

#include <QPainter>
#include <QScrollBar>

using namespace textviewtest;
using platform::TextRange;

namespace {

QString lines(int count, const QString& pattern = QStringLiteral("paragraph %1 of the long note"))
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += pattern.arg(i) + QLatin1Char('\n');
    return text;
}

qint64 measuredParagraphs(const EDTextView& view)
{
    const platform::TextContentStorage& storage = view.textContentStorage();
    qint64 measured = 0;
    for (qint64 i = 0; i < storage.layoutParagraphCount(); ++i)
        measured += storage.isLayoutParagraphMeasured(i);
    return measured;
}

// Every row that shows is laid out, none of it estimated.
void expectRowsInViewLaidOut(EDTextView& view)
{
    const QRectF visible = view.documentVisibleRect();
    ASSERT_FALSE(view.fragmentViews().empty());
    for (const auto& shown : view.fragmentViews()) {
        for (const auto& line : shown.fragment->textLineFragments()) {
            if (line.typographicBounds().translated(shown.frame.topLeft()).intersects(visible)) {
                EXPECT_FALSE(line.isEstimated())
                    << "row at " << line.characterRange().location << " of paragraph "
                    << shown.fragment->layoutParagraphIndex();
            }
        }
    }
}

// The paragraph at the top of the view.
qint64 firstShownParagraph(const EDTextView& view)
{
    const QRectF visible = view.documentVisibleRect();
    for (const auto& shown : view.fragmentViews()) {
        if (shown.frame.bottom() > visible.top())
            return shown.fragment->layoutParagraphIndex();
    }
    return -1;
}

// A note of `count` paragraphs that wrap at the view's width, shown scrolled to paragraph `middle`.
std::unique_ptr<ShownView> scrolledLongNote(int count, qint64 middle)
{
    auto view = std::make_unique<ShownView>(
        lines(count, QStringLiteral("paragraph %1 of a long note that wraps at this width")),
        QSize(260, 320));
    (*view)->scrollPoint(QPointF(0, (*view)->textContentStorage().layoutParagraphY(middle)));
    view->settle();
    return view;
}

} // namespace

TEST(EDTextViewLayout, OnlyTheViewportIsLaidOut)
{
    ShownView view(lines(200000));
    const qint64 visibleLines = view->viewport()->height() / 15 + 2;
    EXPECT_LE(qint64(view->fragmentViews().size()), visibleLines);
    EXPECT_LE(measuredParagraphs(*view), visibleLines);
    // In the middle, the fragments shown are those of the middle.
    view->scrollPoint(QPointF(0, view->frameSize().height() / 2));
    view.settle();
    ASSERT_FALSE(view->fragmentViews().empty());
    const qint64 first = view->fragmentViews().front().fragment->layoutParagraphIndex();
    EXPECT_NEAR(double(first), 100000.0, 2000.0);
    EXPECT_LE(qint64(view->fragmentViews().size()), visibleLines);
    EXPECT_LE(measuredParagraphs(*view), 3 * visibleLines);
}

TEST(EDTextViewLayout, WrappingFlagMeansWrapAndIsOnByDefault)
{
    const QString line = QString(QStringLiteral("wrap me ")).repeated(60);
    ShownView view(line);
    EXPECT_TRUE(view->widthTracksTextView());
    const auto& fragment = *view->fragmentViews().front().fragment;
    EXPECT_GT(fragment.visualLineCount(), 4);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    view->setWidthTracksTextView(false);
    view.settle();
    EXPECT_EQ(view->fragmentViews().front().fragment->visualLineCount(), 1);
    EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
}

TEST(EDTextViewLayout, CurrentLineBandFollowsTheCaretOnly)
{
    const QString wrapped = QString(QStringLiteral("band ")).repeated(40);
    ShownView view("first\n" + wrapped + "\nlast");
    view->setHighlightSelectedLine(true);
    view.setCaret(10); // inside the wrapped paragraph
    view.settle();
    const QRectF all = QRectF(view->viewportToView(QPointF(0, 0)), view->viewport()->size());
    const auto band = view->selectedLineHighlightRect(all);
    ASSERT_TRUE(band);
    const QRectF paragraph = view->fragmentViews()[1].fragment->layoutFragmentFrame();
    EXPECT_NEAR(band->top(), paragraph.top(), 1);
    EXPECT_NEAR(band->height(), paragraph.height(), 1);
    EXPECT_GE(band->width(), view->viewport()->width());
    // A selected range turns it off, and so do two carets in different paragraphs.
    view->setSelectedTextRange(TextRange(7, 9));
    view.settle();
    EXPECT_FALSE(view->selectedLineHighlightRect(all));
    view->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(1)), platform::TextSelection(TextRange(10)) });
    view.settle();
    EXPECT_FALSE(view->selectedLineHighlightRect(all));
}

// In an empty text the band stands where the first line will, at every line height: typing its
// first letter moves it nowhere.
TEST(EDTextViewLayout, AnEmptyTextsBandIsTheRowItsFirstLetterWillHave)
{
    for (const double multiple : { 0.8, 1.0, 1.5, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        ShownView view(QString {});
        setLineHeightMultiple(*view, multiple);
        view->setHighlightSelectedLine(true);
        view.setCaret(0);
        view.settle();
        const QRectF all = QRectF(view->viewportToView(QPointF(0, 0)), view->viewport()->size());
        const auto empty = view->selectedLineHighlightRect(all);
        view->insertText(QStringLiteral("H"), platform::CharacterRange::notFound());
        view.settle();
        const auto typed = view->selectedLineHighlightRect(all);
        ASSERT_TRUE(empty && typed);
        EXPECT_NEAR(empty->top(), typed->top(), 1);
        EXPECT_NEAR(empty->height(), typed->height(), 1);
    }
}

TEST(EDTextViewLayout, InvisibleCharactersAreMarkedInEitherDirection)
{
    ShownView view(QStringLiteral("a b\tc\U0001F600d\n\u05D0\u05D1 \u05D2"));
    view->setShowsInvisibleCharacters(true);
    view.settle();
    ASSERT_GE(view->fragmentViews().size(), 2u);
    auto marks = [&](size_t index) {
        auto* fragment = dynamic_cast<EDTextLayoutFragment*>(view->fragmentViews()[index].fragment.get());
        EXPECT_TRUE(fragment && fragment->showsInvisibleCharacters());
        return fragment ? fragment->invisibleCharacterMarks(QRectF(-1e6, -1e6, 2e6, 2e6)).size() : 0;
    };
    EXPECT_EQ(marks(0), 2u); // the space and the tab; no mark inside the emoji
    EXPECT_EQ(marks(1), 1u); // the space of the right-to-left paragraph
}

TEST(EDTextViewLayout, RulerAndPluginsHearOfEveryViewportLayout)
{
    struct Ruler : QWidget, EDVerticalRuler {
        int invalidations = 0;
        QSize sizeHint() const override { return QSize(40, 10); }
        void invalidateHashMarks() override { ++invalidations; }
    };
    ShownView view(lines(500));
    auto* ruler = new Ruler;
    view->setVerticalRulerView(ruler);
    std::vector<std::optional<TextRange>> ranges;
    struct Plugin : EDPlugin {
        std::vector<std::optional<TextRange>>& ranges;
        explicit Plugin(std::vector<std::optional<TextRange>>& ranges)
            : ranges(ranges)
        {
        }
        void setUp(EDPluginContext& context) override
        {
            context.events->onDidLayoutViewport(
                [this](std::optional<TextRange> range) { ranges.push_back(range); });
        }
    };
    view->addPlugin(std::make_shared<Plugin>(ranges));
    view.moveIntoNewWindow();
    EXPECT_EQ(ruler->geometry().width(), 40);
    EXPECT_EQ(view->viewport()->geometry().left(), ruler->geometry().right() + 1);
    const int before = ruler->invalidations;
    const size_t layoutsBefore = ranges.size();
    view->scrollPageDown();
    view.settle();
    EXPECT_EQ(ruler->invalidations, before + 1);
    ASSERT_EQ(ranges.size(), layoutsBefore + 1);
    ASSERT_TRUE(ranges.back());
    EXPECT_GT(ranges.back()->location, 0);
}

TEST(EDTextViewLayout, OneCaretPerEmptySelectionWhileFocused)
{
    ShownView view("");
    view.settle();
    ASSERT_EQ(view->insertionPointViews().size(), 1u);
    // An empty document still shows a caret as tall as a line of the typing font.
    EXPECT_NEAR(view->insertionPointViews().front().frame.height(), view->typingLineHeight(), 1);
    EXPECT_GE(view->insertionPointViews().front().frame.width(), 2.0);
    view->setString("two carets\nhere");
    view->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(2)), platform::TextSelection(TextRange(13)) });
    view.settle();
    EXPECT_EQ(view->insertionPointViews().size(), 2u);
    view->setSelectedTextRange(TextRange(1, 4));
    view->setSelectionBackgroundColor(QColor(255, 255, 0));
    view.settle();
    EXPECT_TRUE(view->insertionPointViews().empty());
    ASSERT_FALSE(view->selectionHighlightRects().empty());
    // The highlight is drawn in the view's selection colour (between "o" and "c", clear of ink).
    const QRectF highlight = view->selectionHighlightRects().front();
    const QImage image = view->viewport()->grab().toImage();
    const QPointF between(view.pointOf(3).x(), view->viewToViewport(highlight.center()).y());
    EXPECT_EQ(image.pixelColor(between.toPoint() + QPoint(0, int(highlight.height() / 2) - 1)),
        QColor(255, 255, 0));
    view.setCaret(3);
    view.settle();
    EXPECT_EQ(view->insertionPointViews().size(), 1u);
    view->clearFocus();
    view.settle();
    EXPECT_TRUE(view->insertionPointViews().empty());
}

TEST(EDTextViewLayout, ALongLineScrolledToItsEndAndBackKeepsItsTextAndCaretInPlace)
{
    QString text = QStringLiteral("first\n");
    text += QStringLiteral("word ").repeated(4'000'000); // a 20 MB line
    text += QStringLiteral("\nlast\n");
    ShownView view(text, QSize(640, 400));
    view->setIsRulerVisible(true);
    auto* ruler = qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(*view));
    ASSERT_TRUE(ruler);
    auto& manager = view->textLayoutManager();
    auto caret = [&](platform::TextLocation at) {
        QRectF frame;
        manager.enumerateTextSegments(TextRange(at), platform::TextLayoutManager::SegmentType::standard, 0,
            [&](std::optional<TextRange>, QRectF each, double) {
                frame = each;
                return false;
            });
        return frame;
    };
    auto numbers = [&] {
        std::vector<qint64> result;
        for (const auto& line : ruler->lines())
            result.push_back(line.number);
        return result;
    };
    auto topLocation
        = [&] { return *manager.caretLocation(view->documentVisibleRect().topLeft() + QPointF(20, 1)); };
    view->setSelectedTextRange(TextRange(2002));
    view->scrollPoint(QPointF(0, 150));
    view.settle();
    const QRectF caretFrame = caret(2002);
    const platform::TextLocation top = topLocation();

    // At the end, the long line's last rows and the lines after it, each numbered once.
    view->scrollToEndOfDocument();
    view.settle();
    EXPECT_EQ(numbers(), (std::vector<qint64> { 2, 3, 4 }));
    // Going up a page at a time lays out the rows above; what was shown stays where it was.
    for (int page = 0; page < 3; ++page) {
        const platform::TextLocation shown = topLocation();
        const QRectF before = caret(shown);
        view->scrollPageUp();
        view.settle();
        EXPECT_NEAR(caret(shown).top(), before.top(), 0.5) << page;
        EXPECT_GT(before.top(), view->documentVisibleRect().top());
        EXPECT_LT(before.top(), view->documentVisibleRect().bottom());
    }
    // In the middle of the line no number shows: the line's own stays on its first row.
    view->scrollPoint(QPointF(0, view->verticalScrollBar()->maximum() / 2));
    view.settle();
    EXPECT_FALSE(ruler->lines().empty());
    for (const auto& line : ruler->lines()) {
        EXPECT_FALSE(view->documentVisibleRect().contains(QPointF(1, line.textPosition.y()))) << line.number;
        if (line.number == 2) {
            EXPECT_GT(line.textPosition.y(), caret(6).top());
            EXPECT_LT(line.textPosition.y(), caret(6).bottom());
        }
    }

    // Back where it was: the same text at the top, the caret in the same place.
    view->scrollPoint(QPointF(0, 150));
    view.settle();
    EXPECT_EQ(topLocation(), top);
    EXPECT_EQ(caret(2002), caretFrame);
    EXPECT_EQ(view->selectedTextRange(), TextRange(2002));
}

// A paragraph above the text in view laid out after the views were placed (for the caret, its
// selection or the ruler) may be taller or shorter than estimated: the text shown must move with
// it, or a click lands in the paragraph next to the one under the pointer.
TEST(EDTextViewLayout, TextStaysWhereClicksFindItWhenAParagraphAboveIsMeasuredLate)
{
    const QString text
        = u"\u2028e\u0301aa\nshort line\nanother\n"_qs + QStringLiteral("word ").repeated(1000) + "\n";
    ShownView view(text);
    view->setIsRulerVisible(true);
    view.setCaret(1);
    view.settle();
    view->scrollPoint(QPointF(0, view->textContentStorage().layoutParagraphY(3) + 600));
    view.settle();
    view->resize(346, 268);
    view.settle();
    const platform::TextContentStorage& storage = view->textContentStorage();
    ASSERT_FALSE(view->fragmentViews().empty());
    for (const auto& shown : view->fragmentViews()) {
        const qint64 index = shown.fragment->layoutParagraphIndex();
        EXPECT_NEAR(shown.frame.top(), storage.layoutParagraphY(index), 1.0) << "paragraph " << index;
        // A click in the middle of the paragraph's first row finds that paragraph.
        const QPointF row = shown.frame.topLeft() + QPointF(20, 5);
        const auto found = view->textLayoutManager().textLayoutFragment(row);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->layoutParagraphIndex(), index);
    }
}

// Undoing a replace-all puts carets through long paragraphs and scrolls to the last: the rows
// that come into view replace their estimates and move the text, more times than one layout
// takes; what shows in the end is laid out all the same.
TEST(EDTextViewLayout, RowsInViewAreLaidOutAfterAJumpFarIntoLongParagraphs)
{
    const QString longParagraph = QStringLiteral("caf\u00e9 e word \u05e9\u05dc\u05d5\u05dd ").repeated(4000);
    ShownView view(
        QStringLiteral("top\nline e\n") + longParagraph + "\nmiddle e\n" + longParagraph + "\nend\n");
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("e");
    finder.setReplaceString("wordword");
    finder.performAction(EDTextFinder::replaceAll);
    view.settle();
    for (const bool redo : { false, true, false }) {
        QTest::keyClick(
            view.view.get(), Qt::Key_Z, redo ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
        view.settle();
        expectRowsInViewLaidOut(*view.view);
    }
}

// A paragraph that does not wrap starts each row it has (after a line separator) at its leading
// edge again: the rows that show are laid out, not only those before the first piece past the view.
TEST(EDTextViewLayout, EveryRowOfALongUnwrappedParagraphIsLaidOutWhereItShows)
{
    // 105,000 characters in one row, laid out only where it is reached.
    ShownView view(
        QStringLiteral("top\n") + QStringLiteral("word z ").repeated(15000) + QStringLiteral("\nend\n"));
    view->setWidthTracksTextView(false);
    view.settle();
    // Split at every "z" and joined again by undo: the paragraph is estimated afresh, its caret at
    // the last change; a row broken there starts again at the leading edge.
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("z");
    finder.setReplaceString("\n");
    finder.performAction(EDTextFinder::replaceAll);
    view.settle();
    QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
    view.settle();
    QTest::keyClick(view.view.get(), Qt::Key_Return, Qt::ShiftModifier);
    view.settle();
    expectRowsInViewLaidOut(*view.view);
}

// Something other than a layout (a caret rect for an input method or a screen reader, a point to
// press) may lay out a long paragraph above the text in view, whose estimate then turns real:
// the text shown must move with it, or clicks land beside what is drawn.
TEST(EDTextViewLayout, TextFollowsAParagraphAboveMeasuredOutsideALayout)
{
    const QString longParagraph
        = QStringLiteral("caf\u00e9 \u4e2d\u6587 \u05e9\u05dc\u05d5\u05dd a\u0308\u0323 word ").repeated(300);
    ShownView view(lines(3) + longParagraph + "\n" + lines(200));
    const platform::TextContentStorage& storage = view->textContentStorage();
    view->scrollPoint(QPointF(0, storage.layoutParagraphY(3) + storage.layoutParagraphHeight(3) + 1500));
    view.settle();
    // Narrower: the long paragraph, out of view, keeps its old height as an estimate.
    view->resize(360, 320);
    view.settle();
    ASSERT_FALSE(storage.isLayoutParagraphMeasured(3));
    const double estimate = storage.layoutParagraphHeight(3);
    ASSERT_FALSE(view->fragmentViews().empty());
    const qint64 topParagraph = view->fragmentViews().front().fragment->layoutParagraphIndex();
    const double topOnScreen = view->fragmentViews().front().frame.top() - view->documentVisibleRect().top();
    view->textLayoutManager().enumerateTextSegments(
        TextRange(storage.layoutParagraphRange(3).location + 4000),
        platform::TextLayoutManager::SegmentType::standard, 0,
        [](std::optional<TextRange>, QRectF, double) { return false; });
    ASSERT_GT(std::abs(storage.layoutParagraphHeight(3) - estimate), 10.0);
    view.settle();
    ASSERT_FALSE(view->fragmentViews().empty());
    for (const auto& shown : view->fragmentViews()) {
        const qint64 index = shown.fragment->layoutParagraphIndex();
        EXPECT_NEAR(shown.frame.top(), storage.layoutParagraphY(index), 1.0) << "paragraph " << index;
    }
    // And the text the user was looking at stays where it was on screen.
    EXPECT_NEAR(storage.layoutParagraphY(topParagraph) - view->documentVisibleRect().top(), topOnScreen, 1.0);
}

// Pieces of a long row that does not wrap may be laid out outside a layout (a caret rect or a
// range asked for far into it); wider than estimated, they make the row longer: the sideways
// scroll range must reach all of it, or a right-to-left row's start cannot be scrolled to.
TEST(EDTextViewLayout, TheSidewaysScrollRangeReachesALongRowGrownOutsideALayout)
{
    // Characters wider than the average of the view's (proportional) font: the row's estimate is
    // short of what it takes.
    ShownView view;
    view->setFont(QFont());
    view->setWidthTracksTextView(false);
    view->setString(QStringLiteral("top\n\u05e9\u05dc\u05d5\u05dd ")
        + QStringLiteral("\u4e2d\u6587").repeated(35000) + QStringLiteral("\nend\n"));
    view.settle();
    // The caret to either end of the row: what shows there is laid out, the rest estimated.
    QTest::keyClick(view.view.get(), Qt::Key_Down);
    view.settle();
    QTest::keyClick(view.view.get(), Qt::Key_End);
    view.settle();
    QScrollBar* bar = view->horizontalScrollBar();
    const int estimatedRange = bar->maximum();
    const TextRange row = view->textContentStorage().layoutParagraphRange(1);
    view->textLayoutManager().ensureLayout(row);
    const auto fragment = view->textLayoutManager().textLayoutFragment(row.location);
    ASSERT_FALSE(fragment->hasEstimatedText());
    const double width = fragment->renderingSurfaceBounds().width();
    ASSERT_GT(width, estimatedRange + bar->pageStep() + 1000.0);
    view.settle();
    EXPECT_GE(bar->maximum() + view->viewport()->width(), width - 1.0);
    // Scrolled all the way, the row's start shows.
    bar->setValue(bar->maximum());
    view.settle();
    const QPointF start = view->viewToViewport(
        view->textLayoutManager().lineFragment(row.location)->typographicBounds().topRight()
        + fragment->layoutFragmentFrame().topLeft());
    EXPECT_LE(start.x(), view->viewport()->width() + 1.0);
}

// A viewport made shorter while the text's frame keeps its size (a find bar shown above it, the
// window made less tall) still scrolls to the last line, and the caret at the end shows.
TEST(EDTextViewLayout, AShorterViewportStillScrollsToTheLastLine)
{
    for (const bool findBar : { true, false }) {
        SCOPED_TRACE(findBar ? "a find bar shown" : "a shorter window");
        ShownView view(lines(60), QSize(420, 400));
        // Without a scroll bar, as the note editor has it: one that appears would resize the frame.
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.settle();
        if (findBar)
            view->showFindInterface(nullptr);
        else
            view->resize(420, 300);
        view.settle();
        view->setFocus();
        QTest::keyClick(view.view.get(), Qt::Key_End, Qt::ControlModifier);
        view.settle();
        const QScrollBar* bar = view->verticalScrollBar();
        EXPECT_EQ(bar->maximum(), int(std::ceil(view->frameSize().height())) - view->viewport()->height());
        ASSERT_EQ(view->insertionPointViews().size(), 1u);
        EXPECT_TRUE(view->documentVisibleRect().contains(view->insertionPointViews().front().frame));
    }
}

// The view follows the end of the selection that moved. A caret moved down to the start of a
// wrapped row used to be left below the text shown (the view went to the end of the row above), and
// Shift+End in a long unwrapped line showed the selection from its start, its end out of sight.
TEST(EDTextViewLayout, TheViewFollowsTheEndThatMoved)
{
    {
        ShownView view(QStringLiteral("word ").repeated(400), QSize(300, 150));
        view.setCaret(0);
        for (int press = 0; press < 20; ++press) {
            QTest::keyClick(view.view.get(), Qt::Key_Down);
            view.settle();
            ASSERT_EQ(view->insertionPointViews().size(), 1u);
            const QRectF caret = view->insertionPointViews().front().frame;
            EXPECT_TRUE(view->documentVisibleRect().contains(caret)) << "Down " << press;
        }
    }
    {
        // Extending from column 0 leaves the selection's end at the start of a row, which is also
        // where the row above ends: the row shown is the one the end is on, and the one the next
        // Shift+Down goes on from.
        ShownView view(QStringLiteral("word ").repeated(400), QSize(300, 150));
        const auto row = [&](platform::TextLocation at, platform::TextSelection::Affinity affinity) {
            const auto handle = view->textLayoutManager().lineFragment(at, affinity);
            return handle->typographicBounds().translated(handle.fragment->layoutFragmentFrame().topLeft());
        };
        for (const auto& [key, from] : { std::pair { Qt::Key_Down, 0 }, std::pair { Qt::Key_Up, 2000 } }) {
            view.setCaret(from);
            view.settle();
            for (int press = 0; press < 20; ++press) {
                QTest::keyClick(view.view.get(), key, Qt::ShiftModifier);
                view.settle();
                const platform::TextSelection selection = view->textLayoutManager().textSelections().back();
                const TextRange range = selection.textRanges.back();
                const platform::TextLocation moved = key == Qt::Key_Down ? range.endLocation : range.location;
                const QRectF shown = row(moved, selection.affinity);
                const QRectF visible = view->documentVisibleRect();
                EXPECT_TRUE(shown.top() >= visible.top() - 0.5 && shown.bottom() <= visible.bottom() + 0.5)
                    << "Shift+" << (key == Qt::Key_Down ? "Down " : "Up ") << press << ": row from "
                    << shown.top() << " to " << shown.bottom() << ", shown " << visible.top() << " to "
                    << visible.bottom();
            }
        }
    }
    ShownView view(QStringLiteral("word ").repeated(300) + QStringLiteral("\nshort"), QSize(300, 150));
    view->setWidthTracksTextView(false);
    view.settle();
    view.setCaret(0);
    const auto shows
        = [&](platform::TextLocation at) { return view->viewport()->rect().contains(view.pointOf(at)); };
    QTest::keyClick(view.view.get(), Qt::Key_End, Qt::ShiftModifier);
    view.settle();
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(0, 1500) });
    EXPECT_TRUE(shows(1500)) << "Shift+End";
    QTest::keyClick(view.view.get(), Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    view.settle();
    EXPECT_TRUE(shows(1496)) << "Ctrl+Shift+Left";
    QTest::keyClick(view.view.get(), Qt::Key_End);
    QTest::keyClick(view.view.get(), Qt::Key_Home, Qt::ShiftModifier);
    view.settle();
    EXPECT_TRUE(shows(0)) << "Shift+Home";
}

// Under a line-height multiple the glyphs stand in the middle of their taller row: the view scrolls
// to where they are drawn, or a caret moved up (or to the start) would sit on a row whose letters
// are just above the top.
TEST(EDTextViewLayout, TheLineTheCaretMovesToShowsAtEveryLineHeight)
{
    for (const double multiple : { 0.8, 1.5, 2.0, 3.0 }) {
        ShownView view(lines(60), QSize(300, 150));
        setLineHeightMultiple(*view, multiple);
        view.setCaret(view->string().size());
        for (int press = 0; press <= 12; ++press) {
            if (press < 12)
                QTest::keyClick(view.view.get(), Qt::Key_Up);
            else
                QTest::keyClick(view.view.get(), Qt::Key_Home, Qt::ControlModifier);
            view.settle();
            const QRectF caret = view->insertionPointViews().at(0).frame;
            const QRectF visible = view->documentVisibleRect();
            EXPECT_TRUE(caret.top() >= visible.top() - 0.5 && caret.bottom() <= visible.bottom() + 0.5)
                << "press " << press << " at a multiple of " << multiple << ": caret from " << caret.top()
                << " to " << caret.bottom() << ", shown from " << visible.top();
        }
    }
}

// Under a line-height multiple below 1 the glyphs are taller than their rows and reach into the
// rows beside them, also across paragraphs: repainting one row (a caret, a highlight, an edit)
// draws what of its neighbours reaches into it, rather than cutting their letters off.
TEST(EDTextViewLayout, RepaintingOneRowKeepsTheLettersOfTheRowsBesideIt)
{
    for (const double multiple : { 0.4, 0.6, 0.8 }) {
        ShownView view(QStringLiteral("gggg jjjj yyyy gggg jjjj\nHHHH "
                                      "\u00C9\u00C9\u00C9\u00C9\ngggg\n\u00C9\u00C9\u00C9\u00C9 gggg"),
            QSize(200, 150));
        setLineHeightMultiple(*view, multiple);
        view->clearFocus();
        view.settle();
        const QImage whole = view->viewport()->grab().toImage();
        for (const auto& shown : view->fragmentViews()) {
            for (qsizetype row = 0; row < shown.fragment->visualLineCount(); ++row) {
                const auto visual = shown.fragment->visualLine(row);
                const QRect band = QRectF(view->viewToViewport(QPointF(0, shown.frame.top() + visual.y)),
                    QSizeF(view->viewport()->width(), visual.height))
                                       .toAlignedRect();
                QImage repainted = whole;
                QPainter painter(&repainted);
                view->viewport()->render(&painter, band.topLeft(), QRegion(band), {});
                painter.end();
                EXPECT_TRUE(repainted == whole)
                    << "a row at " << band.top() << " repainted alone at a multiple of " << multiple;
            }
        }
    }
}

// Wrapped at another width, every estimated height above the view changes: the paragraph at the top
// of the view stays there, whether the window narrows, the ruler comes, or the ruler widens for the
// longer numbers a jump to the end brings into view.
TEST(EDTextViewLayout, AWidthChangeKeepsTheTextAtTheTopOfTheView)
{
    const auto shownView = scrolledLongNote(100010, 50000);
    ShownView& view = *shownView;
    const platform::TextContentStorage& storage = view->textContentStorage();
    const qint64 first = firstShownParagraph(*view);
    ASSERT_NEAR(double(first), 50000.0, 1.0);
    view->resize(view->width() - 30, view->height());
    view.settle();
    EXPECT_EQ(firstShownParagraph(*view), first) << "narrowed";
    view->setIsRulerVisible(true);
    view.settle();
    EXPECT_EQ(firstShownParagraph(*view), first) << "with the ruler";

    // The caret on the view's last row stays in view although the rows above it multiply.
    const QRectF shown = view->documentVisibleRect();
    const auto bottom = view->textLayoutManager().lineFragment(QPointF(0, shown.bottom() - 20));
    ASSERT_TRUE(bottom);
    const qint64 caret = bottom.fragment->rangeInElement().location + 3;
    view.setCaret(caret);
    view.settle();
    view->resize(view->width() - 60, view->height());
    view.settle();
    const auto line = view->textLayoutManager().lineFragment(caret);
    ASSERT_TRUE(line);
    const auto row = line.fragment->visualLine(line->visualLineIndex());
    const double top = line.fragment->layoutFragmentFrame().top() + row.y;
    const QRectF after = view->documentVisibleRect();
    EXPECT_GE(top, after.top());
    EXPECT_LE(top + row.height, after.bottom() + 1);

    view.setCaret(0);
    view.settle();
    QTest::keyClick(view.view.get(), Qt::Key_End, Qt::ControlModifier);
    view.settle();
    const QRectF visible = view->documentVisibleRect();
    ASSERT_FALSE(view->fragmentViews().empty());
    const auto& last = view->fragmentViews().back();
    EXPECT_EQ(last.fragment->layoutParagraphIndex(), storage.layoutParagraphCount() - 1);
    EXPECT_TRUE(last.frame.intersects(visible));
}

// A new font or line spacing estimates every height above the view afresh: the paragraph at the
// top of the view stays there, whether the text grows (past the old end of the scroll range) or
// shrinks.
TEST(EDTextViewLayout, AFontOrSpacingChangeKeepsTheTextAtTheTopOfTheView)
{
    const auto shownView = scrolledLongNote(20010, 10000);
    ShownView& view = *shownView;
    const qint64 first = firstShownParagraph(*view);
    ASSERT_NEAR(double(first), 10000.0, 1.0);
    platform::ParagraphStyle spaced;
    spaced.lineSpacing = 6;
    platform::ParagraphStyle taller;
    taller.lineHeightMultiple = 1.5;
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        { "larger font",
            [&] {
                QFont font = testFont();
                font.setPixelSize(22);
                view->setFont(font);
            } },
        { "smaller font",
            [&] {
                QFont font = testFont();
                font.setPixelSize(10);
                view->setFont(font);
            } },
        { "line spacing", [&] { view->setDefaultParagraphStyle(spaced); } },
        { "line-height multiple", [&] { view->setDefaultParagraphStyle(taller); } },
    };
    for (const auto& [name, change] : changes) {
        change();
        view.settle();
        EXPECT_EQ(firstShownParagraph(*view), first) << name;
        expectRowsInViewLaidOut(*view);
    }
}
