#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TDProjectStore;
class TDMediaStore;
class TDLinkStore;

// Fills the three library stores from their files: projects, then media, then links, each read and
// decoded off the main thread and assigned on it. Projects that do not load end the load, with
// nothing on standard output (media and links are then not read, and their files are kept before
// any overwrite); media that do not load print "there is no media" and become an empty list; links
// that do not load become an empty list. A file that is there but does not load is named on
// standard error. Nothing is created on disk, except that when every file loaded (or was not
// there), the changes a crash left unfinished are finished (TDLibrary::finishInterruptedChanges)
// before `finished` runs, their saves following. `finished` runs on the main queue at the end.
void loadLibraryFiles(std::shared_ptr<TDProjectStore> projectStore, std::shared_ptr<TDMediaStore> mediaStore,
    std::shared_ptr<TDLinkStore> linkStore, std::function<void()> finished = {});

// A library file that is there but did not load, so that a screen can say so: an empty store
// must not pass for an empty library.
struct TDLibraryLoadProblem {
    QString fileName;
    // False for a file the load skipped because the projects did not load.
    bool read = true;
    // Why it could not be read or decoded; empty for a skipped file.
    QString reason;
    // The system's error number when the file could not be read (EACCES, EIO, ...); 0 otherwise.
    int posixError = 0;
};

// As above; `finished` also gets the files that did not load, in the order projects, media, links.
// Each of them is printed to standard error as well.
void loadLibraryFiles(std::shared_ptr<TDProjectStore> projectStore, std::shared_ptr<TDMediaStore> mediaStore,
    std::shared_ptr<TDLinkStore> linkStore, std::function<void(std::vector<TDLibraryLoadProblem>)> finished);
