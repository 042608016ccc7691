#pragma once

#include "EDTextView/ui/TextViewHost.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// The note editor's bridge to the text view: a text view with a line-number ruler, no scroll bars,
// its plain text and selection kept in step with two bindings of the screen that owns it. The
// screen keeps it across renders and hands it each new value with `updateView`.
//
// The bound text is pushed into the view only when it differs from what the view shows (the
// whole text is replaced, the caret kept where it can be, the undo history cleared), and never
// while the write-back of the user's own change is waiting for its turn; see TextViewCoordinator.
// Invariant: whenever no write-back is waiting, `m_shownText` is the view's text, so the check
// costs no copy of a long note.
class EDTextEditView : public EDTextViewUI::TextViewHost {
public:
    using Options = EDTextViewUI::TextViewOptions;
    template<typename T> using Binding = EDTextViewUI::Binding<T>;

    EDTextEditView(Binding<QString> text, Binding<std::optional<platform::CharacterRange>> selection,
        Options options = {}, std::vector<std::shared_ptr<EDPlugin>> plugins = {}, QWidget* parent = nullptr);

    // A new value from the owning screen. The selected-line highlight, the ruler and the plug-ins
    // stay as they were made; later options change wrapping only.
    void updateView(
        Binding<QString> text, Binding<std::optional<platform::CharacterRange>> selection, Options options);
    // The same value again, after the bound text or selection changed.
    void updateView();

protected:
    void writeTextBack() override;
    void writeSelectionBack() override;
    void environmentChanged() override { updateView(); }

private:
    Binding<QString> m_text;
    Binding<std::optional<platform::CharacterRange>> m_selection;
    Options m_options;
    QString m_shownText;
};
