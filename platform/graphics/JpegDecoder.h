#pragma once

#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QImage>

namespace platform {

struct DecodingLimits;

enum class JpegFailure {
    unsupported, // a JPEG this path does not handle (CMYK): decode it another way
    tooLarge,
    corrupt,
};

// Decodes a JPEG straight at a reduced size by DCT scaling, to at most `maxPixelSize` pixels on the
// longer side (never more than the image has), with its EXIF orientation and colour profile
// applied.
Result<QImage, JpegFailure> decodeScaledJpeg(
    const QByteArray& data, int maxPixelSize, const DecodingLimits& limits);

// The longer side made `maxPixelSize` and the shorter one in proportion, when the size is larger;
// otherwise the size itself.
QSize sizeFittingLongSide(QSize size, int maxPixelSize);

} // namespace platform
