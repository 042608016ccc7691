#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace iris {

// How cache file bytes are written.
struct DataWritingOptions {
    // Reserved for callers that ask for it; cache files are always replaced atomically.
    bool atomic = false;
};

// What `CacheFileSystem::writeFile` puts after a file's name for the temporary file it writes first.
inline constexpr char temporaryFileSuffix[] = ".partial-XXXXXX";

// The file operations the disk cache makes, in one place so that a test can watch or fail them.
// Paths are local file paths. The default implementation is POSIX.
class CacheFileSystem {
public:
    template<typename T> using Result = platform::Result<T, platform::PlatformError>;
    using Success = platform::Success;

    virtual ~CacheFileSystem() = default;

    static std::shared_ptr<CacheFileSystem> defaultFileSystem();

    // Whether anything is at `path` (a dangling symbolic link counts).
    virtual bool fileExists(const QString& path);

    // Creates `path` with its missing parents.
    virtual Result<Success> createDirectory(const QString& path);

    // The names directly inside a directory.
    virtual Result<QStringList> contentsOfDirectory(const QString& path);

    // Every entry below `directory`, subfolders and their contents included, skipping hidden entries
    // and never following symbolic links. Fails when the directory cannot be opened; `brokenListing`
    // is set when the walk failed part-way.
    struct Listing {
        std::vector<QString> paths;
        bool brokenListing = false;
    };
    virtual Result<Listing> enumerate(const QString& directory);

    virtual Result<platform::FileStatus> status(const QString& path);

    // The whole file, read without moving its access time. A symbolic link is not followed.
    virtual Result<QByteArray> readFile(const QString& path);

    // The file's status and, when `shouldRead` accepts that status, its bytes, from one open.
    virtual Result<platform::FileContents> readFileIfAccepted(
        const QString& path, const std::function<bool(const platform::FileStatus&)>& shouldRead);

    // Writes `data` to `path`: to a new file beside it, then renamed over it, so a reader sees the
    // old bytes or the new ones, never a part. Fails with ENOENT when the folder is missing.
    virtual Result<Success> writeFile(
        const QString& path, const QByteArray& data, DataWritingOptions options);

    // Sets a file's access and modification times.
    virtual Result<Success> setDates(
        const QString& path, platform::Date accessDate, platform::Date modificationDate);

    // Removes a file, or a folder with everything in it.
    virtual Result<Success> removeItem(const QString& path);
};

} // namespace iris
