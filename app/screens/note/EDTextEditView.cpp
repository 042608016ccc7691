#include "app/screens/note/EDTextEditView.h"

#include "EDTextView/EDTextView.h"
#include "EDTextView/ui/LineNumbers.h"

namespace {

// Equal texts, without comparing a long note character by character when both are the same copy.
bool sameText(const QString& a, const QString& b)
{
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

} // namespace

EDTextEditView::EDTextEditView(Binding<QString> text,
    Binding<std::optional<platform::CharacterRange>> selection, Options options,
    std::vector<std::shared_ptr<EDPlugin>> plugins, QWidget* parent)
    : TextViewHost(options, parent)
    , m_text(std::move(text))
    , m_selection(std::move(selection))
    , m_options(options)
{
    setObjectName(QStringLiteral("noteTextEditor"));
    EDTextView* view = textView();
    EDTextViewUI::showLineNumbers(*view);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    installPlugins(plugins);
    // The text is not set while making the view: the first update pushes it.
    updateView();
}

void EDTextEditView::updateView(
    Binding<QString> text, Binding<std::optional<platform::CharacterRange>> selection, Options options)
{
    m_text = std::move(text);
    m_selection = std::move(selection);
    m_options = options;
    updateView();
}

void EDTextEditView::updateView()
{
    if (!coordinator().hasPendingText() && m_text.get) {
        const QString bound = m_text.get();
        if (!sameText(bound, m_shownText)) {
            push([&] { textView()->setString(bound); });
            m_shownText = bound;
        }
    }
    updateSelection(m_selection.get ? m_selection.get() : std::nullopt);
    updateEnabledAndWrapping(m_options);
}

void EDTextEditView::writeTextBack()
{
    m_shownText = textView()->string();
    if (m_text.set)
        m_text.set(m_shownText);
}

void EDTextEditView::writeSelectionBack()
{
    if (m_selection.set)
        m_selection.set(textView()->selectedRange());
}
