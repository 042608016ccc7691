// RTF from the clipboard: the reader must stay within its bounds on any input, and whatever it
// reads must survive our own writer and reader unchanged.
#include "FuzzSupport.h"

#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"

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
    const auto again = platform::RtfReader::read(platform::RtfWriter::write(text));
    if (again.isFailure() || again.value().string() != withUnixLineEnds(text.string()))
        std::abort();
    return 0;
}
