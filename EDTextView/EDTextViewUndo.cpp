#include "EDTextView/EDTextView.h"

#include "EDTextView/CoalescingUndoManager.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"

#include <QGuiApplication>
#include <QInputMethod>

#include <algorithm>

void EDTextView::breakUndoCoalescing()
{
    if (auto* manager = dynamic_cast<CoalescingUndoManager*>(undoManager()))
        manager->breakCoalescing();
}

bool EDTextView::isCoalescing() const
{
    auto* manager = dynamic_cast<CoalescingUndoManager*>(undoManager());
    return manager && manager->hasPendingRun();
}

void EDTextView::endTypingRunOnMove()
{
    if (m_editingDepth == 0)
        breakUndoCoalescing();
}

void EDTextView::undo(QObject*)
{
    revert(true);
}

void EDTextView::redo(QObject*)
{
    revert(false);
}

void EDTextView::revert(bool undo)
{
    platform::UndoManager* manager = undoManager();
    if (!manager || !m_isEditable)
        return;
    // Undo steps count offsets in the committed text: provisional text goes first.
    if (m_markedText) {
        unmarkText();
        QGuiApplication::inputMethod()->reset();
    }
    m_revertingAtSeveralCarets = true;
    const quint64 textsSet = m_textsSet;
    // After each change of the step, in the text as it is now. Followed change by change as the
    // text takes them, an edit a delegate makes while hearing of one (a selection moved by it) is
    // counted where it happened.
    std::vector<platform::TextLocation> carets;
    const QMetaObject::Connection following
        = connect(m_textContentStorage.get(), &platform::TextContentStorage::textDidChange, this,
            [&carets](platform::TextRange range, qint64 newLength) {
                const qint64 delta = newLength - range.length();
                for (platform::TextLocation& caret : carets) {
                    if (caret >= range.endLocation)
                        caret += delta;
                    else if (caret > range.location)
                        caret = range.location + newLength;
                }
                if (carets.size() <= mostRevertedCarets)
                    carets.push_back(range.location + newLength);
            });
    if (undo)
        manager->undo();
    else
        manager->redo();
    disconnect(following);
    // A new text that a delegate set during the step keeps the selection it came with: carets
    // counted partly in the old text may lie past its end.
    if (carets.empty() || !m_isSelectable || m_textsSet != textsSet)
        return;
    std::sort(carets.begin(), carets.end());
    carets.erase(std::unique(carets.begin(), carets.end()), carets.end());
    if (carets.size() > mostRevertedCarets || !m_revertingAtSeveralCarets)
        carets.resize(1);
    std::vector<platform::TextSelection> selections;
    for (const platform::TextLocation caret : carets) {
        selections.emplace_back(platform::TextRange(
            caretOutsideCharacter(caret, platform::TextSelectionNavigation::Direction::forward)));
    }
    m_textLayoutManager->setTextSelections(std::move(selections));
    updateTypingAttributes(carets.front());
    setNeedsLayout();
}

void EDTextView::clearUndoForNewText()
{
    // Undo allowed or not: once allowed again, the steps kept from before would edit the new text
    // at the old one's offsets.
    std::vector<platform::UndoManager*> managers { m_undoManager.get() };
    if (auto delegate = m_delegateProxy->source.lock()) {
        if (platform::UndoManager* manager = delegate->undoManager(*this))
            managers.push_back(manager);
    }
    for (platform::UndoManager* manager : managers) {
        // A manager the delegate shares between views may hold another view's run, still good.
        auto* coalescing = dynamic_cast<CoalescingUndoManager*>(manager);
        if (coalescing && coalescing->coalescing() && coalescing->coalescing()->target == this)
            coalescing->dropCoalescing();
        manager->removeAllActions(this);
    }
}
