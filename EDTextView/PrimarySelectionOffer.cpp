#include "EDTextView/PrimarySelectionOffer.h"

#include "platform/text/TextContentStorage.h"
#include "platform/ui/Pasteboard.h"

namespace edtextview {

PrimarySelectionOffer::PrimarySelectionOffer(
    const platform::TextContentStorage& storage, std::vector<platform::TextRange> ranges)
    : m_storage(&storage)
    , m_ranges(std::move(ranges))
{
}

void PrimarySelectionOffer::settle()
{
    if (!m_text)
        m_text = joinedText().toUtf8();
}

QString PrimarySelectionOffer::joinedText() const
{
    if (!m_storage)
        return {};
    qint64 length = 0;
    for (const platform::TextRange& range : m_ranges)
        length += range.length() + 1;
    QString text;
    text.reserve(length);
    for (const platform::TextRange& range : m_ranges) {
        const QString piece = m_storage->substring(range);
        if (piece.isEmpty())
            continue;
        if (!text.isEmpty())
            text += u'\n';
        text += piece;
    }
    return text;
}

QStringList PrimarySelectionOffer::formats() const
{
    return { platform::Pasteboard::stringType };
}

bool PrimarySelectionOffer::hasFormat(const QString& mimeType) const
{
    return mimeType == platform::Pasteboard::stringType;
}

QVariant PrimarySelectionOffer::retrieveData(const QString& mimeType, QMetaType) const
{
    if (mimeType != platform::Pasteboard::stringType)
        return {};
    // Not kept when made on request: a long selection pasted once need not stay in memory.
    if (m_text)
        return *m_text;
    return joinedText();
}

} // namespace edtextview
