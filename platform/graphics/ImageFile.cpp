#include "platform/graphics/ImageFile.h"

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Url.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <new>

namespace platform {

bool isImportableImageFormat(const QByteArray& format)
{
    static const QByteArray importable[]
        = { "png", "jpeg", "gif", "webp", "tiff", "bmp", "heic", "heif", "avif" };
    return std::find(std::begin(importable), std::end(importable), format) != std::end(importable);
}

namespace {

Result<std::shared_ptr<ImageSource>, ImageFileError> openWithinMemory(
    const QString& path, const DecodingLimits& limits)
{
    using Opened = Result<std::shared_ptr<ImageSource>, ImageFileError>;
    // An encoded image is never larger than the pixels it may decode to.
    auto read = FileManager::readRegularFile(
        Url::fileUrl(QFileInfo(path).absoluteFilePath()), limits.maxTotalBytes);
    if (!read) {
        const PlatformError& error = read.error();
        const bool posix = error.domain == PlatformError::posixDomain;
        if (posix && (error.code == EISDIR || error.code == EINVAL))
            return Opened::failure({ ImageFileProblem::notARegularFile, error });
        if (posix && error.code == EFBIG)
            return Opened::failure({ ImageFileProblem::tooLarge, error });
        return Opened::failure({ ImageFileProblem::unreadable, error });
    }
    auto created = ImageSource::create(std::move(read).value(), limits);
    if (!created) {
        switch (created.error()) {
        case DecodeError::unrecognizedFormat:
            return Opened::failure({ ImageFileProblem::notAnImage, std::nullopt });
        case DecodeError::tooLarge:
            return Opened::failure({ ImageFileProblem::tooLarge, std::nullopt });
        case DecodeError::corrupt:
            return Opened::failure({ ImageFileProblem::corrupt, std::nullopt });
        }
    }
    std::shared_ptr<ImageSource> source = std::move(created).value();
    if (!isImportableImageFormat(source->format()))
        return Opened::failure({ ImageFileProblem::notAnImage, std::nullopt });
    return Opened::success(std::move(source));
}

} // namespace

Result<std::shared_ptr<ImageSource>, ImageFileError> openImageFile(
    const QString& path, const DecodingLimits& limits)
{
    // A file within the limits may still be more than the memory left: that one file cannot be
    // read, which is said like any other read that fails.
    try {
        return openWithinMemory(path, limits);
    } catch (const std::bad_alloc&) {
        return Result<std::shared_ptr<ImageSource>, ImageFileError>::failure(
            { ImageFileProblem::unreadable, PlatformError::fromErrno(ENOMEM, path) });
    }
}

} // namespace platform
