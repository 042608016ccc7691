#pragma once

#include "platform/foundation/Url.h"

#include <QImage>

#include <optional>

// The library folder's icon: the bundled resource "FolderIcon" of type "icns", loaded as an image.
// No value when the resource is missing or does not load.
std::optional<QImage> loadFolderIcon();

// Gives `folder` the folder icon where the desktop allows it. Linux file managers share no way to
// set a folder's icon, so this only checks that the icon loads; the folder is usable either way.
void applyFolderIcon(const platform::Url& folder);

// Registers the resources compiled into the application library; needed once before any lookup,
// because a static library's resources are not registered on their own.
void initApplicationResources();
