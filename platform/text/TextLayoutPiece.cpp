#include "platform/text/TextLayoutPiece.h"

#include "platform/text/GraphemeClusters.h"

#include <QColor>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <limits>

namespace platform {

namespace {

// Unwrapped lines get a width far beyond any piece's text yet well inside the 26.6 fixed point
// range QTextLayout computes in (about 33 million pixels).
constexpr double unwrappedLineWidth = 4.0e6;

// What a laid-out QTextLayout holds per UTF-16 unit (text, items, glyphs, advances, offsets and
// clusters), measured on Qt 6.4, plus its fixed overhead and a little per line.
constexpr qint64 layoutBytesPerUnit = 40;
constexpr qint64 layoutBytesPerLine = 96;
constexpr qint64 layoutBytesFixed = 2048;

// Whether a run carries a colour of its own that is the default one, and so gets no format.
bool carriesDefaultForeground(const TextAttributes& attributes, const TextLayoutPiece::Parameters& parameters)
{
    const auto it = attributes.find(AttributeKey::foregroundColor);
    return it != attributes.end() && it->canConvert<QColor>() && it->value<QColor>() == parameters.foreground;
}

// The format of a run, without what the layout's defaults already give.
QTextCharFormat formatFor(const TextAttributes& attributes, const TextLayoutPiece::Parameters& parameters)
{
    QTextCharFormat format;
    if (auto it = attributes.find(AttributeKey::font); it != attributes.end() && it->canConvert<QFont>()) {
        const QFont font = it->value<QFont>();
        if (!(font == parameters.font))
            format.setFont(font, QTextCharFormat::FontPropertiesAll);
    }
    if (auto it = attributes.find(AttributeKey::foregroundColor); it != attributes.end()
        && it->canConvert<QColor>() && !carriesDefaultForeground(attributes, parameters))
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

std::shared_ptr<const TextLayoutPiece> TextLayoutPiece::make(
    AttributedString text, const Parameters& parameters, std::shared_ptr<TextLayoutMemory> memory)
{
    std::shared_ptr<TextLayoutPiece> piece(
        new TextLayoutPiece(std::move(text), parameters, std::move(memory)));
    const bool wrapping = parameters.lineWidth > 0;
    std::vector<Line> lines;
    std::shared_ptr<QTextLayout> layout = piece->build(true, &lines);
    piece->m_continuesRow = true;
    if (wrapping && parameters.startX > 0 && !lines.empty()) {
        // A first line that had to break inside a word, or that QTextLayout let run past the rest
        // of the row because not even its first word fitted there, would not have been there in
        // one layout of the whole paragraph: the word goes to a row of its own instead.
        bool fresh = lines[0].naturalWidth > std::max(1.0, parameters.lineWidth - parameters.startX) + 1e-3;
        if (!fresh && lines.size() > 1) {
            QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, piece->m_text.string());
            breaks.setPosition(lines[0].start + lines[0].length);
            fresh = !breaks.isAtBoundary();
        }
        if (fresh) {
            lines.clear();
            layout = piece->build(false, &lines);
            piece->m_continuesRow = false;
        }
    }
    piece->m_lines = std::move(lines);
    // A piece of one line, the usual case, needs no running sum.
    if (piece->m_lines.size() > 1) {
        piece->m_heightBefore.reserve(piece->m_lines.size() + 1);
        double height = 0;
        for (const Line& line : piece->m_lines) {
            piece->m_heightBefore.push_back(height);
            height += line.ascent + line.descent;
        }
        piece->m_heightBefore.push_back(height);
    }
    for (const Line& line : piece->m_lines)
        piece->m_widest = std::max(piece->m_widest, line.advance);
    piece->m_layoutCost = layoutBytesFixed + layoutBytesPerUnit * piece->length()
        + layoutBytesPerLine * qint64(piece->m_lines.size());
    piece->keep(std::move(layout));
    return piece;
}

TextLayoutPiece::TextLayoutPiece(
    AttributedString text, const Parameters& parameters, std::shared_ptr<TextLayoutMemory> memory)
    : m_text(std::move(text))
    , m_parameters(parameters)
    , m_memory(std::move(memory))
{
    m_bakesForeground
        = std::any_of(m_text.runs().begin(), m_text.runs().end(), [&](const AttributedString::Run& run) {
              return carriesDefaultForeground(run.attributes, m_parameters);
          });
}

TextLayoutPiece::~TextLayoutPiece()
{
    release();
}

double TextLayoutPiece::naturalHeightBefore(size_t line) const
{
    if (m_heightBefore.empty())
        return line == 0 ? 0.0 : m_lines.front().ascent + m_lines.front().descent;
    return m_heightBefore[line];
}

TextLayoutPiece::Summary TextLayoutPiece::summary() const
{
    Summary summary;
    summary.length = length();
    summary.metadataCost = metadataCost();
    summary.lineCount = qint32(m_lines.size());
    summary.continuesRow = m_continuesRow;
    summary.first = m_lines.front();
    summary.last = m_lines.back();
    const size_t count = m_lines.size();
    summary.middleHeight = count > 1 ? naturalHeightBefore(count - 1) - naturalHeightBefore(1) : 0.0;
    summary.widest = m_widest;
    return summary;
}

qint64 TextLayoutPiece::metadataCost() const
{
    return qint64(sizeof(TextLayoutPiece)) + 2 * m_text.length()
        + qint64(m_text.runs().size() * (sizeof(AttributedString::Run) + 64))
        + qint64(m_lines.capacity() * sizeof(Line)) + qint64(m_heightBefore.capacity() * sizeof(double));
}

std::shared_ptr<QTextLayout> TextLayoutPiece::build(bool continuing, std::vector<Line>* lines) const
{
    auto layout = std::make_shared<QTextLayout>(m_text.string(), m_parameters.font);
    QList<QTextLayout::FormatRange> formats;
    qsizetype start = 0;
    for (const AttributedString::Run& run : m_text.runs()) {
        if (!run.attributes.isEmpty()) {
            QTextCharFormat format = formatFor(run.attributes, m_parameters);
            if (!format.properties().isEmpty())
                formats.append({ int(start), int(run.length), std::move(format) });
        }
        start += run.length;
    }
    layout->setFormats(formats);

    const bool wrapping = m_parameters.lineWidth > 0;
    QTextOption option;
    option.setWrapMode(wrapping ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    if (m_parameters.tabInterval > 0)
        option.setTabStopDistance(m_parameters.tabInterval);
    option.setTextDirection(m_parameters.direction);
    // Lines are placed by the fragment, which aligns whole rows; only justification needs the
    // line itself, and QTextLayout leaves its last line (a row the next piece may continue) alone.
    option.setAlignment(
        wrapping && m_parameters.justified ? Qt::AlignJustify : (Qt::AlignLeft | Qt::AlignAbsolute));
    option.setUseDesignMetrics(true);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);

    const double startX = continuing ? m_parameters.startX : 0.0;
    bool first = true;
    layout->beginLayout();
    for (;;) {
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        if (!wrapping)
            line.setLineWidth(unwrappedLineWidth);
        else if (first)
            line.setLineWidth(std::max(1.0, m_parameters.lineWidth - startX));
        else
            line.setLineWidth(m_parameters.lineWidth);
        line.setPosition(QPointF(0, 0));
        first = false;
    }
    layout->endLayout();
    if (lines) {
        const int count = layout->lineCount();
        for (int i = 0; i < count; ++i) {
            const QTextLine line = layout->lineAt(i);
            Line metrics { qint32(line.textStart()), qint32(line.textLength()), line.horizontalAdvance(),
                line.naturalTextWidth(), 0, line.ascent(), line.descent() };
            // QTextLayout justifies every line but its last and those a line separator ends.
            const qsizetype end = line.textStart() + line.textLength();
            const bool justified = wrapping && m_parameters.justified && i + 1 < count
                && !(end > 0 && m_text.string().at(end - 1) == QChar::LineSeparator);
            metrics.fullRow = wrapping && line.cursorToX(int(end)) > metrics.advance + 1.0 / 64;
            if (justified) {
                metrics.advance = line.width();
                metrics.naturalWidth = line.width();
            } else {
                metrics.textOffset = line.naturalTextRect().left() - line.x();
            }
            lines->push_back(metrics);
        }
    }
    return layout;
}

std::shared_ptr<const QTextLayout> TextLayoutPiece::layout() const
{
    if (m_layout) {
        if (m_memory)
            m_memory->touch(m_position);
        return m_layout;
    }
    std::shared_ptr<QTextLayout> layout = build(m_continuesRow, nullptr);
    keep(layout);
    return layout;
}

const std::vector<double>& TextLayoutPiece::caretPositions(qint32 index) const
{
    const auto layout = this->layout();
    if (m_caretPositions.size() < m_lines.size())
        m_caretPositions.resize(m_lines.size());
    std::vector<double>& positions = m_caretPositions[size_t(index)];
    if (!positions.empty())
        return positions;
    const Line& metrics = m_lines[size_t(index)];
    const QTextLine line = layout->lineAt(index);
    const qint32 end = metrics.start + metrics.length;
    GraphemeFinder clusters(m_text.string());
    positions.assign(size_t(metrics.length) + 1, std::numeric_limits<double>::quiet_NaN());
    for (qint32 position = metrics.start; position <= end; ++position) {
        if (position != end && !isCaretPosition(*layout, clusters, position))
            continue;
        int cursor = position;
        positions[size_t(position - metrics.start)] = line.cursorToX(&cursor);
    }
    return positions;
}

bool TextLayoutPiece::isCaretPosition(const QTextLayout& layout, GraphemeFinder& clusters, qint32 position)
{
    if (!layout.isValidCursorPosition(position))
        return false;
    clusters.setPosition(position);
    return clusters.isAtBoundary();
}

void TextLayoutPiece::keep(std::shared_ptr<QTextLayout> layout) const
{
    m_layout = std::move(layout);
    if (m_memory)
        m_position = m_memory->add(this, m_layoutCost);
}

void TextLayoutPiece::release() const
{
    if (!m_layout)
        return;
    if (m_memory)
        m_memory->remove(m_position, m_layoutCost);
    m_layout.reset();
    m_caretPositions.clear();
}

} // namespace platform
