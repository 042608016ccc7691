#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/TextBlocks.h"
#include "platform/text/UndoManager.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QInputMethod>

using platform::AttributedString;
using platform::CharacterRange;
using platform::TextAttributes;
using platform::TextRange;

void EDTextView::setText(const QString& text)
{
    setText(AttributedString(text, m_typingAttributes));
}

void EDTextView::setText(std::nullopt_t)
{
    setText(AttributedString(QString(), m_typingAttributes));
}

namespace {

// Refused like any edit made while another is being announced, before anything of the edit under
// way (its other carets, the undo steps) is given up for a text that never comes.
bool refusesNewText(int willChangeDepth)
{
    if (willChangeDepth == 0)
        return false;
    qWarning("EDTextView: a new text set while an edit was being announced was ignored");
    return true;
}

} // namespace

void EDTextView::setText(const AttributedString& text)
{
    if (refusesNewText(m_willChangeDepth))
        return;
    ++m_textsSet;
    // A mouse drag selecting from a place in the old text goes on from the selection of the new.
    m_mouseDraggingSelectionAnchors.reset();
    // Provisional text of an input method does not survive a new text.
    if (m_markedText) {
        m_markedText.reset();
        QGuiApplication::inputMethod()->reset();
    }
    platform::UndoManager* manager = undoManager();
    if (manager)
        manager->disableUndoRegistration();
    replaceCharacters(m_textContentStorage->documentRange(), text, false);
    if (manager)
        manager->enableUndoRegistration();
    // Undo steps of the old text would write its pieces into the new one.
    clearUndoForNewText();
}

void EDTextView::setText(platform::TextBlocks&& text)
{
    if (refusesNewText(m_willChangeDepth))
        return;
    ++m_textsSet;
    m_mouseDraggingSelectionAnchors.reset();
    if (m_markedText) {
        m_markedText.reset();
        QGuiApplication::inputMethod()->reset();
    }
    platform::UndoManager* manager = undoManager();
    if (manager)
        manager->disableUndoRegistration();
    // The text as one string only for those told it, so that a long note is not held twice.
    const QString told
        = m_delegateProxy->wantsChangedText() || QAccessible::isActive() ? text.string() : QString();
    const qint64 newLength = text.length();
    changeText(m_textContentStorage->documentRange(), newLength, told,
        [&] { m_textContentStorage->replaceAllCharacters(std::move(text), m_typingAttributes); });
    if (manager)
        manager->enableUndoRegistration();
    clearUndoForNewText();
}

namespace {

// Out-of-document parts of a range are left out; nothing is left of a range wholly outside.
std::optional<TextRange> documentPart(CharacterRange range, const platform::TextContentStorage& storage)
{
    const auto end = range.end();
    if (!end || range.location > storage.length())
        return std::nullopt;
    return TextRange(range.location, std::min(*end, storage.length()));
}

} // namespace

void EDTextView::addAttributes(const TextAttributes& attributes, CharacterRange range, bool updateLayout)
{
    if (const auto textRange = documentPart(range, *m_textContentStorage))
        addAttributes(attributes, *textRange, updateLayout);
}

void EDTextView::addAttributes(const TextAttributes& attributes, TextRange range, bool updateLayout)
{
    m_textContentStorage->performEditingTransaction(
        [&] { m_textContentStorage->addAttributes(attributes, range); });
    if (updateLayout) {
        updateTypingAttributes();
        setNeedsLayout();
    }
}

void EDTextView::setAttributes(const TextAttributes& attributes, CharacterRange range, bool updateLayout)
{
    if (const auto textRange = documentPart(range, *m_textContentStorage))
        setAttributes(attributes, *textRange, updateLayout);
}

void EDTextView::setAttributes(const TextAttributes& attributes, TextRange range, bool updateLayout)
{
    m_textContentStorage->performEditingTransaction(
        [&] { m_textContentStorage->setAttributes(attributes, range); });
    if (updateLayout) {
        updateTypingAttributes();
        setNeedsLayout();
    }
}

void EDTextView::removeAttribute(const QString& key, CharacterRange range, bool updateLayout)
{
    if (const auto textRange = documentPart(range, *m_textContentStorage))
        removeAttribute(key, *textRange, updateLayout);
}

void EDTextView::removeAttribute(const QString& key, TextRange range, bool updateLayout)
{
    m_textContentStorage->performEditingTransaction(
        [&] { m_textContentStorage->removeAttribute(key, range); });
    updateTypingAttributes();
    if (updateLayout)
        setNeedsLayout();
}
