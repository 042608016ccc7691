#include "platform/foundation/Trash.h"

#include "platform/foundation/FileManager.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

using Moved = Result<Url, PlatformError>;
using Outcome = Result<Success, PlatformError>;

constexpr qsizetype nameLimitBytes = 255;
constexpr char recordSuffix[] = ".trashinfo";
// Past this many taken names something else is wrong; a move must end.
constexpr int mostNamesTried = 100000;

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString parentOf(const QString& path)
{
    return QFileInfo(path).path();
}

// The mounted file system a path is on: its device and, where the kernel tells it, the mount's
// own number. Two mounts of one disk (a bind mount, a container's view of a home folder) share the
// device, yet nothing is renamed from one into the other.
struct Mount {
    dev_t device = 0;
    std::uint64_t id = 0; // 0 where the kernel does not tell
    bool operator==(const Mount& other) const
    {
        return device == other.device && (id == 0 || other.id == 0 || id == other.id);
    }
};

std::optional<Mount> mountOf(const QString& path)
{
    struct statx info;
    if (::statx(AT_FDCWD, native(path).constData(), 0, STATX_INO | STATX_MNT_ID, &info) == 0)
        return Mount { makedev(info.stx_dev_major, info.stx_dev_minor),
            (info.stx_mask & STATX_MNT_ID) ? info.stx_mnt_id : 0 };
    if (errno != ENOSYS)
        return std::nullopt;
    struct stat plain;
    if (::stat(native(path).constData(), &plain) != 0)
        return std::nullopt;
    return Mount { plain.st_dev, 0 };
}

// The mount of the nearest folder of `path` that exists.
std::optional<Mount> mountOfNearest(QString path)
{
    for (;;) {
        if (auto mount = mountOf(path))
            return mount;
        const QString parent = parentOf(path);
        if (parent == path)
            return std::nullopt;
        path = parent;
    }
}

// The folder `folder`'s mount is mounted on: the last one up from it on the same mount.
QString topFolderOf(const QString& folder, const Mount& mount)
{
    QString top = QFileInfo(folder).canonicalFilePath();
    if (top.isEmpty())
        return folder;
    while (top != QLatin1String("/")) {
        const QString parent = parentOf(top);
        if (parent == top || mountOf(parent) != mount)
            break;
        top = parent;
    }
    return top;
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

Outcome failure(int error, const QString& context)
{
    return Outcome::failure(PlatformError::fromErrno(error, context));
}

enum class Parents { make, mustExist };

// Makes the trash folder and its "files" and "info" (only the user may look in), and whatever
// folders above it are missing when `parents` says so. A folder made here must still be there after
// a power cut with an item in it: the folder that lists it is synced.
Outcome makeTrashFolders(const QString& trash, Parents parents)
{
    QStringList missing; // the shallowest first
    for (QString folder = trash; !QFileInfo::exists(folder) && parentOf(folder) != folder;
         folder = parentOf(folder)) {
        missing.prepend(folder);
        if (parents == Parents::mustExist)
            break;
    }
    for (const char* part : { "/files", "/info" }) {
        if (!QFileInfo::exists(trash + QLatin1String(part)))
            missing << trash + QLatin1String(part);
    }
    for (const QString& folder : missing) {
        const bool ours = folder == trash || parentOf(folder) == trash;
        if (::mkdir(native(folder).constData(), ours ? 0700 : 0777) != 0 && errno != EEXIST)
            return failure(errno, folder);
    }
    for (const QString& folder : missing)
        (void)FileManager::synchronize(Url::fileUrl(parentOf(folder)));
    for (const QString& folder :
        { trash, trash + QStringLiteral("/files"), trash + QStringLiteral("/info") }) {
        if (!QFileInfo(folder).isDir())
            return failure(ENOTDIR, folder);
    }
    return Outcome::success({});
}

// A trash folder on another disk is taken only as a folder of this user's, never through a link
// someone else put there: one found is checked before anything is made in it.
bool isOwnTrash(const QString& trash)
{
    struct stat info;
    return ::lstat(native(trash).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::getuid();
}

// Whether `error`, met while making a trash, passes with time or the user's help (a full disk, a
// quota, a failing read): the disk has a trash all the same, which cannot take the item now. Told
// as "no trash there", it would have the item deleted for good.
bool isPassingFault(const PlatformError& error)
{
    if (error.domain != PlatformError::posixDomain)
        return false;
    switch (error.code) {
    case ENOSPC:
    case EDQUOT:
    case EIO:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
        return true;
    default:
        return false;
    }
}

// Whether `trash` can take items: a folder of this user's, made where missing. A passing fault
// while making it is returned as that failure.
Result<bool, PlatformError> takesItems(const QString& trash)
{
    using Takes = Result<bool, PlatformError>;
    if (QFileInfo::exists(trash) || QFileInfo(trash).isSymLink()) {
        if (!isOwnTrash(trash))
            return Takes::success(false);
    }
    auto made = makeTrashFolders(trash, Parents::mustExist);
    if (!made && isPassingFault(made.error()))
        return Takes::failure(made.error());
    return Takes::success(made && isOwnTrash(trash));
}

Result<std::optional<QString>, PlatformError> volumeTrash(const QString& top)
{
    using Found = Result<std::optional<QString>, PlatformError>;
    const QString user = QString::number(::getuid());
    const QString shared = joined(top, QStringLiteral(".Trash"));
    struct stat info;
    if (::lstat(native(shared).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && (info.st_mode & S_ISVTX)) {
        auto takes = takesItems(joined(shared, user));
        if (!takes)
            return Found::failure(takes.error());
        if (takes.value())
            return Found::success(joined(shared, user));
    }
    const QString trash = joined(top, QStringLiteral(".Trash-") + user);
    auto takes = takesItems(trash);
    if (!takes)
        return Found::failure(takes.error());
    return Found::success(takes.value() ? std::optional<QString>(trash) : std::nullopt);
}

// The trash on the mount of the folder `from`.
Result<QString, PlatformError> trashFor(const QString& from)
{
    using Found = Result<QString, PlatformError>;
    const auto mount = mountOf(from);
    if (!mount)
        return Found::failure(PlatformError::fromErrno(errno, from));
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString home = QDir::isAbsolutePath(data) ? data + QStringLiteral("/Trash") : QString();
    if (!home.isEmpty() && mountOfNearest(home) == mount) {
        // A home trash that can never be made (its place taken by a file, a folder the user may not
        // write) is no trash on this disk, as one missing elsewhere is.
        if (auto made = makeTrashFolders(home, Parents::make); !made) {
            if (isPassingFault(made.error()))
                return Found::failure(made.error());
            return Found::failure(PlatformError::wrapping(PlatformError::posixDomain, EXDEV,
                QStringLiteral("no trash on the disk of ") + from, made.error()));
        }
        return Found::success(home);
    }
    auto trash = volumeTrash(topFolderOf(from, *mount));
    if (!trash)
        return Found::failure(trash.error());
    if (trash.value())
        return Found::success(*trash.value());
    return Found::failure(PlatformError::fromErrno(EXDEV, QStringLiteral("no trash on the disk of ") + from));
}

// `name`, or `name` + "-0001" and on, cut at a character's start so that its record's name fits.
QString candidateName(const QString& name, int attempt)
{
    const QString suffix
        = attempt == 0 ? QString() : QStringLiteral("-%1").arg(attempt, 4, 10, QLatin1Char('0'));
    const qsizetype room = nameLimitBytes - qsizetype(sizeof recordSuffix - 1) - native(suffix).size();
    QString cut = name;
    while (native(cut).size() > room) {
        cut.chop(1);
        if (!cut.isEmpty() && cut.back().isHighSurrogate())
            cut.chop(1);
    }
    return cut + suffix;
}

// Writes the whole record to `fd` and syncs it; closes `fd`. The POSIX error, else 0.
int writeAndSync(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            const int error = count < 0 ? errno : ENOSPC;
            ::close(fd);
            return error;
        }
        written += count;
    }
    const int synced = ::fsync(fd) == 0 ? 0 : errno;
    const int closed = ::close(fd) == 0 ? 0 : errno;
    return synced ? synced : closed;
}

// The record of an item trashed from `originalPath`, its path escaped as in URLs, "/" kept, and the
// deletion date in local time to the second.
QByteArray trashRecord(const QString& originalPath, const QString& deletionDate)
{
    return "[Trash Info]\nPath=" + native(originalPath).toPercentEncoding("/")
        + "\nDeletionDate=" + deletionDate.toUtf8() + "\n";
}

} // namespace

Moved Trash::moveToTrash(const Url& item)
{
    if (!item.isFileUrl())
        return Moved::failure(PlatformError::fromErrno(EINVAL, item.absoluteString()));
    const QString path = QDir::cleanPath(item.path());
    struct stat info;
    if (::lstat(native(path).constData(), &info) != 0)
        return Moved::failure(PlatformError::fromErrno(errno, path));
    auto trash = trashFor(parentOf(path));
    if (!trash)
        return Moved::failure(trash.error());
    const QString files = trash.value() + QStringLiteral("/files");
    const QString infoFolder = trash.value() + QStringLiteral("/info");
    const QByteArray record
        = trashRecord(path, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")));

    for (int attempt = 0; attempt < mostNamesTried; ++attempt) {
        const QString name = candidateName(QFileInfo(path).fileName(), attempt);
        const QString target = files + QLatin1Char('/') + name;
        struct stat taken;
        if (::lstat(native(target).constData(), &taken) == 0)
            continue;
        // The record is made exclusively: a name another move (in this program or another) holds is
        // never written over.
        const QString recordPath = infoFolder + QLatin1Char('/') + name + QLatin1String(recordSuffix);
        const int fd = ::open(native(recordPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return Moved::failure(PlatformError::fromErrno(errno, recordPath));
        auto dropRecord = [&] {
            ::unlink(native(recordPath).constData());
            (void)FileManager::synchronize(Url::fileUrl(infoFolder));
        };
        // Whole and on disk, with its name, before the item moves: a power cut after the rename
        // finds the item's record.
        if (const int error = writeAndSync(fd, record)) {
            dropRecord();
            return Moved::failure(PlatformError::fromErrno(error, recordPath));
        }
        if (auto synced = FileManager::synchronize(Url::fileUrl(infoFolder)); !synced) {
            dropRecord();
            return Moved::failure(synced.error());
        }
        // The move syncs "files" and the folder the item left.
        auto moved = FileManager::moveItem(Url::fileUrl(path), Url::fileUrl(target));
        if (moved)
            return Moved::success(Url::fileUrl(target));
        dropRecord();
        const PlatformError& error = moved.error();
        if (error.domain != PlatformError::posixDomain || error.code != EEXIST)
            return Moved::failure(error);
    }
    return Moved::failure(PlatformError::fromErrno(EEXIST, files));
}

} // namespace platform
