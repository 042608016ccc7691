#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextRange.h"
#include "platform/text/UndoManager.h"

#include <functional>
#include <optional>

namespace platform {
class TextContentStorage;
}

// A typing run: the range its typed text occupies now and the text it replaced (none for empty).
struct TypingTextUndo {
    platform::TextRange textRange;
    std::optional<platform::AttributedString> attributedString;
};

// An undo manager that keeps the current typing run outside the undo stack while keys land at its
// end, and registers it as one undo step when the run is broken: by an edit elsewhere, an edit
// that may not coalesce, a deletion or replacement, `breakCoalescing`, or an undo.
//
// Insertions at its end extend a run. A key that replaces a selection or deletes text starts a run
// of its own, so that the text it removed is always put back by undo; further deletions the same
// way next to it (Backspace or Delete held down) join that run, their text with its text.
class CoalescingUndoManager : public platform::UndoManager {
    Q_OBJECT
public:
    using UndoAction = std::function<void(const TypingTextUndo&)>;
    // Whether undoing the run would leave the text as it is (the text it typed is the text it
    // replaced); such a run is dropped rather than registered.
    using NoChangeCheck = std::function<bool(const TypingTextUndo&)>;
    // Which way a delete command removes text, for deletions that may join a run of them.
    enum class Deletion { none, backward, forward };
    struct Coalescing {
        std::optional<TypingTextUndo> value;
        UndoAction undoAction;
        // Tags the registered step, so that a view can drop its own steps.
        const void* target = nullptr;
        // A run that has only deleted so far, and which way.
        Deletion deleting = Deletion::none;
        NoChangeCheck changesNothing;
    };

    // What the steps of a long session may keep before the oldest go: a dozen whole-text edits of
    // a 10 MB note, or a million typed words.
    static constexpr qint64 defaultMaximumUndoBytes = qint64(256) << 20;

    explicit CoalescingUndoManager(QObject* parent = nullptr);

    const std::optional<Coalescing>& coalescing() const { return m_coalescing; }
    bool hasPendingRun() const { return m_coalescing.has_value(); }

    // Joins the pending run when `replaced` is an insertion at its end, or a deletion `deletion`
    // way next to a run of such deletions; otherwise breaks it and starts a new one with the text
    // `replaced` holds in `storage` now (before the edit).
    void coalesce(platform::TextRange replaced, qint64 insertedLength,
        const platform::TextContentStorage& storage, const void* target, UndoAction undoAction,
        Deletion deletion = Deletion::none, NoChangeCheck changesNothing = {});
    // Registers the pending run as one undo step (nothing while registration is disabled, when the
    // run stays pending; nothing for a run that changes nothing, which goes).
    void breakCoalescing();
    // Forgets the pending run without registering it (its range no longer belongs to the text).
    void dropCoalescing() { m_coalescing.reset(); }

    bool canUndo() const override;
    // A pending run is newer than anything on the redo stack, which its registration clears.
    bool canRedo() const override;
    void undo() override;
    void redo() override;
    // A pending run is what Undo takes next, and it has no name; nothing is redone past it.
    QString undoActionName() const override;
    QString redoActionName() const override;

private:
    std::optional<Coalescing> m_coalescing;
};
