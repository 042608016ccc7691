#include "platform/foundation/Bundle.h"

#include "platform/foundation/Environment.h"
#include "platform/foundation/Url.h"

#include <QFileInfo>

namespace platform {

std::optional<QString> Bundle::pathForResource(const QString& name, const QString& type)
{
    QString fileName = type.isEmpty() ? name : name + QLatin1Char('.') + type;
    if (!isSinglePathComponent(fileName))
        return std::nullopt;
    QString folder = Environment::resourcesDirectory();
    if (!folder.endsWith(QLatin1Char('/')))
        folder.append(QLatin1Char('/'));
    QString path = folder + fileName;
    QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    return path;
}

} // namespace platform
