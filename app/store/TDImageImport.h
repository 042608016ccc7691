#pragma once

#include "app/TDStores.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"
#include "platform/graphics/ImageFile.h"
#include "platform/graphics/ImageSource.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TDMedia;
class TDProject;

// Image files dropped onto a project become its reference images. For each file:
//
// - Off the main thread, in one of a few import lanes shared by every drop (so a drop of hundreds of
//   photos holds at most that many files in memory, and together no more than a budget of bytes
//   unless one file alone is larger; fewer decode at once, so the lanes waiting for their copies to
//   reach the disk leave the processor to the others; a file waiting for its turn holds no thread of
//   the shared pool, so saves and thumbnails go on beside a drop of any size): the file is read only
//   if it is a regular file of an image format we import, within the decoding bounds; its JPEG
//   thumbnail is made; then a folder of its own, "images/<lower-case id>" in the project's folder,
//   receives the thumbnail "thumbnail.jpg" and a byte copy under the file's own name made safe.
//   Nothing is created before the file has proved to be an image, and a failure removes the folder
//   again. The project's folder is never created here: a project deleted meanwhile stays deleted.
// - On the main thread, in the order of the drop, the files that arrived together in one go (their
//   records go into the store with one append): the record is appended only when the project is
//   still in the store and its copy and thumbnail are where the project's folder is now (a rename
//   moves them along); otherwise the folder goes and no record is made. A file that failed while a
//   rename moved the project's folder, or landed in a folder of the old name made again meanwhile,
//   goes again, into the folder the project has now; one that failed because its project was
//   deleted meanwhile went with the project and is not reported.
// - Each file's folder is listed in the library folder's list of unfinished changes
//   (TDLibraryJournal.h) before a lane makes it, so that the next start after a crash removes a
//   copy that no record names. A folder that went again is struck off when the drop ends; one whose
//   record was appended waits in the report until the media file that names it is saved.
// - Once every file is handled, `finished` runs once with what happened to each.
// - When the program quits, `finishBeforeQuit` runs (below): the drops end before the program does.
//
// A file that is refused or fails is reported by name with the reason; none is skipped in silence.

struct TDImageImportFailure {
    QString fileName;
    QString reason;
};

struct TDImageImportReport {
    int imported = 0;
    // Files the project lost while they were on their way: it was deleted or moved meanwhile.
    int discarded = 0;
    // Files not begun because the program was quitting: nothing was made for them.
    int leftOut = 0;
    std::vector<TDImageImportFailure> failures;
    // The list entries of the imported files' folders, to strike off once the media are saved.
    std::vector<std::uint64_t> listed;
};

namespace tdimageimport {

// The thumbnail's longer side, in device-independent pixels, and its JPEG quality.
inline constexpr int thumbnailLongSide = 80;
inline constexpr double thumbnailQuality = 0.7;
// How many files are on their way at once, over every drop, how many of them decode at once, and
// how many bytes of files they may hold together.
inline constexpr int laneCount = 8;
inline constexpr int decodeCount = 2;
inline constexpr qint64 bytesInFlight = qint64(256) << 20;

// The size in pixels of the thumbnail of a picture of `size`: the longer side 80 device-independent
// pixels at `pixelScale` device pixels each, the aspect ratio kept, each side at least one pixel.
QSize thumbnailSize(QSize size, double pixelScale = 1);

// The device pixels per device-independent pixel of the densest screen, so that thumbnails made
// now are sharp wherever the window goes; 1 without screens, at most 4.
double thumbnailPixelScale();

// The JPEG thumbnail of an image, transparency laid over white; nothing when it cannot be decoded.
std::optional<QByteArray> thumbnailJpeg(const platform::ImageSource& source, double pixelScale = 1);

// Why a picture beyond the decoding bounds, or a file larger than any picture within them, is
// refused: told alike wherever the user chose it, as a cover too.
QString tooLargeReason();

// Why an image file the user chose cannot be used, in the same words whether it was dropped as a
// reference image or chosen as a cover.
QString refusalReason(const platform::ImageFileError& error);

// The line an alert gives a file it refuses: the file's name in quotes, then why.
QString refusedFileLine(const QString& fileName, const QString& reason);

// The name the copy of a dropped file gets: the file's name made safe for one path component, and
// never the thumbnail's own name.
QString copyName(const QString& droppedName);

// The copy's name for a disk that refuses : * ? " < > | \ and a name ending in dots or spaces (FAT,
// exFAT): those characters become "-" and that ending goes, the extension kept.
QString copyNameForAnyDisk(const QString& copyName);

// The path on this computer a dropped URL names: a file URL without a host, or whose host is
// "localhost" or this machine's name, as some programs write them. Nothing for any other URL.
std::optional<QString> localPath(const QUrl& url);

struct PreparedImage {
    // The folder holding the copy and the thumbnail, and the copy's name in it.
    platform::Url folder;
    QString fileName;
};

// The work of one file off the main thread, described above: reads `sourcePath`, writes the folder
// of `id` inside `projectFolder`'s "images" folder, or leaves nothing and says why. Its stages run on
// the shared pool, within the decode and byte budgets; `done` runs once, on a pool thread.
void prepareImage(const QString& sourcePath, const platform::Url& projectFolder, const platform::Uuid& id,
    const platform::DecodingLimits& limits, double pixelScale,
    std::function<void(platform::Result<PreparedImage, QString>)> done);

// Imports the dropped `urls` into `project`. `append` adds records to the media store (it runs on the
// main thread, once for the files that are ready together, in drop order, never with none);
// `finished` runs once, on the main thread, after the last file, also when there was none.
void start(TDStores stores, std::shared_ptr<TDProject> project, std::vector<QUrl> urls,
    std::function<void(std::vector<std::shared_ptr<TDMedia>>)> append,
    std::function<void(TDImageImportReport)> finished);

// Ends the drops under way before the program does, so that the library names every image the
// project folders hold: the files not yet begun are left out (each printed), the ones under way are
// finished and recorded, and the media store is saved once more; the main loop runs, without user
// input, until that save is on disk or `limit` has passed. Nothing happens when no drop is under way.
// Runs by itself when the application is about to quit. Main thread only.
void finishBeforeQuit(std::chrono::milliseconds limit = std::chrono::seconds(30));

} // namespace tdimageimport
