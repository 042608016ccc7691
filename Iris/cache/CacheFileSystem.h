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
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace iris {

// How cache file bytes are written.
struct DataWritingOptions {
    // Reserved for callers that ask for it; cache files are always replaced atomically.
    bool atomic = false;
};

// What `CacheFileSystem::writeFile` puts after a file's name for the temporary file it writes first.
inline constexpr char temporaryFileSuffix[] = ".partial-XXXXXX";

// A cache file's last access is kept in an extended attribute of the file, under this name, as the
// whole seconds since 1970 in decimal: only the cache writes it, where the file's access time moves
// with every outside read (an indexer, a backup) on the usual mounts.
inline constexpr char lastAccessAttributeName[] = "user.org.tindrel.Iris.lastAccess";
QByteArray lastAccessAttributeValue(platform::Date date);
// The date an attribute value holds; nothing for a value this cache did not write.
std::optional<platform::Date> parseLastAccessAttribute(const QByteArray& value);

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

    // Runs on the new file, under its temporary name, once its bytes are written; a failure abandons
    // the write and is its result.
    using BeforeNaming = std::function<Result<Success>(const QString& temporaryPath)>;

    // Writes `data` to `path`: to a new file beside it, then renamed over it, so a reader sees the
    // old bytes or the new ones, never a part. Fails with ENOENT when the folder is missing.
    virtual Result<Success> writeFile(const QString& path, const QByteArray& data, DataWritingOptions options,
        const BeforeNaming& beforeNaming = {});

    // Sets a file's access and modification times, and keeps the access date as its last access (see
    // `lastAccessAttributeName`; where the file system has no such attributes, the access time alone
    // holds it).
    virtual Result<Success> setDates(
        const QString& path, platform::Date accessDate, platform::Date modificationDate);

    // As `setDates`, but only while the file at `path` is still the one whose modification date was
    // `modificationBefore`: the dates go to the file opened and checked, so a file put in its place
    // meanwhile is never touched. Fails with ESTALE when the file has changed.
    virtual Result<Success> setDatesIfUnchanged(const QString& path, platform::Date modificationBefore,
        platform::Date accessDate, platform::Date modificationDate);

    // The last access the cache recorded for the file whose status is `status`. A file without the
    // record (written before the cache kept one, or copied without its attributes) takes its access
    // time, which is recorded then, so later outside reads no longer move it.
    virtual platform::Date lastAccessDate(const QString& path, const platform::FileStatus& status);
    // The same from what `readFileIfAccepted` read, which brings the record along where it could.
    platform::Date lastAccessDate(const QString& path, const platform::FileContents& contents);

    // Removes a file, or a folder with everything in it.
    virtual Result<Success> removeItem(const QString& path);

private:
    struct Recorded {
        platform::Date lastAccess;
        platform::Date modification;
    };
    platform::Date lastAccessFrom(const QString& path, const platform::FileStatus& status,
        const platform::FileAttributeValue& attribute);
    // Records `date` as the file's last access and remembers it; where that fails the stale record
    // is dropped, so that the access time (which the caller has just set) is what reads find.
    // With `fd`, through that open file instead of the path.
    void recordLastAccess(const QString& path, platform::Date date, platform::Date modification, int fd = -1);

    // The last accesses this program recorded, with the modification date the file had then: while
    // a file keeps that date, nothing but this cache has written it, so a hit need not read the
    // record again. Bounded; anything missing is read from the file.
    std::mutex m_recordedLock;
    std::unordered_map<QString, Recorded> m_recorded;
};

} // namespace iris
