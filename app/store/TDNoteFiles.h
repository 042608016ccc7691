#pragma once

#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <memory>
#include <optional>
#include <vector>

// The files of a project's notes: "<project>/notes/<title>/<title>.txt".
namespace tdnotefiles {

// A typed title with its percent escapes decoded ("a%20b" gives "a b"); the typed text itself when
// an escape is malformed or the bytes are not UTF-8.
QString decodedTitle(const QString& typed);

// "<title>.txt" must fit in one file name.
constexpr int maximumTitleBytes = 255 - 4;

// Why a typed note title is refused, worded for the alert that says so.
struct TitleProblem {
    enum class Kind {
        // Another note of the project has the title, typed or decoded.
        exists,
        blank,
        // ".", "..", a "/" or a NUL (also once decoded).
        unusable,
        tooLong,
    };
    Kind kind;
    QString title;
    QString message;
};

enum class TitleUse { newNote, rename };

// Checks a title the user typed for a note of a project whose notes are `projectNotes`, and returns
// the title the note gets: the typed text with its percent escapes decoded, which names its folder
// and its text file and is stored as its title. `renamed` is the note being renamed, which never
// clashes with itself. Titles clash when equal once both are in Unicode normal form C. A folder that
// already exists on disk is not checked here: creating or moving onto it fails with EEXIST.
platform::Result<QString, TitleProblem> checkedTitle(const QString& typed,
    const std::vector<std::shared_ptr<TDNote>>& projectNotes, TitleUse use,
    std::optional<platform::Uuid> renamed = std::nullopt);

// The alert for a title whose folder is already on disk (a folder no note of the library lists).
TitleProblem existingTitleProblem();

// Makes the folder of a new note and its empty text file, and returns the file's URL. The notes
// folder is made when missing; the note's folder must not exist (EEXIST): what is there already is
// never adopted or overwritten. On any failure nothing this call made is left behind.
platform::Result<platform::Url, platform::PlatformError> createNoteFiles(
    const platform::Url& projectFolder, const QString& title);

// Moves the folder of a deleted note to the trash (or removes it where there is none): the folder
// of its text file when that lies directly in the project's notes folder, else the folder its title
// names. Only a real folder goes (never what a link points to), never one another note of
// `remaining` keeps its text in; a folder that is already gone counts as removed.
platform::Result<platform::Success, platform::PlatformError> removeNoteFolder(
    const platform::Url& projectFolder, const TDNote& note,
    const std::vector<std::shared_ptr<TDProject>>& remaining);

} // namespace tdnotefiles
