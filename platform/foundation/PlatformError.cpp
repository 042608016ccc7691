#include "platform/foundation/PlatformError.h"

#include <cstring>

namespace platform {

PlatformError PlatformError::fromErrno(int error, const QString& context)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!context.isEmpty())
        text = context + QStringLiteral(": ") + text;
    return PlatformError{posixDomain, error, text, nullptr};
}

PlatformError PlatformError::wrapping(QString domain, int code, QString description, PlatformError cause)
{
    return PlatformError{std::move(domain), code, std::move(description),
                         std::make_shared<const PlatformError>(std::move(cause))};
}

} // namespace platform
