#include "EDTextView/EDTextView.h"

#include "EDTextView/CoalescingUndoManager.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "EDTextView/YankingManager.h"
#include "platform/foundation/NotificationCenter.h"

#include <QGuiApplication>
#include <QInputMethod>

#include <algorithm>

using platform::AttributedString;
using platform::CharacterRange;
using platform::TextRange;
using Direction = platform::TextSelectionNavigation::Direction;

namespace {

// Counts the edits under way, however they end.
class EditingScope {
public:
    explicit EditingScope(int& depth)
        : m_depth(++depth)
    {
    }
    ~EditingScope() { --m_depth; }
    EditingScope(const EditingScope&) = delete;
    EditingScope& operator=(const EditingScope&) = delete;

private:
    int& m_depth;
};

} // namespace

void EDTextView::replaceCharacters(
    TextRange range, const AttributedString& replacement, bool allowsTypingCoalescing)
{
    const qint64 length = m_textContentStorage->length();
    range = TextRange(
        std::clamp<qint64>(range.location, 0, length), std::clamp<qint64>(range.endLocation, 0, length));
    if (m_willChangeDepth > 0) {
        qWarning("EDTextView: an edit made while another edit was being announced was ignored");
        return;
    }
    const EditingScope editing(m_editingDepth);
    // An edit wholly before the provisional text keeps its places when that text goes (the
    // composition moves along and goes on); one at or after it does not.
    const bool committed = !(m_markedText && range.endLocation <= m_markedText->markedRange.location)
        && commitMarkedTextForEdit();
    registerUndo(range, replacement, allowsTypingCoalescing);
    changeText(range, replacement.length(), replacement.string(),
        [&] { m_textContentStorage->replaceCharacters(range, replacement); });
    // An edit at several carets, and an undo or redo step, place their carets once all is done.
    platform::UndoManager* manager = undoManager();
    if (!m_editingAtSeveralCarets && !(manager && (manager->isUndoing() || manager->isRedoing())))
        placeSelectionsOutsideCharacters(editDirection());
    // Told once the edit is done: the input method may answer at once.
    if (committed)
        QGuiApplication::inputMethod()->reset();
}

bool EDTextView::commitMarkedTextForEdit()
{
    // Provisional text comes and goes without undo steps. An edit beside it that leaves one (from
    // a host, a menu or the find bar; keys end the composition before) would count its places in
    // text that then loses the provisional characters, and undo would put text back elsewhere.
    // The provisional text becomes typed text instead, with a step of its own. Nothing moves, so
    // the ranges the caller holds stay right.
    if (!m_markedText || m_inputMethodEditing)
        return false;
    platform::UndoManager* manager = undoManager();
    if (!manager || !manager->isUndoRegistrationEnabled() || manager->isUndoing() || manager->isRedoing())
        return false;
    const auto marked = edtextview::textRange(m_markedText->markedRange, *m_textContentStorage);
    m_markedText.reset();
    if (marked && !marked->isEmpty()) {
        m_textContentStorage->performEditingTransaction(
            [&] { m_textContentStorage->setAttributes(m_typingAttributes, *marked); });
        registerUndo(TextRange(marked->location), m_textContentStorage->attributedString(*marked), false);
    }
    return true;
}

void EDTextView::changeText(
    TextRange range, qint64 newLength, const QString& replacement, const std::function<void()>& change)
{
    ++m_willChangeDepth;
    willChangeText();
    m_delegateProxy->textViewWillChangeText(*this, range, replacement);
    --m_willChangeDepth;

    const std::optional<QString> accessibleRemoved = accessibleTextBeingReplaced(range);
    // The primary selection keeps the text that was selected, whatever the edit does to it.
    settlePrimarySelectionOffer();
    ++m_textChanges;
    m_textContentStorage->performEditingTransaction(change);
    markedTextDidChange(range, newLength);
    notifyAccessibleTextChange(range.location, accessibleRemoved, replacement);

    m_delegateProxy->textViewDidChangeText(*this, range, replacement);
    setNeedsLayoutForEdit(TextRange(range.location, range.location + newLength));
    didChangeText();
    // The new text's range: the replaced one may reach past the end of the text now.
    textCheckingDidChangeText(CharacterRange {
        range.location, std::min<qint64>(newLength, m_textContentStorage->length() - range.location) });
}

void EDTextView::registerUndo(
    TextRange range, const AttributedString& replacement, bool allowsTypingCoalescing)
{
    platform::UndoManager* manager = undoManager();
    // An edit made while undo is not allowed moves the text under the steps kept from before.
    if (!manager && !m_allowsUndo && !(range.isEmpty() && replacement.length() == 0))
        clearUndoForNewText();
    if (!manager || !manager->isUndoRegistrationEnabled())
        return;
    // Nothing replaced by nothing (a yank or paste of an empty text) changes nothing: a step for it
    // would make the next Undo seem to do nothing.
    if (range.isEmpty() && replacement.length() == 0)
        return;
    auto* coalescing = dynamic_cast<CoalescingUndoManager*>(manager);
    const bool reverting = manager->isUndoing() || manager->isRedoing();
    QPointer<EDTextView> view(this);
    // A step is for the text it was made in: one that a delegate's new text overtook in the middle
    // of an undo (the rest of a group) would edit the new text at the old one's offsets.
    const quint64 textsSet = m_textsSet;
    if (coalescing && m_processingKeyEvent && allowsTypingCoalescing && !reverting) {
        using Deletion = CoalescingUndoManager::Deletion;
        const Deletion deletion = !m_deleteCommandInProgress ? Deletion::none
            : m_deletingBackward                             ? Deletion::backward
                                                             : Deletion::forward;
        coalescing->coalesce(
            range, replacement.length(), *m_textContentStorage, this,
            [view, textsSet](const TypingTextUndo& run) {
                if (view && view->m_textsSet == textsSet)
                    view->replaceCharacters(
                        run.textRange, run.attributedString.value_or(AttributedString()), false);
            },
            deletion,
            [view](const TypingTextUndo& run) {
                const AttributedString replaced = run.attributedString.value_or(AttributedString());
                return view && run.textRange.length() == replaced.length()
                    && run.textRange.endLocation <= view->m_textContentStorage->length()
                    && view->m_textContentStorage->attributedString(run.textRange) == replaced;
            });
        return;
    }
    if (coalescing && !reverting)
        coalescing->breakCoalescing();
    // What undoes this edit; while undoing it lands on the redo stack, and while redoing back on
    // the undo stack, so that undo and redo take turns.
    const TextRange newRange(range.location, range.location + replacement.length());
    const AttributedString oldText = m_textContentStorage->attributedString(range);
    manager->registerUndo(
        this,
        [view, newRange, oldText, textsSet, severalCarets = m_editingAtSeveralCarets] {
            if (!view || view->m_textsSet != textsSet)
                return;
            // The step that takes this one back is made at several carets too, or not.
            const bool wasEditing = view->m_editingAtSeveralCarets;
            view->m_editingAtSeveralCarets = severalCarets;
            if (!severalCarets)
                view->m_revertingAtSeveralCarets = false;
            view->replaceCharacters(newRange, oldText, false);
            view->m_editingAtSeveralCarets = wasEditing;
        },
        oldText.length() * qint64(sizeof(QChar)));
}

void EDTextView::markedTextDidChange(TextRange replaced, qint64 insertedLength)
{
    if (!m_markedText || m_inputMethodEditing)
        return;
    const qint64 markedStart = m_markedText->markedRange.location;
    const qint64 markedEnd = markedStart + m_markedText->markedRange.length;
    if (replaced.location >= markedEnd && !(replaced.isEmpty() && replaced.location == markedStart))
        return;
    if (replaced.endLocation <= markedStart) {
        const qint64 delta = insertedLength - replaced.length();
        m_markedText->markedRange.location += delta;
        m_markedText->selectedRange.location += delta;
        return;
    }
    // An edit into the provisional text: it becomes ordinary text and the input method starts over.
    m_markedText.reset();
    QGuiApplication::inputMethod()->reset();
}

void EDTextView::replaceCharacters(TextRange range, const QString& string)
{
    replaceCharacters(range, AttributedString(string, m_typingAttributes), false);
}

void EDTextView::replaceCharacters(CharacterRange range, const QString& string)
{
    m_textFinderClient->replaceCharacters(range, string);
}

void EDTextView::replaceCharacters(
    const std::vector<TextRange>& ranges, const QString& string, bool useTypingAttributes)
{
    replaceCharacters(ranges,
        AttributedString(string, useTypingAttributes ? m_typingAttributes : platform::TextAttributes()));
}

void EDTextView::replaceCharacters(const std::vector<TextRange>& ranges, const AttributedString& replacement)
{
    // Overlapping ranges would be edited at offsets the earlier edit already moved.
    std::vector<TextRange> merged = mergedTextRanges(ranges);
    if (merged.size() == 1) {
        replaceCharacters(merged.front(), replacement, true);
        return;
    }
    // At several carets the edit is one undo step: a typing run follows one caret only, and
    // would otherwise leave a step per caret, each giving a text the user never saw.
    // A pending run is a step of its own, registered before the group opens.
    breakUndoCoalescing();
    const EditingScope editing(m_editingDepth);
    platform::UndoManager* manager = undoManager();
    if (manager)
        manager->beginUndoGrouping();
    const bool wasEditing = m_editingAtSeveralCarets;
    m_editingAtSeveralCarets = true;
    // Each replacement tells the delegate, which may set a whole new text: the ranges left, and the
    // carets after them, are then in a text that is gone.
    const quint64 textsSet = m_textsSet;
    // The hooks told of each replacement may edit the text too (a plug-in closing a bracket): the
    // ranges still to replace, and the carets after those replaced, follow every change of theirs.
    std::vector<TextRange> pending = merged;
    std::vector<platform::TextLocation> ends;
    bool awaitingOwnChange = false;
    const QMetaObject::Connection following = connect(m_textContentStorage.get(),
        &platform::TextContentStorage::textDidChange, this, [&](TextRange replaced, qint64 newLength) {
            const qint64 delta = newLength - replaced.length();
            if (std::exchange(awaitingOwnChange, false)) {
                // The ranges left lie before this one; the carets made so far, after it.
                for (platform::TextLocation& end : ends)
                    end += delta;
                ends.push_back(replaced.location + newLength);
                return;
            }
            const auto moved = [&](platform::TextLocation at, bool insertionMoves) {
                if (at < replaced.location || (at == replaced.location && !insertionMoves))
                    return at;
                return at >= replaced.endLocation ? at + delta : replaced.location + newLength;
            };
            for (TextRange& range : pending) {
                const platform::TextLocation start = moved(range.location, true);
                range = TextRange(start, std::max(start, moved(range.endLocation, false)));
            }
            for (platform::TextLocation& end : ends)
                end = moved(end, true);
        });
    while (!pending.empty() && m_textsSet == textsSet) {
        const TextRange range = pending.back();
        pending.pop_back();
        awaitingOwnChange = !(range.isEmpty() && replacement.length() == 0);
        replaceCharacters(range, replacement, false);
        // Refused, or nothing for nothing: the caret stays where the range began.
        if (std::exchange(awaitingOwnChange, false))
            ends.push_back(range.location);
    }
    disconnect(following);
    m_editingAtSeveralCarets = wasEditing;
    if (manager)
        manager->endUndoGrouping();
    if (m_textsSet != textsSet)
        return;
    // A caret after each replacement. Carried through the edits instead, a selection that ends
    // where another caret stood would grow over that caret's new text, which the next key replaces.
    // The carets keep the selections' order: the next command (a kill going on with the run)
    // takes them in the order the user made them. The ends were made from the last range to the
    // first, one for each.
    std::reverse(ends.begin(), ends.end());
    std::vector<size_t> order;
    std::vector<char> placed(ends.size(), false);
    if (ends.size() == merged.size()) {
        for (const size_t owner : mergedIndices(ranges, merged)) {
            if (!std::exchange(placed[owner], true))
                order.push_back(owner);
        }
    }
    for (size_t index = 0; index < ends.size(); ++index) {
        if (!placed[index])
            order.push_back(index);
    }
    const Direction direction = editDirection();
    std::vector<platform::TextSelection> carets;
    for (const size_t index : order)
        carets.emplace_back(TextRange(caretOutsideCharacter(ends[index], direction)));
    m_textLayoutManager->setTextSelections(std::move(carets));
}

std::vector<size_t> EDTextView::mergedIndices(
    const std::vector<TextRange>& ranges, const std::vector<TextRange>& merged)
{
    std::vector<size_t> result;
    result.reserve(ranges.size());
    for (const TextRange& range : ranges) {
        // The merged ranges are sorted and apart: the one holding `range` starts at or before it,
        // and an equal one wins over one it only touches (a caret at a range's edge).
        auto it = std::upper_bound(merged.begin(), merged.end(), range.location,
            [](platform::TextLocation at, const TextRange& each) { return at < each.location; });
        std::optional<size_t> owner;
        while (it != merged.begin()) {
            --it;
            if (*it == range) {
                owner = size_t(it - merged.begin());
                break;
            }
            if (!owner && it->location <= range.location && range.endLocation <= it->endLocation)
                owner = size_t(it - merged.begin());
            if (it->endLocation < range.location)
                break;
        }
        result.push_back(owner.value_or(0));
    }
    return result;
}

bool EDTextView::shouldChangeText(TextRange range, const std::optional<QString>& replacement)
{
    if (!m_isEditable)
        return false;
    // A text the delegate or a plug-in changed while asked (a new text set, an undo) no longer
    // holds the edit's ranges: made there, the edit would land on other characters.
    const quint64 changes = m_textChanges;
    const bool allowed
        = m_delegateProxy->textViewShouldChangeText(*this, range, replacement.value_or(QString()));
    return allowed && m_textChanges == changes;
}

bool EDTextView::shouldChangeText(
    const std::vector<TextRange>& ranges, const std::optional<QString>& replacement)
{
    if (!m_isEditable)
        return false;
    for (const TextRange& range : ranges) {
        if (!shouldChangeText(range, replacement))
            return false;
    }
    return true;
}

void EDTextView::willChangeText()
{
    if (isIncrementalSearchingEnabled())
        m_textFinderClient->noteClientStringWillChange();
    const platform::Notification notification { textWillChangeNotification, this, {} };
    platform::NotificationCenter::defaultCenter().post(notification);
    m_delegateProxy->textWillChange(notification);
}

void EDTextView::didChangeText()
{
    m_needsScrollToSelection = true;
    requestLayoutPass();
    const platform::Notification notification { textDidChangeNotification, this, {} };
    platform::NotificationCenter::defaultCenter().post(notification);
    m_delegateProxy->textDidChange(notification);
    YankingManager& killRing = YankingManager::shared();
    killRing.yanking = false;
    // A delete command's own edit keeps the run of kills going.
    if (!m_deleteCommandInProgress)
        killRing.lastDeleteAction.reset();
}
