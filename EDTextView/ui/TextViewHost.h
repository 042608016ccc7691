#pragma once

#include "EDTextView/EDInsertionPointView.h"
#include "EDTextView/EDPlugin.h"
#include "EDTextView/EDTextViewDelegate.h"
#include "EDTextView/ui/TextViewOptions.h"
#include "platform/text/TextRange.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class EDTextView;

namespace EDTextViewUI {

// One replacement the user made in the view's text: `replaced` in the text as it was just before,
// and the characters put there.
struct TextEdit {
    platform::TextRange replaced;
    QString replacement;
};

// The delegate a host gives its text view: it carries the view's changes back into the host's
// bindings.
//
// A write-back runs on a later turn of the main queue, after the delegate call has returned, so no
// binding changes while a screen updates. Until it has run, the host's binding is older than the
// view, and the host pushes nothing of that kind (text, selection) into the view: a render that
// lands between a keystroke and its write-back would otherwise put the older text back over what
// the user typed. Changes made before one turn make one write-back, of the view as it is then.
// While the view holds an input method's provisional text, the write-back waits for its end.
// Main thread only.
class TextViewCoordinator : public EDTextViewDelegate,
                            public std::enable_shared_from_this<TextViewCoordinator> {
public:
    // Each reads the view and writes the host's binding.
    TextViewCoordinator(std::function<void()> writeText, std::function<void()> writeSelection);
    ~TextViewCoordinator() override;

    // True while the host pushes text or a selection into the view: the text changes that causes
    // are the host's own and are not written back. The selection is written back all the same (a
    // pushed text moves the caret), but it is the host's own and does not hold back later pushes.
    bool isUpdating = false;

    void setTextView(EDTextView* view);

    bool hasPendingText() const { return m_pendingText; }
    // A selection the user made that the binding does not hold yet.
    bool hasPendingSelection() const { return m_pendingSelection && m_userSelection; }
    // Runs a waiting text write-back now, so that whoever reads the binding next (a save) sees the
    // last keystroke. A composition in the view ends first (committed where the input method can).
    void commitPendingText();

    void textDidChange(const platform::Notification& notification) override;
    void textViewDidChangeSelection(const platform::Notification& notification) override;

private:
    void commitPendingSelection();

    std::function<void()> m_writeText;
    std::function<void()> m_writeSelection;
    QPointer<EDTextView> m_textView;
    bool m_pendingText = false;
    bool m_writeScheduled = false;
    bool m_pendingSelection = false;
    bool m_userSelection = false;
};

// What both declarative hosts of the text view share: a widget holding a scrollable text view with
// the host's coordinator as its delegate, and the update steps that do not depend on the kind of
// text bound. The owning screen keeps the host across its renders and hands it new values, so the
// text view, its undo history and its caret live as long as the host.
//
// The environment's enabled state is the host's own (QWidget::isEnabled, inherited from its
// ancestors); a change of it runs `environmentChanged`.
class TextViewHost : public QWidget {
public:
    ~TextViewHost() override;

    EDTextView* textView() const { return m_textView; }
    TextViewCoordinator& coordinator() const { return *m_coordinator; }
    // Writes a change of the text still waiting for its turn into the binding now.
    void commitPendingText() { m_coordinator->commitPendingText(); }

protected:
    // The first creation steps: the text view with the delegate, the selected-line highlight and
    // line wrapping of `options`, and the caret at the start.
    TextViewHost(TextViewOptions options, QWidget* parent);

    // The last creation step: plug-ins in list order.
    void installPlugins(const std::vector<std::shared_ptr<EDPlugin>>& plugins);

    // Runs `push` as the host's own change of the view (its text is not written back).
    void push(const std::function<void()>& change);
    // Once called, the host keeps the user's changes of the text as edits, oldest first, for a
    // write-back that hands on only what changed; the host's own pushes are not kept.
    void keepEdits();
    // The edits kept since the last call.
    std::vector<TextEdit> takeEdits() { return std::exchange(m_edits, {}); }
    // Selects `selection` unless the user's selection is waiting to be written back, the binding
    // holds none, or the view already has it. A range outside the text leaves the selection as it
    // is.
    void updateSelection(const std::optional<platform::CharacterRange>& selection);
    // Editable and selectable follow the enabled state; wrapping follows `options`.
    void updateEnabledAndWrapping(TextViewOptions options);

    virtual void writeTextBack() = 0;
    virtual void writeSelectionBack() = 0;
    virtual void environmentChanged() = 0;

    void changeEvent(QEvent* event) override;

private:
    std::shared_ptr<TextViewCoordinator> m_coordinator;
    EDTextView* m_textView;
    QMetaObject::Connection m_editKeeping;
    std::vector<TextEdit> m_edits;
};

} // namespace EDTextViewUI
