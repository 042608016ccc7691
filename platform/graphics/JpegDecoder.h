#pragma once

#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>

#include <limits>
#include <optional>

namespace platform {

struct DecodingLimits;

enum class JpegFailure {
    unsupported, // a JPEG this path does not handle (neither grey, colour nor CMYK): decode it another way
    tooLarge,
    corrupt,
};

// Each scan of a progressive JPEG costs a pass over every block of the image, however few bytes it
// takes, so a small file of thousands of empty scans would keep a decoder busy for minutes. No
// encoder writes anywhere near this many; a JPEG with more fails as corrupt.
constexpr int maxJpegScans = 500;

// The start-of-scan markers of a JPEG, found by walking its segments as a decoder reads them: each
// marker's length skips its data, so the same two bytes inside metadata (EXIF, ICC, XMP, a
// thumbnail) are not taken for scans. Bytes where a marker should be are skipped up to the next one,
// as a decoder resynchronises on a damaged file. Counting stops once past `limit`.
int jpegScanCount(QByteArrayView data, int limit = std::numeric_limits<int>::max());

// What the markers before a JPEG's first scan say.
struct JpegHeader {
    QSize storedSize; // before orientation
    int components = 0; // 1 grey, 3 colour, 4 CMYK or YCCK
    int orientation = 1; // EXIF, 1 to 8
};

// Nothing when the markers up to the first scan are damaged or missing.
std::optional<JpegHeader> readJpegHeader(const QByteArray& data);

// Decodes a JPEG straight at a reduced size by DCT scaling, to at most `maxPixelSize` pixels on the
// longer side (never more than the image has; 0 or less: whole), with its EXIF orientation and
// colour profile applied. Colour JPEGs come out as RGB32 and grey ones as Grayscale8; CMYK and YCCK
// ones come out as RGB32, through their CMYK profile when they carry one. A JPEG whose stored size
// is over either limit fails as too large before anything is decoded.
Result<QImage, JpegFailure> decodeScaledJpeg(
    const QByteArray& data, int maxPixelSize, const DecodingLimits& limits);

// The longer side made `maxPixelSize` and the shorter one in proportion, when the size is larger;
// otherwise the size itself.
QSize sizeFittingLongSide(QSize size, int maxPixelSize);

// The EXIF orientation (1 to 8) an APP1 marker's data holds; nothing when they are no EXIF data.
std::optional<int> exifOrientationOfMarker(const unsigned char* data, unsigned length);

// `image`, stored as EXIF `orientation` says, turned and mirrored the way it is meant to be seen.
QImage orientedByExif(const QImage& image, int orientation);

} // namespace platform
