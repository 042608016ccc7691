#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// The changes of the library that take more than one step on disk (a folder moved and two library
// files saved, say), written down before their first step and struck off after their last one. A
// program that dies in between leaves them listed, and the next start finishes them from the files
// as it finds them (TDLibrary::finishInterruptedChanges).
//
// The list lives in one hidden file in the library folder, flushed to disk before the step it
// guards; it is removed when the list is empty. A drop of many images lists thousands of changes, so
// a change made meanwhile costs what it adds, not the whole list: it is appended, one change a line,
// in place of the closing brackets, and struck off by overwriting its kind's name with dashes of the
// same length, a kind no version knows. The file stays one JSON document throughout, read by every
// version that reads the list; it is replaced whole (atomically) on this run's first write, when
// struck-off lines outweigh the listed ones, and whenever it is not as this run last left it.
// Older versions of the program do not read it and leave it alone. A list that cannot be written is
// reported on standard error and the change goes on: it is still as safe as it was without one.
//
// A list that cannot be read whole (damaged, or cut short by a crash while a line was added) is kept
// beside itself as ".unfinished-changes.damaged-<time>" before this run first writes the list, so
// nothing reads it as the list again and nothing it held is lost; what could be read of it is
// carried on as usual.
//
// Changes left by an earlier run are carried by a start whose library did not load whole until a
// start that loads it whole finishes them. A change listed during such a run marks every change
// carried then as `stale`: the library may have changed under them (a project used meanwhile, a
// library file replaced), and the finishing start only completes what it can check on disk
// (TDLibrary::finishInterruptedChanges).
//
// Main thread only, except `decode` and `encode`.
class TDLibraryJournal {
public:
    struct Change {
        enum class Kind {
            createProject,
            renameProject,
            deleteProject,
            createNote,
            renameNote,
            deleteNote,
            deleteMedia,
            removeCover,
            // Files a change makes before the record that names them is saved; the next start
            // removes those no record names: an imported image's own folder (its copy and
            // thumbnail), a link's file, and a cover file (the new one, or the one it replaces).
            importMedia,
            addLink,
            setCover,
            // A link's file, listed before the link's record goes, for the next start to remove it
            // should a crash come between the two.
            deleteLink,
        };
        Kind kind = Kind::renameProject;
        platform::Uuid project;
        // The note, image or link made, renamed or deleted.
        std::optional<platform::Uuid> item;
        // The project's name or the note's title before the change.
        QString from;
        // The new name or title of a rename.
        QString to;
        // The date of a note made or renamed.
        std::optional<platform::Date> date;
        // The text file of a note made or deleted, a deleted image's file, a removed cover, the file
        // or folder an import, a link or a cover makes.
        std::optional<platform::Url> file;
        // Carried through a run that changed the library before it could finish this change.
        bool stale = false;
    };
    // What `read` makes of a file: the changes, and whether the file held nothing else.
    struct Read {
        std::vector<Change> changes;
        bool whole = true;
    };
    using Entry = std::uint64_t;

    // Lists `change` under the library folder `libraryFolder` and writes the list.
    static Entry begin(const platform::Url& libraryFolder, Change change);
    // Lists `changes` with one write of the list, as a drop of many files needs.
    static std::vector<Entry> begin(const platform::Url& libraryFolder, std::vector<Change> changes);
    // Strikes the change off and writes the list; an entry already struck off is ignored.
    static void end(Entry entry);
    // Strikes `entries` off with one write of each list they were in.
    static void end(const std::vector<Entry>& entries);
    // Reads the changes an earlier run left listed in `libraryFolder` into this run's list, before
    // anything of this run writes it: they stay listed, and written with every later change, until
    // `takeLeftOver` hands them on and their entries end. A start calls it before its load.
    static void carryLeftOver(const platform::Url& libraryFolder);
    // The carried changes not handed on yet: each stays listed until its entry ends.
    static std::vector<std::pair<Entry, Change>> takeLeftOver(const platform::Url& libraryFolder);

    static QString fileName();
    static platform::Url location(const platform::Url& libraryFolder);

    // The file's content. A change of a kind this version does not know, or that lacks a field its
    // kind needs, is skipped.
    static platform::Result<std::vector<Change>, platform::PlatformError> decode(const QByteArray& bytes);
    // As `decode`; a file that is no whole document but begins as `encode` writes one (the last line
    // cut short by a crash while it was added, say) gives the changes of its whole lines, up to the
    // first line that is not one, and `whole` false.
    static platform::Result<Read, platform::PlatformError> read(const QByteArray& bytes);
    // One change a line between an opening and a closing line, so that changes can be appended.
    static QByteArray encode(const std::vector<Change>& changes);
};
