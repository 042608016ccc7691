#pragma once

#include <QByteArrayView>
#include <QImage>

namespace platform {

// Converts the pixels of an image that carries a colour space other than sRGB (from an embedded
// profile or a bare gamma) to sRGB, keeping the pixel format. One rule for every format: a palette,
// grey or RGB file with the same profile comes out the same. An image without a colour space, or
// one with only an alpha channel, is left as it is. An image that cannot be converted for want of
// memory becomes a null image.
void convertToSrgb(QImage& image);

// Whether an ICC profile describes CMYK colours (Qt's colour spaces take only RGB and grey ones).
bool isCmykProfile(const QByteArrayView iccProfile);

enum class CmykStorage {
    plain, // 0 is no ink
    inverted, // 255 is no ink, as in JPEG files that carry an Adobe marker
};

// Converts an image whose 32-bit pixels hold C, M, Y and K bytes in that order to opaque sRGB
// (Format_RGB32) through a CMYK profile, with the profile's own rendering intent. False, with the
// image unchanged, when the profile cannot be used.
bool convertCmykToSrgb(QImage& image, const QByteArray& iccProfile, CmykStorage storage);

// The same without a profile: each of red, green and blue is what its ink (C, M or Y) leaves of
// white, times what the black leaves, as readers convert CMYK that names no profile. Images that
// are not 32 bits per pixel are left as they are.
void convertCmykToRgbWithoutProfile(QImage& image, CmykStorage storage);

} // namespace platform
