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
// one; any other is rebuilt from the usual layout. Its quick-access entries that name the old folder
// or a place in it follow the folder; the others stay as the user chose them.
//
// Nothing changes when the move fails, when `newName` cannot name a folder, or when something
// already exists at the new folder. A project whose old folder is missing is renamed all the same
// (a line on standard output says so).
platform::Result<platform::Success, platform::PlatformError> renameTDProject(
    TDProject& project, const QString& newName, const std::vector<std::shared_ptr<TDMedia>>& media);

// The records' part of a rename alone, for a folder that is already at its new place: sets the name
// and points the stored paths as above.
void pointTDProjectAt(
    TDProject& project, const QString& newName, const std::vector<std::shared_ptr<TDMedia>>& media);

// Points the quick-access entries of `projects` that name `from` or a place inside it to the same
// place in `to`; whether any changed. Other projects may keep entries in a renamed project's folder.
bool pointQuickAccessInto(const std::vector<std::shared_ptr<TDProject>>& projects, const platform::Url& from,
    const platform::Url& to);

// Points the stored paths of the images of `project` in `media` that lie inside `from` to the same
// place inside `to`; whether any changed.
bool pointTDProjectMediaInto(const platform::Uuid& project, const platform::Url& from,
    const platform::Url& to, const std::vector<std::shared_ptr<TDMedia>>& media);
