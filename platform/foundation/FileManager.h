#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <QByteArray>

#include <QString>

#include <cstdint>
#include <optional>
#include <sys/types.h>
#include <time.h>
#include <vector>

namespace platform {

enum class IntermediateDirectories { create, doNotCreate };

// What tells one version of a file from another without reading it: which file it is, its size
// and its time of change (not the status change time: sync clients and backups set attributes on
// files they leave as they are). Where that time is kept to whole seconds or coarser (FAT keeps
// 2 s), another program's write in the same tick would look like the same version: such versions
// never compare equal, so that callers tell them apart by their content.
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};
    bool regular = true;
    bool operator==(const FileVersion& other) const;
};

// File-system work on file URLs. Every operation refuses an invalid or non-file Url, so a path
// builder that rejected a name leaves nothing to act on. Failures carry the POSIX error.
class FileManager {
public:
    static constexpr std::int64_t defaultReadLimitBytes = std::int64_t(1) << 30;

    // The Documents and caches folders from `Environment` (not created here). Invalid when the
    // system names no such folder, names a relative one, or names one in bytes that are not UTF-8
    // text (not on disk as it reads then).
    static Url documentsDirectory();
    static Url cachesDirectory();

    static bool fileExists(const Url& url);
    static bool directoryExists(const Url& url);
    // Whether `a` and `b` name one item (links not followed): on a disk that ignores case (FAT,
    // exFAT), "Idea" and "idea" do.
    static bool isSameItem(const Url& a, const Url& b);

    // Creates a folder. With `create`, missing parents are made and an existing folder is
    // success; with `doNotCreate`, the parent must exist and nothing may exist at `url`.
    static Result<Success, PlatformError> createDirectory(
        const Url& url, IntermediateDirectories intermediates);

    // Removes a file, or a folder with everything in it. A symbolic link is removed, not followed.
    static Result<Success, PlatformError> removeItem(const Url& url);

    // Renames `from` to `to` on the same file system; fails when something exists at `to`, unless
    // that is `from` itself under another case on a disk that ignores case.
    static Result<Success, PlatformError> moveItem(const Url& from, const Url& to);

    // The items directly inside a folder, sorted by name.
    static Result<std::vector<Url>, PlatformError> contentsOfDirectory(const Url& url);

    // The whole content of a regular file (never a folder, device or pipe), at most `limitBytes`.
    static Result<QByteArray, PlatformError> readRegularFile(
        const Url& url, std::int64_t limitBytes = defaultReadLimitBytes);

    // Replaces the file's content atomically: the bytes go to a temporary file in the same folder,
    // are flushed to disk and renamed over the old file, so a crash leaves the old or the new content.
    // The folder is not created, and a file the caller may not write is not replaced (EACCES).
    static Result<Success, PlatformError> writeAtomically(const Url& url, const QByteArray& bytes);

    // Puts on disk what another library wrote or renamed without syncing: once this returns, a
    // file's content, or the names in a folder, survive a power cut. Nothing at `url`, or a file
    // system that cannot sync a folder (some network and FUSE ones), is no failure.
    static Result<Success, PlatformError> synchronize(const Url& url);

    // The version of what is at `url` (through a symbolic link); none when nothing is there.
    static std::optional<FileVersion> versionOf(const Url& url);

    // Keeps the file at `url` beside itself before something replaces it, as `name` + `suffix` +
    // the UTC time ("20261207T120000Z") + `extension`, with "-2" and on before the extension where
    // that is taken; a long `name` gives up its end so that the whole fits a file name. The file is
    // moved; a symbolic link stays where it is and its target's content (at most `limitBytes`) is
    // copied instead, so the link keeps pointing where it did; with `LinkKept::moved` the link
    // itself is moved, and what it points at is left as it is. With `Original::staysUntilReplaced`, a
    // plain file its owner may read is kept as a second name of it (a hard link; a copy where the disk
    // makes no links, and nothing kept where there is no room for one) and so stays at `url` until
    // whatever replaces it does: a write that fails (a full disk) or a crash before that leaves it
    // there. One its owner may not read (the file replacing it would take its mode) or larger than
    // `limitBytes` on a disk without links is moved. Where it was kept.
    enum class LinkKept { copied, moved };
    enum class Original { moved, staysUntilReplaced };
    static Result<Url, PlatformError> keepBeside(const Url& url, QString name, const QString& suffix,
        const QString& extension, std::int64_t limitBytes = defaultReadLimitBytes,
        LinkKept link = LinkKept::copied, Original original = Original::moved);
};

} // namespace platform
