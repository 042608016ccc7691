// A dropped file's bytes, as the import judges them: any image that opens within the decoding
// bounds gives a JPEG thumbnail of the promised size, 80 on its longer side, never an empty one.
#include "FuzzSupport.h"

#include "app/store/TDImageImport.h"
#include "platform/graphics/ImageSource.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    // Small bounds keep each run quick; the import's own are larger but checked the same way.
    const platform::DecodingLimits limits { 4'000'000, qint64(64) << 20 };
    auto source = platform::ImageSource::create(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), limits);
    if (!source)
        return 0;
    const auto jpeg = tdimageimport::thumbnailJpeg(*source.value());
    if (!jpeg)
        return 0;
    const QImage thumbnail = QImage::fromData(*jpeg, "jpeg");
    const QSize expected = tdimageimport::thumbnailSize(source.value()->pixelSize());
    if (thumbnail.isNull()
        || std::max(thumbnail.width(), thumbnail.height()) != tdimageimport::thumbnailLongSide
        || (source.value()->pixelSize().isValid() && thumbnail.size() != expected))
        std::abort();
    return 0;
}
