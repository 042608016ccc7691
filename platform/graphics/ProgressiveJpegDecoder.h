#pragma once

#include "platform/foundation/Result.h"
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/JpegDecoder.h"

#include <QByteArrayView>
#include <QImage>
#include <QSize>

#include <memory>
#include <optional>

namespace platform {

// Decodes a JPEG while its bytes arrive. Bytes are appended as they come; the decoder reads as far
// as they go and suspends where they end, keeping only the bytes it has not consumed yet. A
// progressive JPEG is read in buffered-image mode, so that every scan read completely so far can be
// rendered at any time; a baseline JPEG has one scan, complete only at its end.
//
// The headers are checked against the limits before anything is allocated, and the decoder's own
// memory (the coefficients of a progressive image) is bounded by the same byte limit. Damaged data
// fails the decoder; it never crashes.
class ProgressiveJpegDecoder {
public:
    // With `maxOutputPixels` above 0 the image is rendered reduced by 2, 4 or 8 (each pixel the
    // average of a square of the full-size output) until it has at most that many pixels. The
    // decoder itself stays at full size, so that it can still give the finished image.
    explicit ProgressiveJpegDecoder(DecodingLimits limits = {}, qint64 maxOutputPixels = 0);
    ~ProgressiveJpegDecoder();
    ProgressiveJpegDecoder(const ProgressiveJpegDecoder&) = delete;
    ProgressiveJpegDecoder& operator=(const ProgressiveJpegDecoder&) = delete;

    // `bytes` follow the ones appended before.
    void append(QByteArrayView bytes);
    // No more bytes will come: what is missing is treated as the end of the image.
    void finish();

    // The number of bytes appended so far.
    qint64 appendedLength() const { return m_appended; }
    // Known once the headers have been read; as shown, after the EXIF orientation.
    std::optional<QSize> size() const;
    // The size images are rendered at, as shown (known once the headers have been read).
    std::optional<QSize> outputSize() const;
    bool isProgressive() const;
    // Scans read completely so far.
    int completedScans() const;
    std::optional<JpegFailure> failure() const { return m_failure; }

    // Lets go of the decoder's memory; it renders nothing more.
    void release();

    // An image (opaque, premultiplied ARGB) of every scan read completely so far (after `finish`, of
    // everything read), turned by its EXIF orientation and converted to sRGB from its colour profile;
    // nothing before the first scan is complete, or once the decoder has failed.
    std::optional<QImage> render();

    // Once `finish` has been called: the image of the whole file, pixel for pixel the one
    // decodeScaledJpeg gives for the same bytes at full size (same format, same orientation and
    // colours), at the cost of one pass over the coefficients already read. Nothing unless the file is
    // a colour JPEG read to its end marker with no damage found on the way; the caller then decodes
    // the file the usual way. The decoder's memory goes either way.
    std::optional<QImage> finishedImage();

    // One image from data that may be cut short anywhere.
    static Result<QImage, JpegFailure> decodePrefix(QByteArrayView data, const DecodingLimits& limits = {});

private:
    struct State;
    void consume();
    bool renderFinishedPass();
    void fail(JpegFailure failure);

    DecodingLimits m_limits;
    qint64 m_maxOutputPixels;
    std::unique_ptr<State> m_state;
    qint64 m_appended = 0;
    std::optional<JpegFailure> m_failure;
};

} // namespace platform
