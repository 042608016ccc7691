#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>

namespace iris {

// The format of image data, told from its first bytes without decoding.
enum class ImageFormat {
    unknown,
    PNG,
    JPEG,
    GIF,
};

// A JPEG marker the library can search for: two bytes, the first always FF.
class JPEGMarker {
public:
    // A restart marker, FF D0 + n; n is at most 47 (the standard's restart markers use 0 to 7).
    static JPEGMarker RSTn(std::uint8_t n) { return JPEGMarker(static_cast<std::uint8_t>(0xD0 + n)); }
    static JPEGMarker SOF0() { return JPEGMarker(0xC0); }
    static JPEGMarker SOF2() { return JPEGMarker(0xC2); }
    static JPEGMarker DHT() { return JPEGMarker(0xC4); }
    static JPEGMarker DQT() { return JPEGMarker(0xDB); }
    static JPEGMarker DRI() { return JPEGMarker(0xDD); }
    static JPEGMarker SOS() { return JPEGMarker(0xDA); }
    // Any application segment: always FF E0.
    static JPEGMarker APPn() { return JPEGMarker(0xE0); }
    static JPEGMarker COM() { return JPEGMarker(0xFE); }
    static JPEGMarker EOI() { return JPEGMarker(0xD9); }

    std::array<std::uint8_t, 2> bytes() const { return { 0xFF, m_second }; }

    bool operator==(const JPEGMarker&) const = default;

private:
    explicit JPEGMarker(std::uint8_t second)
        : m_second(second)
    {
    }

    std::uint8_t m_second;
};

// Fewer than 9 bytes are always `unknown`.
ImageFormat detectImageFormat(QByteArrayView data);

// Whether JPEG data holds the marker's two bytes anywhere, the header included; false for data that
// is not JPEG. The search does not parse segments.
bool containsJPEGMarker(QByteArrayView data, JPEGMarker marker);

} // namespace iris
