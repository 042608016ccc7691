#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/UndoManager.h"

#include <QInputMethodEvent>

#include <algorithm>

using platform::AttributedString;
using platform::CharacterRange;
using platform::TextLayoutManager;
using platform::TextLocation;
using platform::TextRange;

namespace {

// Where a range of the text with the marked characters in it lies once they are gone.
CharacterRange withoutMarkedText(CharacterRange range, CharacterRange marked)
{
    const auto end = range.end();
    if (!end)
        return range;
    const qint64 markedEnd = marked.location + marked.length;
    auto map = [&](qint64 at) {
        if (at >= markedEnd)
            return at - marked.length;
        return std::min(at, marked.location);
    };
    const qint64 start = map(range.location);
    return { start, map(*end) - start };
}

// Keeps the provisional text of a composition out of undo: registration is off around its edits,
// and stays off when it already was.
class UndoRegistrationPause {
public:
    explicit UndoRegistrationPause(platform::UndoManager* manager)
        : m_manager(manager && manager->isUndoRegistrationEnabled() ? manager : nullptr)
    {
        if (m_manager)
            m_manager->disableUndoRegistration();
    }
    ~UndoRegistrationPause()
    {
        if (m_manager)
            m_manager->enableUndoRegistration();
    }
    UndoRegistrationPause(const UndoRegistrationPause&) = delete;
    UndoRegistrationPause& operator=(const UndoRegistrationPause&) = delete;

private:
    platform::UndoManager* m_manager;
};

template<typename T> class ValueRestorer {
public:
    ValueRestorer(T& variable, T value)
        : m_variable(variable)
        , m_saved(variable)
    {
        variable = value;
    }
    ~ValueRestorer() { m_variable = m_saved; }
    ValueRestorer(const ValueRestorer&) = delete;
    ValueRestorer& operator=(const ValueRestorer&) = delete;

private:
    T& m_variable;
    T m_saved;
};

// Surrounding text reported to input methods is bounded, however long the paragraph.
constexpr qint64 surroundingTextReach = 512;

// Whether Qt's cursor, the end of the selection that moves, is its start: the selection was
// extended backwards.
bool cursorIsSelectionStart(const std::vector<platform::TextSelection>& selections, CharacterRange selection)
{
    return !selection.isNotFound() && selection.length > 0 && !selections.empty()
        && selections.back().anchorLocation == selection.location + selection.length;
}

} // namespace

AttributedString EDTextView::markedAttributedString(const AttributedString& string) const
{
    platform::TextAttributes attributes = m_markedTextAttributes;
    for (auto it = m_typingAttributes.cbegin(); it != m_typingAttributes.cend(); ++it) {
        if (!attributes.contains(it.key()))
            attributes.insert(it.key(), it.value());
    }
    AttributedString result = string;
    result.removeAttribute(platform::AttributeKey::underlineColor, 0, result.length());
    result.addAttributes(attributes, 0, result.length());
    return result;
}

void EDTextView::replaceMarkedCharacters(TextRange range, const AttributedString& text)
{
    ValueRestorer<bool> editing(m_inputMethodEditing, true);
    UndoRegistrationPause pause(undoManager());
    replaceCharacters(range, text, false);
}

void EDTextView::setMarkedText(const QString& string, CharacterRange selected, CharacterRange replacement)
{
    setMarkedText(AttributedString(string), selected, replacement);
}

void EDTextView::setMarkedText(
    const AttributedString& input, CharacterRange selected, CharacterRange replacement)
{
    if (!m_isEditable)
        return;
    const AttributedString marked = markedAttributedString(input);
    const qint64 length = marked.length();
    const qint64 selectedStart = std::clamp<qint64>(selected.location, 0, length);
    const qint64 selectedLength = std::clamp<qint64>(selected.length, 0, length - selectedStart);
    // Removing the old text tells the delegate, which may set a whole new text: the provisional
    // text does not survive it, and the anchor taken before would lie in the old text.
    const quint64 textsSet = m_textsSet;
    qint64 anchor = 0;
    if (!replacement.isNotFound()) {
        // The input method turns committed text into marked text. Older provisional text goes
        // first; the committed text leaves as an ordinary, undoable edit, so that it can come back.
        if (m_markedText) {
            const CharacterRange old = m_markedText->markedRange;
            unmarkText();
            replacement = withoutMarkedText(replacement, old);
        }
        const auto target = edtextview::textRange(replacement, *m_textContentStorage);
        if (!target)
            return;
        if (!target->isEmpty()) {
            if (!shouldChangeText(*target, QString()))
                return;
            replaceCharacters(*target, AttributedString(QString(), m_typingAttributes), false);
        }
        anchor = target->location;
    } else if (m_markedText) {
        const CharacterRange old = m_markedText->markedRange;
        const auto oldRange = edtextview::textRange(old, *m_textContentStorage);
        if (!oldRange) {
            m_markedText.reset();
            return;
        }
        replaceMarkedCharacters(*oldRange, AttributedString(QString(), m_typingAttributes));
        anchor = old.location;
    } else {
        const CharacterRange caret = selectedRange();
        if (caret.isNotFound())
            return;
        anchor = caret.location;
    }
    if (m_textsSet != textsSet)
        return;
    m_markedText = MarkedText { marked, { anchor, length }, { anchor + selectedStart, selectedLength } };
    replaceMarkedCharacters(TextRange(anchor), marked);
}

void EDTextView::unmarkText()
{
    if (m_markedText) {
        const auto range = edtextview::textRange(m_markedText->markedRange, *m_textContentStorage);
        if (range && !range->isEmpty())
            replaceMarkedCharacters(*range, AttributedString(QString(), m_typingAttributes));
    }
    m_markedText.reset();
}

std::vector<TextRange> EDTextView::unmarkForInsertion(CharacterRange replacement)
{
    const std::optional<MarkedText> marked = m_markedText;
    unmarkText();
    if (replacement == CharacterRange::notFound())
        return edtextview::textRangesOfSelections(m_textLayoutManager->textSelections());
    // The input method counted the range in the text that still held its marked characters.
    if (marked)
        replacement = withoutMarkedText(replacement, marked->markedRange);
    if (const auto target = edtextview::textRange(replacement, *m_textContentStorage))
        return { *target };
    return {};
}

void EDTextView::insertText(const QString& string, CharacterRange replacement)
{
    if (!m_isEditable)
        return;
    const std::vector<TextRange> targets = unmarkForInsertion(replacement);
    if (shouldChangeText(targets, string))
        replaceCharacters(targets, string, true);
}

void EDTextView::insertText(const AttributedString& string, CharacterRange replacement)
{
    if (!m_isEditable)
        return;
    const std::vector<TextRange> targets = unmarkForInsertion(replacement);
    if (shouldChangeText(targets, string.string()))
        replaceCharacters(targets, string);
}

CharacterRange EDTextView::markedRange() const
{
    return m_markedText ? m_markedText->markedRange : CharacterRange::notFound();
}

CharacterRange EDTextView::selectedRange() const
{
    const auto range = selectedTextRange();
    if (!range)
        return CharacterRange::notFound();
    return edtextview::characterRange(*range, *m_textContentStorage);
}

std::optional<AttributedString> EDTextView::attributedSubstring(
    CharacterRange proposed, CharacterRange* actual) const
{
    // A start past the end is the end (so the answer is empty), not the document start: a stray
    // query must not copy the whole text.
    const qint64 length = m_textContentStorage->length();
    const TextLocation start = std::clamp<qint64>(proposed.location, 0, length);
    const auto end = proposed.end();
    const TextLocation stop = end && *end <= length ? std::max(start, *end) : length;
    const TextRange range(start, stop);
    if (range.isEmpty())
        return std::nullopt;
    if (actual)
        *actual = edtextview::characterRange(range, *m_textContentStorage);
    return edtextview::attributedString(*m_textContentStorage, range);
}

QRect EDTextView::firstRect(CharacterRange range) const
{
    const auto textRange = edtextview::textRange(range, *m_textContentStorage);
    if (!textRange)
        return {};
    std::optional<QRectF> first;
    edtextview::enumerateGlyphSegments(*m_textLayoutManager, *textRange, TextLayoutManager::rangeNotRequired,
        [&](std::optional<TextRange>, QRectF frame, double) {
            first = frame;
            return false;
        });
    if (!first)
        return {};
    const QPointF topLeft = viewport()->mapToGlobal(viewToViewport(first->topLeft()));
    return QRectF(topLeft, first->size()).toAlignedRect();
}

qint64 EDTextView::characterIndex(QPoint globalPoint) const
{
    const QPointF point = viewportToView(viewport()->mapFromGlobal(globalPoint));
    const auto location = edtextview::location(*m_textLayoutManager, point, 0);
    return location ? *location : CharacterRange::notFoundLocation;
}

void EDTextView::inputMethodEvent(QInputMethodEvent* event)
{
    if (!m_isEditable) {
        event->ignore();
        return;
    }
    // Committed text from an input method is typing, and joins the typing run.
    ValueRestorer<bool> processing(m_processingKeyEvent, true);
    const QString commit = event->commitString();
    if (!commit.isEmpty() || event->replacementLength() != 0) {
        CharacterRange replacement = CharacterRange::notFound();
        if (event->replacementLength() != 0 || event->replacementStart() != 0) {
            // Qt counts the replacement from the cursor it was told of, in the text without the
            // preedit.
            unmarkText();
            const CharacterRange caret = selectedRange();
            if (!caret.isNotFound()) {
                const qint64 cursor = cursorIsSelectionStart(m_textLayoutManager->textSelections(), caret)
                    ? caret.location
                    : caret.location + caret.length;
                const qint64 from = std::max<qint64>(0, cursor + event->replacementStart());
                replacement = { from, std::max(0, event->replacementLength()) };
            }
        }
        insertText(commit, replacement);
    }
    const QString preedit = event->preeditString();
    if (!preedit.isEmpty()) {
        qint64 cursor = preedit.size();
        for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
            if (attribute.type == QInputMethodEvent::Cursor)
                cursor = attribute.start;
        }
        setMarkedText(preedit, { cursor, 0 }, CharacterRange::notFound());
    } else if (m_markedText) {
        unmarkText();
    }
    event->accept();
}

QVariant EDTextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // Input methods keep their preedit out of the text they are told about; offsets here are in
    // the committed text.
    const CharacterRange marked = markedRange();
    auto committed = [&](qint64 at) {
        if (marked.isNotFound())
            return at;
        const qint64 markedEnd = marked.location + marked.length;
        return at >= markedEnd ? at - marked.length : std::min(at, marked.location);
    };
    const CharacterRange selection = selectedRange();
    // Qt's cursor is the end that moves and its anchor the end that stays: a selection extended
    // backwards has its cursor at its start, and the candidate window belongs there.
    const auto& selections = m_textLayoutManager->textSelections();
    const bool cursorIsStart = cursorIsSelectionStart(selections, selection);
    const TextLocation cursorInText = selection.isNotFound()
        ? 0
        : (cursorIsStart ? selection.location : selection.location + selection.length);
    const TextLocation anchorInText = selection.isNotFound()
        ? 0
        : (cursorIsStart ? selection.location + selection.length : selection.location);
    const qint64 caret = committed(cursorInText);
    const qint64 anchor = committed(anchorInText);
    // A cut made by the reach moves to a character's edge: never between the halves of a pair.
    auto wholeCharacterStart = [&](TextLocation at) {
        const QString pair
            = m_textContentStorage->substring(TextRange(std::max<TextLocation>(0, at - 1), at + 1));
        return pair.size() == 2 && pair[0].isHighSurrogate() && pair[1].isLowSurrogate() ? at + 1 : at;
    };
    auto wholeCharacterEnd = [&](TextLocation at) {
        const QString pair
            = m_textContentStorage->substring(TextRange(std::max<TextLocation>(0, at - 1), at + 1));
        return pair.size() == 2 && pair[0].isHighSurrogate() && pair[1].isLowSurrogate() ? at - 1 : at;
    };
    const TextLocation caretInText = m_markedText ? m_markedText->selectedRange.location : cursorInText;
    auto surrounding = [&]() -> std::pair<QString, qint64> {
        const auto paragraph
            = m_textContentStorage->paragraphAt(std::min(caretInText, m_textContentStorage->length()));
        if (!paragraph)
            return { QString(), 0 };
        const TextRange content = paragraph->paragraphContentRange;
        const TextLocation from
            = wholeCharacterStart(std::max(content.location, caretInText - surroundingTextReach));
        const TextLocation to
            = wholeCharacterEnd(std::min(content.endLocation, caretInText + surroundingTextReach));
        QString text = m_textContentStorage->substring(TextRange(from, std::max(from, to)));
        if (!marked.isNotFound()) {
            const qint64 start = std::clamp<qint64>(marked.location - from, 0, text.size());
            const qint64 end = std::clamp<qint64>(marked.location + marked.length - from, 0, text.size());
            text.remove(start, end - start);
        }
        return { text, committed(from) };
    };
    switch (query) {
    case Qt::ImEnabled:
        return m_isEditable;
    case Qt::ImReadOnly:
        return !m_isEditable;
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    case Qt::ImFont:
        return m_typingAttributes.value(platform::AttributeKey::font);
    case Qt::ImCursorRectangle:
    case Qt::ImAnchorRectangle: {
        // Where the caret is drawn: at a wrapped row's edge that is the row its affinity names. A
        // composition's candidates stay beside the composed text: on the row of the composed
        // character before its cursor, or of its first one when the cursor stands at its start
        // (which may open a row). The anchor stands where the highlight begins or ends.
        const bool cursor = query == Qt::ImCursorRectangle || m_markedText;
        const bool upstream = m_markedText
            ? caretInText > m_markedText->markedRange.location
            : (selections.empty()
                || (cursor ? selections.back().affinity == platform::TextSelection::Affinity::upstream
                           : anchorInText > selection.location));
        const auto frame = edtextview::glyphSegmentFrame(*m_textLayoutManager,
            TextRange(cursor ? caretInText : anchorInText),
            upstream ? TextLayoutManager::upstreamAffinity : 0u);
        if (!frame)
            return QRect();
        const QPointF topLeft = viewToViewport(frame->topLeft()) + viewport()->pos();
        return QRectF(topLeft, QSizeF(std::max(1.0, frame->width()), frame->height())).toAlignedRect();
    }
    case Qt::ImAbsolutePosition:
        return caret;
    case Qt::ImSurroundingText:
        return surrounding().first;
    case Qt::ImCursorPosition: {
        const auto [text, start] = surrounding();
        return int(std::clamp<qint64>(caret - start, 0, text.size()));
    }
    case Qt::ImAnchorPosition: {
        const auto [text, start] = surrounding();
        return int(std::clamp<qint64>(anchor - start, 0, text.size()));
    }
    case Qt::ImTextBeforeCursor: {
        const auto [text, start] = surrounding();
        return text.left(std::clamp<qint64>(caret - start, 0, text.size()));
    }
    case Qt::ImTextAfterCursor: {
        const auto [text, start] = surrounding();
        return text.mid(std::clamp<qint64>(caret - start, 0, text.size()));
    }
    case Qt::ImCurrentSelection: {
        if (selection.isNotFound() || selection.length == 0 || m_markedText)
            return QString();
        return m_textContentStorage->substring(TextRange(selection.location,
            wholeCharacterEnd(
                selection.location + std::min<qint64>(selection.length, surroundingTextReach))));
    }
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}
