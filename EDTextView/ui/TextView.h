#pragma once

#include "EDTextView/ui/TextViewHost.h"
#include "platform/text/AttributedString.h"

#include <QFont>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class EDTextView;

// A text view for declarative screens: the screen owns the text (an attributed string) and the
// selection, the view shows them and writes the user's changes back. The screen keeps one
// `TextView` across its renders and hands it new values with `updateView`; the text view inside lives
// as long as it does.
namespace EDTextViewUI {

// The environment key of the text view's font. Its default is the application's body font, made
// once per process.
struct FontEnvironmentKey {
    static const QFont& defaultValue();
};

// The host underneath `TextView`. Its value is what the view is asked to show; the coordinator
// writes the user's edits into the value's bindings.
//
// Text is pushed into the view only when the bound text (or the environment's line spacing)
// differs from what the view shows, and never while a write-back of the view's own change is
// waiting. An update for some other reason (the enabled state, a font) therefore keeps the caret,
// the scroll position and the undo history, and a keystroke is never replaced by the older
// binding.
class TextViewRepresentable : public TextViewHost {
public:
    // The enabled state is the widget's own.
    struct Value {
        QFont font = FontEnvironmentKey::defaultValue();
        // Points added below every line of the shown text and of what is typed into it.
        double lineSpacing = 0;
        Binding<platform::AttributedString> text;
        // None leaves the view's selection alone.
        Binding<std::optional<platform::CharacterRange>> selection;
        TextViewOptions options;
        std::vector<std::shared_ptr<EDPlugin>> plugins;
    };

    // Makes the text view and shows the bound text at once.
    explicit TextViewRepresentable(Value value, QWidget* parent = nullptr);

    // Brings the view in line with a new value. The selected-line highlight and the plug-ins stay
    // as they were made; later options change wrapping only.
    void updateView(Value value);

    // The bound text as the view shows it: with the environment's line spacing in every paragraph
    // style. Characters without attributes of their own take `typingAttributes`; characters with
    // their own keep them.
    platform::AttributedString styledText(const platform::TextAttributes& typingAttributes) const;

protected:
    void writeTextBack() override;
    void writeSelectionBack() override;
    void environmentChanged() override;

private:
    void applyLineSpacingToNewText();

    Value m_parent;
    // The bound text the view shows, and the line spacing it was shown with.
    platform::AttributedString m_shownText;
    double m_shownLineSpacing = 0;
};

// The public view: a `TextViewRepresentable` built from the environment (the enabled state is the
// widget's own, the font and line spacing are set with the modifiers below), the two bindings,
// the options and the plug-ins, on the standard text background.
class TextView : public QWidget {
public:
    using Options = TextViewOptions;

    TextView(Binding<platform::AttributedString> text,
        Binding<std::optional<platform::CharacterRange>> selection, Options options = {},
        std::vector<std::shared_ptr<EDPlugin>> plugins = {}, QWidget* parent = nullptr);

    // Modifiers: they set the environment's value and chain.
    TextView& textViewFont(const QFont& font);
    TextView& lineSpacing(double points);

    // A new value from the owning screen.
    void updateView(Binding<platform::AttributedString> text,
        Binding<std::optional<platform::CharacterRange>> selection, Options options);
    // The same value again, after the bound text or selection changed.
    void updateView();

    TextViewRepresentable* representable() const { return m_representable; }
    EDTextView* textView() const { return m_representable->textView(); }

private:
    TextViewRepresentable::Value value() const;

    Binding<platform::AttributedString> m_text;
    Binding<std::optional<platform::CharacterRange>> m_selection;
    Options m_options;
    std::vector<std::shared_ptr<EDPlugin>> m_plugins;
    QFont m_font = FontEnvironmentKey::defaultValue();
    double m_lineSpacing = 0;
    TextViewRepresentable* m_representable = nullptr;
};

} // namespace EDTextViewUI
