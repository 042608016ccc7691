#include "platform/foundation/FileManager.h"

#include "platform/foundation/Date.h"
#include "platform/foundation/Environment.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using Outcome = Result<Success, PlatformError>;

PlatformError invalidUrlError(const Url& url)
{
    return PlatformError::fromErrno(
        EINVAL, QStringLiteral("not a usable file URL \"%1\"").arg(url.absoluteString()));
}

QByteArray nativePath(const Url& url)
{
    return url.path().toUtf8();
}

// Removes what killed saves of one file left beside it: the files of `folder` named `prefix` and
// a suffix such as a save makes. A save under way holds a lock on its file, so only files no save
// holds go; nothing is followed through a link.
void removeLeftoverSaves(const QByteArray& folder, const QByteArray& prefix)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || name.size() == prefix.size())
            continue;
        const QByteArray suffix = name.mid(prefix.size());
        if (!std::all_of(suffix.begin(), suffix.end(),
                [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); }))
            continue;
        const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// NFS without its lock daemon has no locks. A save then goes unlocked: a clean-up cannot take the
// lock either, so it removes nothing, and the save is as safe as one without clean-ups.
bool lockingUnsupported(int error)
{
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS;
}

// Syncs what `fd` names, then closes it; nothing when it is no descriptor. Some network and FUSE
// file systems cannot sync a folder (EINVAL, EOPNOTSUPP): there nothing more can be done. The POSIX
// error of a failed sync, else 0.
int syncAndClose(int fd)
{
    if (fd < 0)
        return 0;
    int error = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EOPNOTSUPP && errno != EROFS)
        error = errno;
    ::close(fd);
    return error;
}

// Makes the names in a folder durable: once this returns, a file renamed or made in it is found
// there after a power cut.
int syncFolder(const QByteArray& folder)
{
    return syncAndClose(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Mounts without permission bits (some FUSE and network ones) may refuse to change them; the new
// file then has the mount's permissions, as the old one had.
bool permissionsUnsupported(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

// The file's name as its temporary files start with it. A name near the 255-byte limit would make
// the temporary name too long, and the file could never be saved: such a name is cut (at a
// character's start) and told apart from others cut alike by a digest of the whole name.
QByteArray temporaryStem(const QByteArray& fileName)
{
    constexpr qsizetype nameLimit = 255;
    // "." before, ".saving-" and at most 7 base-36 digits after.
    constexpr qsizetype added = 1 + 8 + 7;
    if (fileName.size() + added <= nameLimit)
        return fileName;
    const QByteArray digest = QCryptographicHash::hash(fileName, QCryptographicHash::Md5).toHex().left(8);
    qsizetype keep = nameLimit - added - 1 - digest.size();
    while (keep > 0 && (uchar(fileName[keep]) & 0xC0) == 0x80)
        --keep;
    return fileName.left(keep) + "~" + digest;
}

// Whether `path` is a folder's path the system gave in bytes that are not UTF-8 text: those bytes
// come as U+FFFD, and the path so read names another folder, which making it would create beside the
// real one. Only what is not on disk as it reads can be such a path.
bool lostItsBytes(const QString& path)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return false;
    const QString clean = QDir::cleanPath(path);
    QString existing = clean;
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/"))
        existing = QFileInfo(existing).path();
    return clean.mid(existing.size()).contains(QChar::ReplacementCharacter);
}

Url rootedDirectory(const QString& path)
{
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')) || lostItsBytes(path))
        return Url();
    return Url::fileUrl(path);
}

} // namespace

Url FileManager::documentsDirectory()
{
    return rootedDirectory(Environment::documentsDirectory());
}

Url FileManager::cachesDirectory()
{
    return rootedDirectory(Environment::cachesDirectory());
}

bool FileManager::fileExists(const Url& url)
{
    if (!url.isFileUrl())
        return false;
    struct stat info;
    return ::stat(nativePath(url).constData(), &info) == 0;
}

namespace {

// Every name a folder lists, hidden ones included: what the disk holds, where a lookup by name
// may be answered case-blind or from a cache.
QStringList listedNames(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

bool FileManager::isSameItem(const Url& a, const Url& b)
{
    struct stat first, second;
    if (!a.isFileUrl() || !b.isFileUrl() || ::lstat(nativePath(a).constData(), &first) != 0
        || ::lstat(nativePath(b).constData(), &second) != 0)
        return false;
    if (first.st_dev == second.st_dev && first.st_ino == second.st_ino)
        return true;
    // Some FUSE file systems number each name they are asked for anew: there, a name found that
    // its folder does not list is another case of the one it lists.
    const QString nameA = a.lastPathComponent();
    const QString nameB = b.lastPathComponent();
    if (a.deletingLastPathComponent() != b.deletingLastPathComponent() || nameA == nameB
        || nameA.compare(nameB, Qt::CaseInsensitive) != 0)
        return false;
    const QStringList listed = listedNames(a.deletingLastPathComponent().path());
    return listed.contains(nameA) && !listed.contains(nameB);
}

bool FileManager::directoryExists(const Url& url)
{
    if (!url.isFileUrl())
        return false;
    struct stat info;
    return ::stat(nativePath(url).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

Outcome FileManager::createDirectory(const Url& url, IntermediateDirectories intermediates)
{
    if (!url.isFileUrl())
        return Outcome::failure(invalidUrlError(url));
    QByteArray path = nativePath(url);
    // Files saved into a new folder are found after a power cut only when the folder is too: the
    // parent of each folder made here is synced.
    if (intermediates == IntermediateDirectories::doNotCreate) {
        if (::mkdir(path.constData(), 0777) != 0)
            return Outcome::failure(PlatformError::fromErrno(errno, url.path()));
        syncFolder(QFile::encodeName(QFileInfo(url.path()).path()));
        return Outcome::success({});
    }
    std::vector<QString> missing;
    for (QString folder = url.path(); !QFileInfo::exists(folder) && !QFileInfo(folder).isRoot();
         folder = QFileInfo(folder).path())
        missing.push_back(folder);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path.toStdString()), error);
    if (error)
        return Outcome::failure(PlatformError::fromErrno(error.value(), url.path()));
    if (!directoryExists(url))
        return Outcome::failure(PlatformError::fromErrno(EEXIST, url.path()));
    for (const QString& folder : missing)
        syncFolder(QFile::encodeName(QFileInfo(folder).path()));
    return Outcome::success({});
}

Outcome FileManager::removeItem(const Url& url)
{
    if (!url.isFileUrl())
        return Outcome::failure(invalidUrlError(url));
    std::filesystem::path path(nativePath(url).toStdString());
    std::error_code error;
    auto status = std::filesystem::symlink_status(path, error);
    // The system's own reason (a folder that may not be searched, a loop of links), not "missing".
    if (error || !std::filesystem::exists(status))
        return Outcome::failure(PlatformError::fromErrno(error ? error.value() : ENOENT, url.path()));
    std::filesystem::remove_all(path, error);
    if (error)
        return Outcome::failure(PlatformError::fromErrno(error.value(), url.path()));
    return Outcome::success({});
}

namespace {

// Renames `source` to `target`, which the disk takes for one name (a case-only change on FAT or
// exFAT), through a temporary name beside it. Where `target` still names something once `source`
// has gone, it was another item (a hard link) and `source` comes back.
template<typename Failed>
Outcome changeCase(const QByteArray& source, const QByteArray& target, const Failed& failed)
{
    const QByteArray temporary = source + ".renaming-" + QByteArray::number(::getpid());
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, temporary.constData(), RENAME_NOREPLACE) != 0
        && ((errno != EINVAL && errno != ENOSYS) || ::rename(source.constData(), temporary.constData()) != 0))
        return failed(errno);
    // Asked of the folder's listing: a name looked up a moment ago can still be answered from the
    // system's cache on a FUSE mount.
    const QFileInfo targetInfo(QFile::decodeName(target));
    const bool taken = listedNames(targetInfo.path()).contains(targetInfo.fileName());
    int error = taken ? EEXIST : 0;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (!error)
        return Outcome::success({});
    ::rename(temporary.constData(), source.constData());
    return failed(error);
}

} // namespace

namespace {

Outcome renameItem(const Url& from, const Url& to)
{
    if (!from.isFileUrl())
        return Outcome::failure(invalidUrlError(from));
    if (!to.isFileUrl())
        return Outcome::failure(invalidUrlError(to));
    const QByteArray source = nativePath(from);
    const QByteArray target = nativePath(to);
    auto failed = [&](int error) {
        return Outcome::failure(
            PlatformError::fromErrno(error, from.path() + QStringLiteral(" -> ") + to.path()));
    };
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return Outcome::success({});
    if (errno == EEXIST && source != target && FileManager::isSameItem(from, to))
        return changeCase(source, target, failed);
    // NFS, 9p (Windows drives under WSL), VM shared folders and many FUSE file systems reject the
    // no-replace flag (EINVAL; an older kernel or a sandbox: ENOSYS). There, look first; only a file
    // made in the instant between the look and the rename would be replaced.
    if (errno != EINVAL && errno != ENOSYS)
        return failed(errno);
    struct stat existing;
    if (::lstat(target.constData(), &existing) == 0)
        return source != target && FileManager::isSameItem(from, to) ? changeCase(source, target, failed)
                                                                     : failed(EEXIST);
    if (errno != ENOENT)
        return failed(errno);
    if (::rename(source.constData(), target.constData()) != 0)
        return failed(errno);
    return Outcome::success({});
}

} // namespace

Outcome FileManager::moveItem(const Url& from, const Url& to)
{
    Outcome moved = renameItem(from, to);
    if (!moved)
        return moved;
    // So that the move survives a power cut with what is saved after it. The move itself has
    // happened: a folder that cannot be synced does not turn it into a failure.
    const QByteArray into = QFile::encodeName(QFileInfo(to.path()).path());
    const QByteArray outOf = QFile::encodeName(QFileInfo(from.path()).path());
    syncFolder(into);
    if (outOf != into)
        syncFolder(outOf);
    return moved;
}

Result<std::vector<Url>, PlatformError> FileManager::contentsOfDirectory(const Url& url)
{
    using Listing = Result<std::vector<Url>, PlatformError>;
    if (!url.isFileUrl())
        return Listing::failure(invalidUrlError(url));
    std::error_code error;
    std::filesystem::directory_iterator it(std::filesystem::path(nativePath(url).toStdString()), error);
    if (error)
        return Listing::failure(PlatformError::fromErrno(error.value(), url.path()));
    std::vector<QString> names;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error)
            return Listing::failure(PlatformError::fromErrno(error.value(), url.path()));
        names.push_back(QString::fromStdString(it->path().filename().string()));
    }
    std::sort(names.begin(), names.end());
    std::vector<Url> items;
    items.reserve(names.size());
    for (const QString& name : names)
        items.push_back(url.appendingPathComponent(name));
    return Listing::success(std::move(items));
}

Result<QByteArray, PlatformError> FileManager::readRegularFile(const Url& url, std::int64_t limitBytes)
{
    using Read = Result<QByteArray, PlatformError>;
    if (!url.isFileUrl())
        return Read::failure(invalidUrlError(url));
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused right after.
    int fd = ::open(nativePath(url).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Read::failure(PlatformError::fromErrno(errno, url.path()));
    auto fail = [&](int error) {
        ::close(fd);
        return Read::failure(PlatformError::fromErrno(error, url.path()));
    };
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return fail(errno);
    if (S_ISDIR(info.st_mode))
        return fail(EISDIR);
    if (!S_ISREG(info.st_mode))
        return fail(EINVAL);
    if (info.st_size > limitBytes)
        return fail(EFBIG);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(info.st_size));
    qsizetype done = 0;
    for (;;) {
        if (done == bytes.size()) {
            // The file may have grown since fstat: read on, within the limit.
            if (bytes.size() >= limitBytes)
                break;
            bytes.resize(std::min<std::int64_t>(limitBytes, std::max<qsizetype>(bytes.size() * 2, 4096)));
        }
        ssize_t count = ::read(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (count == 0)
            break;
        done += count;
    }
    ::close(fd);
    bytes.truncate(done);
    return Read::success(std::move(bytes));
}

Outcome FileManager::writeAtomically(const Url& url, const QByteArray& bytes)
{
    if (!url.isFileUrl())
        return Outcome::failure(invalidUrlError(url));
    // Plain POSIX calls, each checked: QSaveFile buffers small writes and, on Qt 6.4, reports
    // success from `commit()` even when the buffered bytes met a full disk.
    QString target = url.path();
    struct stat existing;
    bool exists = ::lstat(nativePath(url).constData(), &existing) == 0;
    // A symbolic link keeps pointing where it did: the file it names gets the new content, made
    // there when it is missing. Where the link leads to no folder (its disk unplugged) the save
    // fails: a plain file in the link's place would silently part the user's file from the library.
    if (exists && S_ISLNK(existing.st_mode)) {
        // Where the file is there, the system resolves the whole path, as it does for any open.
        const QString resolved = QFileInfo(target).canonicalFilePath();
        if (!resolved.isEmpty() && ::stat(QFile::encodeName(resolved).constData(), &existing) == 0)
            target = resolved;
    }
    for (int hops = 0; exists && S_ISLNK(existing.st_mode); ++hops) {
        const QString next = QFileInfo(target).symLinkTarget();
        if (hops == 40 || next.isEmpty())
            return Outcome::failure(PlatformError::fromErrno(ELOOP, url.path()));
        target = next;
        exists = ::lstat(QFile::encodeName(target).constData(), &existing) == 0;
    }
    const QByteArray finalPath = QFile::encodeName(target);
    // A file the saver may not write (made read-only, or another user's in a shared folder) is not
    // replaced behind its owner's back by a rename the folder would allow: the save fails as a write
    // into it would. Asked of the file system itself, so mounts without permission bits answer too.
    if (exists && S_ISREG(existing.st_mode)
        && ::faccessat(AT_FDCWD, finalPath.constData(), W_OK, AT_EACCESS) != 0
        && (errno == EACCES || errno == EPERM))
        return Outcome::failure(PlatformError::fromErrno(errno, target));
    const QFileInfo info(target);
    // Created like any new file (the umask applies); the old file's permissions are copied below.
    const QByteArray folder = QFile::encodeName(info.path());
    const QByteArray name = "." + temporaryStem(QFile::encodeName(info.fileName())) + ".saving-";
    // A killed save leaves its temporary file; the next save of the same file removes it (and frees
    // its room before writing on a full disk).
    removeLeftoverSaves(folder, name);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = folder + "/" + name + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
        if (fd < 0)
            continue;
        // Held until the rename: another save's clean-up leaves a held file alone. One that removed
        // this file before the lock was taken makes it unlinked; then another name is tried.
        if (::flock(fd, LOCK_EX) != 0 && !lockingUnsupported(errno)) {
            const int error = errno;
            ::unlink(temporary.constData());
            ::close(fd);
            return Outcome::failure(PlatformError::fromErrno(error, target));
        }
        struct stat made;
        if (::fstat(fd, &made) == 0 && made.st_nlink == 0) {
            ::close(fd);
            fd = -1;
            errno = EEXIST;
        }
    }
    if (fd < 0)
        return Outcome::failure(PlatformError::fromErrno(errno, target));
    auto fail = [&](int error, bool open) {
        if (open)
            ::close(fd);
        ::unlink(temporary.constData());
        return Outcome::failure(PlatformError::fromErrno(error, target));
    };
    // The group first (changing it may clear the set-group-ID bit): a file shared in a group stays
    // readable to its other members. Where the saver is not in that group, or the file system keeps
    // no owners, the new file has the saver's group, as any file the saver makes.
    if (exists && S_ISREG(existing.st_mode))
        (void)::fchown(fd, uid_t(-1), existing.st_gid);
    if (exists && S_ISREG(existing.st_mode) && ::fchmod(fd, existing.st_mode & 07777) != 0
        && !permissionsUnsupported(errno))
        return fail(errno, true);

    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno, true);
        }
        if (written == 0)
            return fail(EIO, true);
        at += written;
        left -= written;
    }
    // Some file systems only report a full disk when the data goes out.
    if (::fsync(fd) != 0)
        return fail(errno, true);
    struct stat written;
    if (::fstat(fd, &written) != 0)
        return fail(errno, true);
    if (written.st_size != bytes.size())
        return fail(EIO, true);
    // Renamed while still held, so no clean-up takes it in between. The data is on disk already
    // (fsync above), so a failing close after the rename changes nothing.
    if (::rename(temporary.constData(), finalPath.constData()) != 0)
        return fail(errno, true);
    ::close(fd);
    // Until its folder is synced the rename may be undone by a power cut: a save reported done, and
    // what was saved after it relying on it, would find the old file back.
    if (const int error = syncFolder(folder))
        return Outcome::failure(PlatformError::fromErrno(error, target));
    return Outcome::success({});
}

Outcome FileManager::synchronize(const Url& url)
{
    if (!url.isFileUrl())
        return Outcome::failure(invalidUrlError(url));
    // Not blocking: a pipe found where a file was expected is opened and let be, never waited on.
    const int fd = ::open(nativePath(url).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (const int error = syncAndClose(fd))
        return Outcome::failure(PlatformError::fromErrno(error, url.path()));
    return Outcome::success({});
}

bool FileVersion::operator==(const FileVersion& other) const
{
    if (modified.tv_nsec == 0)
        return false;
    return device == other.device && inode == other.inode && size == other.size
        && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
        && regular == other.regular;
}

std::optional<FileVersion> FileManager::versionOf(const Url& url)
{
    struct stat info;
    if (!url.isFileUrl() || ::stat(nativePath(url).constData(), &info) != 0)
        return std::nullopt;
    return FileVersion { info.st_dev, info.st_ino, info.st_size, info.st_mtim, S_ISREG(info.st_mode) };
}

Result<Url, PlatformError> FileManager::keepBeside(const Url& url, QString name, const QString& suffix,
    const QString& extension, std::int64_t limitBytes, LinkKept link, Original original)
{
    using Kept = Result<Url, PlatformError>;
    if (!url.isFileUrl())
        return Kept::failure(invalidUrlError(url));
    const double unixSeconds = Date::now().timeIntervalSince1970();
    const QString stamp = QDateTime::fromMSecsSinceEpoch(qint64(unixSeconds * 1000.0), Qt::UTC)
                              .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString added = suffix + stamp;
    const qsizetype room = 255 - (added + QStringLiteral("-99") + extension).toUtf8().size();
    while (!name.isEmpty() && name.toUtf8().size() > room) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    const QString base = name + added;
    const Url folder = url.deletingLastPathComponent();
    Url kept = folder.appendingPathComponent(base + extension);
    for (int attempt = 2; fileExists(kept); ++attempt)
        kept = folder.appendingPathComponent(base + QStringLiteral("-%1").arg(attempt) + extension);
    Outcome moved = Outcome::success({});
    const QFileInfo info(url.path());
    if (link == LinkKept::copied && info.isSymLink()) {
        auto bytes = readRegularFile(url, limitBytes);
        moved = bytes ? writeAtomically(kept, bytes.value()) : Outcome::failure(bytes.error());
    } else if (original == Original::staysUntilReplaced && !info.isSymLink() && info.isFile()
        && info.permission(QFileDevice::ReadOwner)) {
        if (::link(QFile::encodeName(url.path()).constData(), QFile::encodeName(kept.path()).constData())
            != 0) {
            // A disk that makes no links (a memory card) gets a copy, and with no room for one
            // nothing is kept; a file that cannot be read whole (too large) is moved after all.
            auto bytes = readRegularFile(url, limitBytes);
            moved = bytes ? writeAtomically(kept, bytes.value()) : moveItem(url, kept);
        }
    } else {
        moved = moveItem(url, kept);
    }
    if (!moved)
        return Kept::failure(moved.error());
    return Kept::success(kept);
}

} // namespace platform
