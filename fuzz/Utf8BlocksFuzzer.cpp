// A note file's bytes decoded straight into text blocks: on any input the decode must agree with a
// strict decode of the whole file, and the text storage built from the blocks must hold exactly
// that text.
#include "FuzzSupport.h"

#include "platform/text/TextBlocks.h"
#include "platform/text/TextContentStorage.h"

#include <QStringDecoder>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    if (size == 0)
        return 0;
    // The first byte picks the block size, so that slices are cut everywhere.
    const qsizetype blockUnits = 4 + data[0] % 64;
    const QByteArrayView bytes(data + 1, qsizetype(size - 1));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString whole = decoder.decode(bytes);
    std::optional<platform::TextBlocks> blocks = platform::TextBlocks::fromUtf8(bytes, blockUnits);
    if (blocks.has_value() == decoder.hasError())
        std::abort();
    if (!blocks)
        return 0;
    if (blocks->string() != whole)
        std::abort();
    platform::TextContentStorage storage;
    storage.setChunkLimits(3, blockUnits * 2, blockUnits);
    storage.setString(std::move(*blocks));
    if (storage.string() != whole || storage.length() != whole.size())
        std::abort();
    return 0;
}
