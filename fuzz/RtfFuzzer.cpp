// RTF from the clipboard: the reader must stay within its bounds on any input, and whatever it
// reads must survive our own writer and reader unchanged, text and formatting. What it reads, as
// read and as the text view pastes it, goes into the middle of a document kept in small chunks,
// and must land there as it was.
#include "FuzzSupport.h"

#include "EDTextView/PastedText.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "platform/text/TextContentStorage.h"

#include <QFont>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QString withUnixLineEnds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void checkPaste(const platform::AttributedString& text)
{
    platform::TextContentStorage storage;
    storage.setChunkLimits(2, 16, 8);
    storage.setString(QStringLiteral("one\ntwo\r\nthree"));
    platform::AttributedString expected = storage.attributedString();
    storage.replaceCharacters(platform::TextRange(2, 5), text);
    expected.replace(2, 3, text);
    if (!(storage.attributedString() == expected) || storage.length() != expected.length())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const auto result = platform::RtfReader::read(QByteArrayView(data, qsizetype(size)));
    if (result.isFailure())
        return 0;
    const platform::AttributedString& text = result.value();
    if (text.length() > qsizetype(size))
        std::abort();
    checkPaste(text);
    if (const auto pasted = edtextview::pastedText(text))
        checkPaste(*pasted);
    const auto again = platform::RtfReader::read(platform::RtfWriter::write(text));
    if (again.isFailure() || again.value().string() != withUnixLineEnds(text.string()))
        std::abort();
    // Formatting survives too, run for run, wherever no line end was rewritten (a font name
    // holding one is no name a font has).
    bool rewritten = text.string().contains(QLatin1Char('\r'));
    for (const platform::AttributedString::Run& run : text.runs())
        rewritten = rewritten
            || run.attributes.value(platform::AttributeKey::font)
                   .value<QFont>()
                   .family()
                   .contains(QLatin1Char('\r'));
    if (!rewritten && !(again.value() == text))
        std::abort();
    return 0;
}
