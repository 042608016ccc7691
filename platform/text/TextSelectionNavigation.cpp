#include "platform/text/TextSelectionNavigation.h"

#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"

#include <QTextBoundaryFinder>

#include <cmath>

namespace platform {

namespace {

TextRange unionOf(const std::vector<TextRange>& ranges)
{
    TextRange result = ranges.front();
    for (const TextRange& range : ranges)
        result = result.united(range);
    return result;
}

} // namespace

TextSelectionNavigation::TextSelectionNavigation(TextLayoutManager& manager)
    : m_manager(manager)
{
}

TextLocation TextSelectionNavigation::nextCharacter(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage || from >= storage->length())
        return storage ? storage->length() : 0;
    from = std::max<TextLocation>(from, 0);
    const qint64 index = storage->layoutParagraphIndex(from);
    const TextRange paragraph = storage->layoutParagraphRange(index);
    const QString text = storage->layoutParagraphText(index).string();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(int(from - paragraph.location));
    const qsizetype next = finder.toNextBoundary();
    return paragraph.location + (next < 0 ? text.size() : next);
}

TextLocation TextSelectionNavigation::previousCharacter(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage || from <= 0)
        return 0;
    from = std::min(from, storage->length());
    // The character before a paragraph start belongs to the previous paragraph.
    const qint64 index = storage->layoutParagraphIndex(from - 1);
    const TextRange paragraph = storage->layoutParagraphRange(index);
    const QString text = storage->layoutParagraphText(index).string();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(int(from - paragraph.location));
    const qsizetype previous = finder.toPreviousBoundary();
    return paragraph.location + std::max<qsizetype>(previous, 0);
}

TextLocation TextSelectionNavigation::nextWordEnd(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return 0;
    const qint64 count = storage->layoutParagraphCount();
    for (qint64 index = storage->layoutParagraphIndex(from); index < count; ++index) {
        const TextRange paragraph = storage->layoutParagraphRange(index);
        const QString content = storage->layoutParagraphText(index).string().left(
            paragraph.length() - storage->terminatorLength(index));
        const qint64 start = std::clamp<qint64>(from - paragraph.location, 0, content.size());
        QTextBoundaryFinder finder(QTextBoundaryFinder::Word, content);
        finder.setPosition(int(start));
        for (qsizetype boundary = finder.toNextBoundary(); boundary >= 0;
             boundary = finder.toNextBoundary()) {
            if (finder.boundaryReasons() & QTextBoundaryFinder::EndOfItem)
                return paragraph.location + boundary;
        }
        from = paragraph.endLocation;
    }
    return storage->length();
}

TextLocation TextSelectionNavigation::previousWordStart(TextLocation from) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return 0;
    for (qint64 index = storage->layoutParagraphIndex(from); index >= 0; --index) {
        const TextRange paragraph = storage->layoutParagraphRange(index);
        const QString content = storage->layoutParagraphText(index).string().left(
            paragraph.length() - storage->terminatorLength(index));
        const qint64 start = std::clamp<qint64>(from - paragraph.location, 0, content.size());
        QTextBoundaryFinder finder(QTextBoundaryFinder::Word, content);
        finder.setPosition(int(start));
        for (qsizetype boundary = finder.toPreviousBoundary(); boundary >= 0;
             boundary = finder.toPreviousBoundary()) {
            if (finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem)
                return paragraph.location + boundary;
        }
        if (index == 0)
            return 0;
        from = std::numeric_limits<TextLocation>::max();
    }
    return 0;
}

TextRange TextSelectionNavigation::wordRange(TextLocation at) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return {};
    const qint64 index = storage->layoutParagraphIndex(at);
    const TextRange paragraph = storage->layoutParagraphRange(index);
    const QString content = storage->layoutParagraphText(index).string().left(
        paragraph.length() - storage->terminatorLength(index));
    if (content.isEmpty())
        return TextRange(paragraph.location);
    qint64 position = std::clamp<qint64>(at - paragraph.location, 0, content.size());
    if (position == content.size())
        position -= 1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, content);
    finder.setPosition(int(position));
    qsizetype start = finder.isAtBoundary() ? position : finder.toPreviousBoundary();
    finder.setPosition(int(position));
    qsizetype end = finder.toNextBoundary();
    if (start < 0)
        start = 0;
    if (end < 0)
        end = content.size();
    return TextRange(paragraph.location + start, paragraph.location + end);
}

TextRange TextSelectionNavigation::paragraphRange(TextLocation at) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    return storage ? storage->layoutParagraphRange(storage->layoutParagraphIndex(at)) : TextRange();
}

void TextSelectionNavigation::enumerateComposedCharacterSequences(
    TextLocation from, const std::function<bool(const QString&, TextRange)>& body) const
{
    const TextContentStorage* storage = m_manager.textContentStorage();
    if (!storage)
        return;
    const qint64 count = storage->layoutParagraphCount();
    for (qint64 index = storage->layoutParagraphIndex(from); index < count; ++index) {
        const TextRange paragraph = storage->layoutParagraphRange(index);
        const QString text = storage->layoutParagraphText(index).string();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        qsizetype start = std::max<qint64>(from - paragraph.location, 0);
        finder.setPosition(int(start));
        if (!finder.isAtBoundary())
            start = finder.toPreviousBoundary();
        finder.setPosition(int(start));
        while (start < text.size()) {
            qsizetype end = finder.toNextBoundary();
            if (end < 0)
                end = text.size();
            if (!body(text.mid(start, end - start),
                    TextRange(paragraph.location + start, paragraph.location + end)))
                return;
            start = end;
        }
    }
}

bool TextSelectionNavigation::isRightToLeft(TextLocation at) const
{
    return m_manager.baseWritingDirection(at) == Qt::RightToLeft;
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
    TextLocation from, TextSelection::Affinity affinity, double keptX, bool up)
{
    Target target;
    target.keepsX = true;
    auto lookup = m_manager.lineFragment(from, affinity);
    if (!lookup.line)
        return target;
    const QRectF frame = lookup.fragment->layoutFragmentFrame();
    const double x = std::isnan(keptX) ? frame.left()
            + lookup.line->locationForCharacter(from - lookup.fragment->rangeInElement().location).x()
                                       : keptX;
    target.x = x;
    const auto& lines = lookup.fragment->textLineFragments();
    const qint64 lineIndex = lookup.line - lines.data();
    std::shared_ptr<TextLayoutFragment> fragment = lookup.fragment;
    const TextLineFragment* line = nullptr;
    if (up && lineIndex > 0) {
        line = &lines[size_t(lineIndex - 1)];
    } else if (!up && lineIndex + 1 < qint64(lines.size())) {
        line = &lines[size_t(lineIndex + 1)];
    } else {
        fragment = m_manager.layoutFragment(fragment->layoutParagraphIndex() + (up ? -1 : 1), true);
        if (!fragment) {
            target.location = up ? 0 : m_manager.documentRange().endLocation;
            return target;
        }
        line = up ? &fragment->textLineFragments().back() : &fragment->textLineFragments().front();
    }
    const qint64 contentLength = fragment->attributedString().length() - fragment->terminatorLength();
    qint64 index = line->characterIndex(
        QPointF(x - fragment->layoutFragmentFrame().left(), line->typographicBounds().center().y()));
    index = std::clamp<qint64>(
        index, line->characterRange().location, std::min(line->characterRange().endLocation, contentLength));
    target.location = fragment->rangeInElement().location + index;
    // A caret at the end of a wrapped line stays on that line.
    if (line != &fragment->textLineFragments().back() && index == line->characterRange().endLocation)
        target.affinity = TextSelection::Affinity::upstream;
    return target;
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
    case Destination::character: {
        if (visual) {
            auto fragment = m_manager.textLayoutFragment(from);
            if (fragment && fragment->textLayout().lineCount() > 0) {
                const int relative = int(from - fragment->rangeInElement().location);
                const int contentLength
                    = int(fragment->attributedString().length() - fragment->terminatorLength());
                if (relative <= contentLength) {
                    const int moved = direction == Direction::right
                        ? fragment->textLayout().rightCursorPosition(relative)
                        : fragment->textLayout().leftCursorPosition(relative);
                    // Shaping fallbacks can report a position inside a cluster; only a cluster
                    // boundary is a place for the caret.
                    QTextBoundaryFinder finder(
                        QTextBoundaryFinder::Grapheme, fragment->attributedString().string());
                    finder.setPosition(moved);
                    if (moved != relative && finder.isAtBoundary()) {
                        target.location = fragment->rangeInElement().location + moved;
                        return target;
                    }
                    if (moved != relative) {
                        target.location = moved > relative ? nextCharacter(from) : previousCharacter(from);
                        return target;
                    }
                }
            }
        }
        target.location = backward ? previousCharacter(from) : nextCharacter(from);
        return target;
    }
    case Destination::word:
        target.location = backward ? previousWordStart(from) : nextWordEnd(from);
        return target;
    case Destination::line: {
        auto lookup = m_manager.lineFragment(from, affinity);
        if (!lookup.line)
            return target;
        const TextLocation start = lookup.fragment->rangeInElement().location;
        const qint64 contentLength
            = lookup.fragment->attributedString().length() - lookup.fragment->terminatorLength();
        if (backward) {
            target.location = start + lookup.line->characterRange().location;
        } else {
            target.location = start + std::min(lookup.line->characterRange().endLocation, contentLength);
            if (lookup.line != &lookup.fragment->textLineFragments().back())
                target.affinity = TextSelection::Affinity::upstream;
        }
        return target;
    }
    case Destination::sentence:
    case Destination::paragraph: {
        const TextContentStorage* storage = m_manager.textContentStorage();
        const qint64 index = storage->layoutParagraphIndex(from);
        const TextRange paragraph = storage->layoutParagraphRange(index);
        target.location
            = backward ? paragraph.location : paragraph.endLocation - storage->terminatorLength(index);
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
        auto first = m_manager.lineFragment(range.location, enclosing.affinity);
        auto end = m_manager.lineFragment(last);
        if (first.line && end.line) {
            result
                = TextRange(first.fragment->rangeInElement().location + first.line->characterRange().location,
                    end.fragment->rangeInElement().location + end.line->characterRange().endLocation);
        }
        break;
    }
    }
    TextSelection selection(result, TextSelection::Affinity::downstream, granularity);
    selection.typingAttributes = enclosing.typingAttributes;
    return selection;
}

std::vector<TextSelection> TextSelectionNavigation::textSelections(
    QPointF point, TextLocation, const std::vector<TextSelection>& anchors, unsigned modifiers, bool, QRectF)
{
    const auto location = m_manager.caretLocation(point);
    if (!location)
        return {};
    if ((modifiers & extend) && !anchors.empty() && !anchors.front().textRanges.empty()) {
        const TextSelection& anchorSelection = anchors.front();
        const TextRange anchorRange = unionOf(anchorSelection.textRanges);
        const TextLocation anchor = anchorSelection.anchorLocation.value_or(
            *location < anchorRange.location ? anchorRange.endLocation : anchorRange.location);
        TextSelection selection(TextRange(anchor, *location));
        if (anchorSelection.granularity != TextSelection::Granularity::character)
            selection = textSelection(anchorSelection.granularity, selection);
        selection.anchorLocation = anchor;
        return { selection };
    }
    return { TextSelection(*location) };
}

} // namespace platform
