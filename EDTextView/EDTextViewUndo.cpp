#include "EDTextView/EDTextView.h"

#include "EDTextView/CoalescingUndoManager.h"

#include <QGuiApplication>
#include <QInputMethod>

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
    platform::UndoManager* manager = undoManager();
    if (!manager || !m_isEditable)
        return;
    // Undo steps count offsets in the committed text: provisional text goes first.
    if (m_markedText) {
        unmarkText();
        QGuiApplication::inputMethod()->reset();
    }
    manager->undo();
}

void EDTextView::redo(QObject*)
{
    platform::UndoManager* manager = undoManager();
    if (!manager || !m_isEditable)
        return;
    if (m_markedText) {
        unmarkText();
        QGuiApplication::inputMethod()->reset();
    }
    manager->redo();
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
