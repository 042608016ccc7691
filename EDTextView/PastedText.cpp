#include "EDTextView/PastedText.h"

namespace edtextview {

namespace {

bool isUntypable(QChar c)
{
    const char16_t unit = c.unicode();
    return (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') || unit == 0x7F;
}

bool isLoneSurrogate(const QString& text, qsizetype at)
{
    const QChar c = text[at];
    if (c.isHighSurrogate())
        return at + 1 == text.size() || !text[at + 1].isLowSurrogate();
    if (c.isLowSurrogate())
        return at == 0 || !text[at - 1].isHighSurrogate();
    return false;
}

bool needsChange(const QString& text, qsizetype at)
{
    return isUntypable(text[at]) || isLoneSurrogate(text, at);
}

} // namespace

std::optional<platform::AttributedString> pastedText(const platform::AttributedString& text)
{
    const QString& string = text.string();
    qsizetype first = 0;
    while (first < string.size() && !needsChange(string, first))
        ++first;
    if (first == string.size())
        return text;
    // Run by run, so that a long text of many runs costs one pass.
    platform::AttributedString result;
    result.reserve(string.size());
    qsizetype runStart = 0;
    for (const platform::AttributedString::Run& run : text.runs()) {
        QString kept;
        kept.reserve(run.length);
        for (qsizetype at = runStart; at < runStart + run.length; ++at) {
            if (isLoneSurrogate(string, at))
                kept += QChar(QChar::ReplacementCharacter);
            else if (!isUntypable(string[at]))
                kept += string[at];
        }
        result.append(platform::AttributedString(kept, run.attributes));
        runStart += run.length;
    }
    if (result.isEmpty())
        return std::nullopt;
    return result;
}

} // namespace edtextview
