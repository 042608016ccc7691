#include "EDTextView/EDLineNumberRulerView.h"

#include "EDTextView/EDDefaultTextColor.h"
#include "EDTextView/EDRulerMarker.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "platform/text/TextContentStorage.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QScrollBar>
#include <QTextLayout>

#include <array>
#include <cmath>

using platform::TextLayoutFragment;
using platform::TextLayoutManager;
using platform::TextLineFragment;
using platform::TextRange;

namespace {

constexpr qsizetype cachedLineFragmentLimit = 4;

// The baseline of the number of an empty document sits this far above the font's line height.
constexpr double emptyDocumentBaselineRaise = 3.0;

// A line-height multiple makes a line `height` tall from a natural height of height / multiple; the
// glyphs are drawn half the extra height above the baseline the line reports, and so is the number,
// to stay level with them. Half the extra is taken from the natural height: from the full height it
// would lift the number by a whole line at a multiple of 2 and off its line above that.
double lineSpacingOffset(double height, double lineHeightMultiple)
{
    if (std::abs(lineHeightMultiple) < edtextview::geometryTolerance)
        return 0;
    return height / lineHeightMultiple * (lineHeightMultiple - 1) * -0.5;
}

// A line is selected when every range touches it.
bool isLineSelected(TextRange paragraph, const TextLineFragment& line, const TextLayoutFragment& fragment,
    const std::vector<TextRange>& ranges)
{
    for (const TextRange& range : ranges) {
        const bool touches = line.isEmpty()
            ? fragment.rangeInElement().endLocation == range.location
            : paragraph.contains(range) || paragraph.intersects(range) || range.contains(paragraph)
                || range.intersects(paragraph) || paragraph.endLocation == range.location;
        if (!touches)
            return false;
    }
    return true;
}

// The line fragments that get a number, at most two: the first, and an empty line, which only a
// last line can be (the line after a final line break).
struct NumberedLines {
    std::array<TextLineFragment, 2> lines;
    int count = 0;
};

NumberedLines numberedLines(const TextLayoutFragment& fragment)
{
    NumberedLines numbered;
    const qsizetype count = fragment.lineFragmentCount();
    if (count == 0)
        return numbered;
    // A short paragraph keeps its line fragments once made (a few hundred bytes), so that
    // rebuilding on every caret move costs no layout arithmetic; a long one is asked for two lines.
    if (count <= cachedLineFragmentLimit) {
        const auto& all = fragment.textLineFragments();
        numbered.lines[numbered.count++] = all.front();
        if (count > 1 && all.back().isEmpty())
            numbered.lines[numbered.count++] = all.back();
        return numbered;
    }
    numbered.lines[numbered.count++] = fragment.lineFragment(0);
    if (count > 1) {
        TextLineFragment last = fragment.lineFragment(count - 1);
        if (last.isEmpty())
            numbered.lines[numbered.count++] = last;
    }
    return numbered;
}

// Qt has no ruler role: the strip of numbers beside the text is a pane (a panel to assistive
// technologies), named by the ruler's accessible name.
QAccessibleInterface* rulerAccessibleFactory(const QString&, QObject* object)
{
    if (auto* ruler = qobject_cast<EDLineNumberRulerView*>(object))
        return new QAccessibleWidget(ruler, QAccessible::Pane);
    return nullptr;
}

void installRulerAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(rulerAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

// Lays numbers out from the font's own digit glyphs: a number is its digits' glyphs side by side,
// which is all shaping would do with tabular digits, at a fraction of the cost. A font without
// digits of its own goes through a full text layout (which finds a fallback font).
class EDLineNumberRulerView::Typesetter {
public:
    explicit Typesetter(const QFont& font)
        : m_font(font)
        , m_rawFont(QRawFont::fromFont(font))
    {
        if (!m_rawFont.isValid())
            return;
        const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(QStringLiteral("0123456789"));
        if (glyphs.size() != qsizetype(m_digits.size()) || glyphs.contains(0))
            return;
        const QList<QPointF> advances = m_rawFont.advancesForGlyphIndexes(glyphs);
        for (size_t digit = 0; digit < m_digits.size(); ++digit)
            m_digits[digit] = { glyphs[qsizetype(digit)], advances[qsizetype(digit)].x() };
        m_fromDigitGlyphs = true;
    }

    const QFont& font() const { return m_font; }

    NumberText typeset(qint64 number, const QColor& color) const
    {
        NumberText text;
        text.color = color;
        const QString digits = QString::number(number);
        if (m_fromDigitGlyphs && number >= 0) {
            QList<quint32> glyphs;
            QList<QPointF> positions;
            glyphs.reserve(digits.size());
            positions.reserve(digits.size());
            double x = 0;
            for (const QChar character : digits) {
                const Digit& digit = m_digits[size_t(character.unicode() - u'0')];
                glyphs.append(digit.glyph);
                positions.append(QPointF(x, 0));
                x += digit.advance;
            }
            QGlyphRun run;
            run.setRawFont(m_rawFont);
            run.setGlyphIndexes(glyphs);
            run.setPositions(positions);
            text.glyphRuns.push_back(std::move(run));
            text.width = x;
            return text;
        }
        QTextLayout layout(digits, m_font);
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        text.width = line.horizontalAdvance();
        // Positions from the baseline origin, as above.
        for (QGlyphRun run : layout.glyphRuns()) {
            QList<QPointF> positions = run.positions();
            for (QPointF& position : positions)
                position.ry() -= line.ascent();
            run.setPositions(positions);
            text.glyphRuns.push_back(std::move(run));
        }
        return text;
    }

private:
    struct Digit {
        quint32 glyph = 0;
        double advance = 0;
    };
    QFont m_font;
    QRawFont m_rawFont;
    std::array<Digit, 10> m_digits {};
    bool m_fromDigitGlyphs = false;
};

EDLineNumberRulerView::EDLineNumberRulerView(EDTextView& textView, QAbstractScrollArea* scrollView)
    : RulerView(scrollView ? scrollView : &textView)
    , m_font(defaultFont())
{
    installRulerAccessibleFactory();
    setAccessibleName(QCoreApplication::translate("EDLineNumberRulerView", "Line Numbers"));
    // Clicks toggle markers; the keys stay with the text.
    setFocusPolicy(Qt::NoFocus);
    if (const auto font = textView.font())
        m_font = lineNumberFont(*font);
    m_highlightSelectedLine = textView.highlightSelectedLine();
    if (textView.hasOwnSelectedLineHighlightColor())
        m_selectedLineHighlightColor = textView.selectedLineHighlightColor();
    else
        m_followsTextViewHighlightColor = true;
    // Selected lines' numbers take the text's own colour.
    if (EDDefaultTextColor::isHeldBy(
            textView.typingAttributes().value(platform::AttributeKey::foregroundColor)))
        m_followsTextViewTextColor = true;
    else
        m_selectedLineTextColor = textView.textColor();
    setClientView(&textView);
    // Connected with the ruler as context: once the ruler is gone, the connection is too.
    connect(&textView.textLayoutManager(), &EDTextLayoutManager::didChangeSelection, this,
        [this] { invalidateHashMarks(); });
}

EDLineNumberRulerView::~EDLineNumberRulerView() = default;

QFont EDLineNumberRulerView::lineNumberFont(const QFont& font)
{
    return font;
}

QFont EDLineNumberRulerView::defaultFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (font.family().isEmpty())
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setWeight(QFont::Normal);
    font.setStretch(QFont::Condensed);
    return font;
}

template<typename T> void EDLineNumberRulerView::assign(T& member, const T& value)
{
    if (member == value)
        return;
    member = value;
    update();
}

void EDLineNumberRulerView::setFont(const QFont& font)
{
    m_fontSource = FontSource::host;
    assign(m_font, font);
}

void EDLineNumberRulerView::setRulerInsets(EDRulerInsets insets)
{
    assign(m_rulerInsets, insets);
}

QColor EDLineNumberRulerView::textColor() const
{
    return m_textColor.value_or(palette().color(QPalette::PlaceholderText));
}

void EDLineNumberRulerView::setTextColor(const QColor& color)
{
    assign(m_textColor, std::optional<QColor>(color));
}

void EDLineNumberRulerView::setDrawSeparator(bool draw)
{
    assign(m_drawSeparator, draw);
}

QColor EDLineNumberRulerView::backgroundColor() const
{
    return m_backgroundColor.value_or(palette().color(QPalette::Base));
}

void EDLineNumberRulerView::setBackgroundColor(const QColor& color)
{
    assign(m_backgroundColor, std::optional<QColor>(color));
}

void EDLineNumberRulerView::setHighlightSelectedLine(bool highlight)
{
    assign(m_highlightSelectedLine, highlight);
}

void EDLineNumberRulerView::setDrawsBackground(bool draws)
{
    assign(m_drawsBackground, draws);
}

QColor EDLineNumberRulerView::selectedLineHighlightColor() const
{
    if (m_selectedLineHighlightColor)
        return *m_selectedLineHighlightColor;
    if (m_followsTextViewHighlightColor && textView())
        return textView()->selectedLineHighlightColor();
    QColor color = palette().color(QPalette::Highlight);
    color.setAlphaF(0.25f);
    return color;
}

void EDLineNumberRulerView::setSelectedLineHighlightColor(const QColor& color)
{
    m_followsTextViewHighlightColor = false;
    assign(m_selectedLineHighlightColor, std::optional<QColor>(color));
}

std::optional<QColor> EDLineNumberRulerView::selectedLineTextColor() const
{
    if (m_followsTextViewTextColor && textView())
        return textView()->textColor();
    return m_selectedLineTextColor;
}

void EDLineNumberRulerView::setSelectedLineTextColor(const std::optional<QColor>& color)
{
    if (m_followsTextViewTextColor) {
        m_followsTextViewTextColor = false;
        update();
    }
    assign(m_selectedLineTextColor, color);
}

QColor EDLineNumberRulerView::separatorColor() const
{
    if (m_separatorColor)
        return *m_separatorColor;
    // A faint line in the text's colour over the background, which reads the same on light and dark
    // backgrounds. Mixed here rather than drawn translucent: a translucent line the ruler's height
    // costs far more to draw than all its numbers.
    const QColor text = palette().color(QPalette::Text);
    const QColor base = backgroundColor();
    constexpr float share = 0.15f;
    return QColor::fromRgbF(text.redF() * share + base.redF() * (1 - share),
        text.greenF() * share + base.greenF() * (1 - share),
        text.blueF() * share + base.blueF() * (1 - share));
}

void EDLineNumberRulerView::setSeparatorColor(const QColor& color)
{
    assign(m_separatorColor, std::optional<QColor>(color));
}

void EDLineNumberRulerView::setBaselineOffset(double offset)
{
    assign(m_baselineOffset, offset);
}

void EDLineNumberRulerView::setAllowsMarkers(bool allows)
{
    if (m_allowsMarkers == allows)
        return;
    m_allowsMarkers = allows;
    tile();
    update();
}

EDTextView* EDLineNumberRulerView::textView() const
{
    return dynamic_cast<EDTextView*>(clientView());
}

void EDLineNumberRulerView::invalidateHashMarks()
{
    updateLines();
    // A rebuild at the start of a paint of the whole ruler is drawn by that paint.
    if (!m_painting)
        update();
}

void EDLineNumberRulerView::addMarker(std::shared_ptr<platform::RulerMarker> marker)
{
    if (!m_allowsMarkers || !clientView())
        return;
    RulerView::addMarker(std::move(marker));
    tile();
}

const EDLineNumberRulerView::Typesetter& EDLineNumberRulerView::typesetter()
{
    if (!m_typesetter || !(m_typesetter->font() == m_font))
        m_typesetter = std::make_unique<Typesetter>(m_font);
    return *m_typesetter;
}

EDLineNumberRulerView::NumberText EDLineNumberRulerView::numberText(qint64 number, bool selected)
{
    const QColor& color = m_highlightSelectedLine && selected ? m_colors.selected : m_colors.text;
    if (!m_previousLines.empty()) {
        const qint64 index = number - m_previousLines.front().number;
        if (index >= 0 && index < qint64(m_previousLines.size())) {
            NumberText& previous = m_previousLines[size_t(index)].textLine;
            if (previous.color == color && !previous.glyphRuns.empty())
                return std::move(previous);
        }
    }
    return typesetter().typeset(number, color);
}

void EDLineNumberRulerView::updateLines()
{
    EDTextView* view = textView();
    if (!view)
        return;
    EDTextLayoutManager& manager = view->textLayoutManager();
    const platform::TextContentStorage* storage = manager.textContentStorage();
    const auto viewportRange = manager.textViewportLayoutController().viewportRange();
    if (!storage || !viewportRange)
        return;
    if (m_fontSource == FontSource::textViewAtNextRebuild) {
        m_fontSource = FontSource::textView;
        if (const auto font = view->font())
            m_font = lineNumberFont(*font);
    }
    // The previous numbers are reusable only if made with the current font; their colours are
    // compared one by one.
    m_previousLines.clear();
    if (m_typesetter && m_typesetter->font() == m_font)
        std::swap(m_previousLines, m_lines);
    m_lines.clear();
    m_colors.text = textColor();
    m_colors.selected = selectedLineTextColor().value_or(m_colors.text);
    const unsigned options = TextLayoutManager::ensuresLayout | TextLayoutManager::ensuresExtraLineFragment;
    if (manager.documentRange().isEmpty()) {
        manager.enumerateTextLayoutFragments(
            0, options, [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
                appendEmptyDocumentLine(*fragment, *view);
                return false;
            });
    } else {
        // An edit since the last pass may have shortened the text under the viewport's range.
        const TextRange viewport = edtextview::clamped(*viewportRange, manager.documentRange());
        // The paragraphs that end before the viewport, from the storage's index: no walk over them.
        const qint64 paragraphsBefore = storage->layoutParagraphIndex(viewport.location);
        const std::vector<TextRange> selectionRanges
            = edtextview::textRangesOfSelections(manager.textSelections());
        auto append = [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
            appendLines(*fragment, paragraphsBefore, selectionRanges);
            return true;
        };
        const auto& laidOut = view->fragmentViews();
        if (laidOut.empty()) {
            edtextview::enumerateTextLayoutFragments(manager, viewport, options, append);
        } else {
            // The fragments the view's last pass laid out for its viewport are those an enumeration
            // of the viewport's range would give, already at hand: looking each up again in the
            // layout manager would cost as much as the pass itself. The enumeration would also give
            // a fragment that begins exactly at the range's end; that one is looked up.
            for (const auto& fragmentView : laidOut)
                append(fragmentView.fragment);
            manager.enumerateTextLayoutFragments(
                viewport.endLocation, options, [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
                    if (fragment->rangeInElement().location == viewport.endLocation
                        && fragment != laidOut.back().fragment)
                        append(fragment);
                    return false;
                });
        }
    }
    m_previousLines.clear();
    updateRuleThickness();
    positionLines();
}

void EDLineNumberRulerView::appendLines(const TextLayoutFragment& fragment, qint64 paragraphsBefore,
    const std::vector<TextRange>& selectionRanges)
{
    const NumberedLines numbered = numberedLines(fragment);
    const QRectF frame = fragment.layoutFragmentFrame();
    const TextRange element = fragment.rangeInElement();
    const TextRange paragraph(element.location, element.location + fragment.contentLength());
    // A paragraph's band leaves out an empty line after it, which has a band of its own.
    double emptyLineHeight = 0;
    for (int i = 0; i < numbered.count; ++i) {
        if (numbered.lines[size_t(i)].isEmpty()) {
            emptyLineHeight = numbered.lines[size_t(i)].typographicBounds().height();
            break;
        }
    }
    const double multiple = fragment.paragraphStyle().lineHeightMultiple;
    for (int i = 0; i < numbered.count; ++i) {
        const TextLineFragment& line = numbered.lines[size_t(i)];
        const QRectF bounds = line.typographicBounds();
        Line entry;
        entry.number = paragraphsBefore + qint64(m_lines.size()) + 1;
        entry.isSelected = isLineSelected(paragraph, line, fragment, selectionRanges);
        entry.textLine = numberText(entry.number, entry.isSelected);
        const double height = line.isEmpty() ? bounds.height() : frame.height() - emptyLineHeight;
        const double top = frame.top() + bounds.top();
        entry.layoutFragmentFrame = QRectF(0, top, frame.width(), height);
        entry.textPosition
            = QPointF(0, top + line.glyphOrigin().y() + lineSpacingOffset(bounds.height(), multiple));
        m_lines.push_back(std::move(entry));
    }
}

void EDLineNumberRulerView::appendEmptyDocumentLine(
    const TextLayoutFragment& fragment, const EDTextView& view)
{
    // Where the first letter typed will stand: a line-height multiple moves the glyphs down by half
    // the extra height it gives the line.
    double multiple = 0;
    const QVariant style = view.typingAttributes().value(platform::AttributeKey::paragraphStyle);
    if (style.canConvert<platform::ParagraphStyle>())
        multiple = style.value<platform::ParagraphStyle>().lineHeightMultiple;
    const QRectF frame = fragment.layoutFragmentFrame();
    const NumberedLines numbered = numberedLines(fragment);
    for (int i = 0; i < numbered.count; ++i) {
        const double height = numbered.lines[size_t(i)].typographicBounds().height();
        const double offset = -emptyDocumentBaselineRaise - lineSpacingOffset(height, multiple);
        Line entry;
        entry.number = qint64(m_lines.size()) + 1;
        entry.isSelected = true;
        entry.textLine = numberText(entry.number, true);
        entry.textPosition = QPointF(0, frame.top() + edtextview::defaultLineHeight(m_font) + offset);
        entry.layoutFragmentFrame = QRectF(0, frame.top(), frame.width(), view.typingLineHeight());
        m_lines.push_back(std::move(entry));
    }
}

void EDLineNumberRulerView::updateRuleThickness()
{
    const double old = ruleThickness();
    double thickness = old;
    // The last visible line carries the widest number.
    if (!m_lines.empty()) {
        thickness = std::max(thickness,
            std::ceil(m_lines.back().textLine.width) + m_rulerInsets.leading + m_rulerInsets.trailing);
    }
    if (thickness == old)
        return;
    setRuleThickness(thickness);
    if (QAbstractScrollArea* area = scrollView())
        area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->minimum());
    updateMarkerWidths();
}

void EDLineNumberRulerView::positionLines()
{
    const double required = requiredThickness();
    for (Line& line : m_lines) {
        line.textPosition += QPointF(
            required - (std::ceil(line.textLine.width) + m_rulerInsets.trailing), -m_baselineOffset);
    }
}

void EDLineNumberRulerView::updateMarkerWidths()
{
    for (const auto& marker : markers()) {
        if (auto* ours = dynamic_cast<EDRulerMarker*>(marker.get()))
            ours->setSize(QSizeF(ruleThickness(), ours->size().height()));
    }
}

void EDLineNumberRulerView::paintEvent(QPaintEvent* event)
{
    m_painting = event->rect().contains(rect());
    // A layout pass the text view still owes (it scrolled, or its text changed) comes first, so that
    // the numbers drawn are those of the text drawn beside them.
    if (EDTextView* view = textView())
        view->layoutIfNeeded();
    RulerView::paintEvent(event);
    m_painting = false;
}

void EDLineNumberRulerView::changeEvent(QEvent* event)
{
    // Numbers keep the colours they were made with; those that follow the palette are made again.
    if (event->type() == QEvent::PaletteChange)
        invalidateHashMarks();
    if (event->type() == QEvent::FontChange && m_fontSource != FontSource::host)
        m_fontSource = FontSource::textViewAtNextRebuild;
    RulerView::changeEvent(event);
}

void EDLineNumberRulerView::drawBackground(QPainter& painter, const QRectF&)
{
    if (!m_drawsBackground)
        return;
    painter.save();
    painter.fillRect(rect(), backgroundColor());
    painter.restore();
}

void EDLineNumberRulerView::drawRect(QPainter& painter, const QRectF& dirtyRect)
{
    EDTextView* view = textView();
    if (!view)
        return;
    drawBackground(painter, dirtyRect);
    drawHashMarksAndLabels(painter, dirtyRect);
    if (!markers().empty())
        drawMarkers(painter, dirtyRect);
    const double dy = convertFromClient(QPointF(0, 0)).y();
    painter.save();
    const double required = requiredThickness();
    if (m_drawSeparator) {
        painter.setPen(QPen(separatorColor(), 1.0));
        painter.drawLine(QPointF(required - 0.5, 0), QPointF(required - 0.5, height()));
    }
    // Numbers whose baseline lies within a font size of the dirty rows may reach into them.
    const double reach = QFontInfo(m_font).pixelSize();
    const bool onlyCarets = edtextview::sortedSelectionTextRanges(view->textLayoutManager(), true).empty();
    for (const Line& line : m_lines) {
        const QPointF position = line.textPosition + QPointF(0, dy);
        if (position.y() < dirtyRect.top() - reach || position.y() > dirtyRect.bottom() + reach)
            continue;
        if (m_highlightSelectedLine && line.isSelected && onlyCarets) {
            const QRectF& frame = line.layoutFragmentFrame;
            painter.fillRect(edtextview::pixelAligned(QRectF(0, dy + frame.top(), width(), frame.height())),
                selectedLineHighlightColor());
        }
        painter.setPen(line.textLine.color);
        for (const QGlyphRun& run : line.textLine.glyphRuns)
            painter.drawGlyphRun(position, run);
    }
    painter.restore();
}
