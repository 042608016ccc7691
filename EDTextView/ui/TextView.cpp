#include "EDTextView/ui/TextView.h"

#include "EDTextView/EDTextView.h"

#include <QApplication>
#include <QEvent>
#include <QVBoxLayout>

using platform::AttributedString;
using platform::ParagraphStyle;
using platform::TextAttributes;
namespace AttributeKey = platform::AttributeKey;

namespace EDTextViewUI {

const QFont& FontEnvironmentKey::defaultValue()
{
    static const QFont font = QApplication::font();
    return font;
}

TextViewRepresentable::TextViewRepresentable(Value value, QWidget* parent)
    : TextViewHost(value.options, parent)
    , m_parent(std::move(value))
{
    m_shownText = m_parent.text.get ? m_parent.text.get() : AttributedString();
    m_shownLineSpacing = m_parent.lineSpacing;
    push([&] { textView()->setAttributedString(styledText(textView()->typingAttributes())); });
    installPlugins(m_parent.plugins);
    updateView(m_parent);
}

AttributedString TextViewRepresentable::styledText(const TextAttributes& typingAttributes) const
{
    const AttributedString bound = m_parent.text.get ? m_parent.text.get() : AttributedString();
    const QVariant typingStyle = typingAttributes.value(AttributeKey::paragraphStyle);
    ParagraphStyle style
        = typingStyle.canConvert<ParagraphStyle>() ? typingStyle.value<ParagraphStyle>() : ParagraphStyle();
    if (style.lineSpacing == m_parent.lineSpacing)
        return bound;
    style.lineSpacing = m_parent.lineSpacing;
    TextAttributes typing = typingAttributes;
    typing.insert(AttributeKey::paragraphStyle, QVariant::fromValue(style));
    // A run keeps its own font, colour and paragraph settings; only the spacing changes, and what a
    // run does not say it takes from typing. Replacing the runs' values would flatten the text for
    // good once it is written back.
    AttributedString styled = bound;
    qsizetype start = 0;
    for (const auto& run : bound.runs()) {
        TextAttributes attributes = platform::mergedKeepingExisting(run.attributes, typing);
        const QVariant own = run.attributes.value(AttributeKey::paragraphStyle);
        if (own.canConvert<ParagraphStyle>()) {
            ParagraphStyle ownStyle = own.value<ParagraphStyle>();
            ownStyle.lineSpacing = m_parent.lineSpacing;
            attributes.insert(AttributeKey::paragraphStyle, QVariant::fromValue(ownStyle));
        }
        styled.setAttributes(attributes, start, run.length);
        start += run.length;
    }
    return styled;
}

void TextViewRepresentable::updateView(Value value)
{
    m_parent = std::move(value);
    EDTextView* view = textView();
    if (!coordinator().hasPendingText()) {
        const AttributedString bound = m_parent.text.get ? m_parent.text.get() : AttributedString();
        if (bound != m_shownText || m_parent.lineSpacing != m_shownLineSpacing) {
            push([&] { view->setAttributedString(styledText(view->typingAttributes())); });
            m_shownText = bound;
            m_shownLineSpacing = m_parent.lineSpacing;
        }
    }
    applyLineSpacingToNewText();
    updateSelection(m_parent.selection.get ? m_parent.selection.get() : std::nullopt);
    updateEnabledAndWrapping(m_parent.options);
    if (!view->font() || *view->font() != m_parent.font)
        view->setFont(m_parent.font);
}

void TextViewRepresentable::applyLineSpacingToNewText()
{
    // Text without a paragraph style of its own (typed into an empty view, or a bound text shown
    // as it is because the typing style already has the spacing) is laid out in the view's default
    // style, which therefore carries the spacing too.
    EDTextView* view = textView();
    ParagraphStyle style = view->defaultParagraphStyle().value_or(ParagraphStyle());
    if (style.lineSpacing == m_parent.lineSpacing)
        return;
    style.lineSpacing = m_parent.lineSpacing;
    view->setDefaultParagraphStyle(style);
    // Setting the default resets the typing style; where there is text, typing goes on in the
    // style of the text at the caret.
    view->updateTypingAttributes();
}

void TextViewRepresentable::writeTextBack()
{
    m_shownText = textView()->attributedString();
    if (m_parent.text.set)
        m_parent.text.set(m_shownText);
}

void TextViewRepresentable::writeSelectionBack()
{
    if (m_parent.selection.set)
        m_parent.selection.set(textView()->selectedRange());
}

void TextViewRepresentable::environmentChanged()
{
    updateView(m_parent);
}

TextView::TextView(Binding<AttributedString> text, Binding<std::optional<platform::CharacterRange>> selection,
    Options options, std::vector<std::shared_ptr<EDPlugin>> plugins, QWidget* parent)
    : QWidget(parent)
    , m_text(std::move(text))
    , m_selection(std::move(selection))
    , m_options(options)
    , m_plugins(std::move(plugins))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_representable = new TextViewRepresentable(value(), this);
    layout->addWidget(m_representable);
    setFocusProxy(m_representable);
}

TextViewRepresentable::Value TextView::value() const
{
    return { m_font, m_lineSpacing, m_text, m_selection, m_options, m_plugins };
}

TextView& TextView::textViewFont(const QFont& font)
{
    if (font != m_font) {
        m_font = font;
        updateView();
    }
    return *this;
}

TextView& TextView::lineSpacing(double points)
{
    if (points != m_lineSpacing) {
        m_lineSpacing = points;
        updateView();
    }
    return *this;
}

void TextView::updateView(Binding<AttributedString> text,
    Binding<std::optional<platform::CharacterRange>> selection, Options options)
{
    m_text = std::move(text);
    m_selection = std::move(selection);
    m_options = options;
    updateView();
}

void TextView::updateView()
{
    m_representable->updateView(value());
}

} // namespace EDTextViewUI
