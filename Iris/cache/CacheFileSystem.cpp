#include "Iris/cache/CacheFileSystem.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
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

} // namespace

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
    return platform::readFileIfAccepted(path, shouldRead, platform::FinalSymbolicLink::refuse);
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::writeFile(
    const QString& path, const QByteArray& data, DataWritingOptions)
{
    // The partial file is visible on purpose: if the process dies before the rename, listings see
    // it, and its current modification date makes it count as expired for the next clean.
    QByteArray temporary = QFile::encodeName(path) + temporaryFileSuffix;
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Result<Success>::failure(PlatformError::fromErrno(errno, path));
    bool written = writeAll(fd, data);
    int writeError = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        ::unlink(temporary.constData());
        return Result<Success>::failure(PlatformError::fromErrno(writeError, path));
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        int renameError = errno;
        ::unlink(temporary.constData());
        return Result<Success>::failure(PlatformError::fromErrno(renameError, path));
    }
    return Result<Success>::success({});
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::setDates(
    const QString& path, platform::Date accessDate, platform::Date modificationDate)
{
    return platform::setFileDates(path, accessDate, modificationDate);
}

CacheFileSystem::Result<CacheFileSystem::Success> CacheFileSystem::removeItem(const QString& path)
{
    std::error_code error;
    std::uintmax_t removed = fs::remove_all(nativePath(path), error);
    if (error)
        return Result<Success>::failure(PlatformError::fromErrno(error.value(), path));
    if (removed == 0)
        return Result<Success>::failure(PlatformError::fromErrno(ENOENT, path));
    return Result<Success>::success({});
}

} // namespace iris
