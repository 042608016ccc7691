#include "EDTextView/CoalescingUndoManager.h"

#include "platform/text/TextContentStorage.h"

using platform::TextRange;

CoalescingUndoManager::CoalescingUndoManager(QObject* parent)
    : platform::UndoManager(parent)
{
    setMaximumUndoBytes(defaultMaximumUndoBytes);
}

void CoalescingUndoManager::coalesce(TextRange replaced, qint64 insertedLength,
    const platform::TextContentStorage& storage, const void* target, UndoAction undoAction, Deletion deletion,
    NoChangeCheck changesNothing)
{
    if (!isUndoRegistrationEnabled())
        return;
    if (m_coalescing && m_coalescing->value) {
        TypingTextUndo& run = *m_coalescing->value;
        if (replaced.isEmpty() && run.textRange.endLocation == replaced.location) {
            run.textRange = TextRange(run.textRange.location, replaced.location + insertedLength);
            m_coalescing->deleting = Deletion::none;
            return;
        }
        // The run puts back the text before what it now removes (Backspace) or after it (Delete).
        const bool deletesNext = deletion != Deletion::none && deletion == m_coalescing->deleting
            && insertedLength == 0 && !replaced.isEmpty() && run.textRange.isEmpty();
        const platform::TextLocation at = run.textRange.location;
        if (deletesNext && deletion == Deletion::backward && replaced.endLocation == at) {
            platform::AttributedString removed = storage.attributedString(replaced);
            if (run.attributedString)
                removed.append(*run.attributedString);
            run.attributedString = std::move(removed);
            run.textRange = TextRange(replaced.location);
            return;
        }
        if (deletesNext && deletion == Deletion::forward && replaced.location == at) {
            platform::AttributedString removed = run.attributedString.value_or(platform::AttributedString());
            removed.append(storage.attributedString(replaced));
            run.attributedString = std::move(removed);
            return;
        }
    }
    breakCoalescing();
    TypingTextUndo run;
    run.textRange = TextRange(replaced.location, replaced.location + insertedLength);
    if (!replaced.isEmpty())
        run.attributedString = storage.attributedString(replaced);
    const Deletion deleting = insertedLength == 0 && !replaced.isEmpty() ? deletion : Deletion::none;
    m_coalescing
        = Coalescing { std::move(run), std::move(undoAction), target, deleting, std::move(changesNothing) };
}

void CoalescingUndoManager::breakCoalescing()
{
    if (!isUndoRegistrationEnabled())
        return;
    std::optional<Coalescing> run = std::move(m_coalescing);
    m_coalescing.reset();
    if (!run || !run->value || !run->undoAction || isUndoing() || isRedoing())
        return;
    // Text deleted and typed again as it was: a step for it would make an Undo seem to do nothing.
    if (run->changesNothing && run->changesNothing(*run->value))
        return;
    // The run is a step of its own, not part of whatever the current event registers next.
    const bool grouped = groupsByEvent();
    setGroupsByEvent(false);
    beginUndoGrouping();
    const qint64 kept = run->value->attributedString ? run->value->attributedString->length() : 0;
    registerUndo(
        run->target, [action = run->undoAction, value = *run->value] { action(value); },
        kept * qint64(sizeof(QChar)));
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

QString CoalescingUndoManager::undoActionName() const
{
    if (m_coalescing && m_coalescing->value)
        return QString();
    return platform::UndoManager::undoActionName();
}

QString CoalescingUndoManager::redoActionName() const
{
    return m_coalescing ? QString() : platform::UndoManager::redoActionName();
}
