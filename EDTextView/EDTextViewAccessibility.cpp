#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextViewAccessible.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/GraphemeClusters.h"

#include <QAccessible>
#include <QCoreApplication>

#include <utility>

using platform::AttributedString;
using platform::CharacterRange;
using platform::TextLocation;
using platform::TextRange;

QString EDTextView::accessibilityLabel()
{
    return QCoreApplication::translate("EDTextView", "Text Editor");
}

QString EDTextView::accessibilityValue() const
{
    return m_textContentStorage->string();
}

void EDTextView::setAccessibilityValue(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return;
    // An assistive technology edits for the user: a read-only view and the delegate's veto hold,
    // and the old text stays one Undo away.
    const QString text = value.toString();
    const TextRange whole = m_textContentStorage->documentRange();
    if (!shouldChangeText(whole, text))
        return;
    replaceCharacters(whole, AttributedString(text, typingAttributes(0)), false);
}

std::optional<AttributedString> EDTextView::accessibilityAttributedString(CharacterRange range) const
{
    return attributedSubstring(range);
}

std::optional<QString> EDTextView::accessibilityString(CharacterRange range) const
{
    const auto text = attributedSubstring(range);
    if (!text)
        return std::nullopt;
    return text->string();
}

CharacterRange EDTextView::accessibilityVisibleCharacterRange() const
{
    const auto range = m_textLayoutManager->textViewportLayoutController().viewportRange();
    if (!range)
        return { 0, 0 };
    return edtextview::characterRange(*range, *m_textContentStorage);
}

qint64 EDTextView::accessibilityNumberOfCharacters() const
{
    // Paragraph by paragraph, so that a large text is never copied whole; a cluster never spans
    // two paragraphs (CR LF is one paragraph's terminator).
    qint64 count = 0;
    const qint64 paragraphs = m_textContentStorage->layoutParagraphCount();
    for (qint64 index = 0; index < paragraphs; ++index) {
        const QString text
            = m_textContentStorage->substring(m_textContentStorage->layoutParagraphRange(index));
        platform::GraphemeFinder finder(text);
        while (finder.toNextBoundary() > 0)
            ++count;
    }
    return count;
}

QString EDTextView::accessibilitySelectedText() const
{
    QString result;
    bool first = true;
    for (const TextRange& range : edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true)) {
        if (!first)
            result += u'\n';
        first = false;
        result += edtextview::substringByComposedSequences(*m_textLayoutManager, range);
    }
    return result;
}

void EDTextView::setAccessibilitySelectedTextRange(CharacterRange range)
{
    setSelectedRange(range);
}

std::optional<QString> EDTextView::accessibleTextBeingReplaced(TextRange range) const
{
    if (!QAccessible::isActive())
        return std::nullopt;
    return m_textContentStorage->substring(range);
}

void EDTextView::notifyAccessibleTextChange(
    TextLocation at, const std::optional<QString>& removed, const QString& inserted)
{
    // The text is sent only while it is fresh: an assistive technology that starts listening
    // later reads the text itself.
    if (!removed || !QAccessible::isActive() || (removed->isEmpty() && inserted.isEmpty()))
        return;
    const int position = EDTextViewAccessible::toOffset(at);
    if (removed->isEmpty()) {
        QAccessibleTextInsertEvent event(this, position, inserted);
        QAccessible::updateAccessibility(&event);
    } else if (inserted.isEmpty()) {
        QAccessibleTextRemoveEvent event(this, position, *removed);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(this, position, *removed, inserted);
        QAccessible::updateAccessibility(&event);
    }
    // The caret the edit moved is told after the text it moved over.
    notifyAccessibleSelectionChange();
}

void EDTextView::notifyAccessibleSelectionChange()
{
    if (!QAccessible::isActive() || m_textContentStorage->hasEditingTransaction())
        return;
    AccessibleCaret now;
    now.cursor = EDTextViewAccessible::cursorLocation(*this);
    const auto ranges = edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true);
    if (!ranges.empty())
        now.selection = ranges.front();
    const AccessibleCaret before = std::exchange(m_accessibleCaret, now);
    // A reader speaks what each event brings, so a selection that only moved with the text, or a
    // caret set again where it stood, is not announced twice.
    if (now.selection != before.selection) {
        QAccessibleTextSelectionEvent event(this, EDTextViewAccessible::toOffset(now.selection.location),
            EDTextViewAccessible::toOffset(now.selection.endLocation));
        event.setCursorPosition(EDTextViewAccessible::toOffset(now.cursor));
        QAccessible::updateAccessibility(&event);
    }
    if (now.cursor != before.cursor) {
        QAccessibleTextCursorEvent event(this, EDTextViewAccessible::toOffset(now.cursor));
        QAccessible::updateAccessibility(&event);
    }
}
