#pragma once

#include "app/model/TDMedia.h"
#include "app/model/TDProject.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <memory>
#include <vector>

// Renames a project: moves its folder to the folder of `newName`, sets the name, and points the
// stored paths of its notes, of its images in `media` (those whose project id is the project's) and
// of its cover into the moved folder. A path inside the old folder keeps its place inside the new
// one; any other is rebuilt from the usual layout.
//
// Nothing changes when the move fails, when `newName` cannot name a folder, or when something
// already exists at the new folder. A project whose old folder is missing is renamed all the same
// (a line on standard output says so).
platform::Result<platform::Success, platform::PlatformError> renameTDProject(
    TDProject& project, const QString& newName, const std::vector<std::shared_ptr<TDMedia>>& media);
