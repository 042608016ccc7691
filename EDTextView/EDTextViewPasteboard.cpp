#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/PastedText.h"
#include "EDTextView/PrimarySelectionOffer.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "platform/ui/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethod>

using platform::AttributedString;
using platform::Pasteboard;
using platform::TextRange;

QStringList EDTextView::readablePasteboardTypes()
{
    return { Pasteboard::stringType, Pasteboard::legacyStringType, Pasteboard::rtfType,
        Pasteboard::legacyRtfType };
}

QStringList EDTextView::writablePasteboardTypes()
{
    return readablePasteboardTypes();
}

AttributedString EDTextView::attributedStringJoiningRanges(const std::vector<TextRange>& ranges) const
{
    AttributedString result;
    for (const TextRange& range : ranges) {
        const auto piece = edtextview::attributedString(*m_textContentStorage, range);
        if (!piece || piece->isEmpty())
            continue;
        if (!result.isEmpty())
            result.append(AttributedString(QStringLiteral("\n")));
        result.append(*piece);
    }
    return result;
}

AttributedString EDTextView::selectedAttributedText() const
{
    return attributedStringJoiningRanges(edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true));
}

bool EDTextView::writeSelectionToPasteboard(Pasteboard& pasteboard, const QStringList& types)
{
    if (types.isEmpty())
        return false;
    const AttributedString text = selectedAttributedText();
    if (text.isEmpty())
        return false;
    std::vector<Pasteboard::Kind> kinds;
    for (const QString& type : types) {
        if (const auto kind = Pasteboard::kind(type))
            kinds.push_back(*kind);
    }
    if (kinds.empty())
        return false;
    pasteboard.clearContents();
    bool wrote = false;
    for (const Pasteboard::Kind kind : kinds) {
        if (kind == Pasteboard::Kind::string)
            wrote |= pasteboard.setString(text.string(), Pasteboard::stringType);
        else
            wrote |= pasteboard.setData(platform::RtfWriter::write(text), Pasteboard::rtfType);
    }
    return wrote;
}

bool EDTextView::readSelectionFromPasteboard(const Pasteboard& pasteboard, const QString& type)
{
    const auto kind = Pasteboard::kind(type);
    if (!kind || !pasteboard.canReadItemWithDataConformingToTypes({ type }))
        return false;
    const std::vector<TextRange> targets
        = edtextview::textRangesOfSelections(m_textLayoutManager->textSelections());
    if (*kind == Pasteboard::Kind::string) {
        const auto plain = pasteboard.string(Pasteboard::stringType);
        // An offer that yields no text (its owner quit, or the data failed to come) must not
        // replace the selection with nothing.
        if (!plain || plain->isEmpty())
            return false;
        const auto text = edtextview::pastedText(AttributedString(*plain, m_typingAttributes));
        if (!text || !shouldChangeText(targets, text->string()))
            return false;
        replaceCharacters(targets, *text);
        return true;
    }
    const auto data = pasteboard.data(Pasteboard::rtfType);
    if (!data)
        return false;
    // The reader keeps text and formatting only: pictures, objects and links are never opened.
    const auto read = platform::RtfReader::read(*data);
    if (read.isFailure())
        return false;
    return replaceSelectionWithRichText(read.value());
}

bool EDTextView::replaceSelectionWithRichText(const AttributedString& rich)
{
    const auto text = edtextview::pastedText(rich);
    const std::vector<TextRange> targets
        = edtextview::textRangesOfSelections(m_textLayoutManager->textSelections());
    if (!text || text->isEmpty() || !shouldChangeText(targets, text->string()))
        return false;
    replaceCharacters(targets, *text);
    return true;
}

EDTextView* EDTextView::validRequestor(
    const std::optional<QString>& sendType, const std::optional<QString>& returnType)
{
    const QStringList types = readablePasteboardTypes();
    const platform::CharacterRange selected = selectedRange();
    const bool canSend
        = !sendType || (!selected.isNotFound() && selected.length > 0 && types.contains(*sendType));
    const bool canReturn = !returnType || (m_isEditable && types.contains(*returnType));
    return canSend && canReturn ? this : nullptr;
}

void EDTextView::offerSelectionAsPrimary()
{
    m_primarySelectionPending = false;
    if (!Pasteboard::selection().isAvailable())
        return;
    // An empty selection leaves the primary selection as it was.
    std::vector<TextRange> ranges = edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true);
    if (ranges.empty())
        return;
    auto* offer = new edtextview::PrimarySelectionOffer(*m_textContentStorage, std::move(ranges));
    m_primarySelectionOffer = offer;
    QGuiApplication::clipboard()->setMimeData(offer, QClipboard::Selection);
}

void EDTextView::settlePrimarySelectionOffer()
{
    if (m_primarySelectionOffer)
        m_primarySelectionOffer->settle();
}

void EDTextView::schedulePrimarySelectionUpdate()
{
    // Once per turn of the event loop, however many times a drag changes the selection.
    if (m_primarySelectionPending || !Pasteboard::selection().isAvailable())
        return;
    m_primarySelectionPending = true;
    QMetaObject::invokeMethod(this, &EDTextView::offerSelectionAsPrimary, Qt::QueuedConnection);
}

bool EDTextView::pastePrimarySelection(QPointF viewportPoint)
{
    Pasteboard& primary = Pasteboard::selection();
    if (!m_isEditable || !primary.isAvailable()
        || !primary.canReadItemWithDataConformingToTypes({ Pasteboard::stringType }))
        return false;
    selectAtPoint(viewportToView(viewportPoint), {}, 0, false);
    updateAfterMouseSelection();
    return readSelectionFromPasteboard(primary, Pasteboard::stringType);
}

void EDTextView::copy(QObject*)
{
    writeSelectionToPasteboard(Pasteboard::general(), { Pasteboard::rtfType, Pasteboard::stringType });
}

void EDTextView::cut(QObject* sender)
{
    // Only what can be deleted is cut: a read-only view or a refusing delegate keeps the text,
    // and then the clipboard is left as it was too.
    const std::vector<TextRange> ranges = edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true);
    if (ranges.empty() || !shouldChangeText(ranges, QString()))
        return;
    copy(sender);
    delete_(sender);
}

std::optional<AttributedString> EDTextView::richTextKeepingLineEnds(const Pasteboard& pasteboard)
{
    const auto data = pasteboard.data(Pasteboard::rtfType);
    if (!data)
        return std::nullopt;
    auto read = platform::RtfReader::read(*data);
    // RTF with no text in it (a picture alone) leaves the plain text offered beside it to paste.
    if (read.isFailure() || read.value().isEmpty())
        return std::nullopt;
    const auto plain = pasteboard.string(Pasteboard::stringType);
    if (plain && plain->contains(u'\r')) {
        QString lineFeeds = *plain;
        lineFeeds.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        if (lineFeeds == read.value().string())
            return std::nullopt;
    }
    return std::move(read).value();
}

void EDTextView::paste(QObject* sender)
{
    Pasteboard& pasteboard = Pasteboard::general();
    // RTF that cannot be read, or that would lose the line ends of the plain text beside it, is
    // pasted as that plain text.
    if (pasteboard.canReadItemWithDataConformingToTypes({ Pasteboard::rtfType })) {
        if (const auto text = richTextKeepingLineEnds(pasteboard);
            text && replaceSelectionWithRichText(*text))
            return;
    }
    if (pasteboard.canReadItemWithDataConformingToTypes({ Pasteboard::stringType }))
        pasteAsPlainText(sender);
}

void EDTextView::pasteAsPlainText(QObject*)
{
    readSelectionFromPasteboard(Pasteboard::general(), Pasteboard::stringType);
}

void EDTextView::pasteAsRichText(QObject* sender)
{
    // Plain text is offered under the same menu item: it is rich text without formatting. Rich
    // text that cannot be read, or holds no text, leaves the plain text beside it to paste.
    if (!readSelectionFromPasteboard(Pasteboard::general(), Pasteboard::rtfType))
        pasteAsPlainText(sender);
}

void EDTextView::delete_(QObject*)
{
    // Each deletion would otherwise take provisional text out first, and the ranges after it
    // would no longer be where they were when the command began.
    if (m_isEditable && commitMarkedTextForEdit())
        QGuiApplication::inputMethod()->reset();
    // Last to first, so that each range is still where it was when the command began.
    const std::vector<TextRange> ranges
        = mergedTextRanges(edtextview::textRangesOfSelections(m_textLayoutManager->textSelections()));
    for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
        if (!it->isEmpty())
            insertText(QString(), edtextview::characterRange(*it, *m_textContentStorage));
    }
}
