// Encoded images of any format: detection, headers, the JPEG scan count, every GIF frame and a
// thumbnail, also of an animation too large as a whole.
#include "FuzzSupport.h"

#include "Iris/image/ImageFormat.h"
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/JpegDecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    iris::detectImageFormat(bytes);
    // Reached through a decode only for CMYK files without a profile: walked on every input here.
    platform::jpegScanCount(bytes);
    // Small limits keep each input fast; the limits themselves are what is being exercised.
    platform::DecodingLimits limits;
    limits.maxPixelsPerFrame = 4'000'000;
    limits.maxTotalBytes = 64 * 1024 * 1024;
    auto source = platform::ImageSource::create(bytes, limits);
    if (source.isFailure()) {
        // An animation too large as a whole is still read for its first frame.
        if (source.error() == platform::DecodeError::tooLarge)
            platform::thumbnailFromData(bytes, 64, limits);
        return 0;
    }
    const auto& image = source.value();
    for (int i = 0; i < std::min(image->frameCount(), 8); ++i) {
        image->frame(i);
        image->frameProperties(i);
    }
    image->thumbnail(64);
    return 0;
}
