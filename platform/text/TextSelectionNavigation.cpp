#include "platform/text/TextSelectionNavigation.h"

#include "platform/text/GraphemeClusters.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"

#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <unicode/uchar.h>

#include <cmath>

namespace platform {

namespace {

// How far back a cluster start is looked for, how much text a boundary search reads at a time,
// and how far a word or sentence move goes at most in text without a boundary.
constexpr qint64 clusterLookBehind = 256;
constexpr qint64 searchWindow = 4096;
constexpr qint64 contextBefore = 128;
constexpr qint64 searchLimit = 64 * 1024;
// The longest wrapped row whose carets the arrows take in the order of their x.
constexpr qint64 wrappedRowLimit = 512;

TextRange unionOf(const std::vector<TextRange>& ranges)
{
    TextRange result = ranges.front();
    for (const TextRange& range : ranges)
        result = result.united(range);
    return result;
}

bool isSpace(QChar c)
{
    return c.isSpace();
}

// Ideographs (and other letters the boundary finder does not gather into words) have boundaries
// between them but no word ends or starts: a letter or digit next to a boundary makes it one.
// A word may begin or end with the joiners of words ("_", the narrow no-break space), which Qt
// leaves unmarked as a start or an end: without them, a word move would skip "__name__" and the
// word after or before it.
bool isWordJoiner(char32_t c)
{
    return u_getIntPropertyValue(UChar32(c), UCHAR_WORD_BREAK) == U_WB_EXTENDNUMLET;
}

// (The letter a word ends with may carry marks and format characters: "e\u0301" ends a word as
// "e" does.)
bool isLetterBefore(const QString& text, qsizetype at)
{
    if (at > text.size())
        return false;
    while (at > 0) {
        char32_t c = text[at - 1].unicode();
        if (text[at - 1].isLowSurrogate() && at >= 2 && text[at - 2].isHighSurrogate())
            c = QChar::surrogateToUcs4(text[at - 2], text[at - 1]);
        if (!QChar::isMark(c) && QChar::category(c) != QChar::Other_Format)
            return QChar::isLetterOrNumber(c) || isWordJoiner(c);
        at -= QChar::requiresSurrogates(c) ? 2 : 1;
    }
    return false;
}

bool isLetterAt(const QString& text, qsizetype at)
{
    if (at < 0 || at >= text.size())
        return false;
    char32_t c = text[at].unicode();
    if (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        c = QChar::surrogateToUcs4(text[at], text[at + 1]);
    return QChar::isLetterOrNumber(c) || isWordJoiner(c);
}

// Qt's word boundaries, found in each stretch of Thai and of other text on its own. Qt's dictionary
// breaking of Thai would otherwise glue the spaces, punctuation and symbols after a Thai word to
// it, so that a word move skipped the next word and a double click took the spaces along.
class WordFinder {
public:
    using Reasons = QTextBoundaryFinder::BoundaryReasons;

    explicit WordFinder(const QString& text)
        : m_size(text.size())
    {
        const auto isThai = [&](qsizetype at) { return text[at].script() == QChar::Script_Thai; };
        for (qsizetype start = 0; start < text.size();) {
            qsizetype end = start + 1;
            while (end < text.size() && isThai(end) == isThai(start))
                ++end;
            QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text.mid(start, end - start));
            finder.toStart();
            for (qsizetype at = 0; at >= 0; at = finder.toNextBoundary()) {
                if (!m_boundaries.empty() && m_boundaries.back().first == start + at)
                    m_boundaries.back().second |= finder.boundaryReasons();
                else
                    m_boundaries.emplace_back(start + at, finder.boundaryReasons());
            }
            start = end;
        }
        if (m_boundaries.empty())
            m_boundaries.emplace_back(0, Reasons());
    }
    void setPosition(qsizetype at) { m_position = std::clamp<qsizetype>(at, 0, m_size); }
    bool isAtBoundary() const { return found() != m_boundaries.end(); }
    Reasons boundaryReasons() const
    {
        const auto it = found();
        return it == m_boundaries.end() ? Reasons() : it->second;
    }
    // The next or previous boundary, or -1 when there is none; the finder moves there.
    qsizetype toNextBoundary()
    {
        const auto it = std::upper_bound(m_boundaries.begin(), m_boundaries.end(), m_position,
            [](qsizetype at, const Boundary& boundary) { return at < boundary.first; });
        return it == m_boundaries.end() ? -1 : (m_position = it->first);
    }
    qsizetype toPreviousBoundary()
    {
        auto it = lowerBound();
        return it == m_boundaries.begin() ? -1 : (m_position = (--it)->first);
    }

private:
    using Boundary = std::pair<qsizetype, Reasons>;
    std::vector<Boundary>::const_iterator lowerBound() const
    {
        return std::lower_bound(m_boundaries.begin(), m_boundaries.end(), m_position,
            [](const Boundary& boundary, qsizetype at) { return boundary.first < at; });
    }
    std::vector<Boundary>::const_iterator found() const
    {
        const auto it = lowerBound();
        return it != m_boundaries.end() && it->first == m_position ? it : m_boundaries.end();
    }

    qsizetype m_size;
    std::vector<Boundary> m_boundaries;
    qsizetype m_position = 0;
};

} // namespace

TextSelectionNavigation::TextSelectionNavigation(TextLayoutManager& manager)
    : m_manager(manager)
{
}

TextSelectionNavigation::Paragraph TextSelectionNavigation::paragraph(qint64 index) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    Paragraph result;
    if (!storage || index < 0 || index >= storage->layoutParagraphCount())
        return result;
    result.index = index;
    result.range = storage->layoutParagraphRange(index);
    result.contentEnd = result.range.endLocation - storage->terminatorLength(index);
    return result;
}

TextSelectionNavigation::Paragraph TextSelectionNavigation::paragraphAt(TextLocation at) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return {};
    return paragraph(storage->layoutParagraphIndex(std::clamp<TextLocation>(at, 0, storage->length())));
}

QString TextSelectionNavigation::window(TextLocation start, TextLocation& end) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    end = std::min(end, storage->length());
    QString text = storage->substring(TextRange(start, std::min(end + 1, storage->length())));
    if (text.size() > end - start) {
        if (text.size() >= 2 && text[text.size() - 2].isHighSurrogate() && text.back().isLowSurrogate())
            ++end;
        else
            text.chop(1);
    }
    return text;
}

TextLocation TextSelectionNavigation::clusterStartBefore(TextLocation at, TextLocation floor) const
{
    // A cluster always begins at an ASCII character that follows another inside a paragraph's
    // content (there is no carriage return or line feed there to join, and only a prepended mark,
    // never ASCII, holds on to the character after it).
    const TextLocation from = std::max(floor, at - clusterLookBehind);
    if (from >= at)
        return std::max(floor, at);
    const QString text = m_manager.textContentStorage()->substring(TextRange(from, at + 1));
    for (qsizetype i = std::min<qsizetype>(text.size() - 1, at - from); i >= 0; --i) {
        if (text[i].unicode() < 0x80
            && ((i == 0 && from == floor) || (i > 0 && text[i - 1].unicode() < 0x80)))
            return from + i;
    }
    return text.front().isLowSurrogate() ? std::max(floor, from - 1) : from;
}

bool TextSelectionNavigation::isGraphemeBoundary(TextLocation at) const
{
    const Paragraph p = paragraphAt(at);
    if (at <= p.range.location || at >= p.contentEnd)
        return true;
    const TextLocation start = clusterStartBefore(at, p.range.location);
    TextLocation end = std::min(p.contentEnd, at + 16);
    const QString text = window(start, end);
    GraphemeFinder finder(text);
    finder.setPosition(int(at - start));
    return finder.isAtBoundary();
}

TextLocation TextSelectionNavigation::clusterBoundary(TextLocation at, bool forward) const
{
    if (isGraphemeBoundary(at))
        return at;
    return forward ? nextCharacter(at) : previousCharacter(at);
}

TextLocation TextSelectionNavigation::nextCharacter(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage || from >= storage->length())
        return storage ? storage->length() : 0;
    from = std::max<TextLocation>(from, 0);
    const Paragraph p = paragraphAt(from);
    // The terminator is one step, a CRLF pair included.
    if (from >= p.contentEnd)
        return p.range.endLocation;
    const TextLocation start = clusterStartBefore(from, p.range.location);
    TextLocation end = std::min(p.contentEnd, from + clusterLookBehind);
    const QString text = window(start, end);
    GraphemeFinder finder(text);
    finder.setPosition(int(from - start));
    const qsizetype next = finder.toNextBoundary();
    return next < 0 ? end : start + next;
}

TextLocation TextSelectionNavigation::previousCharacter(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage || from <= 0)
        return 0;
    from = std::min(from, storage->length());
    const Paragraph p = paragraphAt(from);
    // The character before a paragraph start is the terminator of the previous paragraph.
    if (from == p.range.location)
        return paragraph(p.index - 1).contentEnd;
    if (from > p.contentEnd)
        return p.contentEnd;
    const TextLocation start = clusterStartBefore(from - 1, p.range.location);
    TextLocation end = std::min(p.contentEnd, from + 4);
    const QString text = window(start, end);
    GraphemeFinder finder(text);
    finder.setPosition(int(from - start));
    const qsizetype previous = finder.toPreviousBoundary();
    return start + std::max<qsizetype>(previous, 0);
}

std::optional<TextLocation> TextSelectionNavigation::nextWordEndWithin(
    const Paragraph& p, TextLocation from) const
{
    TextLocation position = std::clamp(from, p.range.location, p.contentEnd);
    const TextLocation limit = position + searchLimit;
    while (position < p.contentEnd) {
        if (position >= limit)
            return position;
        const TextLocation start = std::max(p.range.location, position - contextBefore);
        TextLocation end = std::min(p.contentEnd, position + searchWindow);
        const QString text = window(start, end);
        WordFinder finder(text);
        finder.setPosition(int(position - start));
        for (qsizetype boundary = finder.toNextBoundary(); boundary >= 0;
             boundary = finder.toNextBoundary()) {
            // The end of a window cut short is no boundary of the text.
            if (start + boundary == end && end < p.contentEnd)
                break;
            if ((finder.boundaryReasons() & QTextBoundaryFinder::EndOfItem) || isLetterBefore(text, boundary))
                return clusterBoundary(start + boundary, true);
        }
        if (end >= p.contentEnd)
            break;
        position = std::max(position + 1, end - contextBefore);
    }
    return std::nullopt;
}

std::optional<TextLocation> TextSelectionNavigation::previousWordStartWithin(
    const Paragraph& p, TextLocation from) const
{
    TextLocation position = std::clamp(from, p.range.location, p.contentEnd);
    const TextLocation limit = position - searchLimit;
    while (position > p.range.location) {
        if (position <= limit)
            return position;
        const TextLocation start = std::max(p.range.location, position - searchWindow);
        TextLocation end = std::min(p.contentEnd, position + contextBefore);
        const QString text = window(start, end);
        WordFinder finder(text);
        finder.setPosition(int(position - start));
        for (qsizetype boundary = finder.toPreviousBoundary(); boundary >= 0;
             boundary = finder.toPreviousBoundary()) {
            if (boundary == 0 && start > p.range.location)
                break;
            if ((finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem) || isLetterAt(text, boundary))
                return clusterBoundary(start + boundary, false);
        }
        if (start <= p.range.location)
            break;
        position = std::min(position - 1, start + contextBefore);
    }
    return std::nullopt;
}

TextLocation TextSelectionNavigation::nextWordEnd(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return 0;
    const qint64 count = storage->layoutParagraphCount();
    for (qint64 index = paragraphAt(from).index; index >= 0 && index < count; ++index) {
        const Paragraph p = paragraph(index);
        if (const auto found = nextWordEndWithin(p, from))
            return *found;
        from = p.range.endLocation;
    }
    return storage->length();
}

TextLocation TextSelectionNavigation::previousWordStart(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return 0;
    for (qint64 index = paragraphAt(from).index; index >= 0; --index) {
        const Paragraph p = paragraph(index);
        if (const auto found = previousWordStartWithin(p, from))
            return *found;
        from = std::numeric_limits<TextLocation>::max();
    }
    return 0;
}

TextLocation TextSelectionNavigation::nextSentenceEnd(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return 0;
    Paragraph p = paragraphAt(from);
    if (from >= p.contentEnd) {
        // From the end of a paragraph, to the end of the first sentence of the next one.
        const Paragraph next = paragraph(p.index + 1);
        if (next.index < 0)
            return p.contentEnd;
        p = next;
        from = p.range.location;
    }
    TextLocation position = from;
    while (position < p.contentEnd) {
        const TextLocation start = std::max(p.range.location, position - searchWindow / 4);
        TextLocation end = std::min(p.contentEnd, position + searchWindow);
        const QString text = window(start, end);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, text);
        finder.setPosition(int(position - start));
        for (qsizetype boundary = finder.toNextBoundary(); boundary >= 0;
             boundary = finder.toNextBoundary()) {
            // A sentence ends before the spaces that follow it; a caret already there goes on to the
            // end of the next sentence.
            qsizetype sentenceEnd = boundary;
            while (sentenceEnd > 0 && isSpace(text[sentenceEnd - 1]))
                --sentenceEnd;
            if (start + sentenceEnd > from)
                return clusterBoundary(start + sentenceEnd, true);
        }
        if (end >= p.contentEnd || end - from >= searchLimit)
            return end;
        position = end;
    }
    return p.contentEnd;
}

TextLocation TextSelectionNavigation::previousSentenceStart(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage || from <= 0)
        return 0;
    Paragraph p = paragraphAt(from);
    if (from <= p.range.location) {
        // From the start of a paragraph, to the start of the last sentence of the previous one.
        p = paragraph(p.index - 1);
        from = p.contentEnd;
        if (from <= p.range.location)
            return p.range.location;
    }
    from = std::min(from, p.contentEnd);
    const TextLocation start = std::max(p.range.location, from - searchWindow);
    TextLocation end = std::min(p.contentEnd, from + 16);
    const QString text = window(start, end);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, text);
    finder.setPosition(int(from - start));
    const qsizetype boundary = finder.toPreviousBoundary();
    return clusterBoundary(start + std::max<qsizetype>(boundary, 0), false);
}

TextRange TextSelectionNavigation::wordRange(TextLocation at) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return {};
    const Paragraph p = paragraphAt(at);
    if (p.contentEnd == p.range.location)
        return TextRange(p.range.location);
    TextLocation position = std::clamp(at, p.range.location, p.contentEnd);
    if (position == p.contentEnd)
        position -= 1;
    const TextLocation start = std::max(p.range.location, position - searchWindow / 2);
    TextLocation end = std::min(p.contentEnd, position + searchWindow / 2);
    const QString text = window(start, end);
    WordFinder finder(text);
    finder.setPosition(int(position - start));
    qsizetype from = finder.isAtBoundary() ? position - start : finder.toPreviousBoundary();
    finder.setPosition(int(position - start));
    qsizetype to = finder.toNextBoundary();
    if (from < 0)
        from = 0;
    if (to < 0)
        to = text.size();
    return TextRange(clusterBoundary(start + from, false), clusterBoundary(start + to, true));
}

TextRange TextSelectionNavigation::paragraphRange(TextLocation at) const
{
    return paragraphAt(at).range;
}

void TextSelectionNavigation::enumerateComposedCharacterSequences(
    TextLocation from, const std::function<bool(const QString&, TextRange)>& body) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return;
    const qint64 count = storage->layoutParagraphCount();
    for (qint64 index = paragraphAt(from).index; index >= 0 && index < count; ++index) {
        const Paragraph p = paragraph(index);
        TextLocation position = std::max(from, p.range.location);
        if (position < p.contentEnd && !isGraphemeBoundary(position))
            position = previousCharacter(position);
        while (position < p.contentEnd) {
            TextLocation end = std::min(p.contentEnd, position + searchWindow);
            const QString text = window(position, end);
            GraphemeFinder finder(text);
            qsizetype start = 0;
            for (qsizetype boundary = finder.toNextBoundary(); boundary > 0;
                 boundary = finder.toNextBoundary()) {
                // The last cluster of a window cut short may go on past it.
                if (position + boundary == end && end < p.contentEnd)
                    break;
                if (!body(
                        text.mid(start, boundary - start), TextRange(position + start, position + boundary)))
                    return;
                start = boundary;
            }
            position += std::max<qsizetype>(start, 1);
        }
        if (p.range.endLocation > p.contentEnd && from <= p.contentEnd) {
            const TextRange terminator(p.contentEnd, p.range.endLocation);
            if (!body(storage->substring(terminator), terminator))
                return;
        }
    }
}

bool TextSelectionNavigation::isRightToLeft(TextLocation at) const
{
    return m_manager.baseWritingDirection(at) == Qt::RightToLeft;
}

bool TextSelectionNavigation::isDocumentRightToLeft() const
{
    return m_manager.baseWritingDirection(0) == Qt::RightToLeft;
}

bool TextSelectionNavigation::isBackwardish(TextLocation at, Direction direction) const
{
    switch (direction) {
    case Direction::backward:
    case Direction::up:
        return true;
    case Direction::left:
        return !isRightToLeft(at);
    case Direction::right:
        return isRightToLeft(at);
    default:
        return false;
    }
}

TextSelectionNavigation::Target TextSelectionNavigation::moveVertically(
    TextLocation from, TextSelection::Affinity affinity, double keptX, bool up, bool laidOut)
{
    Target target;
    target.keepsX = true;
    const TextLineFragmentHandle handle = m_manager.lineFragment(from, affinity);
    if (!handle)
        return target;
    std::shared_ptr<TextLayoutFragment> fragment = handle.fragment;
    const double x = std::isnan(keptX) ? fragment->layoutFragmentFrame().left()
            + handle->locationForCharacter(from - fragment->rangeInElement().location).x()
                                       : keptX;
    target.x = x;
    qsizetype row = handle->visualLineIndex() + (up ? -1 : 1);
    if (row < 0 || row >= fragment->visualLineCount()) {
        fragment = m_manager.layoutFragment(fragment->layoutParagraphIndex() + (up ? -1 : 1), true);
        if (!fragment) {
            target.location = up ? 0 : m_manager.documentRange().endLocation;
            return target;
        }
        row = up ? fragment->visualLineCount() - 1 : 0;
    }
    const TextLayoutFragment::VisualLine visual = fragment->visualLine(row);
    const QPointF point(x - fragment->layoutFragmentFrame().left(), visual.y + visual.height / 2);
    const TextLineFragment line = fragment->lineFragment(*fragment->lineFragmentIndex(point));
    if ((visual.estimated || line.isEstimated()) && !laidOut) {
        m_manager.lineFragment(point + fragment->layoutFragmentFrame().topLeft());
        return moveVertically(from, affinity, x, up, true);
    }
    const qint64 rowEnd = std::min(visual.characterRange.endLocation, fragment->contentLength());
    const qint64 index = std::clamp(line.characterIndex(point), visual.characterRange.location, rowEnd);
    target.location = fragment->rangeInElement().location + index;
    // A caret at the end of a wrapped row stays on that row.
    if (row + 1 < fragment->visualLineCount() && index == rowEnd)
        target.affinity = TextSelection::Affinity::upstream;
    return target;
}

TextSelectionNavigation::Target TextSelectionNavigation::moveVisually(
    TextLocation from, TextSelection::Affinity affinity, bool right, bool laidOut)
{
    Target target;
    target.location = from;
    const TextLineFragmentHandle handle = m_manager.lineFragment(from, affinity);
    if (!handle)
        return target;
    const TextLayoutFragment& fragment = *handle.fragment;
    const TextLocation start = fragment.rangeInElement().location;
    const qsizetype row = handle->visualLineIndex();
    const bool lastRow = row + 1 == fragment.visualLineCount();
    const qint64 rowEnd
        = std::min(fragment.visualLine(row).characterRange.endLocation, fragment.contentLength());
    const bool leftToRight = fragment.baseWritingDirection() != Qt::RightToLeft;
    // The rows next to this one in a long paragraph may be estimated, with ends by proportion: laid
    // out, they move, so the move starts again. (The first and last rows of a paragraph end where
    // it does, estimated or not.)
    if (!laidOut) {
        for (const qsizetype neighbour : { row - 1, row + 1 }) {
            if (neighbour < 0 || neighbour >= fragment.visualLineCount())
                continue;
            const TextLayoutFragment::VisualLine visual = fragment.visualLine(neighbour);
            // (An unwrapped row holds its whole paragraph: never laid out whole for this.)
            if (visual.estimated && visual.characterRange.length() < textLayoutEstimateThreshold) {
                m_manager.ensureLayout(TextRange(
                    start + visual.characterRange.location, start + visual.characterRange.endLocation + 1));
                return moveVisually(from, affinity, right, true);
            }
        }
    }

    // One step within a line, if the line has a caret further in that direction. QTextLayout may
    // stop inside a grapheme cluster (it splits some that ICU keeps whole: a surrogate pair or a flag
    // next to right-to-left text, emoji after Thai). Its next steps are followed while they stay in
    // that cluster; failing that, the caret goes to the nearest cluster edge on that side. (The
    // direction of its logical step is no guide there, and could send the caret back.)
    //
    // Where a line mixes right-to-left text with emoji or other characters outside the BMP,
    // QTextLayout's steps are not to be trusted at all (they stop inside surrogate pairs, and can go round in
    // circles), and the carets of the line are taken in the order of their x instead (then of their index
    // where two share one): every caret is reached once, and Left undoes Right. So are those of a
    // line that holds runs of both directions: QTextLayout places a wrapped line's end and start in
    // the line after and before it, and from a run of the other direction at the line's edge its
    // steps leave the line, jumping the carets of that run.
    //
    // Without `index`, the step enters the line from its far side: the caret furthest left for a
    // step right, furthest right for a step left.
    const auto xOrderStep = [&](const TextLayoutFragment& layout, const TextLineFragment& line,
                                std::optional<qint64> index) -> std::optional<std::optional<qint64>> {
        const bool layoutLeftToRight = layout.baseWritingDirection() != Qt::RightToLeft;
        const TextLocation layoutStart = layout.rangeInElement().location;
        const qint64 lineStart = line.characterRange().location;
        const qint64 lineEnd = std::min(line.characterRange().endLocation, layout.contentLength());
        if (line.isEstimated() || lineEnd - lineStart > searchWindow
            || (index && (*index < lineStart || *index > lineEnd)))
            return std::nullopt;
        const QString text = m_manager.textContentStorage()->substring(
            TextRange(layoutStart + lineStart, layoutStart + lineEnd));
        bool emoji = false;
        bool rightToLeftText = !layoutLeftToRight;
        bool otherDirection = false;
        for (const QChar c : text) {
            emoji = emoji || c.isSurrogate() || c.unicode() == 0x200D
                || (c.unicode() >= 0xFE00 && c.unicode() <= 0xFE0F)
                || u_hasBinaryProperty(c.unicode(), UCHAR_EXTENDED_PICTOGRAPHIC);
            const QChar::Direction direction = c.direction();
            const bool rightToLeft = direction == QChar::DirR || direction == QChar::DirAL
                || direction == QChar::DirAN || direction == QChar::DirRLE || direction == QChar::DirRLO
                || direction == QChar::DirRLI;
            // Numbers run left to right inside right-to-left text.
            const bool leftToRightRun = direction == QChar::DirL || direction == QChar::DirEN
                || direction == QChar::DirAN || direction == QChar::DirLRE || direction == QChar::DirLRO
                || direction == QChar::DirLRI;
            rightToLeftText = rightToLeftText || rightToLeft;
            otherDirection = otherDirection || (layoutLeftToRight ? rightToLeft : leftToRightRun);
        }
        // (Only wrapped rows have such edges: a long unwrapped line keeps QTextLayout's steps, which
        // cost far less than placing each of its carets.)
        const bool wrappedRowOfBothDirections
            = otherDirection && layout.visualLineCount() > 1 && lineEnd - lineStart <= wrappedRowLimit;
        if (!wrappedRowOfBothDirections && (!emoji || !rightToLeftText))
            return std::nullopt;
        // Carets that share an x are taken in reading order towards the line's end: the caret
        // before a wrapped line's closing spaces stands where the line's end does, and taken after
        // it was never reached, the move going on to the next row.
        const auto key = [&](qint64 at) {
            return std::pair { line.locationForCharacter(at).x(), layoutLeftToRight ? at : -at };
        };
        const std::optional<std::pair<double, qint64>> current
            = index ? std::optional(key(*index)) : std::nullopt;
        std::optional<std::pair<double, qint64>> best;
        GraphemeFinder carets(text);
        for (qsizetype at = 0; at >= 0; at = carets.toNextBoundary()) {
            const std::pair candidate = key(lineStart + at);
            if ((!current || (right ? candidate > *current : candidate < *current))
                && (!best || (right ? candidate < *best : candidate > *best)))
                best = candidate;
        }
        return best ? std::optional<qint64>(layoutLeftToRight ? best->second : -best->second) : std::nullopt;
    };
    const auto stepInXOrder
        = [&](const TextLineFragment& line, qint64 index) { return xOrderStep(fragment, line, index); };
    // Where a move past the end of this row lands: the near end of the next row in reading order.
    auto nextRow = [&]() -> std::optional<Target> {
        const bool down = right != isDocumentRightToLeft();
        std::shared_ptr<TextLayoutFragment> next = handle.fragment;
        qsizetype nextRowIndex = row + (down ? 1 : -1);
        if (nextRowIndex < 0 || nextRowIndex >= next->visualLineCount()) {
            next = m_manager.layoutFragment(fragment.layoutParagraphIndex() + (down ? 1 : -1), true);
            if (!next)
                return std::nullopt;
            nextRowIndex = down ? 0 : next->visualLineCount() - 1;
        }
        const auto [leftmost, rightmost] = next->visualLineEdges(nextRowIndex);
        Target result;
        qint64 index = right ? leftmost : rightmost;
        const TextLayoutFragment::VisualLine visual = next->visualLine(nextRowIndex);
        const TextLocation nextStart = next->rangeInElement().location;
        const qint64 nextRowEnd = std::min(visual.characterRange.endLocation, next->contentLength());
        const bool wraps = nextRowIndex + 1 < next->visualLineCount();
        // A row of both directions is entered at the caret its steps start from, which may not be
        // the one nearest its edge (the start of a row that opens with a run of the other
        // direction stands at its far end). The end of a wrapped row is the caret being left when
        // coming back from the start of the row after it, and is passed over then.
        const auto first = next->lineFragmentIndex(visual.characterRange.location);
        const auto last = next->lineFragmentIndex(nextRowEnd, TextSelection::Affinity::upstream);
        std::optional<std::optional<qint64>> entered;
        if (first && first == last) {
            const TextLineFragment line = next->lineFragment(*first);
            entered = xOrderStep(*next, line, std::nullopt);
            if (entered && *entered && wraps && **entered == nextRowEnd && nextStart + nextRowEnd == from) {
                if (const auto further = xOrderStep(*next, line, nextRowEnd); further && *further)
                    entered = further;
            }
        }
        if (entered && *entered) {
            index = **entered;
        } else if (wraps && right != (next->baseWritingDirection() != Qt::RightToLeft)
            && nextStart + nextRowEnd != from) {
            // Entered at its end from elsewhere than the next row's start (which opens with a run
            // of the other direction): the caret after its closing spaces is still to be seen.
            index = nextRowEnd;
        }
        result.location = nextStart + index;
        if (wraps && index == nextRowEnd)
            result.affinity = TextSelection::Affinity::upstream;
        return result;
    };
    auto landed = [&](const TextLineFragment& line, qint64 index) {
        Target result;
        result.location = start + index;
        if (!lastRow && index == rowEnd) {
            // The end of a wrapped row: shown there, unless going on is where the next row begins.
            // (In a row of both directions the end may stand inside the row, with carets still
            // to come on that side: the move goes on to them first.)
            const auto ordered = stepInXOrder(line, index);
            const auto next = ordered && *ordered ? std::nullopt : nextRow();
            if (next && next->location == result.location)
                return *next;
            result.affinity = TextSelection::Affinity::upstream;
        }
        return result;
    };
    auto step = [&](const TextLineFragment& line, qint64 index) -> std::optional<qint64> {
        if (const auto ordered = stepInXOrder(line, index))
            return *ordered;
        const std::optional<qint64> moved = line.visualStep(index, right);
        if (!moved)
            return std::nullopt;
        if (isGraphemeBoundary(start + *moved))
            return moved;
        const TextLocation clusterStart = previousCharacter(start + *moved);
        const TextLocation clusterEnd = nextCharacter(start + *moved);
        std::optional<qint64> further = moved;
        for (int steps = 0; steps < 64; ++steps) {
            further = line.visualStep(*further, right);
            if (!further || *further == index)
                break;
            if (isGraphemeBoundary(start + *further))
                return further;
            if (start + *further <= clusterStart || start + *further >= clusterEnd)
                break;
        }
        const double x = line.locationForCharacter(index).x();
        std::optional<qint64> best;
        double bestDistance = std::numeric_limits<double>::infinity();
        for (const TextLocation candidate : { previousCharacter(start + index), nextCharacter(start + index),
                 previousCharacter(start + *moved), nextCharacter(start + *moved) }) {
            const qint64 local = candidate - start;
            if (local == index || local < line.characterRange().location
                || local > std::min(line.characterRange().endLocation, fragment.contentLength()))
                continue;
            const double distance = (line.locationForCharacter(local).x() - x) * (right ? 1 : -1);
            if (distance > 0 && distance < bestDistance) {
                best = local;
                bestDistance = distance;
            }
        }
        if (best)
            return best;
        return (*moved > index ? nextCharacter(start + index) : previousCharacter(start + index)) - start;
    };

    const qint64 index = from - start;
    if (const auto moved = step(handle.line, index))
        return landed(handle.line, *moved);
    // The neighbouring line of the row on that side: lines run left to right in a left-to-right
    // paragraph and right to left in a right-to-left one.
    const qsizetype neighbour = handle.index + ((right == leftToRight) ? 1 : -1);
    if (neighbour >= 0 && neighbour < fragment.lineFragmentCount()
        && fragment.lineFragment(neighbour).visualLineIndex() == row) {
        const TextLineFragment line = fragment.lineFragment(neighbour);
        // Entered at its near side; where two pieces meet, that is where the caret already is.
        const qint64 edge = line.edgeIndex(!right);
        if (edge != index)
            return landed(line, edge);
        if (const auto moved = step(line, edge))
            return landed(line, *moved);
    }
    if (const auto next = nextRow()) {
        // A row cut inside a word ends where the next one begins: crossing there alone would pass
        // over no character, so the move goes on one caret along the row it reached, as a step
        // along a row past its end lands on the next row's start, never on the end it leaves.
        if (next->location == from) {
            const Target further = moveVisually(next->location, next->affinity, right, laidOut);
            if (further.location != from)
                return further;
        }
        return *next;
    }
    return target;
}

TextLocation TextSelectionNavigation::moveByWordVisually(TextLocation from, bool right)
{
    const Paragraph p = paragraphAt(from);
    const bool paragraphLeftToRight = !isRightToLeft(from);
    const bool logicalForward = right == paragraphLeftToRight;
    const bool travelForward = right != isDocumentRightToLeft();
    if (logicalForward == travelForward)
        return logicalForward ? nextWordEnd(from) : previousWordStart(from);
    // A paragraph of the other direction: through its words against the reading order, then on
    // to the next paragraph in reading order, entered at the side the move comes from.
    const auto within = logicalForward ? nextWordEndWithin(p, from) : previousWordStartWithin(p, from);
    if (within && *within != from)
        return *within;
    const Paragraph next = paragraph(p.index + (travelForward ? 1 : -1));
    // The last paragraph that way: its far side is the document's edge (the document's end or start
    // may lie on the other side of this very paragraph).
    if (next.index < 0)
        return logicalForward ? p.contentEnd : p.range.location;
    const bool nextLeftToRight = !isRightToLeft(next.range.location);
    return (right == nextLeftToRight) ? next.range.location : next.contentEnd;
}

TextSelectionNavigation::Target TextSelectionNavigation::move(TextLocation from,
    TextSelection::Affinity affinity, double keptX, Direction direction, Destination destination)
{
    Target target;
    target.location = from;
    const TextLocation end = m_manager.documentRange().endLocation;
    if (direction == Direction::up || direction == Direction::down) {
        if (destination == Destination::character || destination == Destination::line)
            return moveVertically(from, affinity, keptX, direction == Direction::up);
        direction = direction == Direction::up ? Direction::backward : Direction::forward;
    }
    const bool visual = direction == Direction::left || direction == Direction::right;
    const bool backward = isBackwardish(from, direction);
    switch (destination) {
    case Destination::character:
        if (visual)
            return moveVisually(from, affinity, direction == Direction::right);
        target.location = backward ? previousCharacter(from) : nextCharacter(from);
        return target;
    case Destination::word:
        if (visual)
            target.location = moveByWordVisually(from, direction == Direction::right);
        else
            target.location = backward ? previousWordStart(from) : nextWordEnd(from);
        return target;
    case Destination::line: {
        const TextLineFragmentHandle handle = m_manager.lineFragment(from, affinity);
        if (!handle)
            return target;
        const TextLayoutFragment& fragment = *handle.fragment;
        const qsizetype row = handle->visualLineIndex();
        const TextRange characters = fragment.visualLine(row).characterRange;
        const TextLocation start = fragment.rangeInElement().location;
        if (backward) {
            target.location = start + characters.location;
        } else {
            target.location = start + std::min(characters.endLocation, fragment.contentLength());
            // A row a line separator ends stops before it, as a paragraph's row stops before its line
            // end: past it the caret would stand at the next row's start.
            const QString last = characters.endLocation > characters.location && target.location > 0
                ? m_manager.textContentStorage()->substring(TextRange(target.location - 1, target.location))
                : QString();
            if (last == QChar(QChar::LineSeparator))
                target.location -= 1;
            else if (row + 1 < fragment.visualLineCount())
                target.affinity = TextSelection::Affinity::upstream;
        }
        return target;
    }
    case Destination::sentence:
        target.location = backward ? previousSentenceStart(from) : nextSentenceEnd(from);
        return target;
    case Destination::paragraph: {
        const Paragraph p = paragraphAt(from);
        if (backward) {
            // From a paragraph's start, to the start of the one before.
            target.location
                = from > p.range.location ? p.range.location : paragraph(p.index - 1).range.location;
        } else {
            // From a paragraph's end, to the end of the one after.
            const Paragraph next = from < p.contentEnd ? p : paragraph(p.index + 1);
            target.location = next.index >= 0 ? next.contentEnd : p.contentEnd;
        }
        return target;
    }
    case Destination::container:
    case Destination::document:
        target.location = backward ? 0 : end;
        return target;
    }
    return target;
}

std::optional<TextSelection> TextSelectionNavigation::destinationSelection(
    const TextSelection& selection, Direction direction, Destination destination, bool extending, bool)
{
    if (selection.textRanges.empty() || !m_manager.textContentStorage())
        return std::nullopt;
    const TextRange range = unionOf(selection.textRanges);
    const bool vertical = direction == Direction::up || direction == Direction::down;
    const double keptX = vertical ? selection.anchorPositionOffset : std::nan("");
    TextSelection result;
    if (!extending) {
        const bool backward = isBackwardish(range.location, direction);
        if (!range.isEmpty() && destination == Destination::character && !vertical) {
            result = TextSelection(TextLocation(backward ? range.location : range.endLocation));
            return result;
        }
        const TextLocation from
            = range.isEmpty() ? range.location : (backward ? range.location : range.endLocation);
        const Target target = move(from, selection.affinity, keptX, direction, destination);
        result = TextSelection(target.location, target.affinity);
        if (target.keepsX)
            result.anchorPositionOffset = target.x;
        return result;
    }
    const bool backward = isBackwardish(range.location, direction);
    const TextLocation anchor
        = selection.anchorLocation.value_or(backward ? range.endLocation : range.location);
    const TextLocation head = anchor == range.location ? range.endLocation : range.location;
    const Target target = move(head, selection.affinity, keptX, direction, destination);
    result = TextSelection(TextRange(anchor, target.location), target.affinity);
    result.anchorLocation = anchor;
    if (target.keepsX)
        result.anchorPositionOffset = target.x;
    return result;
}

std::vector<TextRange> TextSelectionNavigation::deletionRanges(
    const TextSelection& selection, Direction direction, Destination destination, bool allowsDecomposition)
{
    std::vector<TextRange> result;
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return result;
    for (const TextRange& range : selection.textRanges) {
        if (!range.isEmpty()) {
            result.push_back(range);
            continue;
        }
        TextLocation target;
        if (destination == Destination::character && allowsDecomposition
            && isBackwardish(range.location, direction) && range.location > 0) {
            // One code point back, never half of a surrogate pair or of a CRLF.
            const QString before
                = storage->substring(TextRange(std::max<qint64>(0, range.location - 2), range.location));
            target = range.location - 1;
            if (before.size() == 2
                && ((before[0].isHighSurrogate() && before[1].isLowSurrogate())
                    || (before[0] == u'\r' && before[1] == u'\n')))
                target = range.location - 2;
        } else {
            target = move(range.location, selection.affinity, std::nan(""), direction, destination).location;
        }
        if (target != range.location)
            result.push_back(TextRange(range.location, target));
    }
    return result;
}

TextSelection TextSelectionNavigation::textSelection(
    TextSelection::Granularity granularity, const TextSelection& enclosing)
{
    if (enclosing.textRanges.empty() || !m_manager.textContentStorage())
        return enclosing;
    const TextRange range = unionOf(enclosing.textRanges);
    const TextLocation last = range.isEmpty() ? range.location : range.endLocation - 1;
    TextRange result = range;
    switch (granularity) {
    case TextSelection::Granularity::character:
        break;
    case TextSelection::Granularity::word:
        result = wordRange(range.location).united(wordRange(last));
        break;
    case TextSelection::Granularity::paragraph:
        result = paragraphRange(range.location).united(paragraphRange(last));
        break;
    case TextSelection::Granularity::line: {
        const TextLineFragmentHandle first = m_manager.lineFragment(range.location, enclosing.affinity);
        const TextLineFragmentHandle end = m_manager.lineFragment(last);
        if (first && end) {
            const TextRange firstRow = first.fragment->visualLine(first->visualLineIndex()).characterRange;
            const TextRange lastRow = end.fragment->visualLine(end->visualLineIndex()).characterRange;
            result = TextRange(first.fragment->rangeInElement().location + firstRow.location,
                end.fragment->rangeInElement().location + lastRow.endLocation);
        }
        break;
    }
    }
    TextSelection selection(result, TextSelection::Affinity::downstream, granularity);
    selection.typingAttributes = enclosing.typingAttributes;
    return selection;
}

std::vector<TextSelection> TextSelectionNavigation::textSelections(QPointF point, TextLocation,
    const std::vector<TextSelection>& anchors, unsigned modifiers, bool selecting, QRectF bounds)
{
    TextSelection::Affinity affinity = TextSelection::Affinity::downstream;
    std::optional<TextLocation> location = m_manager.caretLocation(point, &affinity);
    if (!location)
        return {};
    // A drag above the text or below it reaches its start or its end, whatever the column.
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (selecting && storage && bounds.isValid()) {
        if (point.y() < bounds.top()) {
            location = 0;
            affinity = TextSelection::Affinity::downstream;
        } else if (point.y() >= bounds.bottom()) {
            location = storage->length();
            affinity = TextSelection::Affinity::downstream;
        }
    }
    if ((modifiers & extend) && !anchors.empty() && !anchors.front().textRanges.empty()) {
        const TextSelection& anchorSelection = anchors.front();
        const TextRange anchorRange = unionOf(anchorSelection.textRanges);
        const TextLocation anchor = anchorSelection.anchorLocation.value_or(
            *location < anchorRange.location ? anchorRange.endLocation : anchorRange.location);
        TextSelection selection(TextRange(anchor, *location), affinity);
        if (anchorSelection.granularity != TextSelection::Granularity::character) {
            const TextSelection::Granularity granularity = anchorSelection.granularity;
            selection = textSelection(granularity, selection);
            // The word (or paragraph) the selection grew from stays selected when the extension
            // turns to the other side of it: it lies on the side of the anchor the selection held.
            std::optional<TextRange> grownFrom;
            if (anchor == anchorRange.location && !anchorRange.isEmpty())
                grownFrom = TextRange(anchor, anchor + 1);
            else if (anchor == anchorRange.endLocation && !anchorRange.isEmpty())
                grownFrom = TextRange(anchor - 1, anchor);
            if (grownFrom) {
                const TextSelection unit = textSelection(granularity, TextSelection(*grownFrom));
                selection = TextSelection(unionOf(selection.textRanges).united(unionOf(unit.textRanges)),
                    TextSelection::Affinity::downstream, granularity);
            }
        }
        selection.anchorLocation = anchor;
        return { selection };
    }
    return { TextSelection(*location, affinity) };
}

} // namespace platform
