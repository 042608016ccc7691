#pragma once

#include "platform/foundation/PlatformError.h"

#include <QString>

// What an alert says when a file or folder of the library could not be made, moved, written or
// removed: plain words and what to do where the failure has some (a full disk, a refused
// permission, a read-only or unreachable disk, a file standing where a folder should be, a name
// taken or too long, a folder missing), the system's own text otherwise. Not for files the user
// chose to read: the plain words speak of changing the file.
QString tdPlainFileFailure(const platform::PlatformError& error);

// The nearest item on the way to `path`, `path` itself first, that is there but is no folder, as an
// absolute path; empty when the nearest item there is a folder.
QString tdFileInTheWay(const QString& path);
