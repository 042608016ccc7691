#pragma once

#include <QString>

namespace tdjson {

// Written by every observable record with an empty object as its value; never read back.
inline QString registrarKey()
{
    return QStringLiteral("_$observationRegistrar");
}

} // namespace tdjson
