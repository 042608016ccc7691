#include "platform/foundation/PlatformError.h"

#include <cerrno>
#include <cstring>

namespace platform {

PlatformError PlatformError::fromErrno(int error, const QString& context)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!context.isEmpty())
        text = context + QStringLiteral(": ") + text;
    return PlatformError { posixDomain, error, text, nullptr };
}

PlatformError PlatformError::wrapping(QString domain, int code, QString description, PlatformError cause)
{
    return PlatformError { std::move(domain), code, std::move(description),
        std::make_shared<const PlatformError>(std::move(cause)) };
}

const PlatformError* PlatformError::posixFailure() const
{
    const PlatformError* posix = this;
    while (posix && posix->domain != posixDomain)
        posix = posix->underlying.get();
    return posix;
}

QString PlatformError::posixContext() const
{
    if (domain != posixDomain)
        return {};
    const QString suffix = QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
    return description.endsWith(suffix) ? description.chopped(suffix.size()) : QString();
}

QString PlatformError::plainDescription() const
{
    const PlatformError* posix = posixFailure();
    if (!posix)
        return description;
    // The path leads a POSIX failure's text (the destination, for a move).
    QString file = posix->posixContext().section(QStringLiteral(" -> "), -1);
    if (file.isEmpty())
        file = QStringLiteral("the file");
    switch (posix->code) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral(
            "There is no space left on the disk for %1. Free some space on it, then try again.")
            .arg(file);
    case EACCES:
    case EPERM:
        return QStringLiteral("Permission to change %1 was refused. Check in the file manager that you may "
                              "change it and its folder, then try again.")
            .arg(file);
    case EROFS:
        return QStringLiteral(
            "%1 is on a disk that can only be read. Make the disk writable, then try again.")
            .arg(file);
    case EIO:
        return QStringLiteral(
            "The disk holding %1 reported an error. Check that it is connected and working, "
            "then try again.")
            .arg(file);
    case ENOTCONN:
    case ESTALE:
    case ENODEV:
    case ENXIO:
    case EHOSTDOWN:
        return QStringLiteral(
            "The disk holding %1 cannot be reached. Check that it is connected, then try again.")
            .arg(file);
    default:
        return description;
    }
}

} // namespace platform
