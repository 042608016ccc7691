#include "EDTextView/ui/TextViewHost.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextView.h"
#include "platform/foundation/DispatchQueue.h"

#include <QEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QVBoxLayout>

namespace EDTextViewUI {

TextViewCoordinator::TextViewCoordinator(
    std::function<void()> writeText, std::function<void()> writeSelection)
    : m_writeText(std::move(writeText))
    , m_writeSelection(std::move(writeSelection))
{
}

TextViewCoordinator::~TextViewCoordinator() = default;

void TextViewCoordinator::setTextView(EDTextView* view)
{
    m_textView = view;
}

void TextViewCoordinator::textDidChange(const platform::Notification& notification)
{
    if (!m_textView || notification.sender != m_textView.data() || isUpdating)
        return;
    // Set now, not when the write-back runs: an update before then must not push the older text.
    m_pendingText = true;
    if (m_writeScheduled)
        return;
    m_writeScheduled = true;
    std::weak_ptr<TextViewCoordinator> weak = weak_from_this();
    platform::DispatchQueue::main()->async([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->m_writeScheduled = false;
        // An input method's provisional text is not the user's yet: the write-back waits for the
        // commit or the cancel, whose change schedules it again.
        if (self->m_textView && self->m_textView->hasMarkedText())
            return;
        self->commitPendingText();
    });
}

void TextViewCoordinator::commitPendingText()
{
    if (m_textView && m_textView->hasMarkedText()) {
        // Whoever reads the binding now (a save, a close) gets the composition committed, or, when
        // the input method does not answer, without it.
        if (m_textView->hasFocus())
            QGuiApplication::inputMethod()->commit();
        if (m_textView && m_textView->hasMarkedText()) {
            m_textView->unmarkText();
            QGuiApplication::inputMethod()->reset();
        }
    }
    if (!m_pendingText)
        return;
    m_pendingText = false;
    if (m_textView && m_writeText)
        m_writeText();
}

void TextViewCoordinator::textViewDidChangeSelection(const platform::Notification& notification)
{
    // Written back whatever `isUpdating` says: a pushed text moves the caret too.
    if (!m_textView || notification.sender != m_textView.data())
        return;
    m_userSelection = m_userSelection || !isUpdating;
    if (m_pendingSelection)
        return;
    m_pendingSelection = true;
    std::weak_ptr<TextViewCoordinator> weak = weak_from_this();
    platform::DispatchQueue::main()->async([weak] {
        if (auto self = weak.lock())
            self->commitPendingSelection();
    });
}

void TextViewCoordinator::commitPendingSelection()
{
    if (!m_pendingSelection)
        return;
    m_pendingSelection = false;
    m_userSelection = false;
    if (m_textView && m_writeSelection)
        m_writeSelection();
}

TextViewHost::TextViewHost(TextViewOptions options, QWidget* parent)
    : QWidget(parent)
{
    QPointer<TextViewHost> self(this);
    m_coordinator = std::make_shared<TextViewCoordinator>(
        [self] {
            if (self)
                self->writeTextBack();
        },
        [self] {
            if (self)
                self->writeSelectionBack();
        });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_textView = EDTextView::scrollableTextView(QRect(), this);
    // The host's owner frames it (a split, a window); a border of its own would double that.
    m_textView->setFrameShape(QFrame::NoFrame);
    layout->addWidget(m_textView);
    setFocusProxy(m_textView);
    m_coordinator->setTextView(m_textView);
    m_textView->setDelegate(m_coordinator);
    m_textView->setHighlightSelectedLine(options.contains(TextViewOptions::highlightSelectedLine));
    m_textView->setWidthTracksTextView(options.contains(TextViewOptions::wrapLines));
    m_textView->setSelectedRange(platform::CharacterRange { 0, 0 });
}

TextViewHost::~TextViewHost()
{
    // The view goes with this widget; a write-back still queued finds no view and does nothing.
    m_coordinator->setTextView(nullptr);
    // The view outlives this object's members by a moment.
    disconnect(m_editKeeping);
}

void TextViewHost::installPlugins(const std::vector<std::shared_ptr<EDPlugin>>& plugins)
{
    for (const auto& plugin : plugins)
        m_textView->addPlugin(plugin);
}

void TextViewHost::push(const std::function<void()>& change)
{
    m_coordinator->isUpdating = true;
    change();
    m_coordinator->isUpdating = false;
}

void TextViewHost::keepEdits()
{
    if (m_editKeeping)
        return;
    platform::TextContentStorage& storage = m_textView->textContentStorage();
    m_editKeeping = connect(&storage, &platform::TextContentStorage::textDidChange, this,
        [this, &storage](platform::TextRange replaced, qint64 newLength) {
            if (m_coordinator->isUpdating)
                return;
            const platform::TextRange inserted(replaced.location, replaced.location + newLength);
            m_edits.push_back({ replaced, storage.substring(inserted) });
        });
}

void TextViewHost::updateSelection(const std::optional<platform::CharacterRange>& selection)
{
    if (!selection || m_coordinator->hasPendingSelection() || *selection == m_textView->selectedRange())
        return;
    const auto end = selection->end();
    if (!end || *end > m_textView->textContentStorage().length())
        return;
    push([&] { m_textView->setSelectedRange(*selection); });
}

void TextViewHost::updateEnabledAndWrapping(TextViewOptions options)
{
    const bool enabled = isEnabled();
    if (m_textView->isEditable() != enabled)
        m_textView->setIsEditable(enabled);
    if (m_textView->isSelectable() != enabled)
        m_textView->setIsSelectable(enabled);
    const bool wraps = options.contains(TextViewOptions::wrapLines);
    if (m_textView->widthTracksTextView() != wraps)
        m_textView->setWidthTracksTextView(wraps);
}

void TextViewHost::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        environmentChanged();
}

} // namespace EDTextViewUI
