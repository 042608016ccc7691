#pragma once

#include <QString>

namespace iris {

// The reverse-domain prefix of every label and name the library gives out (queue labels, folder
// names, notification names).
inline constexpr char reverseDomainPrefix[] = "org.tindrel";

// reverseDomainPrefix + ".Iris." + `name`.
inline QString irisName(const QString& name)
{
    return QLatin1String(reverseDomainPrefix) + QLatin1String(".Iris.") + name;
}

} // namespace iris
