#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>

namespace platform {

// A date as a file time. Dates outside [distantPast, distantFuture] are clamped to that range and
// not-a-number becomes distantPast, so no date ever turns into an undefined integer conversion.
// Fractions of a second are kept as nanoseconds.
timespec timespecFromDate(Date date);
Date dateFromTimespec(const timespec& time);

// What one `lstat` tells about an entry, with the two file times as dates.
struct FileStatus {
    enum class Type { regular, directory, symbolicLink, other };
    Type type = Type::other;
    std::int64_t size = 0;
    Date accessDate;
    Date modificationDate;
    Date changeDate; // the last change to the file's bytes or attributes; nobody can set it
};

// Reads the status of `path` without following a final symbolic link.
Result<FileStatus, PlatformError> fileStatus(const QString& path);

// Sets the access and modification times of `path` (not following a final symbolic link).
Result<Success, PlatformError> setFileDates(const QString& path, Date accessDate, Date modificationDate);

// Sets the two times of an open file.
Result<Success, PlatformError> setFileDates(int fileDescriptor, Date accessDate, Date modificationDate);

enum class FinalSymbolicLink { follow, refuse };

// Reads a whole regular file without moving its access time (O_NOATIME, or a plain open where the
// kernel refuses it because the caller does not own the file). Anything but a regular file is
// refused, so a FIFO or a device can never block or flood the reader.
Result<QByteArray, PlatformError> readFileKeepingAccessTime(
    const QString& path, FinalSymbolicLink link = FinalSymbolicLink::follow);

// As above, but first hands the open file's status to `shouldRead`; the bytes are read only when it
// accepts. One open and one status read answer both "what is there" and "what does it hold".
// With `attributeName`, the file's extended attribute of that name is read through the same open
// file: its value, or the errno that told why there is none (ENODATA when the file has no such
// attribute).
struct FileAttributeValue {
    std::optional<QByteArray> value;
    int error = 0;
};
struct FileContents {
    FileStatus status;
    std::optional<QByteArray> data;
    // Only when an attribute was asked for of a regular file.
    std::optional<FileAttributeValue> attribute;
};
Result<FileContents, PlatformError> readFileIfAccepted(const QString& path,
    const std::function<bool(const FileStatus&)>& shouldRead,
    FinalSymbolicLink link = FinalSymbolicLink::follow, const char* attributeName = nullptr);

} // namespace platform
