#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QString>

#include <optional>

// Why a name cannot become a file or folder name, worded for a validation alert.
struct TDNameProblem {
    QString title;
    QString message;
};

// Every location of the library on disk. Each caller-supplied text becomes exactly one path
// component; a text that cannot (empty, ".", "..", holding "/" or NUL) yields an invalid Url,
// on which every file operation fails, so a bad name never reaches outside its folder.
class TDDirectoryPath {
public:
    static constexpr int maximumNameBytes = 255;
    static constexpr int maximumOutsideNameBytes = 200;

    // The user's Documents folder; invalid when the system names none (or a relative one).
    static platform::Url documentsDirectoryURL();
    // Documents + "Tindrel.folder".
    static platform::Url libraryFolderURL();
    static platform::Url projectsLibraryURL();
    static platform::Url mediaLibraryURL();
    static platform::Url linksLibraryURL();

    static platform::Url projectDirectoryURL(const QString& projectName);
    static platform::Url coverImageFileURL(const platform::Url& folder, const QString& stem);
    static platform::Url noteDirectoryURL(const platform::Url& projectFolder, const QString& noteTitle);
    static platform::Url noteTextFileURL(const platform::Url& projectFolder, const QString& noteTitle);
    static platform::Url noteLinksDirectoryURL(const platform::Url& projectFolder, const QString& noteTitle);
    static platform::Url weblocFileURL(
        const platform::Url& projectFolder, const QString& noteTitle, const QString& linkName);
    static platform::Url mediaFileURL(
        const platform::Url& projectFolder, const platform::Uuid& mediaId, const QString& fileName);
    static platform::Url mediaThumbnailURL(const platform::Url& projectFolder, const platform::Uuid& mediaId);

    // A name the user typed (project, note): the problem that keeps it from being a folder or file
    // name, or none. Refused: blank, ".", "..", any "/" or NUL, more than 255 bytes of UTF-8.
    static std::optional<TDNameProblem> nameProblem(const QString& name);

    // `error` from making or renaming a file or folder named `name`, told in the user's terms where
    // the disk refused a character of the name (FAT and exFAT on memory cards and USB sticks accept
    // none of : * ? " < > | \), as the system's "Invalid argument" does not say so.
    static platform::PlatformError explainedNameRefusal(platform::PlatformError error, const QString& name);
    // Whether `error` is how a disk refuses a name's characters (Linux says EINVAL for FAT, a FUSE
    // mount EPERM).
    static bool isNameRefusal(const platform::PlatformError& error);
    // `name` for a disk that refuses : * ? " < > | \ and a name ending in dots or spaces (FAT, exFAT):
    // those characters become "-" and that ending goes; "Untitled" if nothing is left.
    static QString nameForAnyDisk(const QString& name);

    // A name from outside (a page title, a dropped file's name) made safe to use as one component:
    // "/", NUL, control characters and text-direction controls become "-", the ends are trimmed, an
    // empty, "." or ".." name becomes "Untitled", and it is cut to 200 bytes on a character
    // boundary. `keep` leaves direction controls as they are, for finding files named by earlier
    // versions.
    enum class DirectionControls { replace, keep };
    static QString safeName(const QString& outsideName, DirectionControls keep = DirectionControls::replace);
    // Embeddings, overrides, isolates and direction marks: they reorder how the text around them
    // shows, so a name could show another extension than the one it has.
    static bool isDirectionControl(QChar c);

    // Why nothing can be made or renamed in the library now: its folder is not there (its disk
    // unplugged, the folder moved away while the program runs), or it has no place (no usable
    // Documents folder). None when it is.
    static std::optional<platform::PlatformError> libraryFolderMissing();

    // Whether `url` lies strictly inside the library folder, also after resolving symbolic links
    // of the parts that exist.
    static bool isInsideLibraryFolder(const platform::Url& url);

    // Where `url`, a place inside a library folder elsewhere, is in `library`: a library copied to
    // another home or machine, or restored to another place, still names its files where they were.
    // What follows the first component named as `library`'s folder is put under `library`. None for a URL
    // already inside `library`, one that names no such folder, or one that would land outside it.
    static std::optional<platform::Url> relocatedInto(const platform::Url& url, const platform::Url& library);

    // Whether `url`, once symbolic links are resolved, is one of the library files (projects, media,
    // links), which only the library's stores may write.
    static bool isLibraryFile(const platform::Url& url);

    // Whether the program may open `url` by itself (a cover named in a library file): a regular file
    // strictly inside the library folder, also after resolving symbolic links. Anything else, a web
    // address included, is never read.
    static bool isOpenableLibraryFile(const platform::Url& url);

    // Why nothing is made, moved or removed at `url`: it is not strictly inside the library folder
    // once links are resolved. Worded for an alert, with what to do.
    static platform::PlatformError outsideLibraryRefusal(const platform::Url& url);

    // Removes a file or folder, refusing anything not strictly inside the library folder.
    static platform::Result<platform::Success, platform::PlatformError> removeItemInsideLibrary(
        const platform::Url& url);
    // Moves a file or folder strictly inside the library folder to the desktop's trash, where the
    // user can restore it; where there is no trash to move it to, removes it.
    static platform::Result<platform::Success, platform::PlatformError> trashItemInsideLibrary(
        const platform::Url& url);
};
