#include "EDTextView/EDTextView.h"

#include "EDTextView/EDFontManager.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"

#include <QColorDialog>
#include <QFontDialog>

using platform::AttributedString;
using platform::TextAttributes;
using platform::TextRange;

namespace AttributeKey = platform::AttributeKey;

namespace {

std::vector<TextRange> nonEmptySelectedRanges(const EDTextLayoutManager& manager)
{
    std::vector<TextRange> ranges = edtextview::textRangesOfSelections(manager.textSelections());
    std::erase_if(ranges, [](const TextRange& range) { return range.isEmpty(); });
    return ranges;
}

} // namespace

void EDTextView::changeFont(const EDFontManager& sender)
{
    if (!m_isEditable || !m_usesFontPanel)
        return;
    const QVariant typingFont = m_typingAttributes.value(AttributeKey::font);
    if (typingFont.canConvert<QFont>()
        && !edtextview::insertionPointLocations(*m_textLayoutManager).empty()) {
        TextAttributes attributes = m_typingAttributes;
        attributes.insert(AttributeKey::font, sender.convertFont(typingFont.value<QFont>()));
        setTypingAttributes(attributes);
    }
    for (const TextRange& range : nonEmptySelectedRanges(*m_textLayoutManager)) {
        const AttributedString text = m_textContentStorage->attributedString(range);
        // Each run keeps what the dialog did not change: two fonts stay two fonts.
        bool stop = false;
        text.enumerateAttribute(AttributeKey::font, { 0, text.length() },
            [&](const QVariant& value, AttributedString::Span span) {
                if (!value.isValid())
                    return true;
                if (!value.canConvert<QFont>()) {
                    stop = true;
                    return false;
                }
                const TextRange run(range.location + span.start, range.location + span.start + span.length);
                addAttributes(
                    { { AttributeKey::font, sender.convertFont(value.value<QFont>()) } }, run, true);
                return true;
            });
        if (stop)
            return;
    }
}

void EDTextView::underline(QObject*)
{
    if (!m_isEditable)
        return;
    const std::vector<TextRange> ranges = nonEmptySelectedRanges(*m_textLayoutManager);
    if (ranges.empty()) {
        // At a caret the underline is for what is typed next, as the font and the colour are.
        if (edtextview::insertionPointLocations(*m_textLayoutManager).empty())
            return;
        TextAttributes attributes = m_typingAttributes;
        if (attributes.contains(AttributeKey::underlineStyle)) {
            attributes.remove(AttributeKey::underlineStyle);
            attributes.remove(AttributeKey::underlineColor);
        } else {
            attributes.insert(AttributeKey::underlineStyle, 1);
        }
        setTypingAttributes(attributes);
        return;
    }
    // The first range decides for all of them.
    const bool underlined
        = m_textContentStorage->attributes(ranges.front().location).contains(AttributeKey::underlineStyle);
    for (const TextRange& range : ranges) {
        if (underlined) {
            removeAttribute(AttributeKey::underlineStyle, range, true);
            removeAttribute(AttributeKey::underlineColor, range, true);
        } else {
            addAttributes({ { AttributeKey::underlineStyle, 1 } }, range, true);
        }
    }
}

void EDTextView::changeColor(const QColor& color)
{
    if (!m_isEditable || !color.isValid())
        return;
    if (!edtextview::insertionPointLocations(*m_textLayoutManager).empty()) {
        // With a caret, the colour is for what is typed next; selected text keeps its colour.
        TextAttributes attributes = m_typingAttributes;
        attributes.insert(AttributeKey::foregroundColor, color);
        setTypingAttributes(attributes);
        return;
    }
    for (const TextRange& range : nonEmptySelectedRanges(*m_textLayoutManager))
        addAttributes({ { AttributeKey::foregroundColor, color } }, range, true);
}

void EDTextView::orderFrontFontPanel(QObject*)
{
    if (!m_isEditable || !m_usesFontPanel)
        return;
    if (m_fontPanel) {
        m_fontPanel->raise();
        m_fontPanel->activateWindow();
        return;
    }
    const QVariant value = m_typingAttributes.value(AttributeKey::font);
    const QFont initial = value.canConvert<QFont>() ? value.value<QFont>() : QFont();
    auto* dialog = new QFontDialog(initial, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFontDialog::DontUseNativeDialog);
    dialog->setWindowTitle(tr("Fonts"));
    // The change is from the font the dialog shows at first (it may match the initial font to a
    // face of the family that differs a little), so that only what the user changed reaches each
    // run of the selection.
    const QFont shown = dialog->currentFont();
    connect(dialog, &QFontDialog::fontSelected, this,
        [this, shown](const QFont& chosen) { changeFont(EDFontManager(shown, chosen)); });
    m_fontPanel = dialog;
    dialog->show();
}

void EDTextView::orderFrontColorPanel(QObject*)
{
    if (!m_isEditable)
        return;
    if (m_colorPanel) {
        m_colorPanel->raise();
        m_colorPanel->activateWindow();
        return;
    }
    auto* dialog = new QColorDialog(textColor().value_or(palette().color(QPalette::Text)), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QColorDialog::DontUseNativeDialog);
    dialog->setWindowTitle(tr("Colours"));
    connect(dialog, &QColorDialog::colorSelected, this, [this](const QColor& color) { changeColor(color); });
    m_colorPanel = dialog;
    dialog->show();
}
