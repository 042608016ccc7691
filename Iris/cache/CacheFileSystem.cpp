#include "Iris/cache/CacheFileSystem.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace iris {

namespace {

namespace fs = std::filesystem;

using platform::PlatformError;

std::string nativePath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

bool writeAll(int fd, const QByteArray& data)
{
    const char* at = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        ssize_t written = ::write(fd, at, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        at += written;
        left -= written;
    }
    return true;
}

bool attributesUnsupported(int error)
{
    return error == ENOTSUP || error == EOPNOTSUPP;
}

} // namespace

QByteArray lastAccessAttributeValue(platform::Date date)
{
    const double seconds
        = std::clamp(date.timeIntervalSince1970(), platform::Date::distantPast().timeIntervalSince1970(),
            platform::Date::distantFuture().timeIntervalSince1970());
    // Not-a-number fails every comparison and comes through the clamp; it is recorded as the
    // distant past, as file times record it.
    const double whole
        = std::isnan(seconds) ? platform::Date::distantPast().timeIntervalSince1970() : std::ceil(seconds);
    return QByteArray::number(static_cast<qint64>(whole));
}

std::optional<platform::Date> parseLastAccessAttribute(const QByteArray& value)
{
    // A sign and at most twelve digits: every date between the distant past and future, and no
    // overflow.
    qsizetype digits = value.startsWith('-') ? 1 : 0;
    if (value.size() - digits < 1 || value.size() - digits > 12)
        return std::nullopt;
    for (qsizetype i = digits; i < value.size(); ++i) {
        if (value.at(i) < '0' || value.at(i) > '9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 seconds = value.toLongLong(&ok);
    const platform::Date date = platform::Date::fromUnixSeconds(double(seconds));
    if (!ok || date < platform::Date::distantPast() || platform::Date::distantFuture() < date)
        return std::nullopt;
    return date;
}

std::shared_ptr<CacheFileSystem> CacheFileSystem::defaultFileSystem()
{
    static const std::shared_ptr<CacheFileSystem> shared = std::make_shared<CacheFileSystem>();
    return shared;
}

bool CacheFileSystem::fileExists(const QString& path)
{
    struct stat info { };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::createDirectory(const QString& path)
{
    std::error_code error;
    fs::create_directories(nativePath(path), error);
    if (error)
        return Result<Success>::failure(PlatformError::fromErrno(error.value(), path));
    return Result<Success>::success({});
}

CacheFileSystem::Result<QStringList> CacheFileSystem::contentsOfDirectory(const QString& path)
{
    DIR* directory = ::opendir(QFile::encodeName(path).constData());
    if (!directory)
        return Result<QStringList>::failure(PlatformError::fromErrno(errno, path));
    QStringList names;
    while (dirent* entry = ::readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names << QFile::decodeName(entry->d_name);
    }
    ::closedir(directory);
    return Result<QStringList>::success(std::move(names));
}

CacheFileSystem::Result<CacheFileSystem::Listing> CacheFileSystem::enumerate(const QString& directory)
{
    std::error_code error;
    fs::recursive_directory_iterator walk(nativePath(directory), fs::directory_options::none, error);
    if (error)
        return Result<Listing>::failure(PlatformError::fromErrno(error.value(), directory));
    Listing listing;
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (error)
            break;
        const fs::path& path = walk->path();
        if (path.filename().native().starts_with('.')) {
            walk.disable_recursion_pending();
            continue;
        }
        listing.paths.push_back(QFile::decodeName(QByteArray::fromStdString(path.native())));
    }
    if (error)
        listing.brokenListing = true;
    return Result<Listing>::success(std::move(listing));
}

CacheFileSystem::Result<platform::FileStatus> CacheFileSystem::status(const QString& path)
{
    return platform::fileStatus(path);
}

CacheFileSystem::Result<QByteArray> CacheFileSystem::readFile(const QString& path)
{
    return platform::readFileKeepingAccessTime(path, platform::FinalSymbolicLink::refuse);
}

CacheFileSystem::Result<platform::FileContents> CacheFileSystem::readFileIfAccepted(
    const QString& path, const std::function<bool(const platform::FileStatus&)>& shouldRead)
{
    // The last access the cache recorded comes along, as every read of a live file needs it, unless
    // this program wrote it.
    bool remembered = false;
    {
        const std::lock_guard lock(m_recordedLock);
        remembered = m_recorded.contains(path);
    }
    return platform::readFileIfAccepted(path, shouldRead, platform::FinalSymbolicLink::refuse,
        remembered ? nullptr : lastAccessAttributeName);
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::writeFile(
    const QString& path, const QByteArray& data, DataWritingOptions, const BeforeNaming& beforeNaming)
{
    // The partial file is visible on purpose: if the process dies while it is written, listings see
    // it, and its current modification date makes it count as expired for the next clean.
    QByteArray temporary = QFile::encodeName(path) + temporaryFileSuffix;
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Result<Success>::failure(PlatformError::fromErrno(errno, path));
    const QString temporaryPath = QFile::decodeName(temporary);
    auto abandon = [&](Result<Success> failure) {
        ::unlink(temporary.constData());
        const std::lock_guard lock(m_recordedLock);
        m_recorded.erase(temporaryPath);
        return failure;
    };
    bool written = writeAll(fd, data);
    int writeError = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written)
        return abandon(Result<Success>::failure(PlatformError::fromErrno(writeError, path)));
    if (beforeNaming) {
        if (auto prepared = beforeNaming(temporaryPath); prepared.isFailure())
            return abandon(prepared);
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        return abandon(Result<Success>::failure(PlatformError::fromErrno(errno, path)));
    // What was recorded of the new file under its temporary name now holds for its own name, and
    // nothing recorded of the file it replaced does.
    const std::lock_guard lock(m_recordedLock);
    if (auto recorded = m_recorded.extract(temporaryPath))
        m_recorded.insert_or_assign(path, recorded.mapped());
    else
        m_recorded.erase(path);
    return Result<Success>::success({});
}

void CacheFileSystem::recordLastAccess(
    const QString& path, platform::Date date, platform::Date modification, int fd)
{
    const QByteArray native = QFile::encodeName(path);
    const QByteArray value = lastAccessAttributeValue(date);
    const int set = fd >= 0
        ? ::fsetxattr(fd, lastAccessAttributeName, value.constData(), size_t(value.size()), 0)
        : ::lsetxattr(
            native.constData(), lastAccessAttributeName, value.constData(), size_t(value.size()), 0);
    if (set == 0) {
        // Far more than the files a session reads again; past it, reads go to the files.
        constexpr size_t mostRemembered = 4096;
        const std::lock_guard lock(m_recordedLock);
        if (m_recorded.size() >= mostRemembered)
            m_recorded.clear();
        m_recorded[path] = { parseLastAccessAttribute(value).value_or(date), modification };
        return;
    }
    if (!attributesUnsupported(errno))
        (void)(fd >= 0 ? ::fremovexattr(fd, lastAccessAttributeName)
                       : ::lremovexattr(native.constData(), lastAccessAttributeName));
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::setDates(
    const QString& path, platform::Date accessDate, platform::Date modificationDate)
{
    {
        const std::lock_guard lock(m_recordedLock);
        m_recorded.erase(path);
    }
    auto set = platform::setFileDates(path, accessDate, modificationDate);
    if (set.isSuccess())
        recordLastAccess(path, accessDate, modificationDate);
    return set;
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::setDatesIfUnchanged(const QString& path,
    platform::Date modificationBefore, platform::Date accessDate, platform::Date modificationDate)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Result<Success>::failure(PlatformError::fromErrno(errno, path));
    struct stat info { };
    Result<Success> set = Result<Success>::failure(PlatformError::fromErrno(ESTALE, path));
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
        && platform::dateFromTimespec(info.st_mtim) == modificationBefore) {
        {
            const std::lock_guard lock(m_recordedLock);
            m_recorded.erase(path);
        }
        set = platform::setFileDates(fd, accessDate, modificationDate);
        if (set.isSuccess())
            recordLastAccess(path, accessDate, modificationDate, fd);
    }
    ::close(fd);
    return set;
}

// The last access a read finds in `attribute` (the file's record, or why it has none), recording
// the access time where the file has no record yet.
platform::Date CacheFileSystem::lastAccessFrom(
    const QString& path, const platform::FileStatus& status, const platform::FileAttributeValue& attribute)
{
    if (attribute.value) {
        if (auto recorded = parseLastAccessAttribute(*attribute.value))
            return *recorded;
    } else if (attribute.error != ENODATA && attribute.error != ERANGE) {
        // No attributes here (or the file has gone): the access time is all there is.
        return status.accessDate;
    }
    // Only a regular file is ever given a record: a read never writes through a link or to a device.
    if (status.type != platform::FileStatus::Type::regular)
        return status.accessDate;
    recordLastAccess(path, status.accessDate, status.modificationDate);
    // As recorded (whole seconds), so that this read and every later one agree.
    return parseLastAccessAttribute(lastAccessAttributeValue(status.accessDate)).value_or(status.accessDate);
}

platform::Date CacheFileSystem::lastAccessDate(const QString& path, const platform::FileStatus& status)
{
    const QByteArray native = QFile::encodeName(path);
    char buffer[32];
    const ssize_t size = ::lgetxattr(native.constData(), lastAccessAttributeName, buffer, sizeof buffer);
    platform::FileAttributeValue attribute;
    if (size >= 0)
        attribute.value = QByteArray(buffer, qsizetype(size));
    else
        attribute.error = errno;
    return lastAccessFrom(path, status, attribute);
}

platform::Date CacheFileSystem::lastAccessDate(const QString& path, const platform::FileContents& contents)
{
    {
        const std::lock_guard lock(m_recordedLock);
        const auto recorded = m_recorded.find(path);
        if (recorded != m_recorded.end() && recorded->second.modification == contents.status.modificationDate)
            return recorded->second.lastAccess;
    }
    if (!contents.attribute)
        return lastAccessDate(path, contents.status);
    return lastAccessFrom(path, contents.status, *contents.attribute);
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::removeItem(const QString& path)
{
    {
        // What a removed folder held stays until the map is full: a file is checked against its
        // modification date when read.
        const std::lock_guard lock(m_recordedLock);
        m_recorded.erase(path);
    }
    std::error_code error;
    std::uintmax_t removed = fs::remove_all(nativePath(path), error);
    if (error)
        return Result<Success>::failure(PlatformError::fromErrno(error.value(), path));
    if (removed == 0)
        return Result<Success>::failure(PlatformError::fromErrno(ENOENT, path));
    return Result<Success>::success({});
}

} // namespace iris
