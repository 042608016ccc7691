#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <QByteArray>
#include <QString>

// A project's cover image: a JPEG copy of the picture the user chose, in the project's folder, named
// "<lower-case uuid>-cover-image.jpeg".
namespace tdcoverimage {

inline constexpr double jpegQuality = 0.2;

// The JPEG of the image file at `path`, at the picture's own size: read only as a regular file,
// decoded within the decoding bounds (so a picture too large to decode is refused, never scaled),
// transparency laid over white. The error's description names the file and says why it cannot be
// used, in the words a drop of the same file gets; a file that is no picture is told the formats a
// cover takes, which are more than a drop's.
platform::Result<QByteArray, platform::PlatformError> jpegData(const QString& path);

// A new cover file's place in `projectFolder`, under a name no cover had before.
platform::Url newCoverFileURL(const platform::Url& projectFolder);

// Writes `jpeg` as the cover file `file` (from `newCoverFileURL`).
platform::Result<platform::Success, platform::PlatformError> writeCoverFile(
    const platform::Url& file, const QByteArray& jpeg);

// Whether `url` names a cover file of the project's own: directly in its folder, with the cover
// name's ending, inside the library folder.
bool isOwnCoverFile(const platform::Url& url, const platform::Url& projectFolder);

// Removes a cover file of the project's own; a file already gone counts as removed. Any other URL
// (a path edited into the library file) is left alone and counts as removed too.
platform::Result<platform::Success, platform::PlatformError> removeCoverFile(
    const platform::Url& url, const platform::Url& projectFolder);

} // namespace tdcoverimage
