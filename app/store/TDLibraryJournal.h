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
// The list lives in one small hidden file in the library folder, replaced atomically and flushed to
// disk before the step it guards; it is removed when the list is empty. Older versions of the
// program do not read it and leave it alone. A list that cannot be written is reported on standard
// error and the change goes on: it is still as safe as it was without one.
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
    static QByteArray encode(const std::vector<Change>& changes);
};
