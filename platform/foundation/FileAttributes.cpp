#include "platform/foundation/FileAttributes.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr long nanosecondsPerSecond = 1'000'000'000;

Date dateFromStatTime(const timespec& time)
{
    return dateFromTimespec(time);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

timespec timespecFromDate(Date date)
{
    double seconds = date.timeIntervalSinceReferenceDate();
    if (std::isnan(seconds))
        seconds = Date::distantPastSeconds;
    seconds = std::clamp(seconds, Date::distantPastSeconds, Date::distantFutureSeconds);
    double unixSeconds = seconds + Date::unixEpochOffsetSeconds;
    double whole = std::floor(unixSeconds);
    auto nanoseconds = static_cast<long>(std::llround((unixSeconds - whole) * nanosecondsPerSecond));
    auto wholeSeconds = static_cast<std::int64_t>(whole);
    if (nanoseconds >= nanosecondsPerSecond) {
        nanoseconds -= nanosecondsPerSecond;
        ++wholeSeconds;
    }
    timespec result {};
    result.tv_sec = static_cast<time_t>(wholeSeconds);
    result.tv_nsec = nanoseconds;
    return result;
}

Date dateFromTimespec(const timespec& time)
{
    return Date::fromUnixSeconds(
        static_cast<double>(time.tv_sec) + time.tv_nsec / double(nanosecondsPerSecond));
}

Result<FileStatus, PlatformError> fileStatus(const QString& path)
{
    struct stat info { };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return Result<FileStatus, PlatformError>::failure(PlatformError::fromErrno(errno, path));
    FileStatus status;
    if (S_ISREG(info.st_mode))
        status.type = FileStatus::Type::regular;
    else if (S_ISDIR(info.st_mode))
        status.type = FileStatus::Type::directory;
    else if (S_ISLNK(info.st_mode))
        status.type = FileStatus::Type::symbolicLink;
    status.size = info.st_size;
    status.accessDate = dateFromStatTime(info.st_atim);
    status.modificationDate = dateFromStatTime(info.st_mtim);
    status.changeDate = dateFromStatTime(info.st_ctim);
    return Result<FileStatus, PlatformError>::success(status);
}

Result<Success, PlatformError> setFileDates(const QString& path, Date accessDate, Date modificationDate)
{
    const timespec times[2] = { timespecFromDate(accessDate), timespecFromDate(modificationDate) };
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return Result<Success, PlatformError>::failure(PlatformError::fromErrno(errno, path));
    return Result<Success, PlatformError>::success({});
}

Result<Success, PlatformError> setFileDates(int fileDescriptor, Date accessDate, Date modificationDate)
{
    const timespec times[2] = { timespecFromDate(accessDate), timespecFromDate(modificationDate) };
    if (::futimens(fileDescriptor, times) != 0)
        return Result<Success, PlatformError>::failure(PlatformError::fromErrno(errno));
    return Result<Success, PlatformError>::success({});
}

Result<QByteArray, PlatformError> readFileKeepingAccessTime(const QString& path, FinalSymbolicLink link)
{
    auto contents = readFileIfAccepted(
        path, [](const FileStatus&) { return true; }, link);
    if (contents.isFailure())
        return Result<QByteArray, PlatformError>::failure(contents.error());
    return Result<QByteArray, PlatformError>::success(std::move(*std::move(contents).value().data));
}

Result<FileContents, PlatformError> readFileIfAccepted(const QString& path,
    const std::function<bool(const FileStatus&)>& shouldRead, FinalSymbolicLink link,
    const char* attributeName)
{
    using ReadResult = Result<FileContents, PlatformError>;
    const QByteArray encoded = QFile::encodeName(path);
    const int flags
        = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (link == FinalSymbolicLink::refuse ? O_NOFOLLOW : 0);
    int fd = ::open(encoded.constData(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::open(encoded.constData(), flags);
    if (fd < 0)
        return ReadResult::failure(PlatformError::fromErrno(errno, path));
    FileDescriptor file(fd);
    struct stat info { };
    if (::fstat(file.get(), &info) != 0)
        return ReadResult::failure(PlatformError::fromErrno(errno, path));
    if (!S_ISREG(info.st_mode))
        return ReadResult::failure(PlatformError::fromErrno(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, path));
    FileContents contents;
    contents.status.type = FileStatus::Type::regular;
    contents.status.size = info.st_size;
    contents.status.accessDate = dateFromStatTime(info.st_atim);
    contents.status.modificationDate = dateFromStatTime(info.st_mtim);
    if (attributeName) {
        // Through the open file: no second walk of the path.
        char buffer[256];
        FileAttributeValue attribute;
        const ssize_t size = ::fgetxattr(file.get(), attributeName, buffer, sizeof buffer);
        if (size >= 0)
            attribute.value = QByteArray(buffer, qsizetype(size));
        else
            attribute.error = errno;
        contents.attribute = std::move(attribute);
    }
    if (!shouldRead(contents.status))
        return ReadResult::success(std::move(contents));

    // A file that grows while it is read is read up to the size it had when opened; one that reports
    // no size (as kernel files do) is read to its end. A file larger than the memory left is a
    // failed read, not a throw on the reader's thread.
    const bool sizeKnown = info.st_size > 0;
    try {
        QByteArray data(sizeKnown ? static_cast<qsizetype>(info.st_size) : 64 * 1024, Qt::Uninitialized);
        qsizetype filled = 0;
        while (!sizeKnown || filled < data.size()) {
            if (filled == data.size())
                data.resize(data.size() * 2);
            ssize_t got = ::read(file.get(), data.data() + filled, static_cast<size_t>(data.size() - filled));
            if (got == 0)
                break;
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return ReadResult::failure(PlatformError::fromErrno(errno, path));
            }
            filled += got;
        }
        data.resize(filled);
        contents.data = std::move(data);
    } catch (const std::bad_alloc&) {
        return ReadResult::failure(PlatformError::fromErrno(ENOMEM, path));
    }
    return ReadResult::success(std::move(contents));
}

} // namespace platform
