// Plain text another program offers: the first line is the MIME type it is offered under, the rest
// its bytes. Whatever the type's charset, reading stays within bounds, and text is read exactly
// when the data says there is some. What a text view would paste of it holds no control character
// but tabs and line ends and no half of a surrogate pair, and is the text itself when that has none.
#include "FuzzSupport.h"

#include "EDTextView/PastedText.h"
#include "platform/ui/Pasteboard.h"

#include <QMimeData>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool isPastable(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0x7F)
            return false;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (QChar::isSurrogate(c))
            return false;
    }
    return true;
}

void checkPaste(const QString& offered)
{
    const auto pasted = edtextview::pastedText(platform::AttributedString(offered));
    if (!pasted)
        return;
    if (!isPastable(pasted->string()) || pasted->length() > offered.size()
        || (isPastable(offered) && pasted->string() != offered))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArrayView input(data, qsizetype(size));
    const qsizetype lineEnd = input.indexOf('\n');
    if (lineEnd < 0)
        return 0;
    QMimeData offered;
    offered.setData(QString::fromUtf8(input.first(lineEnd)), input.sliced(lineEnd + 1).toByteArray());
    const auto pasteboard = platform::Pasteboard::reading(offered);
    const bool readable
        = pasteboard->canReadItemWithDataConformingToTypes({ platform::Pasteboard::stringType });
    if (readable != pasteboard->string().has_value()
        || readable != pasteboard->data(platform::Pasteboard::stringType).has_value())
        std::abort();
    if (const auto text = pasteboard->string())
        checkPaste(*text);
    return 0;
}
