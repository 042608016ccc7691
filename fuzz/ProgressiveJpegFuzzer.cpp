// A JPEG arriving in pieces: the first byte of the input picks the piece size.
#include "FuzzSupport.h"

#include "platform/graphics/ProgressiveJpegDecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] * 64;
    platform::DecodingLimits limits;
    limits.maxPixelsPerFrame = 4'000'000;
    limits.maxTotalBytes = 64 * 1024 * 1024;
    platform::ProgressiveJpegDecoder decoder(limits);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    std::size_t remaining = size - 1;
    int rendered = -1;
    while (remaining > 0) {
        const std::size_t count = std::min(piece, remaining);
        decoder.append(QByteArrayView(bytes, qsizetype(count)));
        // As the downloader does: a new picture only once another scan is in.
        if (decoder.completedScans() != rendered) {
            rendered = decoder.completedScans();
            decoder.render();
        }
        bytes += count;
        remaining -= count;
    }
    decoder.finish();
    decoder.render();
    return 0;
}
