#include "EDTextView/EDTextView.h"

#include "EDTextView/CoalescingUndoManager.h"

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
    m_revertedCarets.emplace();
    m_revertingAtSeveralCarets = true;
    const quint64 textsSet = m_textsSet;
    if (undo)
        manager->undo();
    else
        manager->redo();
    std::vector<platform::TextLocation> carets = std::move(*m_revertedCarets);
    m_revertedCarets.reset();
    // A new text that a delegate set during the step keeps the selection it came with: carets
    // counted partly in the old text may lie past its end.
    if (carets.empty() || !m_isSelectable || m_textsSet != textsSet)
        return;
    std::sort(carets.begin(), carets.end());
    carets.erase(std::unique(carets.begin(), carets.end()), carets.end());
    if (carets.size() > mostRevertedCarets || !m_revertingAtSeveralCarets)
        carets.resize(1);
    std::vector<platform::TextSelection> selections;
    for (const platform::TextLocation caret : carets)
        selections.emplace_back(platform::TextRange(caret));
    m_textLayoutManager->setTextSelections(std::move(selections));
    updateTypingAttributes(carets.front());
    setNeedsLayout();
}

void EDTextView::clearUndoForNewText()
{
    platform::UndoManager* manager = undoManager();
    if (!manager)
        return;
    if (auto* coalescing = dynamic_cast<CoalescingUndoManager*>(manager))
        coalescing->dropCoalescing();
    manager->removeAllActions(this);
}
