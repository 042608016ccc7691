#include "app/store/TDCoverImage.h"

#include "app/TDLocalizedText.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDImageImport.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Uuid.h"
#include "platform/graphics/ImageEncoding.h"
#include "platform/graphics/ImageSource.h"

#include <QFileInfo>
#include <QPainter>

#include <cerrno>

using platform::FileManager;
using platform::PlatformError;
using platform::Result;
using platform::Success;
using platform::Url;

namespace tdcoverimage {

namespace {

// No picture worth a cover is larger than this as a file.
constexpr std::int64_t maximumFileBytes = std::int64_t(256) << 20;
const QString coverSuffix = QStringLiteral("-cover-image.jpeg");

// Told as a drop of the same file tells it: the file's name in quotes, then why.
PlatformError refused(
    const QString& path, const QString& reason, PlatformError cause = PlatformError::fromErrno(EINVAL))
{
    return PlatformError::wrapping(QStringLiteral("cover"), 1,
        tdimageimport::refusedFileLine(QFileInfo(path).fileName(), reason), std::move(cause));
}

PlatformError refused(const QString& path, platform::ImageFileError error)
{
    PlatformError cause = error.cause.value_or(PlatformError::fromErrno(EINVAL));
    // A cover takes more formats than a drop does: the drop's list would turn away an icon the user
    // can in fact choose.
    if (error.problem == platform::ImageFileProblem::notAnImage)
        return refused(path,
            tdLocalized("It is not a picture Tindrel can use as a cover (PNG, JPEG, GIF, WebP, TIFF, BMP, "
                        "ICO, ICNS, HEIC, HEIF or AVIF)."),
            std::move(cause));
    return refused(path, tdimageimport::refusalReason(error), std::move(cause));
}

} // namespace

Result<QByteArray, PlatformError> jpegData(const QString& path)
{
    using Outcome = Result<QByteArray, PlatformError>;
    using Problem = platform::ImageFileProblem;
    auto bytes = FileManager::readRegularFile(Url::fileUrl(path), maximumFileBytes);
    if (!bytes) {
        const PlatformError& error = bytes.error();
        const bool posix = error.domain == PlatformError::posixDomain;
        if (posix && error.code == EFBIG)
            return Outcome::failure(refused(path, { Problem::tooLarge, std::nullopt }));
        if (posix && (error.code == EISDIR || error.code == EINVAL))
            return Outcome::failure(refused(path, { Problem::notARegularFile, error }));
        return Outcome::failure(refused(path, { Problem::unreadable, error }));
    }
    // A cover is the first frame of an animation. Any picture the decoders read will do, not only
    // the formats a drop takes.
    platform::DecodingLimits limits;
    limits.firstFrameOnly = true;
    auto source = platform::ImageSource::create(bytes.value(), limits);
    if (!source) {
        switch (source.error()) {
        case platform::DecodeError::unrecognizedFormat:
            return Outcome::failure(refused(path, { Problem::notAnImage, std::nullopt }));
        case platform::DecodeError::tooLarge:
            return Outcome::failure(refused(path, { Problem::tooLarge, std::nullopt }));
        case platform::DecodeError::corrupt:
            return Outcome::failure(refused(path, { Problem::corrupt, std::nullopt }));
        }
    }
    auto bitmap = source.value()->frame(0);
    if (!bitmap)
        return Outcome::failure(refused(path, { Problem::corrupt, std::nullopt }));
    // JPEG has no transparency: what was see-through becomes white, not black.
    QImage flat(bitmap->image().size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.drawImage(0, 0, bitmap->image());
    }
    auto jpeg = platform::encodeJpeg(*platform::Bitmap::fromImage(flat), jpegQuality);
    if (!jpeg)
        return Outcome::failure(refused(path, tdLocalized("No JPEG could be made of it.")));
    return Outcome::success(*jpeg);
}

Url newCoverFileURL(const Url& projectFolder)
{
    return TDDirectoryPath::coverImageFileURL(projectFolder, platform::Uuid::random().lowercaseString());
}

Result<Success, PlatformError> writeCoverFile(const Url& file, const QByteArray& jpeg)
{
    if (!file.isValid() || !TDDirectoryPath::isInsideLibraryFolder(file))
        return Result<Success, PlatformError>::failure(PlatformError::fromErrno(EINVAL,
            QStringLiteral("%1 is not a project folder in the library")
                .arg(file.deletingLastPathComponent().path())));
    return FileManager::writeAtomically(file, jpeg);
}

bool isOwnCoverFile(const Url& url, const Url& projectFolder)
{
    return url.isFileUrl() && projectFolder.isValid() && url.deletingLastPathComponent() == projectFolder
        && url.lastPathComponent().endsWith(coverSuffix) && url.lastPathComponent() != coverSuffix
        && TDDirectoryPath::isInsideLibraryFolder(url);
}

Result<Success, PlatformError> removeCoverFile(const Url& url, const Url& projectFolder)
{
    if (!isOwnCoverFile(url, projectFolder))
        return Result<Success, PlatformError>::success({});
    QFileInfo info(url.path());
    if (!info.exists() && !info.isSymLink())
        return Result<Success, PlatformError>::success({});
    return TDDirectoryPath::removeItemInsideLibrary(url);
}

} // namespace tdcoverimage
