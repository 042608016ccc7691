#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/graphics/ImageSource.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

// Image files a user hands the program (drops them, picks them): only the formats it imports, read
// and decoded within the decoding limits.

enum class ImageFileProblem {
    notARegularFile, // a folder, a pipe, a device: refused without reading
    unreadable, // missing, or could not be opened or read (the error says why)
    notAnImage, // no format the program imports
    tooLarge, // the file, or a picture its headers declare, is beyond the limits
    corrupt, // an image whose headers are damaged
};

struct ImageFileError {
    ImageFileProblem problem = ImageFileProblem::unreadable;
    // The system's error, for an unreadable file.
    std::optional<PlatformError> cause;
};

// PNG, JPEG, GIF, WebP, TIFF, BMP, HEIC, HEIF and AVIF, by the names ImageSource::format() gives.
bool isImportableImageFormat(const QByteArray& format);

// Reads `path` as an image to import: a regular file (symbolic links followed) no larger than
// `limits.maxTotalBytes`, of an importable format, whose headers fit `limits`. Nothing is decoded
// yet. The source holds the very bytes that were checked (data(), to be copied as they are) and
// decodes them within the same limits: frame(0) whole, thumbnail(maxPixelSize) at a reduced size.
// Reads the file on the calling thread: call it off the main thread.
Result<std::shared_ptr<ImageSource>, ImageFileError> openImageFile(
    const QString& path, const DecodingLimits& limits = {});

} // namespace platform
