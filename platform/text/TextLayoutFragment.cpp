#include "platform/text/TextLayoutFragment.h"

#include "platform/text/GraphemeClusters.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextLayoutPiece.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
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

// Where a row that spaces hanging past its end fill up ends, for the next piece: beyond any width.
constexpr double fullRowEnd = 1.0e12;

bool isCutAfter(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Not white space either: spaces that end a row hang past its end, which a piece's first line
// would not do, so a piece is cut after the last of them.
bool canStartPiece(QChar c)
{
    return !isCutAfter(c) && !c.isMark() && !c.isLowSurrogate() && c != QChar(0x200D)
        && c.category() != QChar::Other_Format;
}

// Whether the text each side of a cut reads in the paragraph's direction. A piece is laid out
// alone: a run of the other direction cut in two would show its halves in the wrong order, and the
// caret could not go from one half to the other.
bool isCleanCut(const QString& text, qsizetype cut, bool rightToLeft)
{
    constexpr qsizetype reach = 64;
    auto strongIsBase = [&](qsizetype from, qsizetype step) {
        for (qsizetype i = from, n = 0; i >= 0 && i < text.size() && n < reach; i += step, ++n) {
            switch (text[i].direction()) {
            case QChar::DirL:
                return !rightToLeft;
            case QChar::DirR:
            case QChar::DirAL:
                return rightToLeft;
            default:
                break;
            }
        }
        return true;
    };
    return strongIsBase(cut - 1, -1) && strongIsBase(cut, 1);
}

// Where to cut a long run of text into pieces: after a space or tab near the target length where
// there is one (where the text on both sides reads in the paragraph's direction, if it does
// somewhere), else at a grapheme boundary near it.
std::vector<qsizetype> cutPoints(const QString& text, qsizetype limit, qsizetype target, bool rightToLeft)
{
    std::vector<qsizetype> cuts;
    const qsizetype length = text.size();
    GraphemeFinder clusters(text);
    qsizetype start = 0;
    while (length - start > limit) {
        const qsizetype goal = start + target;
        qsizetype cut = -1;
        for (const bool clean : { true, false }) {
            auto good = [&](qsizetype i) {
                return isCutAfter(text[i - 1]) && canStartPiece(text[i])
                    && (!clean || isCleanCut(text, i, rightToLeft));
            };
            for (qsizetype i = goal; i > start + target / 2 && cut < 0; --i) {
                if (good(i))
                    cut = i;
            }
            for (qsizetype i = goal + 1; i < start + limit && cut < 0; ++i) {
                if (good(i))
                    cut = i;
            }
        }
        if (cut < 0) {
            // The nearest cluster boundary before the goal, else after it; within 64 units of it,
            // and never at the previous cut or beyond the text.
            clusters.setPosition(goal);
            qsizetype boundary = clusters.isAtBoundary() ? goal : clusters.toPreviousBoundary();
            if (boundary <= std::max(start, goal - 64)) {
                clusters.setPosition(goal);
                boundary = clusters.toNextBoundary();
            }
            cut = boundary > start && boundary < std::min(length, goal + 64) ? boundary : goal;
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
    bool estimated = false; // text that stays estimated rather than laid out
    double extent = -1; // an estimate's extent, when it is known
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
// typed at a piece's start joins the cluster before it) and the character at its end. What the
// edit touched of estimated text, or more than `estimateBeyond` units, stays estimated.
void applyEdit(std::vector<Span>& spans, qint64& total, qint64 start, qint64 removed, qint64 inserted,
    qint64 estimateBeyond)
{
    start = std::clamp<qint64>(start, 0, total);
    removed = std::clamp<qint64>(removed, 0, total - start);
    const qint64 delta = inserted - removed;
    if (spans.empty()) {
        total += delta;
        if (total > 0)
            spans.push_back({ 0, total, Span::notInherited, total > estimateBeyond });
        return;
    }
    const size_t first = spanContaining(spans, std::max<qint64>(start - 1, 0));
    const size_t last = spanContaining(spans, start + removed);
    const qint64 from = spans[first].start;
    const qint64 to = spans[last].start + spans[last].length + delta;
    // An edit inside estimated text keeps the estimate's extent, in proportion, so that text
    // around it stays where it was.
    bool estimated = to - from > estimateBeyond;
    bool allEstimated = true;
    double extent = 0;
    for (size_t i = first; i <= last; ++i) {
        estimated = estimated || spans[i].estimated;
        allEstimated = allEstimated && spans[i].estimated && spans[i].extent >= 0;
        extent += spans[i].extent;
    }
    const qint64 before = spans[last].start + spans[last].length - from;
    extent = allEstimated && before > 0 ? extent * double(to - from) / double(before) : -1.0;
    spans.erase(spans.begin() + qsizetype(first), spans.begin() + qsizetype(last) + 1);
    for (size_t i = first; i < spans.size(); ++i)
        spans[i].start += delta;
    if (to > from)
        spans.insert(spans.begin() + qsizetype(first),
            Span { from, to - from, Span::notInherited, estimated, extent });
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

bool TextLineFragment::isSpaceBefore(qint64 index) const
{
    if (m_estimated || !m_piece || index <= m_characterRange.location || index > m_characterRange.endLocation)
        return false;
    const QString& text = m_piece->text().string();
    const qint64 at = index - 1 - m_pieceStart;
    return at >= 0 && at < text.size() && text.at(at).isSpace();
}

double TextLineFragment::lineOriginX() const
{
    return m_bounds.left() - m_piece->lines()[size_t(m_lineInPiece)].textOffset;
}

QPointF TextLineFragment::locationForCharacter(qint64 index) const
{
    if (m_estimated) {
        // By proportion: the line's characters spread evenly over its width.
        const qint64 length = std::max<qint64>(1, contentEnd() - m_characterRange.location);
        const double share
            = double(std::clamp(index, m_characterRange.location, contentEnd()) - m_characterRange.location)
            / double(length);
        return { m_rightToLeft ? m_bounds.right() - share * m_bounds.width()
                               : m_bounds.left() + share * m_bounds.width(),
            m_bounds.top() };
    }
    if (!m_piece)
        return m_bounds.topLeft();
    const auto& metrics = m_piece->lines()[size_t(m_lineInPiece)];
    const auto layout = m_piece->layout();
    const QTextLine line = layout->lineAt(m_lineInPiece);
    int cursor = int(std::clamp<qint64>(index - m_pieceStart, metrics.start, metrics.start + metrics.length));
    return { lineOriginX() + line.cursorToX(&cursor), m_bounds.top() };
}

std::vector<std::pair<double, double>> TextLineFragment::characterSpans(qint64 from, qint64 to) const
{
    std::vector<std::pair<double, double>> spans;
    if (m_estimated || !m_piece)
        return spans;
    const auto& metrics = m_piece->lines()[size_t(m_lineInPiece)];
    const qint64 start
        = std::clamp<qint64>(from - m_pieceStart, metrics.start, metrics.start + metrics.length);
    const qint64 end = std::clamp<qint64>(to - m_pieceStart, metrics.start, metrics.start + metrics.length);
    if (end <= start)
        return spans;
    const auto layout = m_piece->layout();
    const QTextLine line = layout->lineAt(m_lineInPiece);
    for (const QGlyphRun& run : line.glyphRuns(int(start), int(end - start))) {
        const QRectF bounds = run.boundingRect();
        if (bounds.width() > 0)
            spans.push_back({ lineOriginX() + bounds.left(), lineOriginX() + bounds.right() });
    }
    return spans;
}

qint64 TextLineFragment::characterIndex(QPointF point) const
{
    if (m_estimated) {
        const qint64 length = contentEnd() - m_characterRange.location;
        const double width = std::max(1e-9, m_bounds.width());
        double share = std::clamp((point.x() - m_bounds.left()) / width, 0.0, 1.0);
        if (m_rightToLeft)
            share = 1 - share;
        return m_characterRange.location + qint64(std::llround(share * double(length)));
    }
    if (!m_piece)
        return m_characterRange.location;
    const auto& metrics = m_piece->lines()[size_t(m_lineInPiece)];
    const auto layout = m_piece->layout();
    const QTextLine line = layout->lineAt(m_lineInPiece);
    const double x = point.x() - lineOriginX();
    const qint32 end = metrics.start + metrics.length;
    // Caret x is not monotonic in logical order in mixed-direction text: look at every caret, or
    // in a long line of simple text at those near QTextLayout's answer. Elsewhere that answer will
    // not do: on the glyph at the far end of a run of the other direction it gives the caret after
    // that glyph, which is drawn at the run's other end, and after a sequence of joined emoji it
    // may give the line's end.
    double bestDistance = std::numeric_limits<double>::infinity();
    qint64 best = metrics.start;
    // Qt's own caret positions split the emoji, flags and joined sequences that follow Thai or
    // Indic text: a caret stands only where a cluster starts, so Backspace never takes half of one.
    GraphemeFinder clusters(m_piece->text().string());
    auto isCaret = [&](qint32 position) {
        return position == end || TextLayoutPiece::isCaretPosition(*layout, clusters, position);
    };
    // Where two runs meet, two carets stand at one place: the one whose character is under
    // the point wins, so that a click on a character's near half gives the caret before it.
    auto characterUnderPoint = [&](qint32 position) {
        if (position >= end)
            return false;
        qint32 next = position + 1;
        while (next < end && !isCaret(next))
            ++next;
        const auto spans = characterSpans(m_pieceStart + position, m_pieceStart + next);
        return std::any_of(spans.begin(), spans.end(), [&](const std::pair<double, double>& span) {
            return point.x() >= span.first && point.x() <= span.second;
        });
    };
    // Every caret's x, once the line has needed them all.
    const std::vector<double>* carets
        = m_piece->hasCaretPositions(m_lineInPiece) ? &m_piece->caretPositions(m_lineInPiece) : nullptr;
    auto scan = [&](qint32 from, qint32 to) {
        for (qint32 position = from; position <= to; ++position) {
            double caretX = 0;
            if (carets) {
                caretX = (*carets)[size_t(position - metrics.start)];
                if (std::isnan(caretX))
                    continue;
            } else {
                if (!isCaret(position))
                    continue;
                int cursor = position;
                caretX = line.cursorToX(&cursor);
            }
            const double distance = std::abs(caretX - x);
            const bool tie = std::abs(distance - bestDistance) < 0.01;
            if ((distance < bestDistance && !tie)
                || (tie && !characterUnderPoint(qint32(best)) && characterUnderPoint(position))) {
                bestDistance = std::min(distance, bestDistance);
                best = position;
            }
        }
    };
    // QTextLayout's answer is only a guess in text of both directions, or with characters of two
    // code units or joiners (emoji): there only every caret will tell.
    const QString& string = m_piece->text().string();
    const bool simple = metrics.length > exactCaretScanLimit
        && std::none_of(string.begin() + metrics.start, string.begin() + end, [](QChar c) {
               return c.isSurrogate() || c.category() == QChar::Other_Format || c.direction() == QChar::DirR
                   || c.direction() == QChar::DirAL;
           });
    auto scanAll = [&]() {
        carets = &m_piece->caretPositions(m_lineInPiece);
        scan(metrics.start, end);
    };
    if (!simple) {
        scanAll();
    } else {
        const qint32 guess
            = std::clamp(line.xToCursor(x, QTextLine::CursorBetweenCharacters), metrics.start, end);
        scan(std::max(metrics.start, guess - exactCaretScanLimit / 2),
            std::min(end, guess + exactCaretScanLimit / 2));
        // From there, step a caret at a time in the order they are drawn towards the point, and on
        // past it while the carets are no further from it than the nearest so far (two carets may
        // stand at one place where runs meet).
        const bool right = line.cursorToX(int(best)) < x;
        int position = int(best);
        for (int steps = 0; steps < metrics.length; ++steps) {
            const int next
                = right ? layout->rightCursorPosition(position) : layout->leftCursorPosition(position);
            if (next == position || next < metrics.start || next > end)
                break;
            const double nextX = line.cursorToX(next);
            if (right ? nextX > x + bestDistance + 0.01 : nextX < x - bestDistance - 0.01)
                break;
            const double distance = std::abs(nextX - x);
            if (distance < bestDistance - 0.01 && isCaret(next)) {
                bestDistance = distance;
                best = next;
            }
            position = next;
        }
        // Still no caret near a point over the text: only every caret will tell.
        const QRectF text = line.naturalTextRect();
        if (bestDistance > metrics.ascent + metrics.descent && x > text.left() && x < text.right())
            scanAll();
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
    const auto qtStep = [&](int from, bool toRight) {
        return toRight ? layout->rightCursorPosition(from) : layout->leftCursorPosition(from);
    };
    // In text with both directions, QTextLayout's steps skip the white space a wrapped line ends
    // with: from the last character before it, Right went on to the next row, jumping that
    // character, and the carets before and inside the spaces could not be left by a step at all.
    // Those carets stand in reading order at the line's far end: they are stepped through here.
    // (A piece's last line keeps its spaces among QTextLayout's steps, but for those that go past
    // the width the text wraps at.)
    const int lineEnd = metrics.start + metrics.length;
    const QString& text = m_piece->text().string();
    int visibleEnd = lineEnd;
    while (visibleEnd > metrics.start && text[visibleEnd - 1].isSpace())
        --visibleEnd;
    const bool endIsRight = layout->textOption().textDirection() != Qt::RightToLeft;
    const bool towardsEnd = right == endIsRight;
    const auto leavesLine = [&](int from) {
        const int to = qtStep(from, endIsRight);
        return to != from && (to < metrics.start || to >= lineEnd);
    };
    if (visibleEnd < lineEnd) {
        if (towardsEnd && local >= visibleEnd && local < lineEnd)
            return m_pieceStart + local + 1;
        if (!towardsEnd && local > visibleEnd && local <= lineEnd)
            return m_pieceStart + local - 1;
        if (towardsEnd && local < visibleEnd && leavesLine(local))
            return m_pieceStart + visibleEnd;
        if (!towardsEnd && local == visibleEnd && qtStep(local, right) == local) {
            // Back to the caret from which QTextLayout's step towards the end leaves the line.
            for (int from = visibleEnd - 1; from >= metrics.start; --from) {
                if (leavesLine(from))
                    return m_pieceStart + from;
            }
        }
    }
    const int moved = qtStep(local, right);
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
    if (m_estimated)
        return index >= m_characterRange.location && index <= contentEnd();
    if (!m_piece)
        return index == m_characterRange.location;
    const qint64 local = index - m_pieceStart;
    if (local <= 0 || local >= m_piece->length())
        return local >= 0 && local <= m_piece->length();
    GraphemeFinder clusters(m_piece->text().string());
    return TextLayoutPiece::isCaretPosition(*m_piece->layout(), clusters, qint32(local));
}

void TextLineFragment::draw(QPainter& painter, QPointF at) const
{
    if (!m_piece)
        return;
    const auto layout = m_piece->layout();
    const QTextLine line = layout->lineAt(m_lineInPiece);
    // Moving the painter rather than passing the position keeps the coordinates QTextLayout sees
    // small, whatever the line's x in a very long row. Only the transform and the pen change, and
    // only they are put back: a full save and restore per line costs more than drawing a short one.
    const QTransform transform = painter.transform();
    // Text without a colour of its own was laid out without one, and takes the pen's.
    const QPen pen = painter.pen();
    if (m_foreground && m_foreground->isValid())
        painter.setPen(*m_foreground);
    painter.translate(at.x() + lineOriginX() - m_bounds.left(), at.y() + m_glyphOrigin.y() - line.ascent());
    line.draw(&painter, QPointF(0, 0));
    painter.setTransform(transform);
    painter.setPen(pen);
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
    if (m_estimatedCount > 0) {
        // Estimated text is only in the storage.
        if (m_manager && m_manager->textContentStorage())
            result = m_manager->textContentStorage()->attributedString(
                TextRange(m_range.location, m_range.location + m_contentLength));
        result.append(m_terminator);
        return result;
    }
    for (const Placement& placement : m_pieces)
        result.append(placement.piece->text());
    result.append(m_terminator);
    return result;
}

bool TextLayoutFragment::recolour(const QColor& foreground)
{
    // A piece without text in its own default colour draws every default-coloured run in the
    // colour it is given; one with such text only in the colour it was laid out with.
    const auto drawsRight = [&](const Placement& placement) {
        return placement.isEstimated() || !placement.piece->bakesForeground()
            || placement.piece->parameters().foreground == foreground;
    };
    if (!std::all_of(m_pieces.begin(), m_pieces.end(), drawsRight))
        return false;
    if (m_inheritance && !std::all_of(m_inheritance->pieces.begin(), m_inheritance->pieces.end(), drawsRight))
        return false;
    m_pieceParameters.foreground = foreground;
    // Kept equal to the parameters an edit's new layout compares them with, so that it reuses them.
    if (m_inheritance)
        m_inheritance->parameters.foreground = foreground;
    return true;
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
    m_wrapping = input.availableWidth > 0;
    m_wrapWidth = input.availableWidth;
    const double multiple = input.style.lineHeightMultiple;
    m_multiple = multiple >= unsetMultipleTolerance ? multiple : 1.0;
    m_spacing = input.style.lineSpacing > 0 ? input.style.lineSpacing : 0.0;
    if (input.fontAscent >= 0 && input.fontDescent >= 0) {
        m_estimateAscent = input.fontAscent;
        m_estimateDescent = input.fontDescent;
    } else {
        const QFontMetricsF metrics(input.font);
        m_estimateAscent = metrics.ascent();
        m_estimateDescent = metrics.descent();
    }
    m_fontUnitWidth = std::max(0.01, input.averageCharacterWidth);
    m_unitWidth = m_fontUnitWidth;
    m_pieces = m_contentLength > 0 ? placePieces(input) : std::vector<Placement>();
    m_inheritance.reset();
    arrange(input);
    m_state = State::layoutAvailable;
    recount();
}

void TextLayoutFragment::recount()
{
    m_cost = qint64(sizeof(TextLayoutFragment)) + qint64(m_pieces.capacity() * sizeof(Placement));
    m_estimatedCount = 0;
    for (const Placement& placement : m_pieces) {
        m_cost += placement.summary.metadataCost;
        if (placement.isEstimated())
            ++m_estimatedCount;
    }
}

void TextLayoutFragment::measureDensity(const std::vector<Placement>& pieces)
{
    // Once enough text is laid out, estimates follow it: wrapped rows hold fewer units than the
    // font's average suggests (words do not split), and proportional text is wider or narrower.
    constexpr qint64 enoughUnits = 8192;
    qint64 units = 0;
    double rows = 0;
    double width = 0;
    for (const Placement& placement : pieces) {
        if (placement.isEstimated())
            continue;
        units += placement.summary.length;
        rows += placement.summary.lineCount;
        width += placement.summary.last.advance;
    }
    if (units < enoughUnits)
        return;
    const double measured = m_wrapping ? m_wrapWidth * rows / double(units) : width / double(units);
    m_unitWidth = std::clamp(measured, m_fontUnitWidth / 4, m_fontUnitWidth * 4);
}

TextLayoutFragment::Placement TextLayoutFragment::estimatedPlacement(
    qint64 start, qint64 length, std::optional<double> extent) const
{
    Placement placement;
    placement.start = start;
    TextLayoutPiece::Line line;
    line.length = qint32(std::min<qint64>(length, std::numeric_limits<qint32>::max()));
    line.ascent = m_estimateAscent;
    line.descent = m_estimateDescent;
    TextLayoutPiece::Summary& summary = placement.summary;
    summary.length = length;
    if (m_wrapping) {
        const double rowHeight = (m_estimateAscent + m_estimateDescent) * m_multiple + m_spacing;
        const double rows = std::max(1.0, std::ceil(double(length) * m_unitWidth / m_wrapWidth));
        summary.lineCount = qint32(std::min(rows, double(std::numeric_limits<qint32>::max() / 2)));
        placement.extent = extent.value_or(double(summary.lineCount) * rowHeight);
        line.advance = m_wrapWidth;
    } else {
        summary.lineCount = 1;
        placement.extent = extent.value_or(double(length) * m_unitWidth);
        line.advance = placement.extent;
    }
    line.naturalWidth = line.advance;
    summary.first = line;
    summary.last = line;
    summary.widest = line.advance;
    return placement;
}

void TextLayoutFragment::setExtent(Placement& placement, double extent) const
{
    placement.extent = extent;
    if (!m_wrapping) {
        placement.summary.first.advance = extent;
        placement.summary.first.naturalWidth = extent;
        placement.summary.last = placement.summary.first;
        placement.summary.widest = extent;
    }
}

void TextLayoutFragment::appendPieces(const LayoutInput& input, qint64 start, const AttributedString& text,
    std::vector<Placement>& out, RowCursor& cursor) const
{
    TextLayoutPiece::Parameters parameters = m_pieceParameters;
    const bool wrapping = parameters.lineWidth > 0;
    auto add = [&](qint64 at, AttributedString part) {
        parameters.startX
            = wrapping && cursor.afterPiece ? std::min(cursor.rowEnd, input.availableWidth) : 0.0;
        auto piece = TextLayoutPiece::make(std::move(part), parameters, input.memory);
        Placement placement;
        placement.start = at;
        placement.summary = piece->summary();
        placement.continuesRow = cursor.any && (!wrapping || (cursor.afterPiece && piece->continuesRow()));
        placement.piece = std::move(piece);
        cursor.advance(placement);
        out.push_back(std::move(placement));
    };
    if (text.length() <= input.pieceLimit) {
        add(start, text);
        return;
    }
    qsizetype from = 0;
    for (const qsizetype cut :
        cutPoints(text.string(), input.pieceLimit, input.pieceTarget, input.direction == Qt::RightToLeft)) {
        add(start + from, text.mid(from, cut - from));
        from = cut;
    }
    add(start + from, text.mid(from, text.length() - from));
}

void TextLayoutFragment::RowCursor::advance(const Placement& placement)
{
    if (placement.isEstimated()) {
        rowEnd = placement.summary.last.advance;
        afterPiece = false;
    } else {
        const TextLayoutPiece::Summary& summary = placement.summary;
        rowEnd = summary.last.fullRow
            ? fullRowEnd
            : (summary.lineCount == 1 && placement.continuesRow ? rowEnd : 0.0) + summary.last.advance;
        afterPiece = true;
    }
    any = true;
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
        measureDensity(*inherited);
        qint64 total = m_inheritance->contentLength;
        spans.reserve(inherited->size() + 1);
        for (size_t i = 0; i < inherited->size(); ++i) {
            const Placement& placement = (*inherited)[i];
            spans.push_back({ placement.start, placement.summary.length, i, placement.isEstimated(),
                placement.isEstimated() ? placement.extent : -1.0 });
        }
        for (const Edit& edit : m_inheritance->edits)
            applyEdit(spans, total, edit.start, edit.removed, edit.inserted, input.estimateBeyond);
        if (total != input.contentLength)
            spans.clear();
    }
    if (spans.empty())
        spans.push_back(
            { 0, input.contentLength, Span::notInherited, input.contentLength > input.estimateBeyond });

    // Neighbouring spans to lay out become one, and so do neighbouring estimates; a short span to
    // lay out takes in a neighbour that is laid out too, so that editing never leaves a long
    // paragraph in ever smaller pieces.
    std::vector<Span> merged;
    merged.reserve(spans.size());
    for (const Span& span : spans) {
        Span* last = merged.empty() ? nullptr : &merged.back();
        if (last && span.estimated && last->estimated) {
            last->extent = last->extent >= 0 && span.extent >= 0 ? last->extent + span.extent : -1.0;
            last->length += span.length;
            last->inherited = Span::notInherited;
        } else if (last && span.isDirty() && !span.estimated && last->isDirty() && !last->estimated) {
            last->length += span.length;
        } else {
            merged.push_back(span);
        }
    }
    for (size_t i = 0; i < merged.size(); ++i) {
        if (!merged[i].isDirty() || merged[i].estimated || merged[i].length >= input.pieceTarget / 4
            || merged.size() == 1)
            continue;
        size_t neighbour = i + 1 < merged.size() && !merged[i + 1].estimated ? i + 1 : i - 1;
        if (neighbour >= merged.size() || merged[neighbour].estimated)
            continue;
        const size_t first = std::min(i, neighbour);
        merged[first] = { merged[first].start, merged[i].length + merged[neighbour].length };
        merged.erase(merged.begin() + qsizetype(first) + 1);
        i = first;
    }

    // Where the row the previous piece ended in has got to: a wrapped piece's first line goes on
    // from there, so its layout depends on it.
    std::vector<Placement> placements;
    placements.reserve(merged.size());
    RowCursor cursor;
    for (const Span& span : merged) {
        if (span.estimated) {
            Placement placement = span.extent >= 0 ? estimatedPlacement(span.start, span.length, span.extent)
                                                   : estimatedPlacement(span.start, span.length);
            placement.continuesRow = !wrapping && !placements.empty();
            cursor.advance(placement);
            placements.push_back(std::move(placement));
            continue;
        }
        if (!span.isDirty()) {
            Placement placement = (*inherited)[span.inherited];
            placement.start = span.start;
            // An edit before a wrapped piece moves where the row it goes on in ends. Laying the piece
            // out again for that would move its own end in turn, and so on to the paragraph's end;
            // its first line stays as it was instead, in the row while it still fits there, else on
            // a row of its own, so an edit never costs more than the pieces it touched.
            placement.continuesRow = !placements.empty();
            if (wrapping && placement.continuesRow) {
                placement.continuesRow = cursor.afterPiece && placement.summary.continuesRow
                    && cursor.rowEnd + placement.summary.first.advance <= input.availableWidth + 0.5;
            }
            cursor.advance(placement);
            placements.push_back(std::move(placement));
            continue;
        }
        appendPieces(input, span.start, input.read(span.start, span.length), placements, cursor);
    }
    placements.shrink_to_fit();
    return placements;
}

namespace {

// A place at or before (`backwards`) or at or after `at`, inside (low, high), where a piece may
// start: after a space or tab within a piece's length (where the text on both sides reads in the
// paragraph's direction, if it does somewhere), else at a grapheme boundary.
qint64 pieceBoundary(const std::function<AttributedString(qint64, qint64)>& read, qint64 at, qint64 low,
    qint64 high, qsizetype reach, bool backwards, bool rightToLeft)
{
    at = std::clamp(at, low + 1, high - 1);
    const qint64 windowStart = std::max(low, at - (backwards ? reach : 1));
    const qint64 windowEnd = std::min(high, at + (backwards ? 1 : reach));
    const QString window = read(windowStart, windowEnd - windowStart).string();
    for (const bool clean : { true, false }) {
        auto good = [&](qint64 i) {
            const qsizetype k = qsizetype(i - windowStart);
            return k > 0 && k < window.size() && isCutAfter(window[k - 1]) && canStartPiece(window[k])
                && (!clean || isCleanCut(window, k, rightToLeft));
        };
        if (backwards) {
            for (qint64 i = at; i > windowStart; --i) {
                if (good(i))
                    return i;
            }
        } else {
            for (qint64 i = at; i < windowEnd; ++i) {
                if (good(i))
                    return i;
            }
        }
    }
    // A cluster boundary, judged with the text around it: a flag or a joined emoji sequence is
    // only known whole from its start.
    constexpr qint64 context = 64;
    qint64 contextStart = std::max(low, at - context);
    const qint64 contextEnd = std::min(high, at + context);
    QString around = read(contextStart, contextEnd - contextStart).string();
    // Which flags pair up is only known from the start of a run of them.
    auto isRegionalIndicator = [](const QString& text, qsizetype i) {
        return i + 1 < text.size() && text[i].isHighSurrogate()
            && QChar::surrogateToUcs4(text[i], text[i + 1]) - 0x1F1E6u < 26u;
    };
    // Which flags pair up is only known from the start of a run of them: when the context starts
    // in one, count the indicators before it and start on a pair.
    if (contextStart > low && (isRegionalIndicator(around, 0) || isRegionalIndicator(around, 1))) {
        const qint64 first = contextStart - (isRegionalIndicator(around, 0) ? 0 : 1);
        qint64 count = 0;
        for (qint64 end = first; end > low;) {
            const qint64 begin = std::max(low, end - 4 * context);
            const QString chunk = read(begin, end - begin).string();
            qsizetype i = chunk.size() - 2;
            while (i >= 0 && isRegionalIndicator(chunk, i)) {
                ++count;
                i -= 2;
            }
            if (i >= 0 || begin == low)
                break;
            end = begin + (i + 2);
        }
        const qint64 start = first - (count % 2 ? 2 : 0);
        if (start >= low && start != contextStart) {
            contextStart = start;
            around = read(contextStart, contextEnd - contextStart).string();
        }
    }
    GraphemeFinder finder(around);
    finder.setPosition(qsizetype(at - contextStart));
    qsizetype boundary = qsizetype(at - contextStart);
    if (!finder.isAtBoundary()) {
        boundary = backwards ? finder.toPreviousBoundary() : finder.toNextBoundary();
        if (boundary <= 0 || boundary >= around.size())
            boundary = qsizetype(at - contextStart);
    }
    qint64 cut = contextStart + boundary;
    const qsizetype k = qsizetype(cut - contextStart);
    if (k > 0 && k < around.size() && around[k - 1].isHighSurrogate() && around[k].isLowSurrogate())
        cut += backwards ? -1 : 1;
    return std::clamp(cut, low + 1, high - 1);
}

} // namespace

void TextLayoutFragment::splitEstimate(const LayoutInput& input, size_t index, qint64 from, qint64 to)
{
    const Placement estimate = m_pieces[index];
    const qint64 start = estimate.start;
    const qint64 end = start + estimate.summary.length;
    // Whole pieces: near an end of the estimate, take that end in; elsewhere cut where a piece
    // may start, outside [from, to).
    qint64 a = from - start <= input.pieceTarget
        ? start
        : pieceBoundary(
            input.text, from, start, end, input.pieceLimit / 2, true, input.direction == Qt::RightToLeft);
    qint64 b = end - to <= input.pieceTarget ? end
                                             : pieceBoundary(input.text, to, start, end, input.pieceLimit / 2,
                                                 false, input.direction == Qt::RightToLeft);
    if (a - start < input.pieceTarget / 4)
        a = start;
    if (end - b < input.pieceTarget / 4 || b <= a)
        b = end;

    // Where the text after the estimate starts, to be kept there.
    auto followerPosition = [&](size_t follower) {
        if (follower < m_pieces.size())
            return position(m_pieces[follower]);
        const Placement& last = m_pieces.back();
        return m_wrapping ? m_frame.height() : last.x + last.summary.last.advance;
    };
    const double oldFollower = followerPosition(index + 1);

    std::vector<Placement> replacement;
    RowCursor cursor;
    if (a > start) {
        // Provisionally where the estimate had this text.
        Placement before = estimatedPlacement(
            start, a - start, estimate.extent * double(a - start) / double(estimate.summary.length));
        before.continuesRow = !m_wrapping && index > 0;
        cursor.any = true;
        cursor.advance(before);
        replacement.push_back(std::move(before));
    } else if (index > 0) {
        const Placement& previous = m_pieces[index - 1];
        cursor.any = true;
        cursor.afterPiece = !previous.isEstimated();
        cursor.rowEnd = previous.summary.last.fullRow
            ? fullRowEnd
            : (previous.summary.lineCount == 1 ? previous.x : 0.0) + previous.summary.last.advance;
    }
    appendPieces(input, a, input.read(a, b - a), replacement, cursor);
    if (b < end) {
        Placement after = estimatedPlacement(b, end - b);
        after.continuesRow = !m_wrapping;
        replacement.push_back(std::move(after));
    }
    const size_t count = replacement.size();
    if (index + 1 < m_pieces.size() && m_wrapping) {
        Placement& next = m_pieces[index + 1];
        if (!next.isEstimated()) {
            next.continuesRow = b == end && cursor.afterPiece && next.summary.continuesRow
                && cursor.rowEnd + next.summary.first.advance <= m_wrapWidth + 0.5;
        }
    }
    m_pieces.erase(m_pieces.begin() + qsizetype(index));
    m_pieces.insert(m_pieces.begin() + qsizetype(index), std::make_move_iterator(replacement.begin()),
        std::make_move_iterator(replacement.end()));
    arrange(input);

    // The estimate beside the new pieces on the side away from the text laid out before takes up
    // the difference between what the estimate had for them and what they take.
    const double moved = followerPosition(index + count) - oldFollower;
    if (std::abs(moved) < 1e-9 || (a == start && b == end))
        return;
    Placement& absorbing = b < end ? m_pieces[index + count - 1] : m_pieces[index];
    const double least = 0.25 * estimatedPlacement(absorbing.start, absorbing.summary.length).extent;
    setExtent(absorbing, std::max(least, absorbing.extent - moved));
    arrange(input);
}

bool TextLayoutFragment::layoutCharacters(const LayoutInput& input, qint64 from, qint64 to)
{
    if (m_state != State::layoutAvailable || m_estimatedCount == 0 || m_contentLength == 0)
        return false;
    from = std::clamp<qint64>(from, 0, m_contentLength - 1);
    to = std::clamp<qint64>(to, from + 1, m_contentLength);
    bool changed = false;
    for (;;) {
        auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), from,
            [](qint64 value, const Placement& placement) { return value < placement.start; });
        size_t index = it == m_pieces.begin() ? 0 : size_t(it - m_pieces.begin()) - 1;
        while (index < m_pieces.size() && m_pieces[index].start < to && !m_pieces[index].isEstimated())
            ++index;
        if (index >= m_pieces.size() || m_pieces[index].start >= to)
            break;
        const Placement& estimate = m_pieces[index];
        splitEstimate(input, index, std::max(from, estimate.start),
            std::min(to, estimate.start + estimate.summary.length));
        changed = true;
    }
    if (changed) {
        measureDensity(m_pieces);
        recount();
    }
    return changed;
}

bool TextLayoutFragment::layoutExtent(const LayoutInput& input, double low, double high)
{
    if (m_state != State::layoutAvailable || m_estimatedCount == 0 || !(high > low))
        return false;
    bool changed = false;
    for (;;) {
        // The first estimate that meets [low, high]. Placements run in order along the paragraph,
        // but a paragraph that does not wrap starts each row it has (after a line separator) at
        // its leading edge again.
        size_t index = m_pieces.size();
        for (size_t i = 0; i < m_pieces.size(); ++i) {
            const Placement& placement = m_pieces[i];
            const double begin = position(placement);
            if (begin >= high) {
                if (m_wrapping)
                    break;
                continue;
            }
            if (placement.isEstimated() && begin + placement.extent > low) {
                index = i;
                break;
            }
        }
        if (index == m_pieces.size())
            break;
        const Placement& estimate = m_pieces[index];
        const qint64 start = estimate.start;
        const qint64 end = start + estimate.summary.length;
        const double begin = position(estimate);
        const double finish = begin + estimate.extent;
        const double units = double(estimate.summary.length) / std::max(1e-9, estimate.extent);
        const qint64 margin = input.pieceTarget;
        qint64 from;
        qint64 to;
        if (begin >= low) {
            // It starts in view: on from its start.
            from = start;
            to = start + qint64((std::min(high, finish) - begin) * units) + margin;
        } else if (finish <= high) {
            // It ends in view: back from its end.
            from = end - qint64((finish - low) * units) - margin;
            to = end;
        } else {
            // It fills the view: what it has there.
            from = start + qint64((low - begin) * units);
            to = start + qint64((high - begin) * units) + margin;
        }
        from = std::clamp(from, start, end - 1);
        to = std::clamp(to, from + 1, end);
        splitEstimate(input, index, from, to);
        changed = true;
    }
    if (changed) {
        measureDensity(m_pieces);
        recount();
    }
    return changed;
}

bool TextLayoutFragment::layoutRect(const LayoutInput& input, const QRectF& bounds)
{
    if (m_estimatedCount == 0)
        return false;
    if (m_wrapping)
        return layoutExtent(input, bounds.top(), bounds.bottom());
    if (bounds.bottom() < 0 || bounds.top() > m_frame.height())
        return false;
    // Offsets from the row's leading edge, which is the right one in a right-to-left paragraph.
    const double leading = m_direction == Qt::RightToLeft ? m_padding + m_available : m_padding;
    const double a = m_direction == Qt::RightToLeft ? leading - bounds.right() : bounds.left() - leading;
    const double b = m_direction == Qt::RightToLeft ? leading - bounds.left() : bounds.right() - leading;
    return layoutExtent(input, a, b);
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
        m_surface
            = QRectF(0, 0, width, height).marginsAdded(QMarginsF(0, glyphOverhang(), 0, glyphOverhang()));
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
        if (m_wrapping && placement.isEstimated()) {
            // Rows of its own, sharing its extent.
            placement.firstRow = lastRow + 1;
            placement.x = 0;
            placement.y = k == 0 ? 0.0 : lastRowTop + rowHeight(open);
            open = estimatedRow(placement);
            placement.sharedRow = open;
            widest = std::max(widest, open.width);
            lastRowTop = placement.y + placement.extent - open.height;
            rowEnd = open.width;
            lastRow = placement.firstRow + qsizetype(count) - 1;
            continue;
        }
        const bool afterEstimate = k > 0 && m_wrapping && m_pieces[k - 1].isEstimated();
        if (k > 0 && placement.continuesRow && !afterEstimate) {
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
        const bool nextContinues = k + 1 < m_pieces.size() && m_pieces[k + 1].continuesRow
            && !(m_wrapping && m_pieces[k + 1].isEstimated());
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
    m_surface = QRectF(0, 0, std::max(width, widest + 2 * input.padding), height)
                    .marginsAdded(QMarginsF(0, glyphOverhang(), 0, glyphOverhang()));
}

double TextLayoutFragment::rowHeight(const RowMetrics& metrics) const
{
    if (metrics.height >= 0)
        return metrics.height;
    return (metrics.ascent + metrics.descent) * m_multiple + m_spacing;
}

double TextLayoutFragment::glyphOverhang() const
{
    if (m_multiple >= 1 || m_rowCount == 0)
        return 0;
    const RowMetrics first = rowMetrics(0);
    const RowMetrics last = rowMetrics(m_rowCount - 1);
    return (1 - m_multiple) * std::max(first.ascent + first.descent, last.ascent + last.descent);
}

TextLayoutFragment::RowMetrics TextLayoutFragment::estimatedRow(const Placement& placement) const
{
    RowMetrics row { m_estimateAscent, m_estimateDescent, placement.summary.first.advance,
        placement.summary.first.advance };
    if (m_wrapping)
        row.height = placement.extent / double(std::max<qint32>(1, placement.summary.lineCount));
    return row;
}

double TextLayoutFragment::lineAdvance(const Placement& placement, qint32 line) const
{
    if (placement.isEstimated())
        return placement.summary.first.advance;
    return placement.piece->lines()[size_t(line)].advance;
}

qint64 TextLayoutFragment::estimatedLineStart(const Placement& placement, qint64 line) const
{
    const qint64 count = std::max<qint32>(1, placement.summary.lineCount);
    return placement.start + placement.summary.length * std::clamp<qint64>(line, 0, count) / count;
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
    if (m_wrapping && placement.isEstimated())
        return estimatedRow(placement);
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
    if (m_wrapping && placement.isEstimated())
        return placement.y + double(index) * placement.extent / double(placement.summary.lineCount);
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
    const double advance = lineAdvance(placement, line);
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
    if (placement.isEstimated()) {
        const qsizetype row = placement.firstRow + inPiece;
        const RowMetrics metrics = rowMetrics(row);
        const double natural = metrics.ascent + metrics.descent;
        const double height = std::max(1.0, rowHeight(metrics) - m_spacing);
        line.m_estimated = true;
        line.m_rightToLeft = m_direction == Qt::RightToLeft;
        line.m_pieceStart = placement.start;
        line.m_row = row;
        line.m_characterRange
            = TextRange(estimatedLineStart(placement, inPiece), estimatedLineStart(placement, inPiece + 1));
        if (index + 1 == m_lineCount && !m_terminator.isEmpty()) {
            line.m_terminator = &m_terminator;
            line.m_characterRange.endLocation += m_terminator.length();
        }
        line.m_bounds = QRectF(
            lineX(placement, inPiece, metrics), rowTop(row), lineAdvance(placement, inPiece), height);
        line.m_glyphOrigin = QPointF(0, height - natural + metrics.ascent);
        return line;
    }
    const auto& metrics = placement.piece->lines()[size_t(inPiece)];
    const qsizetype row = placement.firstRow + inPiece;
    const RowMetrics rowMetrics = this->rowMetrics(row);
    const double natural = rowMetrics.ascent + rowMetrics.descent;
    const double height = natural * m_multiple;
    line.m_piece = placement.piece.get();
    line.m_foreground = &m_pieceParameters.foreground;
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
    const TextLineFragment firstLine = lineFragment(first);
    const TextLineFragment lastLine = lineFragment(first + count - 1);
    visual.characterRange
        = TextRange(firstLine.m_characterRange.location, lastLine.m_characterRange.endLocation);
    visual.estimated = firstLine.m_estimated || lastLine.m_estimated;
    if (!visual.estimated && m_wrapping && m_estimatedCount > 0) {
        // A wrapped row that ends where estimated text begins may take some of it in once that is
        // laid out.
        const size_t k = pieceOfLine(first + count - 1);
        const Placement& placement = m_pieces[k];
        visual.estimated = first + count == placement.firstLine + placement.summary.lineCount
            && k + 1 < m_pieces.size() && m_pieces[k + 1].isEstimated();
    }
    if (!visual.estimated && count > 2 && m_estimatedCount > 0) {
        const size_t last = pieceOfLine(first + count - 1);
        for (size_t k = pieceOfLine(first) + 1; k < last && !visual.estimated; ++k)
            visual.estimated = m_pieces[k].isEstimated();
    }
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
    if (placement.isEstimated()) {
        const qint64 count = std::max<qint32>(1, placement.summary.lineCount);
        qint64 row = std::clamp<qint64>(
            (index - placement.start) * count / std::max<qint64>(1, placement.summary.length), 0, count - 1);
        while (row + 1 < count && estimatedLineStart(placement, row + 1) <= index)
            ++row;
        while (row > 0 && estimatedLineStart(placement, row) > index)
            --row;
        qsizetype found = placement.firstLine + row;
        if (affinity == TextSelection::Affinity::upstream && found > 0
            && index == estimatedLineStart(placement, row) && !(row == 0 && placement.continuesRow))
            --found;
        return found;
    }
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
    const qint64 at
        = std::clamp<qint64>(line.characterIndex(point), line.m_characterRange.location, line.contentEnd());
    // The caret after a wrapped row's last character is the next row's first, and is drawn there:
    // past a row that wraps after a space, a point gives the caret before that space, on its row.
    if (at < m_contentLength && at == visualLine(line.m_row).characterRange.endLocation
        && line.isSpaceBefore(at))
        return at - 1;
    return at;
}

std::pair<qint64, qint64> TextLayoutFragment::visualLineEdges(qsizetype row) const
{
    const auto [first, count] = rowLines(row);
    const bool leftToRight = m_direction != Qt::RightToLeft;
    const TextLineFragment leftmost = lineFragment(leftToRight ? first : first + count - 1);
    const TextLineFragment rightmost = lineFragment(leftToRight ? first + count - 1 : first);
    return { leftmost.edgeIndex(false), rightmost.edgeIndex(true) };
}

std::pair<qsizetype, qsizetype> TextLayoutFragment::visualLinesMeeting(double top, double bottom) const
{
    if (m_rowCount == 0)
        return { 0, 0 };
    // However the glyphs sit in a shorter row, they stay within their natural height of it.
    const auto overhang = [&](const VisualLine& visual) {
        return m_multiple < 1 ? (visual.ascent + visual.descent) * (1 - m_multiple) : 0.0;
    };
    qsizetype first = visualLineIndex(top);
    while (first > 0) {
        const VisualLine above = visualLine(first - 1);
        if (above.y + above.height + overhang(above) <= top)
            break;
        --first;
    }
    qsizetype last = first;
    while (last < m_rowCount) {
        const VisualLine visual = visualLine(last);
        if (visual.y - overhang(visual) > bottom)
            break;
        ++last;
    }
    return { first, last };
}

void TextLayoutFragment::draw(QPainter& painter, QPointF at) const
{
    if (m_state != State::layoutAvailable)
        return;
    QRectF clip(-1e300, -1e300, 2e300, 2e300);
    if (painter.hasClipping())
        clip = painter.clipBoundingRect().translated(-at);
    const auto [firstRow, endRow] = visualLinesMeeting(clip.top(), clip.bottom());
    for (qsizetype row = firstRow; row < endRow; ++row) {
        const VisualLine visual = visualLine(row);
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
