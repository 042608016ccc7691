#pragma once

#include <QString>

#include <optional>

namespace platform {

// Resources shipped with the program. They are compiled in as Qt resources and looked up under
// `Environment::resourcesDirectory()`, so tests can supply their own folder instead.
class Bundle {
public:
    // The path of resource `name` with extension `type` ("FolderIcon", "icns"), readable with
    // QFile or QImageReader; no value when there is no such regular file.
    static std::optional<QString> pathForResource(const QString& name, const QString& type);
};

} // namespace platform
