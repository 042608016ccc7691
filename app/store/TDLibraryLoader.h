#pragma once

#include <functional>
#include <memory>

class TDProjectStore;
class TDMediaStore;
class TDLinkStore;

// Fills the three library stores from their files: projects, then media, then links, each read and
// decoded off the main thread and assigned on it. Projects that do not load end the load silently
// (media and links are then not read, and their files are kept before any overwrite); media that
// do not load print "there is no media" and become an empty list; links that do not load become an
// empty list silently. Nothing is created on disk. `finished` runs on the main queue at the end.
void loadLibraryFiles(std::shared_ptr<TDProjectStore> projectStore, std::shared_ptr<TDMediaStore> mediaStore,
    std::shared_ptr<TDLinkStore> linkStore, std::function<void()> finished = {});
