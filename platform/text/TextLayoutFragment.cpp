#include "platform/text/TextLayoutFragment.h"

#include <QColor>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextCharFormat>

#include <cmath>

namespace platform {

namespace {

constexpr double unwrappedLineWidth = 1.0e6;

QTextCharFormat formatFor(const TextAttributes& attributes)
{
    QTextCharFormat format;
    if (auto it = attributes.find(AttributeKey::font); it != attributes.end() && it->canConvert<QFont>())
        format.setFont(it->value<QFont>(), QTextCharFormat::FontPropertiesAll);
    if (auto it = attributes.find(AttributeKey::foregroundColor);
        it != attributes.end() && it->canConvert<QColor>())
        format.setForeground(it->value<QColor>());
    if (auto it = attributes.find(AttributeKey::backgroundColor);
        it != attributes.end() && it->canConvert<QColor>())
        format.setBackground(it->value<QColor>());
    if (auto it = attributes.find(AttributeKey::underlineStyle); it != attributes.end() && it->toInt() != 0)
        format.setFontUnderline(true);
    if (auto it = attributes.find(AttributeKey::underlineColor);
        it != attributes.end() && it->canConvert<QColor>())
        format.setUnderlineColor(it->value<QColor>());
    return format;
}

} // namespace

AttributedString TextLineFragment::attributedString() const
{
    return m_fragment ? m_fragment->attributedString() : AttributedString();
}

QPointF TextLineFragment::locationForCharacter(qint64 index) const
{
    if (!m_fragment || m_lineNumber < 0)
        return { m_bounds.left(), m_bounds.top() };
    const QTextLine line = m_fragment->textLayout().lineAt(m_lineNumber);
    const qint64 clamped = std::clamp<qint64>(index, line.textStart(), line.textStart() + line.textLength());
    int cursor = int(clamped);
    return { line.cursorToX(&cursor), m_bounds.top() };
}

qint64 TextLineFragment::characterIndex(QPointF point) const
{
    if (!m_fragment || m_lineNumber < 0)
        return m_characterRange.location;
    const QTextLine line = m_fragment->textLayout().lineAt(m_lineNumber);
    return line.xToCursor(point.x(), QTextLine::CursorBetweenCharacters);
}

void TextLineFragment::draw(QPainter& painter, QPointF at) const
{
    if (!m_fragment || m_lineNumber < 0)
        return;
    // `at` is where the line's typographic origin goes; the QTextLine is positioned inside the
    // fragment already.
    m_fragment->textLayout().lineAt(m_lineNumber).draw(&painter, at - m_bounds.topLeft());
}

TextLayoutFragment::TextLayoutFragment(AttributedString paragraphText, int terminatorLength, TextRange range)
    : m_text(std::move(paragraphText))
    , m_terminatorLength(terminatorLength)
    , m_range(range)
{
}

TextLayoutFragment::~TextLayoutFragment() = default;

void TextLayoutFragment::place(TextLayoutManager* manager, qint64 paragraphIndex, TextRange range, double y)
{
    m_manager = manager;
    m_paragraphIndex = paragraphIndex;
    m_range = range;
    m_frame.moveTop(y);
}

void TextLayoutFragment::layout(const LayoutParameters& parameters)
{
    const qsizetype contentLength = m_text.length() - m_terminatorLength;
    const QString content = m_text.string().left(contentLength);
    m_layout.clearLayout();
    m_layout.setText(content);

    QFont baseFont = parameters.defaultFont;
    double multiple = parameters.defaultLineHeightMultiple;
    if (!m_text.isEmpty()) {
        const TextAttributes first = m_text.attributes(0);
        if (auto it = first.find(AttributeKey::paragraphStyle);
            it != first.end() && it->canConvert<ParagraphStyle>())
            multiple = it->value<ParagraphStyle>().lineHeightMultiple;
        if (contentLength == 0) {
            // An empty line takes the height of its terminator's font.
            if (auto it = first.find(AttributeKey::font); it != first.end() && it->canConvert<QFont>())
                baseFont = it->value<QFont>();
        }
    }
    if (std::abs(multiple) < 1.4901161193847656e-08 || multiple < 0)
        multiple = 0;
    m_layout.setFont(baseFont);

    QList<QTextLayout::FormatRange> formats;
    qsizetype start = 0;
    for (const AttributedString::Run& run : m_text.runs()) {
        const qsizetype end = std::min(start + run.length, contentLength);
        if (end > start && !run.attributes.isEmpty())
            formats.append({ int(start), int(end - start), formatFor(run.attributes) });
        start += run.length;
        if (start >= contentLength)
            break;
    }
    m_layout.setFormats(formats);

    QTextOption option;
    option.setWrapMode(
        parameters.availableWidth > 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setTabStopDistance(28.0);
    option.setTextDirection(content.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    // Unwrapped lines are laid out in a very wide line, so they must not follow a right-to-left
    // paragraph to its far end.
    option.setAlignment(
        parameters.availableWidth > 0 ? Qt::AlignLeading : (Qt::AlignLeft | Qt::AlignAbsolute));
    option.setUseDesignMetrics(true);
    m_layout.setTextOption(option);
    m_layout.setCacheEnabled(true);

    m_lines.clear();
    double y = 0;
    double widest = 0;
    m_layout.beginLayout();
    for (;;) {
        QTextLine line = m_layout.createLine();
        if (!line.isValid())
            break;
        if (parameters.availableWidth > 0)
            line.setLineWidth(parameters.availableWidth);
        else
            line.setLineWidth(unwrappedLineWidth);
        const double natural = line.height();
        const double height = multiple > 0 ? natural * multiple : natural;
        // The extra height of a line-height multiple goes above the glyphs.
        line.setPosition(QPointF(parameters.padding, y + (height - natural)));
        TextLineFragment fragment;
        fragment.m_fragment = this;
        fragment.m_lineNumber = line.lineNumber();
        fragment.m_characterRange = TextRange(line.textStart(), line.textStart() + line.textLength());
        fragment.m_bounds = QRectF(parameters.padding, y, line.naturalTextWidth(), height);
        fragment.m_glyphOrigin = QPointF(0, (height - natural) + line.ascent());
        widest = std::max(widest, line.naturalTextWidth());
        m_lines.push_back(fragment);
        y += height;
    }
    m_layout.endLayout();
    if (m_lines.empty()) {
        const QFontMetricsF metrics(baseFont);
        const double natural = metrics.ascent() + metrics.descent();
        const double height = multiple > 0 ? natural * multiple : natural;
        TextLineFragment fragment;
        fragment.m_fragment = this;
        fragment.m_bounds = QRectF(parameters.padding, 0, 0, height);
        fragment.m_glyphOrigin = QPointF(0, (height - natural) + metrics.ascent());
        m_lines.push_back(fragment);
        y = height;
    }
    m_lines.back().m_characterRange.endLocation += m_terminatorLength;

    const double width
        = parameters.availableWidth > 0 ? parameters.containerWidth : widest + 2 * parameters.padding;
    m_frame = QRectF(0, m_frame.top(), width, y);
    m_surface = QRectF(0, 0, std::max(width, widest + 2 * parameters.padding), y);
    m_state = State::layoutAvailable;
}

const TextLineFragment* TextLayoutFragment::lineFragment(qint64 index) const
{
    for (const TextLineFragment& line : m_lines) {
        if (index < line.m_characterRange.endLocation)
            return &line;
    }
    return m_lines.empty() ? nullptr : &m_lines.back();
}

const TextLineFragment* TextLayoutFragment::lineFragment(QPointF fragmentPoint) const
{
    if (m_lines.empty())
        return nullptr;
    for (const TextLineFragment& line : m_lines) {
        if (fragmentPoint.y() < line.m_bounds.bottom())
            return &line;
    }
    return &m_lines.back();
}

Qt::LayoutDirection TextLayoutFragment::baseWritingDirection() const
{
    return m_text.string().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
}

void TextLayoutFragment::draw(QPainter& painter, QPointF at) const
{
    m_layout.draw(&painter, at);
}

} // namespace platform
