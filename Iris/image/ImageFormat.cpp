#include "Iris/image/ImageFormat.h"

#include <cstring>

namespace iris {

namespace {

constexpr std::uint8_t pngSignature[8] = { 0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A };
constexpr std::uint8_t jpegStartOfImage[2] = { 0xFF, 0xD8 };
constexpr std::uint8_t jpegByteAfterStart = 0xFF;
constexpr std::uint8_t gifSignature[3] = { 0x47, 0x49, 0x46 };
constexpr qsizetype minimumDetectableSize = 9;

} // namespace

ImageFormat detectImageFormat(QByteArrayView data)
{
    if (data.size() < minimumDetectableSize)
        return ImageFormat::unknown;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    if (std::memcmp(bytes, pngSignature, sizeof pngSignature) == 0)
        return ImageFormat::PNG;
    if (bytes[0] == jpegStartOfImage[0] && bytes[1] == jpegStartOfImage[1] && bytes[2] == jpegByteAfterStart)
        return ImageFormat::JPEG;
    if (std::memcmp(bytes, gifSignature, sizeof gifSignature) == 0)
        return ImageFormat::GIF;
    return ImageFormat::unknown;
}

bool containsJPEGMarker(QByteArrayView data, JPEGMarker marker)
{
    if (detectImageFormat(data) != ImageFormat::JPEG)
        return false;
    const auto [first, second] = marker.bytes();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    const std::uint8_t* end = bytes + data.size();
    // Scanned in place: the data may be a whole download.
    for (const std::uint8_t* at = bytes; at + 1 < end;) {
        const auto* found = static_cast<const std::uint8_t*>(
            std::memchr(at, first, static_cast<std::size_t>(end - at - 1)));
        if (!found)
            return false;
        if (found[1] == second)
            return true;
        at = found + 1;
    }
    return false;
}

} // namespace iris
