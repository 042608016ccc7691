#include "platform/foundation/Environment.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <mutex>

namespace platform {

namespace {

std::mutex s_mutex;
Environment::Roots s_roots;

Environment::Roots currentRoots()
{
    std::lock_guard lock(s_mutex);
    return s_roots;
}

} // namespace

QString Environment::documentsDirectory()
{
    Environment::Roots roots = currentRoots();
    if (roots.documentsDirectory.has_value())
        return roots.documentsDirectory.value();
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString Environment::cachesDirectory()
{
    Environment::Roots roots = currentRoots();
    if (roots.cachesDirectory.has_value())
        return roots.cachesDirectory.value();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

QString Environment::settingsFile()
{
    Environment::Roots roots = currentRoots();
    if (roots.settingsFile.has_value())
        return roots.settingsFile.value();
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QString application = QCoreApplication::applicationName();
    if (application.isEmpty())
        application = QStringLiteral("Tindrel");
    return config + QLatin1Char('/') + application + QStringLiteral(".ini");
}

QString Environment::resourcesDirectory()
{
    Environment::Roots roots = currentRoots();
    if (roots.resourcesDirectory.has_value())
        return roots.resourcesDirectory.value();
    return QStringLiteral(":/");
}

void Environment::setRoots(Roots roots)
{
    std::lock_guard lock(s_mutex);
    s_roots = std::move(roots);
}

Environment::Roots Environment::roots()
{
    return currentRoots();
}

void Environment::resetRoots()
{
    setRoots(Roots {});
}

} // namespace platform
