#include "EDTextView/EDTextFinderClient.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/AttributedString.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextViewportLayoutController.h"
#include "platform/text/UndoManager.h"

#include <QCoreApplication>
#include <QPainter>

#include <algorithm>

using platform::AttributedString;
using platform::CharacterRange;
using platform::TextAttributes;
using platform::TextLayoutManager;
using platform::TextRange;

namespace {

// The longest stretch of text one edit of a replace-all rewrites.
constexpr qint64 replacementSpanUnits = 64 * 1024;

// Where the selections stand once each of `replaced` (sorted, apart) holds `copyLength` units: a
// selection keeps the text it held and takes in whole copies where it reached into a replaced
// range; a caret inside one goes after its copy.
class SelectionsAfterReplacing {
public:
    SelectionsAfterReplacing(const std::vector<TextRange>& replaced, qint64 copyLength)
        : m_replaced(replaced)
        , m_copyLength(copyLength)
    {
        m_shiftBefore.reserve(replaced.size() + 1);
        m_shiftBefore.push_back(0);
        for (const TextRange& range : replaced)
            m_shiftBefore.push_back(m_shiftBefore.back() + copyLength - range.length());
    }

    std::vector<platform::TextSelection> operator()(std::vector<platform::TextSelection> selections) const
    {
        for (platform::TextSelection& selection : selections) {
            // The anchor is an end of a range, which it stays.
            const std::optional<platform::TextLocation> anchor = selection.anchorLocation;
            bool anchorMoved = false;
            for (TextRange& range : selection.textRanges) {
                const TextRange moved = range.isEmpty()
                    ? TextRange(caret(range.location))
                    : TextRange(
                        start(range.location), std::max(start(range.location), end(range.endLocation)));
                if (!anchorMoved && anchor && (*anchor == range.location || *anchor == range.endLocation)) {
                    selection.anchorLocation = *anchor == range.location ? moved.location : moved.endLocation;
                    anchorMoved = true;
                }
                range = moved;
            }
            if (anchor && !anchorMoved)
                selection.anchorLocation = caret(*anchor);
        }
        return selections;
    }

    qint64 lengthChange() const { return m_shiftBefore.back(); }

private:
    // The first replaced range that ends after `at`, or at it with `endingAtCounts`.
    size_t firstEndingAfter(qint64 at, bool endingAtCounts) const
    {
        const auto it = endingAtCounts
            ? std::lower_bound(m_replaced.begin(), m_replaced.end(), at,
                [](const TextRange& range, qint64 x) { return range.endLocation < x; })
            : std::upper_bound(m_replaced.begin(), m_replaced.end(), at,
                [](qint64 x, const TextRange& range) { return x < range.endLocation; });
        return size_t(it - m_replaced.begin());
    }
    qint64 copyStart(size_t i) const { return m_replaced[i].location + m_shiftBefore[i]; }
    qint64 start(qint64 at) const
    {
        const size_t i = firstEndingAfter(at, false);
        return i < m_replaced.size() && m_replaced[i].location <= at ? copyStart(i) : at + m_shiftBefore[i];
    }
    qint64 end(qint64 at) const
    {
        const size_t i = firstEndingAfter(at, true);
        return i < m_replaced.size() && m_replaced[i].location < at ? copyStart(i) + m_copyLength
                                                                    : at + m_shiftBefore[i];
    }
    qint64 caret(qint64 at) const
    {
        const size_t i = firstEndingAfter(at, false);
        return i < m_replaced.size() && m_replaced[i].location < at ? copyStart(i) + m_copyLength
                                                                    : at + m_shiftBefore[i];
    }

    const std::vector<TextRange>& m_replaced;
    qint64 m_copyLength;
    // The change in length the copies before each replaced range make.
    std::vector<qint64> m_shiftBefore;
};

} // namespace

QString EDTextFinderClient::string() const
{
    return textView ? textView->textContentStorage().string() : QString();
}

qint64 EDTextFinderClient::stringLength() const
{
    return textView ? textView->textContentStorage().length() : 0;
}

bool EDTextFinderClient::isSelectable() const
{
    return textView && textView->isSelectable();
}

bool EDTextFinderClient::isEditable() const
{
    return textView && textView->isEditable();
}

bool EDTextFinderClient::shouldReplaceCharacters(
    const std::vector<CharacterRange>& ranges, const QStringList& strings)
{
    if (!textView)
        return false;
    const size_t pairs = std::min(ranges.size(), size_t(strings.size()));
    for (size_t i = 0; i < pairs; ++i) {
        const auto range = edtextview::textRange(ranges[i], textView->textContentStorage());
        if (range && !textView->shouldChangeText(*range, strings[qsizetype(i)]))
            return false;
    }
    return true;
}

void EDTextFinderClient::replaceCharacters(CharacterRange range, const QString& string)
{
    if (!textView)
        return;
    const auto textRange = edtextview::textRange(range, textView->textContentStorage());
    if (!textRange || !textView->shouldChangeText(*textRange, string))
        return;
    textView->replaceCharacters(
        *textRange, AttributedString(string, textView->typingAttributes(textRange->location)), false);
}

std::vector<TextRange> EDTextFinderClient::replaceCharacters(
    const std::vector<CharacterRange>& ranges, const QString& string)
{
    if (!textView || !textView->isEditable())
        return {};
    const EDTextContentStorage& storage = textView->textContentStorage();
    std::vector<TextRange> textRanges;
    textRanges.reserve(ranges.size());
    for (const CharacterRange& range : ranges) {
        if (const auto converted = edtextview::textRange(range, storage))
            textRanges.push_back(*converted);
    }
    std::stable_sort(textRanges.begin(), textRanges.end(),
        [](const TextRange& a, const TextRange& b) { return a.location < b.location; });
    // A range overlapping the one before would be replaced in text that is already new.
    std::vector<TextRange> kept;
    kept.reserve(textRanges.size());
    for (const TextRange& range : textRanges) {
        if (kept.empty() || range.location >= kept.back().endLocation)
            kept.push_back(range);
    }
    if (kept.empty())
        return {};

    // Spans of ranges: each becomes one edit of the text from its first range's start to its last
    // range's end, the text between the ranges kept as it was. A span keeps within one of the
    // pieces the storage holds the text in, which an edit changes cheaply, and within a bound.
    std::vector<qint64> pieceEnds;
    storage.enumerateTextPieces(kept.front().location, [&](QStringView piece, qint64 start) {
        pieceEnds.push_back(start + piece.size());
        return start + piece.size() < kept.back().endLocation;
    });
    std::vector<std::pair<size_t, size_t>> spans;
    size_t piece = 0;
    for (size_t i = 0; i < kept.size(); ++i) {
        bool startsSpan
            = spans.empty() || kept[i].endLocation - kept[spans.back().first].location > replacementSpanUnits;
        while (piece < pieceEnds.size() && pieceEnds[piece] <= kept[i].location) {
            ++piece;
            startsSpan = true;
        }
        if (startsSpan)
            spans.emplace_back(i, i);
        spans.back().second = i;
    }

    // Typing attributes at a range's start depend on the character before it; runs of equal
    // attributes make equal typing attributes, which are worked out once.
    TextAttributes lastStored;
    TextAttributes lastTyping;
    bool haveLast = false;
    // `original` holds the text from `originalStart`, which a look-up in it finds faster.
    auto typingAttributesAt = [&](qint64 location, const AttributedString& original, qint64 originalStart) {
        const qint64 before = std::max<qint64>(location - 1, 0);
        const TextAttributes stored = before >= originalStart && before < originalStart + original.length()
            ? original.attributes(before - originalStart)
            : storage.attributes(before);
        if (!haveLast || stored != lastStored) {
            lastStored = stored;
            lastTyping = textView->typingAttributes(location);
            haveLast = true;
        }
        return lastTyping;
    };
    auto replacementOf = [&](const std::pair<size_t, size_t>& span) {
        const TextRange whole(kept[span.first].location, kept[span.second].endLocation);
        const AttributedString original = storage.attributedString(whole);
        const QStringView originalText = original.string();
        // Text in one style whose copies take that style too (a plain note) is put together as
        // plain text; anything else piece by piece with its attributes.
        bool oneStyle = original.runs().size() <= 1;
        const TextAttributes style
            = original.runs().empty() ? TextAttributes() : original.runs().front().attributes;
        QString text;
        text.reserve(whole.length()
            + qsizetype(span.second - span.first + 1)
                * std::max<qint64>(0, string.size() - kept[span.first].length()));
        qint64 position = whole.location;
        for (size_t i = span.first; i <= span.second; ++i) {
            text += originalText.mid(position - whole.location, kept[i].location - position);
            text += string;
            oneStyle = oneStyle && typingAttributesAt(kept[i].location, original, whole.location) == style;
            position = kept[i].endLocation;
        }
        if (oneStyle)
            return AttributedString(text, style);
        AttributedString replacement;
        position = whole.location;
        for (size_t i = span.first; i <= span.second; ++i) {
            if (kept[i].location > position)
                replacement.append(original.mid(position - whole.location, kept[i].location - position));
            replacement.append(
                AttributedString(string, typingAttributesAt(kept[i].location, original, whole.location)));
            position = kept[i].endLocation;
        }
        return replacement;
    };

    // A span rewrites the text between its ranges too, which would carry a selection there to the
    // span's end: the selections are put back where the copies leave them.
    const SelectionsAfterReplacing selectionsAfter(kept, string.size());
    const std::vector<platform::TextSelection> selectionsBefore
        = textView->textLayoutManager().textSelections();
    const qint64 expectedLength = storage.length() + selectionsAfter.lengthChange();

    // Text typed just before stays an undo step of its own, outside the group.
    textView->breakUndoCoalescing();
    platform::UndoManager* undoManager = textView->undoManager();
    if (undoManager)
        undoManager->beginUndoGrouping();
    // The last span first, so that the offsets of those before stay as they are.
    for (auto span = spans.rbegin(); span != spans.rend() && textView; ++span) {
        const TextRange whole(kept[span->first].location, kept[span->second].endLocation);
        textView->replaceCharacters(whole, replacementOf(*span), false);
    }
    if (undoManager) {
        undoManager->setActionName(QCoreApplication::translate("EDTextFinder", "Replace All"));
        undoManager->endUndoGrouping();
    }
    // Unless someone else changed the text as well, when the places are not known.
    if (textView && textView->textContentStorage().length() == expectedLength) {
        // A copy can join a CR before it to an LF after it: no caret is left between the two, where
        // the next key would split the line end again.
        std::vector<platform::TextSelection> selections = selectionsAfter(selectionsBefore);
        for (platform::TextSelection& selection : selections) {
            for (TextRange& range : selection.textRanges)
                range = edtextview::wholeCharacters(range, textView->textContentStorage());
        }
        textView->textLayoutManager().setTextSelections(std::move(selections));
        textView->updateSelectionHighlights();
    }
    // Where the copies stand now.
    std::vector<TextRange> placed;
    placed.reserve(kept.size());
    qint64 shift = 0;
    for (const TextRange& range : kept) {
        const qint64 start = range.location + shift;
        placed.emplace_back(start, start + string.size());
        shift += string.size() - range.length();
    }
    return placed;
}

CharacterRange EDTextFinderClient::firstSelectedRange() const
{
    if (!textView)
        return { 0, 0 };
    const auto& selections = textView->textLayoutManager().textSelections();
    if (selections.empty() || selections.front().textRanges.empty())
        return { 0, 0 };
    return edtextview::characterRange(selections.front().textRanges.front(), textView->textContentStorage());
}

std::vector<CharacterRange> EDTextFinderClient::selectedRanges() const
{
    std::vector<CharacterRange> result;
    if (!textView)
        return result;
    for (const auto& selection : textView->textLayoutManager().textSelections()) {
        if (selection.isTransient)
            continue;
        for (const TextRange& range : selection.textRanges)
            result.push_back(edtextview::characterRange(range, textView->textContentStorage()));
    }
    return result;
}

void EDTextFinderClient::setSelectedRanges(const std::vector<CharacterRange>& ranges)
{
    if (!textView)
        return;
    platform::TextSelection selection;
    for (const CharacterRange& range : ranges) {
        if (const auto converted = edtextview::textRange(range, textView->textContentStorage()))
            selection.textRanges.push_back(*converted);
    }
    // A selection of no ranges would leave the view without a caret.
    if (selection.textRanges.empty())
        return;
    selection.affinity = platform::TextSelection::Affinity::downstream;
    selection.granularity = platform::TextSelection::Granularity::character;
    textView->textLayoutManager().setTextSelections({ selection });
    textView->updateSelectionHighlights();
    textView->updateTypingAttributes();
}

void EDTextFinderClient::scrollRangeToVisible(CharacterRange range)
{
    if (!textView)
        return;
    if (const auto textRange = edtextview::textRange(range, textView->textContentStorage()))
        textView->scrollTextRangeToVisible(*textRange);
}

std::vector<CharacterRange> EDTextFinderClient::visibleCharacterRanges() const
{
    if (!textView)
        return {};
    const auto viewport = textView->textLayoutManager().textViewportLayoutController().viewportRange();
    if (!viewport)
        return {};
    return { edtextview::characterRange(*viewport, textView->textContentStorage()) };
}

std::optional<std::vector<QRectF>> EDTextFinderClient::rectsForCharacterRange(CharacterRange range) const
{
    if (!textView)
        return std::nullopt;
    const auto textRange = edtextview::textRange(range, textView->textContentStorage());
    if (!textRange)
        return std::nullopt;
    // Where the glyphs are drawn: a line-height multiple moves them up from the foot of their row.
    std::vector<QRectF> frames;
    edtextview::enumerateGlyphSegments(textView->textLayoutManager(), *textRange,
        TextLayoutManager::rangeNotRequired, [&](std::optional<TextRange>, QRectF frame, double) {
            frames.push_back(frame);
            return true;
        });
    return frames;
}

EDTextView* EDTextFinderClient::contentView(qint64, CharacterRange* effectiveRange) const
{
    if (textView && effectiveRange) {
        const EDTextContentStorage& storage = textView->textContentStorage();
        *effectiveRange = edtextview::characterRange(storage.documentRange(), storage);
    }
    return textView;
}

void EDTextFinderClient::drawCharacters(
    CharacterRange range, const QWidget* contentView, QPainter* painter) const
{
    if (!textView || contentView != textView || !painter)
        return;
    const auto textRange = edtextview::textRange(range, textView->textContentStorage());
    if (!textRange)
        return;
    const auto fragment = textView->textLayoutManager().textLayoutFragment(textRange->location);
    if (!fragment)
        return;
    fragment->draw(*painter, edtextview::pixelAligned(fragment->layoutFragmentFrame()).topLeft());
}

void EDTextFinderClient::noteClientStringWillChange()
{
    if (textView)
        textView->textFinder().noteClientStringWillChange();
}
