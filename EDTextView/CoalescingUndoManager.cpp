#include "EDTextView/CoalescingUndoManager.h"

#include "platform/text/TextContentStorage.h"

using platform::TextRange;

CoalescingUndoManager::CoalescingUndoManager(QObject* parent)
    : platform::UndoManager(parent)
{
}

void CoalescingUndoManager::coalesce(TextRange replaced, qint64 insertedLength,
    const platform::TextContentStorage& storage, const void* target, UndoAction undoAction)
{
    if (!isUndoRegistrationEnabled())
        return;
    if (m_coalescing && m_coalescing->value && replaced.isEmpty()
        && m_coalescing->value->textRange.endLocation == replaced.location) {
        TypingTextUndo& run = *m_coalescing->value;
        run.textRange = TextRange(run.textRange.location, replaced.location + insertedLength);
        return;
    }
    breakCoalescing();
    TypingTextUndo run;
    run.textRange = TextRange(replaced.location, replaced.location + insertedLength);
    if (!replaced.isEmpty())
        run.attributedString = storage.attributedString(replaced);
    m_coalescing = Coalescing { std::move(run), std::move(undoAction), target };
}

void CoalescingUndoManager::breakCoalescing()
{
    if (!isUndoRegistrationEnabled())
        return;
    std::optional<Coalescing> run = std::move(m_coalescing);
    m_coalescing.reset();
    if (!run || !run->value || !run->undoAction || isUndoing() || isRedoing())
        return;
    // The run is a step of its own, not part of whatever the current event registers next.
    const bool grouped = groupsByEvent();
    setGroupsByEvent(false);
    beginUndoGrouping();
    registerUndo(run->target, [action = run->undoAction, value = *run->value] { action(value); });
    endUndoGrouping();
    setGroupsByEvent(grouped);
}

bool CoalescingUndoManager::canUndo() const
{
    return platform::UndoManager::canUndo() || (m_coalescing && m_coalescing->value);
}

bool CoalescingUndoManager::canRedo() const
{
    return !m_coalescing && platform::UndoManager::canRedo();
}

void CoalescingUndoManager::undo()
{
    // Registering the run first lets the ordinary undo take it back, and put its redo on the
    // redo stack.
    breakCoalescing();
    platform::UndoManager::undo();
}

void CoalescingUndoManager::redo()
{
    if (m_coalescing) {
        breakCoalescing();
        return;
    }
    platform::UndoManager::redo();
}
