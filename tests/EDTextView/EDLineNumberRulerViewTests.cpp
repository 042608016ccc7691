#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDRulerMarker.h"
#include "TextViewTestSupport.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

#include <cmath>

using namespace textviewtest;
using platform::TextRange;
using platform::TextSelection;

namespace {

QString numberedParagraphs(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("paragraph %1\n").arg(i);
    return text;
}

// A shown text view with its line-number ruler shown.
struct RulerFixture {
    ShownView view;
    EDLineNumberRulerView* ruler = nullptr;

    explicit RulerFixture(const QString& text, QSize size = QSize(480, 320))
        : view(text, size)
    {
        view->setIsRulerVisible(true);
        ruler = qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(*view));
        view.settle();
    }

    std::vector<qint64> numbers(bool selectedOnly = false) const
    {
        std::vector<qint64> result;
        for (const auto& line : ruler->lines()) {
            if (!selectedOnly || line.isSelected)
                result.push_back(line.number);
        }
        return result;
    }
    // Every number stands beside its own paragraph: the paragraph at the middle of its band.
    void expectNumbersMatchTheirParagraphs() const
    {
        ASSERT_FALSE(ruler->lines().empty());
        for (const auto& line : ruler->lines()) {
            const auto fragment
                = view->textLayoutManager().textLayoutFragment(line.layoutFragmentFrame.center());
            ASSERT_TRUE(fragment);
            EXPECT_EQ(fragment->layoutParagraphIndex() + 1, line.number);
        }
    }
    // The first number whose band shows in the viewport.
    qint64 firstVisibleNumber() const
    {
        const double top = view->documentVisibleRect().top();
        for (const auto& line : ruler->lines()) {
            if (line.layoutFragmentFrame.bottom() > top)
                return line.number;
        }
        return 0;
    }
    // The text view's margin is the ruler's, which is as wide as its required thickness.
    void expectMarginFollowsTheRuler() const
    {
        EXPECT_EQ(ruler->width(), int(std::ceil(ruler->requiredThickness())));
        EXPECT_EQ(view->viewport()->x(), ruler->geometry().right() + 1);
    }
    // Puts the paragraph's top at the viewport's top (the scroll position is in whole pixels); again
    // once heights above it, estimated until laid out, have settled.
    void scrollToParagraph(qint64 index) const
    {
        for (int pass = 0; pass < 3; ++pass) {
            view->scrollPoint(QPointF(0, std::ceil(view->textContentStorage().layoutParagraphY(index))));
            view.settle();
        }
    }
    QPoint rulerPoint(platform::TextLocation at) const
    {
        const QPoint inViewport = view.pointOf(at);
        const QPoint inView = view->viewport()->mapTo(view.view.get(), inViewport);
        return QPoint(ruler->width() / 2, ruler->mapFrom(view.view.get(), inView).y());
    }
};

// The ruler's pixels on screen that differ from what a fresh paint of it gives.
int staleRulerPixels(const RulerFixture& f)
{
    f.view.settle();
    QCoreApplication::processEvents();
    const QImage shown = QGuiApplication::primaryScreen()
                             ->grabWindow(f.view->winId())
                             .toImage()
                             .copy(QRect(f.ruler->mapTo(f.view.view.get(), QPoint(0, 0)), f.ruler->size()))
                             .convertToFormat(QImage::Format_RGB32);
    const QImage fresh = f.ruler->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int stale = 0;
    for (int y = 0; y < std::min(shown.height(), fresh.height()); ++y) {
        for (int x = 0; x < std::min(shown.width(), fresh.width()); ++x)
            stale += shown.pixel(x, y) != fresh.pixel(x, y);
    }
    return stale;
}

bool isDark(QColor color)
{
    return color.lightnessF() < 0.6;
}

} // namespace

TEST(EDLineNumberRulerView, NumbersOnlyTheVisibleParagraphsAtTheTopMiddleAndEndOfALongNote)
{
    RulerFixture fixture(numberedParagraphs(200000));
    EXPECT_EQ(fixture.numbers().front(), 1);
    fixture.expectNumbersMatchTheirParagraphs();
    const qint64 visible = fixture.view->viewport()->height() / 15 + 3;
    EXPECT_LE(qint64(fixture.numbers().size()), visible);

    fixture.scrollToParagraph(41);
    EXPECT_EQ(fixture.firstVisibleNumber(), 42);

    fixture.scrollToParagraph(100000);
    EXPECT_NEAR(double(fixture.numbers().front()), 100001.0, 2.0);
    fixture.expectNumbersMatchTheirParagraphs();
    // The count above the viewport came from the index: nothing above was laid out for it.
    const platform::TextContentStorage& storage = fixture.view->textContentStorage();
    qint64 measured = 0;
    for (qint64 i = 0; i < 99000; ++i)
        measured += storage.isLayoutParagraphMeasured(i);
    EXPECT_LE(measured, 3 * visible);

    fixture.view->scrollToEndOfDocument();
    fixture.view.settle();
    // The empty line after the final line break has a number too.
    EXPECT_EQ(fixture.numbers().back(), 200001);
    fixture.expectNumbersMatchTheirParagraphs();
    // Six digits fit, and the text view's margin follows the ruler.
    const double digits = std::ceil(QFontMetricsF(fixture.ruler->font()).horizontalAdvance("200001"));
    EXPECT_GE(fixture.ruler->ruleThickness(), digits + 12);
    fixture.expectMarginFollowsTheRuler();
}

TEST(EDLineNumberRulerView, WrappedParagraphsAndEmptyDocumentsHaveOneNumberPerParagraph)
{
    const QString wrapped = QString(QStringLiteral("wrap me ")).repeated(60);
    RulerFixture fixture("first\n" + wrapped + "\nlast\n");
    ASSERT_EQ(fixture.numbers(), (std::vector<qint64> { 1, 2, 3, 4 }));
    const auto& fragments = fixture.view->fragmentViews();
    ASSERT_GE(fragments.size(), 2u);
    ASSERT_GT(fragments[1].fragment->visualLineCount(), 2);
    // The wrapped paragraph's band covers all its rows; its number sits on the first row.
    const auto& second = fixture.ruler->lines()[1];
    const QRectF paragraph = fragments[1].fragment->layoutFragmentFrame();
    EXPECT_DOUBLE_EQ(second.layoutFragmentFrame.height(), paragraph.height());
    EXPECT_LT(second.textPosition.y(), paragraph.top() + fragments[1].fragment->visualLine(0).height);
    // The empty last line gets a band of its own height.
    EXPECT_NEAR(fixture.ruler->lines()[3].layoutFragmentFrame.height(), 17, 3);

    fixture.view->setString(QString());
    fixture.view.settle();
    ASSERT_EQ(fixture.numbers(), std::vector<qint64> { 1 });
    const auto& only = fixture.ruler->lines().front();
    EXPECT_TRUE(only.isSelected);
    EXPECT_DOUBLE_EQ(only.layoutFragmentFrame.height(), fixture.view->typingLineHeight());
    EXPECT_DOUBLE_EQ(only.textPosition.y(),
        only.layoutFragmentFrame.top() + edtextview::defaultLineHeight(fixture.ruler->font()) - 3.0);
}

TEST(EDLineNumberRulerView, TheSelectedLinesNumbersAndBandFollowTheSelection)
{
    RulerFixture fixture("one\ntwo\nthree\n");
    fixture.ruler->setHighlightSelectedLine(true);
    EDTextView& view = *fixture.view;
    using Ranges = std::vector<TextRange>;
    const struct {
        const char* name;
        Ranges ranges;
        std::vector<qint64> selected;
    } cases[] = {
        { "caret just before a line break", { TextRange(3) }, { 1 } },
        { "caret at a paragraph's start", { TextRange(4) }, { 2 } },
        { "caret just before the final break", { TextRange(13) }, { 3 } },
        { "caret after the final break", { TextRange(14) }, { 4 } },
        { "a range over two paragraphs", { TextRange(1, 5) }, { 1, 2 } },
        { "carets in two paragraphs", { TextRange(1), TextRange(5) }, {} },
        { "no selection at all", {}, { 1, 2, 3, 4 } },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<TextSelection> selections;
        for (const TextRange& range : test.ranges)
            selections.emplace_back(range);
        view.textLayoutManager().setTextSelections(selections);
        EXPECT_EQ(fixture.numbers(true), test.selected);
        for (const auto& line : fixture.ruler->lines()) {
            const QColor expected
                = line.isSelected ? *fixture.ruler->selectedLineTextColor() : fixture.ruler->textColor();
            EXPECT_EQ(line.textLine.color, expected);
        }
    }

    // The band behind a caret's line, not behind a selected range's.
    auto bandShows = [&](qint64 number) {
        fixture.view.settle();
        const QImage shot = fixture.ruler->grab().toImage();
        const auto& line = fixture.ruler->lines()[size_t(number - 1)];
        const QPointF top = fixture.ruler->convertFromClient(line.layoutFragmentFrame.topLeft());
        return shot.pixelColor(1, int(top.y()) + 2) != fixture.ruler->backgroundColor();
    };
    fixture.view.setCaret(5);
    EXPECT_TRUE(bandShows(2));
    EXPECT_FALSE(bandShows(1));
    view.setSelectedTextRange(TextRange(5, 6));
    EXPECT_FALSE(bandShows(2));
    fixture.ruler->setHighlightSelectedLine(false);
    fixture.view.setCaret(5);
    EXPECT_FALSE(bandShows(2));
    for (const auto& line : fixture.ruler->lines())
        EXPECT_EQ(line.textLine.color, fixture.ruler->textColor());
}

TEST(EDLineNumberRulerView, ThicknessGrowsAtTenHundredAndThousandLinesAndNeverShrinks)
{
    RulerFixture fixture(numberedParagraphs(5), QSize(480, 160));
    EDLineNumberRulerView& ruler = *fixture.ruler;
    const double digit = QFontMetricsF(ruler.font()).horizontalAdvance(QLatin1Char('0'));
    const double one = ruler.ruleThickness();
    EXPECT_EQ(one, std::ceil(digit) + 12);
    ruler.setAllowsMarkers(true);
    auto marker = std::make_shared<EDRulerMarker>(ruler, 10, 12);
    ruler.addMarker(marker);

    fixture.view->setString(numberedParagraphs(1200));
    fixture.view.settle();
    ASSERT_GE(fixture.numbers().back(), 10);
    const double two = ruler.ruleThickness();
    fixture.scrollToParagraph(95);
    const double three = ruler.ruleThickness();
    fixture.scrollToParagraph(995);
    const double four = ruler.ruleThickness();
    EXPECT_EQ(two, std::ceil(2 * digit) + 12);
    EXPECT_EQ(three, std::ceil(3 * digit) + 12);
    EXPECT_EQ(four, std::ceil(4 * digit) + 12);
    EXPECT_EQ(marker->size(), QSizeF(four, 12));
    fixture.expectMarginFollowsTheRuler();

    fixture.view->scrollToBeginningOfDocument();
    fixture.view.settle();
    fixture.view->setString(QStringLiteral("short"));
    fixture.view.settle();
    EXPECT_EQ(ruler.ruleThickness(), four);
    // Resizing the text view keeps the margin the ruler asked for.
    fixture.view->resize(400, 200);
    fixture.view.settle();
    EXPECT_EQ(ruler.width(), int(four));
    fixture.expectMarginFollowsTheRuler();
}

TEST(EDLineNumberRulerView, NumbersEndAtTheTrailingInsetBesideTheSeparator)
{
    RulerFixture fixture(numberedParagraphs(30));
    EDLineNumberRulerView& ruler = *fixture.ruler;
    ruler.setTextColor(Qt::black);
    ruler.setSeparatorColor(Qt::red);
    fixture.view->setSelectedTextRange(TextRange(0, 3));
    fixture.view.settle();
    auto inkRows = [&](const QImage& shot, int& right) {
        std::vector<int> rows;
        right = -1;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < shot.width() - 1; ++x) {
                if (isDark(shot.pixelColor(x, y))) {
                    rows.push_back(y);
                    right = std::max(right, x);
                }
            }
        }
        return rows;
    };
    const QImage shot = ruler.grab().toImage();
    const int separator = int(ruler.requiredThickness()) - 1;
    EXPECT_EQ(shot.pixelColor(separator, 100), QColor(Qt::red));
    EXPECT_NE(shot.pixelColor(separator - 1, 100), QColor(Qt::red));
    int right = 0;
    const std::vector<int> rows = inkRows(shot, right);
    ASSERT_FALSE(rows.empty());
    // Glyphs end within a pixel or two of the inset (their right side bearing).
    EXPECT_LE(right, separator - 6);
    EXPECT_GE(right, separator - 9);

    ruler.setBaselineOffset(2.0);
    ruler.invalidateHashMarks();
    int rightAfter = 0;
    const std::vector<int> raised = inkRows(ruler.grab().toImage(), rightAfter);
    ASSERT_FALSE(raised.empty());
    EXPECT_EQ(raised.front(), rows.front() - 2);
}

// Under a line-height multiple each number stands on its line's baseline as the text is drawn,
// and the number of an empty note where its first letter will: the numbers rose by a whole line at
// twice the height, and the empty note's number left the view.
TEST(EDLineNumberRulerView, NumbersStayLevelWithTheirTextAtEveryLineHeight)
{
    // The lowest dark row of the piece of a shot between the columns, in each line's band.
    const auto baselineRows = [](const QImage& shot, int left, int right, const std::vector<QRectF>& bands) {
        std::vector<int> rows;
        for (const QRectF& band : bands) {
            int lowest = -1;
            for (int y = std::max(0, int(band.top())); y < std::min(shot.height(), int(band.bottom())); ++y) {
                for (int x = left; x < right; ++x) {
                    if (isDark(shot.pixelColor(x, y)))
                        lowest = y;
                }
            }
            rows.push_back(lowest);
        }
        return rows;
    };
    for (const double multiple : { 0.8, 1.5, 2.0, 3.0 }) {
        RulerFixture fixture("first line\nlime\nfill");
        setLineHeightMultiple(*fixture.view, multiple);
        fixture.ruler->setTextColor(Qt::black);
        fixture.ruler->setDrawSeparator(false);
        // The caret out of the columns looked at.
        fixture.view.setCaret(10);
        fixture.view.settle();
        ASSERT_EQ(fixture.numbers(), (std::vector<qint64> { 1, 2, 3 }));
        std::vector<QRectF> inText, inRuler;
        for (const auto& line : fixture.ruler->lines()) {
            const QRectF band = line.layoutFragmentFrame;
            inText.emplace_back(fixture.view->viewToViewport(band.topLeft()), band.size());
            inRuler.emplace_back(fixture.ruler->convertFromClient(band.topLeft()), band.size());
        }
        // The text's first letters ("fi", "li", "fi") have no descenders, nor have the numbers.
        const std::vector<int> text = baselineRows(fixture.view->viewport()->grab().toImage(), 3, 20, inText);
        const std::vector<int> numbers
            = baselineRows(fixture.ruler->grab().toImage(), 0, fixture.ruler->width() - 2, inRuler);
        ASSERT_EQ(numbers.size(), text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            EXPECT_GT(text[i], int(inText[i].top())) << multiple;
            EXPECT_NEAR(numbers[i] - inRuler[i].top(), text[i] - inText[i].top(), 1.0)
                << "line " << i + 1 << " at a multiple of " << multiple;
        }

        const double numberOfALetter = fixture.ruler->lines().front().textPosition.y();
        fixture.view->setString(QString());
        fixture.view.settle();
        ASSERT_EQ(fixture.numbers(), std::vector<qint64> { 1 });
        EXPECT_NEAR(fixture.ruler->lines().front().textPosition.y(), numberOfALetter, 1.0) << multiple;
    }
}

TEST(EDLineNumberRulerView, AClickTogglesAMarkerWhereMarkersAreAllowed)
{
    RulerFixture fixture("alpha\nbeta\ngamma\n");
    EDLineNumberRulerView& ruler = *fixture.ruler;
    const QPoint onBeta = fixture.rulerPoint(7);
    QTest::mouseClick(&ruler, Qt::LeftButton, {}, onBeta);
    EXPECT_TRUE(ruler.markers().empty()); // not allowed yet

    ruler.setAllowsMarkers(true);
    QTest::mouseClick(&ruler, Qt::LeftButton, {}, onBeta);
    ASSERT_EQ(ruler.markers().size(), 1u);
    const auto marker = std::dynamic_pointer_cast<EDRulerMarker>(ruler.markers().front());
    ASSERT_TRUE(marker);
    const QRectF beta = fixture.view->fragmentViews()[1].fragment->layoutFragmentFrame();
    EXPECT_NEAR(marker->markerLocation(), beta.bottom(), 1);
    EXPECT_EQ(marker->size().width(), ruler.ruleThickness());
    EXPECT_TRUE(marker->isMovable() && marker->isRemovable());
    // Drawn in the accent colour over the ruler's width, on that line.
    const QImage shot = ruler.grab().toImage();
    const QPointF middle = ruler.convertFromClient(QPointF(0, beta.center().y()));
    EXPECT_GT(shot.pixelColor(1, int(middle.y())).blue(), shot.pixelColor(1, int(middle.y())).red() + 40);

    QTest::mouseClick(&ruler, Qt::LeftButton, {}, onBeta);
    EXPECT_TRUE(ruler.markers().empty());

    // One click takes away every marker on its line.
    for (int i = 0; i < 2; ++i)
        ruler.addMarker(std::make_shared<EDRulerMarker>(ruler, marker->markerLocation(), 10));
    QTest::mouseClick(&ruler, Qt::LeftButton, {}, onBeta);
    EXPECT_TRUE(ruler.markers().empty());

    // Below the text there is no line to mark.
    QTest::mouseClick(&ruler, Qt::LeftButton, {}, QPoint(onBeta.x(), ruler.height() - 5));
    EXPECT_TRUE(ruler.markers().empty());

    // A view that may not be edited takes no markers, whatever the ruler allows.
    fixture.view->setIsEditable(false);
    QTest::mouseClick(&ruler, Qt::LeftButton, {}, onBeta);
    EXPECT_TRUE(ruler.markers().empty());
}

// A screen reader finds the ruler beside the text as a pane named "Line Numbers"; a click on it
// leaves the focus with the text, and it offers itself to no focus.
TEST(EDLineNumberRulerView, IsANamedPaneToAssistiveTechnologiesAndNeverTakesTheFocus)
{
    RulerFixture fixture("alpha\nbeta\ngamma\n");
    QAccessibleInterface* textView = QAccessible::queryAccessibleInterface(fixture.view.view.get());
    ASSERT_TRUE(textView);
    QAccessibleInterface* ruler = nullptr;
    for (int i = 0; i < textView->childCount(); ++i) {
        if (textView->child(i) && textView->child(i)->object() == fixture.ruler)
            ruler = textView->child(i);
    }
    ASSERT_TRUE(ruler) << "among the text view's children";
    EXPECT_EQ(ruler->role(), QAccessible::Pane);
    EXPECT_EQ(ruler->text(QAccessible::Name), "Line Numbers");
    EXPECT_FALSE(ruler->state().focusable);

    fixture.ruler->setAllowsMarkers(true);
    QTest::mouseClick(fixture.ruler, Qt::LeftButton, {}, fixture.rulerPoint(7));
    EXPECT_EQ(fixture.ruler->markers().size(), 1u);
    EXPECT_TRUE(fixture.view->hasFocus());
    EXPECT_FALSE(fixture.ruler->hasFocus());
}

// A marker dragged to another line is on that line: a click there takes it away.
TEST(EDLineNumberRulerView, AClickTakesAwayAMarkerDraggedOntoItsLine)
{
    RulerFixture fixture("alpha\nbeta\ngamma\ndelta\nepsilon\n");
    EDLineNumberRulerView& ruler = *fixture.ruler;
    ruler.setAllowsMarkers(true);
    const QPoint onBeta = fixture.rulerPoint(7);
    const QPoint onDelta = fixture.rulerPoint(19);
    QTest::mouseClick(&ruler, Qt::LeftButton, {}, onBeta);
    ASSERT_EQ(ruler.markers().size(), 1u);

    QTest::mousePress(&ruler, Qt::LeftButton, {}, onBeta);
    for (int y = onBeta.y(); y <= onDelta.y(); y += 2) {
        QMouseEvent move(QEvent::MouseMove, QPointF(onBeta.x(), y), ruler.mapToGlobal(QPointF(onBeta.x(), y)),
            Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&ruler, &move);
    }
    QTest::mouseRelease(&ruler, Qt::LeftButton, {}, onDelta);
    ASSERT_EQ(ruler.markers().size(), 1u);
    const QRectF delta = fixture.view->fragmentViews()[3].fragment->layoutFragmentFrame();
    EXPECT_DOUBLE_EQ(ruler.markers().front()->markerLocation(), delta.bottom());

    QTest::mouseClick(&ruler, Qt::LeftButton, {}, onDelta);
    EXPECT_TRUE(ruler.markers().empty());
}

TEST(EDLineNumberRulerView, FollowsEditsThatAddAndRemoveLinesAboveTheViewport)
{
    RulerFixture fixture(numberedParagraphs(1000));
    fixture.scrollToParagraph(500);
    // The caret in view, so that the edits' scrolling to it keeps the view where it is.
    fixture.view.setCaret(fixture.view->textContentStorage().layoutParagraphRange(505).location);
    fixture.view.settle();
    // Every number beside "paragraph k" is k + 1 + `shift`.
    auto expectShift = [&](qint64 shift) {
        fixture.expectNumbersMatchTheirParagraphs();
        for (const auto& line : fixture.ruler->lines()) {
            const auto fragment
                = fixture.view->textLayoutManager().textLayoutFragment(line.layoutFragmentFrame.center());
            const QString text = fixture.view->textContentStorage().substring(fragment->rangeInElement());
            EXPECT_EQ(text, QStringLiteral("paragraph %1\n").arg(line.number - 1 - shift));
        }
    };
    expectShift(0);
    fixture.view->replaceCharacters(TextRange(0), QStringLiteral("new\nnew\nnew\nnew\nnew\n"));
    fixture.view.settle();
    expectShift(5);
    // Those five and the first ten paragraphs go.
    fixture.view->replaceCharacters(TextRange(0, 5 * 4 + 10 * 12), QString());
    fixture.view.settle();
    expectShift(-10);
}

TEST(EDLineNumberRulerView, ClientLocationsRulerTogglingAndLifetime)
{
    RulerFixture fixture("alpha\nbeta\n");
    EDTextView& view = *fixture.view;
    EDLineNumberRulerView& ruler = *fixture.ruler;
    // A point below the text gives its own y; a line-height multiple of 2 raises a line's bottom
    // by half the extra height it gives a typing line, a quarter of that line's height.
    EXPECT_EQ(view.rulerViewLocationForPoint(ruler, QPointF(0, 250)), 250);
    const QRectF alpha = view.fragmentViews()[0].fragment->layoutFragmentFrame();
    EXPECT_EQ(view.rulerViewLocationForPoint(ruler, alpha.center()), alpha.bottom());
    platform::ParagraphStyle style;
    style.lineHeightMultiple = 2.0;
    platform::TextAttributes typing = view.typingAttributes();
    typing.insert(platform::AttributeKey::paragraphStyle, QVariant::fromValue(style));
    view.setTypingAttributes(typing);
    EXPECT_DOUBLE_EQ(
        view.rulerViewLocationForPoint(ruler, alpha.center()), alpha.bottom() - view.typingLineHeight() / 4);

    // Writing the markers' reserved thickness changes nothing; toggling twice shows the ruler again.
    const double reserved = ruler.reservedThicknessForMarkers();
    ruler.setReservedThicknessForMarkers(reserved + 10);
    EXPECT_EQ(ruler.reservedThicknessForMarkers(), reserved);
    view.toggleRuler();
    EXPECT_FALSE(view.isRulerVisible());
    EXPECT_TRUE(ruler.isHidden());
    EXPECT_EQ(view.viewport()->x(), view.frameWidth());
    EXPECT_TRUE(view.doCommandBySelector(QStringLiteral("toggleRuler:")));
    EXPECT_TRUE(view.isRulerVisible());
    EXPECT_EQ(platform::RulerView::verticalRuler(view), &ruler);

    // A ruler that is gone hears of no more selection changes.
    platform::RulerView::setVerticalRuler(view, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    fixture.view.setCaret(3);
    fixture.view.settle();
}

namespace {

// Sets a text view's font to the font its widget inherits whenever that changes, as the note
// editor does.
class FollowsWidgetFont : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FontChange)
            static_cast<EDTextView*>(watched)->setFont(static_cast<EDTextView*>(watched)->QWidget::font());
        return false;
    }
};

// The application's font for the scope of a test, then the one before.
struct ApplicationFont {
    QFont saved = QApplication::font();
    ~ApplicationFont() { QApplication::setFont(saved); }
};

} // namespace

// The application's font changes while a note is open (QApplication::setFont, the desktop's
// setting): where the text takes the new font, its line numbers do too; where the text keeps its
// font, or the host gave the ruler a font of its own, the numbers keep theirs.
TEST(EDLineNumberRulerView, NumbersFollowALiveChangeOfTheApplicationFontAsTheTextDoes)
{
    enum class Host { textFollows, textKeepsItsFont, rulerFontSet };
    for (const Host host : { Host::textFollows, Host::textKeepsItsFont, Host::rulerFontSet }) {
        SCOPED_TRACE(int(host));
        ApplicationFont restore;
        RulerFixture f(numberedParagraphs(30));
        FollowsWidgetFont follower;
        if (host == Host::textFollows) {
            f.view->installEventFilter(&follower);
            f.view->setFont(f.view->QWidget::font());
        }
        QFont hostFont("DejaVu Sans Mono");
        hostFont.setPixelSize(11);
        if (host == Host::rulerFontSet)
            f.ruler->setFont(hostFont);
        f.view.settle();
        const QFont before = f.ruler->font();
        const double thicknessBefore = f.ruler->requiredThickness();

        QFont serif("DejaVu Serif");
        serif.setPixelSize(28);
        QApplication::setFont(serif);
        f.view.settle();
        QCoreApplication::processEvents();

        ASSERT_FALSE(f.ruler->lines().empty());
        ASSERT_FALSE(f.ruler->lines().front().textLine.glyphRuns.empty());
        const QString numbersFamily
            = f.ruler->lines().front().textLine.glyphRuns.front().rawFont().familyName();
        switch (host) {
        case Host::textFollows:
            EXPECT_EQ(f.ruler->font(), EDLineNumberRulerView::lineNumberFont(serif));
            EXPECT_EQ(numbersFamily, "DejaVu Serif");
            EXPECT_GT(f.ruler->requiredThickness(), thicknessBefore);
            f.expectNumbersMatchTheirParagraphs();
            break;
        case Host::textKeepsItsFont:
            EXPECT_EQ(f.ruler->font(), before);
            break;
        case Host::rulerFontSet:
            EXPECT_EQ(f.ruler->font(), hostFont);
            EXPECT_EQ(numbersFamily, "DejaVu Sans Mono");
            break;
        }
    }
}

// The desktop switches between light and dark: the selected line's number, in the text's colour,
// and its band, in the text view's selected-line colour, take the new palette's, as the text does;
// colours given to the ruler or the text view on purpose stay as given.
TEST(EDLineNumberRulerView, TheSelectedLinesColoursFollowAPaletteChange)
{
    ScopedPalette light(false);
    RulerFixture f("one\ntwo\n");
    f.ruler->setHighlightSelectedLine(true);
    f.view.setCaret(5);
    f.view.settle();
    const auto selectedColour = [&] {
        f.view.settle();
        for (const auto& line : f.ruler->lines()) {
            if (line.isSelected)
                return line.textLine.color;
        }
        return QColor();
    };
    ASSERT_EQ(selectedColour(), QColor(Qt::black));
    {
        ScopedPalette dark(true);
        EXPECT_EQ(selectedColour(), QColor(Qt::white));
        EXPECT_EQ(f.ruler->selectedLineTextColor(), QColor(Qt::white));
        EXPECT_EQ(f.ruler->selectedLineHighlightColor(), f.view->selectedLineHighlightColor());
        f.ruler->setSelectedLineTextColor(QColor(Qt::red));
    }
    EXPECT_EQ(selectedColour(), QColor(Qt::red));
    EXPECT_EQ(f.ruler->selectedLineHighlightColor(), f.view->selectedLineHighlightColor());

    // A text view whose typing colour and band were set: the ruler copies them.
    ShownView coloured("one\n");
    coloured->setTextColor(QColor(Qt::blue));
    coloured->setSelectedLineHighlightColor(QColor(Qt::green));
    EDLineNumberRulerView ruler(*coloured);
    ScopedPalette dark(true);
    EXPECT_EQ(ruler.selectedLineTextColor(), QColor(Qt::blue));
    EXPECT_EQ(ruler.selectedLineHighlightColor(), QColor(Qt::green));
}

// The band beside the caret's line is painted in the text view's selected-line colour, which a
// new colour of its own or of the view's background changes: the ruler shows the new one at once,
// not when something else next repaints it.
TEST(EDLineNumberRulerView, TheBandTakesTheTextViewsNewColoursAtOnce)
{
    const std::vector<std::pair<const char*, std::function<void(EDTextView&)>>> changes = {
        { "the band's colour",
            [](EDTextView& view) { view.setSelectedLineHighlightColor(QColor(255, 200, 200)); } },
        { "the background", [](EDTextView& view) { view.setBackgroundColor(QColor(40, 40, 90)); } },
    };
    for (const auto& [name, change] : changes) {
        RulerFixture f(numberedParagraphs(5));
        f.ruler->setHighlightSelectedLine(true);
        f.view.setCaret(2);
        ASSERT_EQ(staleRulerPixels(f), 0) << name;
        const QColor before = f.ruler->selectedLineHighlightColor();
        change(*f.view);
        ASSERT_NE(f.ruler->selectedLineHighlightColor(), before) << name;
        EXPECT_EQ(staleRulerPixels(f), 0) << name;
    }
}
