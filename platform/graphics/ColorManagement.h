#pragma once

#include <QImage>

namespace platform {

// Converts the pixels of an image that carries a colour space other than sRGB (from an embedded
// profile or a bare gamma) to sRGB, keeping the pixel format. One rule for every format: a palette,
// grey or RGB file with the same profile comes out the same. An image without a colour space, or
// one with only an alpha channel, is left as it is.
void convertToSrgb(QImage& image);

} // namespace platform
