#include "EDTextView/PastedText.h"

namespace edtextview {

namespace {

bool isUntypable(char16_t c)
{
    return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0x7F;
}

} // namespace

std::optional<platform::AttributedString> pastedText(const platform::AttributedString& text)
{
    const QString& string = text.string();
    platform::AttributedString result;
    // The start of the characters kept since the last one left out or replaced.
    qsizetype keptFrom = 0;
    bool changed = false;
    const auto keepUpTo = [&](qsizetype end) {
        if (end > keptFrom)
            result.append(text.mid(keptFrom, end - keptFrom));
    };
    for (qsizetype i = 0; i < string.size(); ++i) {
        const QChar c = string[i];
        if (c.isHighSurrogate() && i + 1 < string.size() && string[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate()) {
            keepUpTo(i);
            result.append(
                platform::AttributedString(QString(QChar::ReplacementCharacter), text.attributes(i)));
        } else if (isUntypable(c.unicode())) {
            keepUpTo(i);
        } else {
            continue;
        }
        keptFrom = i + 1;
        changed = true;
    }
    if (!changed)
        return text;
    keepUpTo(string.size());
    if (result.isEmpty())
        return std::nullopt;
    return result;
}

} // namespace edtextview
