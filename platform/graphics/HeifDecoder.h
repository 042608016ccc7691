#pragma once

#include "platform/foundation/Result.h"
#include "platform/graphics/ImageSource.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <optional>

namespace platform {

// HEIF files (HEIC from phones, AVIF from the web) through libheif, which on Debian 12 decodes HEVC
// with libde265 and AV1 with dav1d or libaom. Only the primary image is read: it is what a viewer
// shows, and HEIF image sequences are not stills.

// What a HEIF file's boxes say before anything is decoded.
struct HeifHeader {
    QSize size; // as shown, after the file's rotation and mirroring
    QByteArray format; // "heic", "avif" or "heif"
    bool hasAlpha = false;
};

// Whether the data starts like an ISO media file of a brand libheif reads.
bool looksLikeHeif(const QByteArray& data);

// Reads the boxes and checks every image the file declares against `limits`: a file whose
// declared size is too large fails here, before a sample is decoded.
Result<HeifHeader, DecodeError> readHeifHeader(const QByteArray& data, const DecodingLimits& limits);

// The primary image in sRGB, 8 bits per sample, as RGB32 or (with alpha) ARGB32. With
// `maxPixelSize` above 0 the result is at most that on its longer side, never upscaled, made from
// an embedded thumbnail when one is large enough. Nothing when the data cannot be decoded.
std::optional<QImage> decodeHeif(const QByteArray& data, int maxPixelSize, const DecodingLimits& limits);

} // namespace platform
