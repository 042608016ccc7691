#pragma once

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace platform {

// Nothing when the encoder fails. 16-bit bitmaps give 16-bit PNG.
std::optional<QByteArray> encodePng(const Bitmap& bitmap);

// `quality` from 0 (smallest) to 1 (best). JPEG has no alpha: pixels are laid over black, whatever
// their format.
std::optional<QByteArray> encodeJpeg(const Bitmap& bitmap, double quality);

// A GIF89a file: each frame on the full canvas (the size of the largest frame), with its duration
// in hundredths of a second, pixels of alpha below one half transparent. A frame of at most 255
// colours keeps them exactly; others are mapped to a fixed palette of 252 colours. More than one
// frame adds a loop count (0: forever). Nothing when `frames` is empty or the encoder fails.
std::optional<QByteArray> encodeGif(const std::vector<ImageFrame>& frames, int loopCount = 0);

} // namespace platform
