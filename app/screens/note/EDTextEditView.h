#pragma once

#include "EDTextView/ui/TextViewHost.h"

#include <QString>

#include <cstdint>
#include <functional>
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
//
// With an edit binding (`setEditBinding`) a keystroke in a long text costs neither a copy nor a
// comparison of the whole text: the user's changes go back as edits, and the bound text is pushed
// only when the binding's replacement count moved (and then only when it differs from the view's).
class EDTextEditView : public EDTextViewUI::TextViewHost {
public:
    using Options = EDTextViewUI::TextViewOptions;
    template<typename T> using Binding = EDTextViewUI::Binding<T>;

    struct EditBinding {
        // Applies the user's edits, oldest first, to the bound text.
        std::function<void(std::vector<EDTextViewUI::TextEdit>)> apply;
        // Moves whenever the bound text is replaced other than through `apply` or the text binding's
        // `set` (a load).
        std::function<std::uint64_t()> replacementCount;
    };

    EDTextEditView(Binding<QString> text, Binding<std::optional<platform::CharacterRange>> selection,
        Options options = {}, std::vector<std::shared_ptr<EDPlugin>> plugins = {}, QWidget* parent = nullptr);

    // A new value from the owning screen. The selected-line highlight, the ruler and the plug-ins
    // stay as they were made; later options change wrapping only.
    void updateView(
        Binding<QString> text, Binding<std::optional<platform::CharacterRange>> selection, Options options);
    // The same value again, after the bound text or selection changed.
    void updateView();

    // From now on the user's changes are written back through `binding.apply`. The text binding
    // stays for reading and for the rare whole write-back: when the bound text was replaced while
    // edits were waiting (the view's text wins, as it would without edits), or when its length
    // disagrees with the view's after the edits.
    void setEditBinding(EditBinding binding);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void writeTextBack() override;
    void writeSelectionBack() override;
    void environmentChanged() override { updateView(); }

private:
    void pushText(const QString& text);
    void followWidgetFont();
    void writeWholeTextBack();

    Binding<QString> m_text;
    Binding<std::optional<platform::CharacterRange>> m_selection;
    Options m_options;
    QString m_shownText;
    EditBinding m_edits;
    // The edit binding's replacement count when the view last took or gave the bound text.
    std::uint64_t m_shownReplacement = 0;
};
