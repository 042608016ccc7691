#include "platform/text/TextLayoutFragment.h"

#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextLayoutPiece.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

namespace {

constexpr double unsetMultipleTolerance = 1.4901161193847656e-08;
// Lines up to this length find the caret nearest to a point by looking at every caret, which is
// exact in mixed-direction text; longer ones use QTextLayout's own hit test.
constexpr qint32 exactCaretScanLimit = 256;
// More pending edits than this and laying out afresh is as cheap as sorting them out.
constexpr size_t pendingEditLimit = 64;

bool isCutAfter(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool canStartPiece(QChar c)
{
    return !c.isMark() && !c.isLowSurrogate() && c != QChar(0x200D) && c.category() != QChar::Other_Format;
}

// Where to cut a long run of text into pieces: after a space or tab near the target length where
// there is one, else at a grapheme boundary near it.
std::vector<qsizetype> cutPoints(const QString& text, qsizetype limit, qsizetype target)
{
    std::vector<qsizetype> cuts;
    const qsizetype length = text.size();
    qsizetype start = 0;
    while (length - start > limit) {
        const qsizetype goal = start + target;
        qsizetype cut = -1;
        for (qsizetype i = goal; i > start + target / 2 && cut < 0; --i) {
            if (isCutAfter(text[i - 1]) && canStartPiece(text[i]))
                cut = i;
        }
        for (qsizetype i = goal + 1; i < start + limit && cut < 0; ++i) {
            if (isCutAfter(text[i - 1]) && canStartPiece(text[i]))
                cut = i;
        }
        if (cut < 0) {
            const qsizetype windowStart = std::max(start, goal - 64);
            const qsizetype windowEnd = std::min(length, goal + 64);
            const QString window = text.mid(windowStart, windowEnd - windowStart);
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
            finder.setPosition(int(goal - windowStart));
            qsizetype boundary = finder.isAtBoundary() ? goal - windowStart : finder.toPreviousBoundary();
            if (boundary <= 0) {
                finder.setPosition(int(goal - windowStart));
                boundary = finder.toNextBoundary();
            }
            cut = boundary > 0 && windowStart + boundary < windowEnd ? windowStart + boundary : goal;
            if (text[cut - 1].isHighSurrogate() && text[cut].isLowSurrogate())
                ++cut;
        }
        cuts.push_back(cut);
        start = cut;
    }
    return cuts;
}

struct Span {
    qint64 start = 0;
    qint64 length = 0;
    size_t inherited = notInherited; // the piece laid out before, if it can be kept
    static constexpr size_t notInherited = size_t(-1);
    bool isDirty() const { return inherited == notInherited; }
};

size_t spanContaining(const std::vector<Span>& spans, qint64 at)
{
    auto it = std::upper_bound(
        spans.begin(), spans.end(), at, [](qint64 value, const Span& span) { return value < span.start; });
    return it == spans.begin() ? 0 : size_t(it - spans.begin() - 1);
}

// Marks the pieces an edit touches for a new layout, with the character before the edit (a mark
// typed at a piece's start joins the cluster before it) and the character at its end.
void applyEdit(std::vector<Span>& spans, qint64& total, qint64 start, qint64 removed, qint64 inserted)
{
    start = std::clamp<qint64>(start, 0, total);
    removed = std::clamp<qint64>(removed, 0, total - start);
    const qint64 delta = inserted - removed;
    if (spans.empty()) {
        total += delta;
        if (total > 0)
            spans.push_back({ 0, total });
        return;
    }
    const size_t first = spanContaining(spans, std::max<qint64>(start - 1, 0));
    const size_t last = spanContaining(spans, start + removed);
    const qint64 from = spans[first].start;
    const qint64 to = spans[last].start + spans[last].length + delta;
    spans.erase(spans.begin() + qsizetype(first), spans.begin() + qsizetype(last) + 1);
    for (size_t i = first; i < spans.size(); ++i)
        spans[i].start += delta;
    if (to > from)
        spans.insert(spans.begin() + qsizetype(first), Span { from, to - from });
    total += delta;
}

} // namespace

AttributedString TextLineFragment::attributedString() const
{
    AttributedString result;
    if (m_piece) {
        const auto& line = m_piece->lines()[size_t(m_lineInPiece)];
        result = m_piece->text().mid(line.start, line.length);
    }
    if (m_terminator)
        result.append(*m_terminator);
    return result;
}

qint64 TextLineFragment::contentEnd() const
{
    return m_characterRange.endLocation - (m_terminator ? m_terminator->length() : 0);
}

double TextLineFragment::lineOriginX() const
{
    return m_bounds.left() - m_piece->lines()[size_t(m_lineInPiece)].textOffset;
}

QPointF TextLineFragment::locationForCharacter(qint64 index) const
{
    if (!m_piece)
        return m_bounds.topLeft();
    const auto& metrics = m_piece->lines()[size_t(m_lineInPiece)];
    const auto layout = m_piece->layout();
    const QTextLine line = layout->lineAt(m_lineInPiece);
    int cursor = int(std::clamp<qint64>(index - m_pieceStart, metrics.start, metrics.start + metrics.length));
    return { lineOriginX() + line.cursorToX(&cursor), m_bounds.top() };
}

qint64 TextLineFragment::characterIndex(QPointF point) const
{
    if (!m_piece)
        return m_characterRange.location;
    const auto& metrics = m_piece->lines()[size_t(m_lineInPiece)];
    const auto layout = m_piece->layout();
    const QTextLine line = layout->lineAt(m_lineInPiece);
    const double x = point.x() - lineOriginX();
    const qint32 end = metrics.start + metrics.length;
    qint64 best = metrics.start;
    if (metrics.length <= exactCaretScanLimit) {
        // Caret x is not monotonic in logical order in mixed-direction text: look at every caret.
        double bestDistance = std::numeric_limits<double>::infinity();
        for (qint32 position = metrics.start; position <= end; ++position) {
            if (position != end && !layout->isValidCursorPosition(position))
                continue;
            int cursor = position;
            const double distance = std::abs(line.cursorToX(&cursor) - x);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = position;
            }
        }
    } else {
        best = std::clamp<qint64>(line.xToCursor(x, QTextLine::CursorBetweenCharacters), metrics.start, end);
    }
    return m_pieceStart + best;
}

std::optional<qint64> TextLineFragment::visualStep(qint64 index, bool right) const
{
    if (!m_piece)
        return std::nullopt;
    const auto& metrics = m_piece->lines()[size_t(m_lineInPiece)];
    const auto layout = m_piece->layout();
    const int local = int(index - m_pieceStart);
    const int moved = right ? layout->rightCursorPosition(local) : layout->leftCursorPosition(local);
    // QTextLayout moves on into the piece's next or previous line; that is the next row's business.
    if (moved == local || moved < metrics.start || moved > metrics.start + metrics.length)
        return std::nullopt;
    return m_pieceStart + moved;
}

qint64 TextLineFragment::edgeIndex(bool right) const
{
    const double x = right ? m_bounds.right() + 1 : m_bounds.left() - 1;
    return std::clamp<qint64>(
        characterIndex(QPointF(x, m_bounds.center().y())), m_characterRange.location, contentEnd());
}

bool TextLineFragment::isValidCaretIndex(qint64 index) const
{
    if (!m_piece)
        return index == m_characterRange.location;
    const qint64 local = index - m_pieceStart;
    if (local <= 0 || local >= m_piece->length())
        return local >= 0 && local <= m_piece->length();
    return m_piece->layout()->isValidCursorPosition(int(local));
}

void TextLineFragment::draw(QPainter& painter, QPointF at) const
{
    if (!m_piece)
        return;
    const auto layout = m_piece->layout();
    const QTextLine line = layout->lineAt(m_lineInPiece);
    // Moving the painter rather than passing the position keeps the coordinates QTextLayout sees
    // small, whatever the line's x in a very long row.
    painter.save();
    // Text without a colour of its own was laid out without one, and takes the pen's.
    if (m_piece->parameters().foreground.isValid())
        painter.setPen(m_piece->parameters().foreground);
    painter.translate(at.x() + lineOriginX() - m_bounds.left(), at.y() + m_glyphOrigin.y() - line.ascent());
    line.draw(&painter, QPointF(0, 0));
    painter.restore();
}

TextLayoutFragment::TextLayoutFragment() = default;

TextLayoutFragment::~TextLayoutFragment() = default;

TextLayoutManager* TextLayoutFragment::textLayoutManager() const
{
    return m_manager.data();
}

void TextLayoutFragment::place(TextLayoutManager* manager, qint64 paragraphIndex, TextRange range, double y)
{
    m_manager = manager;
    m_paragraphIndex = paragraphIndex;
    m_range = range;
    m_frame.moveTop(y);
}

AttributedString TextLayoutFragment::attributedString() const
{
    AttributedString result;
    for (const Placement& placement : m_pieces)
        result.append(placement.piece->text());
    result.append(m_terminator);
    return result;
}

void TextLayoutFragment::inherit(const TextLayoutFragment& previous, const Edit& edit)
{
    Inheritance inheritance;
    if (previous.m_state == State::layoutAvailable) {
        inheritance.pieces = previous.m_pieces;
        inheritance.parameters = previous.m_pieceParameters;
        inheritance.contentLength = previous.m_contentLength;
    } else if (previous.m_inheritance && previous.m_inheritance->edits.size() < pendingEditLimit) {
        inheritance = *previous.m_inheritance;
    } else {
        return;
    }
    inheritance.edits.push_back(edit);
    m_cost = qint64(sizeof(TextLayoutFragment));
    for (const Placement& placement : inheritance.pieces)
        m_cost += qint64(sizeof(Placement)) + placement.summary.metadataCost;
    m_inheritance = std::make_unique<Inheritance>(std::move(inheritance));
}

void TextLayoutFragment::layout(const LayoutInput& input)
{
    m_contentLength = input.contentLength;
    m_terminator = input.terminator;
    m_style = input.style;
    m_direction = input.direction;
    m_pieces = m_contentLength > 0 ? placePieces(input) : std::vector<Placement>();
    m_inheritance.reset();
    arrange(input);
    m_state = State::layoutAvailable;
    m_cost = qint64(sizeof(TextLayoutFragment)) + qint64(m_pieces.capacity() * sizeof(Placement));
    for (const Placement& placement : m_pieces)
        m_cost += placement.summary.metadataCost;
}

std::vector<TextLayoutFragment::Placement> TextLayoutFragment::placePieces(const LayoutInput& input)
{
    const bool wrapping = input.availableWidth > 0;
    TextLayoutPiece::Parameters parameters;
    parameters.font = input.font;
    parameters.foreground = input.foreground;
    parameters.lineWidth = wrapping ? input.availableWidth : 0;
    parameters.tabInterval = input.style.defaultTabInterval > 0 ? input.style.defaultTabInterval : 28.0;
    parameters.justified = wrapping && input.style.alignment == TextAlignment::justified;
    parameters.direction = input.direction;
    m_pieceParameters = parameters;

    std::vector<Span> spans;
    const std::vector<Placement>* inherited = nullptr;
    if (m_inheritance && m_inheritance->parameters == parameters) {
        inherited = &m_inheritance->pieces;
        qint64 total = m_inheritance->contentLength;
        spans.reserve(inherited->size() + 1);
        for (size_t i = 0; i < inherited->size(); ++i)
            spans.push_back({ (*inherited)[i].start, (*inherited)[i].summary.length, i });
        for (const Edit& edit : m_inheritance->edits)
            applyEdit(spans, total, edit.start, edit.removed, edit.inserted);
        if (total != input.contentLength)
            spans.clear();
    }
    if (spans.empty())
        spans.push_back({ 0, input.contentLength });

    // Neighbouring spans to lay out become one; a short one takes in a neighbour, so that editing
    // never leaves a long paragraph in ever smaller pieces.
    std::vector<Span> merged;
    merged.reserve(spans.size());
    for (const Span& span : spans) {
        if (span.isDirty() && !merged.empty() && merged.back().isDirty())
            merged.back().length += span.length;
        else
            merged.push_back(span);
    }
    for (size_t i = 0; i < merged.size(); ++i) {
        if (!merged[i].isDirty() || merged[i].length >= input.pieceTarget / 4 || merged.size() == 1)
            continue;
        const size_t neighbour = i + 1 < merged.size() ? i + 1 : i - 1;
        const size_t first = std::min(i, neighbour);
        merged[first] = { merged[first].start, merged[i].length + merged[neighbour].length };
        merged.erase(merged.begin() + qsizetype(first) + 1);
        i = first;
    }

    // Where the row the previous piece ended in has got to: a wrapped piece's first line goes on
    // from there, so its layout depends on it.
    std::vector<Placement> placements;
    placements.reserve(merged.size());
    double rowEnd = 0;
    auto push = [&](Placement placement) {
        const TextLayoutPiece::Summary& summary = placement.summary;
        rowEnd = (summary.lineCount == 1 && placement.continuesRow ? rowEnd : 0.0) + summary.last.advance;
        placements.push_back(std::move(placement));
    };
    auto add = [&](qint64 start, AttributedString text) {
        parameters.startX = wrapping && !placements.empty() ? std::min(rowEnd, input.availableWidth) : 0.0;
        auto piece = TextLayoutPiece::make(std::move(text), parameters, input.memory);
        Placement placement;
        placement.start = start;
        placement.summary = piece->summary();
        placement.continuesRow = !placements.empty() && (!wrapping || piece->continuesRow());
        placement.piece = std::move(piece);
        push(std::move(placement));
    };
    for (const Span& span : merged) {
        if (!span.isDirty()) {
            Placement placement = (*inherited)[span.inherited];
            placement.start = span.start;
            // An edit before a wrapped piece moves where the row it goes on in ends. Laying the piece
            // out again for that would move its own end in turn, and so on to the paragraph's end;
            // its first line stays as it was instead, in the row while it still fits there, else on
            // a row of its own, so an edit never costs more than the pieces it touched.
            placement.continuesRow = !placements.empty();
            if (wrapping && placement.continuesRow) {
                placement.continuesRow = placement.summary.continuesRow
                    && rowEnd + placement.summary.first.advance <= input.availableWidth + 0.5;
            }
            push(std::move(placement));
            continue;
        }
        const AttributedString text = input.text(span.start, span.length);
        if (text.length() <= input.pieceLimit) {
            add(span.start, text);
            continue;
        }
        qsizetype from = 0;
        for (const qsizetype cut : cutPoints(text.string(), input.pieceLimit, input.pieceTarget)) {
            add(span.start + from, text.mid(from, cut - from));
            from = cut;
        }
        add(span.start + from, text.mid(from, text.length() - from));
    }
    placements.shrink_to_fit();
    return placements;
}

void TextLayoutFragment::arrange(const LayoutInput& input)
{
    m_allLines.reset();
    m_wrapping = input.availableWidth > 0;
    m_padding = input.padding;
    const double multiple = input.style.lineHeightMultiple;
    m_multiple = multiple >= unsetMultipleTolerance ? multiple : 1.0;
    m_spacing = input.style.lineSpacing > 0 ? input.style.lineSpacing : 0.0;

    if (m_pieces.empty()) {
        // An empty paragraph: one line as tall as its terminator's font, or the default font.
        QFont font = input.font;
        if (!input.terminator.isEmpty()) {
            const QVariant value = input.terminator.attribute(AttributeKey::font, 0);
            if (value.canConvert<QFont>())
                font = value.value<QFont>();
        }
        const QFontMetricsF metrics(font);
        m_emptyRow = { metrics.ascent(), metrics.descent(), 0, 0 };
        m_lineCount = 1;
        m_rowCount = 1;
        m_available = m_wrapping ? input.availableWidth : 0;
        const double height = rowHeight(m_emptyRow);
        const double width = m_wrapping ? input.containerWidth : 2 * input.padding;
        m_frame = QRectF(0, m_frame.top(), width, height);
        m_surface = QRectF(0, 0, width, height);
        return;
    }

    // One pass over the pieces: where each piece's first line and row are, the rows that lines of
    // several pieces share, and the top of each piece's first row.
    qsizetype line = 0;
    qsizetype lastRow = -1; // the row the previous piece ended in
    double rowEnd = 0; // how far that row reaches
    double lastRowTop = 0;
    RowMetrics open; // that row's metrics so far
    double widest = 0;
    auto lineMetrics = [](const TextLayoutPiece::Line& metrics, double x) {
        return RowMetrics { metrics.ascent, metrics.descent, x + metrics.advance, x + metrics.naturalWidth };
    };
    for (size_t k = 0; k < m_pieces.size(); ++k) {
        Placement& placement = m_pieces[k];
        const TextLayoutPiece::Summary& piece = placement.summary;
        const size_t count = size_t(piece.lineCount);
        placement.firstLine = line;
        line += qsizetype(count);
        if (k > 0 && placement.continuesRow) {
            placement.firstRow = lastRow;
            placement.x = rowEnd;
            placement.y = lastRowTop;
            const RowMetrics first = lineMetrics(piece.first, rowEnd);
            open = { std::max(open.ascent, first.ascent), std::max(open.descent, first.descent), first.width,
                first.inkWidth };
        } else {
            placement.firstRow = lastRow + 1;
            placement.x = 0;
            placement.y = k == 0 ? 0.0 : lastRowTop + rowHeight(open);
            open = lineMetrics(piece.first, 0);
        }
        const bool nextContinues = k + 1 < m_pieces.size() && m_pieces[k + 1].continuesRow;
        if (count > 1 || !nextContinues) {
            // The row of this piece's first line is complete.
            placement.sharedRow = open;
            widest = std::max(widest, open.width);
        }
        if (count > 1) {
            lastRowTop = placement.y + rowHeight(open) + m_multiple * piece.middleHeight
                + double(count - 2) * m_spacing;
            open = lineMetrics(piece.last, 0);
            rowEnd = open.width;
        } else {
            lastRowTop = placement.y;
            rowEnd = open.width;
        }
        lastRow = placement.firstRow + qsizetype(count) - 1;
        widest = std::max(widest, piece.widest);
    }
    m_lineCount = line;
    m_rowCount = lastRow + 1;
    const double height = lastRowTop + rowHeight(open);
    // Unwrapped rows of a right-to-left paragraph share their right edge.
    m_available = m_wrapping ? input.availableWidth : widest;
    const double width = m_wrapping ? input.containerWidth : widest + 2 * input.padding;
    m_frame = QRectF(0, m_frame.top(), width, height);
    m_surface = QRectF(0, 0, std::max(width, widest + 2 * input.padding), height);
}

double TextLayoutFragment::rowHeight(const RowMetrics& metrics) const
{
    return (metrics.ascent + metrics.descent) * m_multiple + m_spacing;
}

size_t TextLayoutFragment::pieceOfRow(qsizetype row) const
{
    auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), row,
        [](qsizetype value, const Placement& placement) { return value < placement.firstRow; });
    return it == m_pieces.begin() ? 0 : size_t(it - m_pieces.begin()) - 1;
}

size_t TextLayoutFragment::pieceOfLine(qsizetype line) const
{
    auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), line,
        [](qsizetype value, const Placement& placement) { return value < placement.firstLine; });
    return it == m_pieces.begin() ? 0 : size_t(it - m_pieces.begin()) - 1;
}

TextLayoutFragment::RowMetrics TextLayoutFragment::rowMetrics(qsizetype row) const
{
    if (m_pieces.empty())
        return m_emptyRow;
    const Placement& placement = m_pieces[pieceOfRow(row)];
    const size_t index = size_t(row - placement.firstRow);
    // A piece's first row is kept with it whole (it may hold lines of pieces before it); the rows
    // after it are its own lines.
    if (index == 0)
        return placement.sharedRow;
    const auto& metrics = placement.piece->lines()[index];
    return { metrics.ascent, metrics.descent, metrics.advance, metrics.naturalWidth };
}

double TextLayoutFragment::rowTop(qsizetype row) const
{
    if (m_pieces.empty())
        return 0;
    const Placement& placement = m_pieces[pieceOfRow(row)];
    const size_t index = size_t(row - placement.firstRow);
    if (index == 0)
        return placement.y;
    const TextLayoutPiece& piece = *placement.piece;
    return placement.y + rowHeight(placement.sharedRow)
        + m_multiple * (piece.naturalHeightBefore(index) - piece.naturalHeightBefore(1))
        + double(index - 1) * m_spacing;
}

double TextLayoutFragment::rowShift(const RowMetrics& metrics) const
{
    if (!m_wrapping)
        return 0;
    const bool leftToRight = m_direction != Qt::RightToLeft;
    const double free = std::max(0.0, m_available - metrics.inkWidth);
    switch (m_style.alignment) {
    case TextAlignment::natural:
    case TextAlignment::justified:
        return 0;
    case TextAlignment::left:
        return leftToRight ? 0 : free;
    case TextAlignment::right:
        return leftToRight ? free : 0;
    case TextAlignment::center:
        return free / 2;
    }
    return 0;
}

std::pair<qsizetype, qsizetype> TextLayoutFragment::rowLines(qsizetype row) const
{
    if (m_pieces.empty())
        return { 0, 1 };
    // The row's first line is in the first piece that reaches the row, its last in the last piece
    // that starts at or before it.
    auto first = std::partition_point(m_pieces.begin(), m_pieces.end(), [&](const Placement& placement) {
        return placement.firstRow + placement.summary.lineCount - 1 < row;
    });
    const Placement& last = m_pieces[pieceOfRow(row)];
    const qsizetype firstLine = first->firstLine + (row - first->firstRow);
    const qsizetype lastLine = last.firstLine + (row - last.firstRow);
    return { firstLine, lastLine - firstLine + 1 };
}

double TextLayoutFragment::lineX(const Placement& placement, qint32 line, const RowMetrics& row) const
{
    const double offset = line == 0 ? placement.x : 0.0;
    const double advance = placement.piece->lines()[size_t(line)].advance;
    const double shift = rowShift(row);
    if (m_direction != Qt::RightToLeft)
        return m_padding + shift + offset;
    return m_padding + m_available - shift - offset - advance;
}

TextLineFragment TextLayoutFragment::lineFragment(qsizetype index) const
{
    TextLineFragment line;
    if (m_pieces.empty()) {
        const double height = rowHeight(m_emptyRow);
        line.m_characterRange = TextRange(0, m_terminator.length());
        line.m_terminator = &m_terminator;
        const bool rightToLeft = m_wrapping && m_direction == Qt::RightToLeft;
        line.m_bounds = QRectF(rightToLeft ? m_padding + m_available : m_padding, 0, 0, height - m_spacing);
        line.m_glyphOrigin
            = QPointF(0, (m_multiple - 1) * (m_emptyRow.ascent + m_emptyRow.descent) + m_emptyRow.ascent);
        return line;
    }
    const Placement& placement = m_pieces[pieceOfLine(index)];
    const qint32 inPiece = qint32(index - placement.firstLine);
    const auto& metrics = placement.piece->lines()[size_t(inPiece)];
    const qsizetype row = placement.firstRow + inPiece;
    const RowMetrics rowMetrics = this->rowMetrics(row);
    const double natural = rowMetrics.ascent + rowMetrics.descent;
    const double height = natural * m_multiple;
    line.m_piece = placement.piece.get();
    line.m_lineInPiece = inPiece;
    line.m_pieceStart = placement.start;
    line.m_row = row;
    const qint64 start = placement.start + metrics.start;
    line.m_characterRange = TextRange(start, start + metrics.length);
    if (index + 1 == m_lineCount && !m_terminator.isEmpty()) {
        line.m_terminator = &m_terminator;
        line.m_characterRange.endLocation += m_terminator.length();
    }
    line.m_bounds = QRectF(lineX(placement, inPiece, rowMetrics), rowTop(row), metrics.advance, height);
    line.m_glyphOrigin = QPointF(0, height - natural + rowMetrics.ascent);
    return line;
}

TextLayoutFragment::VisualLine TextLayoutFragment::visualLine(qsizetype row) const
{
    const RowMetrics metrics = rowMetrics(row);
    const auto [first, count] = rowLines(row);
    VisualLine visual;
    visual.y = rowTop(row);
    visual.height = rowHeight(metrics);
    const double natural = metrics.ascent + metrics.descent;
    visual.glyphTop = natural * m_multiple - natural;
    visual.ascent = metrics.ascent;
    visual.descent = metrics.descent;
    visual.firstLineFragment = first;
    visual.lineFragmentCount = count;
    visual.characterRange = TextRange(lineFragment(first).m_characterRange.location,
        lineFragment(first + count - 1).m_characterRange.endLocation);
    return visual;
}

const std::vector<TextLineFragment>& TextLayoutFragment::textLineFragments() const
{
    if (!m_allLines) {
        std::vector<TextLineFragment> lines;
        lines.reserve(size_t(m_lineCount));
        for (qsizetype i = 0; i < m_lineCount; ++i)
            lines.push_back(lineFragment(i));
        m_allLines = std::make_unique<std::vector<TextLineFragment>>(std::move(lines));
    }
    return *m_allLines;
}

std::optional<qsizetype> TextLayoutFragment::lineFragmentIndex(
    qint64 index, TextSelection::Affinity affinity) const
{
    if (m_state != State::layoutAvailable)
        return std::nullopt;
    if (m_pieces.empty())
        return 0;
    auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), index,
        [](qint64 value, const Placement& placement) { return value < placement.start; });
    const Placement& placement = it == m_pieces.begin() ? m_pieces.front() : *(it - 1);
    const auto& lines = placement.piece->lines();
    auto line = std::upper_bound(lines.begin(), lines.end(), index - placement.start,
        [](qint64 value, const TextLayoutPiece::Line& each) { return value < each.start; });
    const qint32 inPiece = line == lines.begin() ? 0 : qint32(line - lines.begin()) - 1;
    qsizetype found = placement.firstLine + inPiece;
    if (affinity == TextSelection::Affinity::upstream && found > 0
        && index == placement.start + lines[size_t(inPiece)].start) {
        // Upstream, a row's start is the end of the row before, unless the two are one row.
        const bool sameRow = inPiece == 0 && placement.continuesRow;
        if (!sameRow)
            --found;
    }
    return found;
}

qsizetype TextLayoutFragment::visualLineIndex(double y) const
{
    if (m_pieces.empty() || m_rowCount == 0)
        return 0;
    // The piece whose first row starts at or above y, then the row inside it.
    auto it = std::partition_point(
        m_pieces.begin(), m_pieces.end(), [&](const Placement& placement) { return placement.y <= y; });
    const Placement& placement = it == m_pieces.begin() ? m_pieces.front() : *(it - 1);
    const qsizetype count = placement.summary.lineCount;
    qsizetype low = placement.firstRow;
    qsizetype high = std::min(m_rowCount - 1, placement.firstRow + count - 1);
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (rowTop(middle) <= y)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

std::optional<qsizetype> TextLayoutFragment::lineFragmentIndex(QPointF point) const
{
    if (m_state != State::layoutAvailable)
        return std::nullopt;
    const qsizetype row = visualLineIndex(point.y());
    const auto [first, count] = rowLines(row);
    // The lines of a row run left to right in a left-to-right paragraph and right to left in a
    // right-to-left one.
    const bool leftToRight = m_direction != Qt::RightToLeft;
    qsizetype low = first;
    qsizetype high = first + count - 1;
    while (low < high) {
        const qsizetype middle = (low + high) / 2;
        const QRectF bounds = lineFragment(middle).m_bounds;
        const bool before = leftToRight ? bounds.right() <= point.x() : bounds.left() > point.x();
        if (before)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

std::optional<qint64> TextLayoutFragment::characterIndex(QPointF point) const
{
    const auto index = lineFragmentIndex(point);
    if (!index)
        return std::nullopt;
    const TextLineFragment line = lineFragment(*index);
    return std::clamp<qint64>(line.characterIndex(point), line.m_characterRange.location, line.contentEnd());
}

std::pair<qint64, qint64> TextLayoutFragment::visualLineEdges(qsizetype row) const
{
    const auto [first, count] = rowLines(row);
    const bool leftToRight = m_direction != Qt::RightToLeft;
    const TextLineFragment leftmost = lineFragment(leftToRight ? first : first + count - 1);
    const TextLineFragment rightmost = lineFragment(leftToRight ? first + count - 1 : first);
    return { leftmost.edgeIndex(false), rightmost.edgeIndex(true) };
}

void TextLayoutFragment::draw(QPainter& painter, QPointF at) const
{
    if (m_state != State::layoutAvailable)
        return;
    QRectF clip(-1e300, -1e300, 2e300, 2e300);
    if (painter.hasClipping())
        clip = painter.clipBoundingRect().translated(-at);
    for (qsizetype row = visualLineIndex(clip.top()); row < m_rowCount; ++row) {
        const VisualLine visual = visualLine(row);
        if (visual.y > clip.bottom())
            break;
        // Glyphs may reach a little beyond their advance (italics, overhanging accents).
        const double reach = visual.height;
        for (qsizetype i = visual.firstLineFragment; i < visual.firstLineFragment + visual.lineFragmentCount;
             ++i) {
            const TextLineFragment line = lineFragment(i);
            if (line.m_bounds.right() + reach < clip.left() || line.m_bounds.left() - reach > clip.right())
                continue;
            line.draw(painter, at + line.m_bounds.topLeft());
        }
    }
}

} // namespace platform
