#include "app/screens/note/EDTextEditView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/ui/LineNumbers.h"

#include <QEvent>
#include <QFont>
#include <QVariant>

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
    view->installEventFilter(this);
    followWidgetFont();
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
    if (m_edits.apply) {
        // Read first, so that a screen rendering this observes the count even while a write-back
        // waits.
        const std::uint64_t replacement = m_edits.replacementCount();
        if (!coordinator().hasPendingText() && replacement != m_shownReplacement && m_text.get) {
            const QString bound = m_text.get();
            // A copy of the view's text only when the lengths leave the question open.
            if (bound.size() != textView()->textContentStorage().length() || bound != textView()->string())
                pushText(bound);
            m_shownReplacement = replacement;
        }
    } else if (!coordinator().hasPendingText() && m_text.get) {
        const QString bound = m_text.get();
        if (!sameText(bound, m_shownText)) {
            pushText(bound);
            m_shownText = bound;
        }
    }
    updateSelection(m_selection.get ? m_selection.get() : std::nullopt);
    updateEnabledAndWrapping(m_options);
}

void EDTextEditView::setEditBinding(EditBinding binding)
{
    m_edits = std::move(binding);
    // Held no longer: a copy kept here would make the bound text copy itself at the next edit.
    m_shownText = QString();
    keepEdits();
    // Whatever the count says now, the view is checked once against the bound text.
    m_shownReplacement = m_edits.replacementCount() + 1;
    updateView();
}

void EDTextEditView::pushText(const QString& text)
{
    // What the user did before is replaced with the rest of the view's text.
    takeEdits();
    push([&] { textView()->setString(text); });
}

void EDTextEditView::writeTextBack()
{
    if (!m_edits.apply)
        return writeWholeTextBack();
    auto edits = takeEdits();
    if (m_edits.replacementCount() != m_shownReplacement) {
        // The bound text was replaced under the waiting edits, which no longer fit it.
        writeWholeTextBack();
        m_shownReplacement = m_edits.replacementCount();
        return;
    }
    if (!edits.empty())
        m_edits.apply(std::move(edits));
    // An edit the view made without telling (none is known) shows as a length that disagrees.
    if (m_text.get && m_text.get().size() != textView()->textContentStorage().length())
        writeWholeTextBack();
}

void EDTextEditView::writeWholeTextBack()
{
    const QString text = textView()->string();
    if (!m_edits.apply)
        m_shownText = text;
    if (m_text.set)
        m_text.set(text);
}

void EDTextEditView::writeSelectionBack()
{
    if (m_selection.set)
        m_selection.set(textView()->selectedRange());
}

bool EDTextEditView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == textView() && event->type() == QEvent::FontChange)
        followWidgetFont();
    return TextViewHost::eventFilter(watched, event);
}

void EDTextEditView::followWidgetFont()
{
    // The text view sets its text in a font of its own, which the characters keep from when they
    // were made: a note would stay in the font it opened with when the application's font changes
    // (the desktop's setting, or QApplication::setFont). A note is plain text in the font its
    // widget inherits, as every other widget's text is. Fonts are not the note's content, so this
    // edits nothing.
    EDTextView* view = textView();
    const QFont font = view->QWidget::font();
    const QVariant typing = view->typingAttributes().value(platform::AttributeKey::font);
    if (typing.value<QFont>() == font && view->font() == font)
        return;
    view->setFont(font);
}
