#pragma once

#include "app/TDStores.h"
#include "app/model/TDLink.h"
#include "app/model/TDProject.h"
#include "app/store/TDImageImport.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class TDMedia;
class TDNote;

// Why a change of the library did not fully happen, worded for the alert a screen shows.
struct TDLibraryFailure {
    enum class Kind {
        // A name or a file was refused before anything changed.
        refused,
        // A library file could not be written; the change stays in memory and goes out with the
        // next save of that store.
        saveFailed,
        // A file of the user's work could not be made, moved or removed.
        fileFailed,
    };
    Kind kind;
    QString title;
    QString message;
};

// Every change of the library that a screen makes goes through here; screens ask, then show the
// outcome. The rules, for every operation:
//
// - The records change at once, on the main thread, through the stores' and models' observed
//   setters, so a screen shows the change as soon as the call returns.
// - Then the stores that changed are saved one after the other, in the order each operation
//   states, each store's list read when its turn comes. The first save that fails ends the chain.
// - Files that the library stops naming (a deleted note's or project's folder, a replaced cover)
//   go only once every save succeeded. A deleted folder goes to the desktop's trash where there is
//   one, so one wrong click loses nothing. After a failed save, a deleted item's folder goes once
//   later saves have written every library file (`finishPendingWork` at the latest), unless a
//   record names it again.
// - A change of more than one step on disk (making, renaming or deleting a project or a note,
//   deleting an image, removing a cover; and the files an import, a link or a cover makes before
//   the record that names them is saved) is listed in the library folder before its first step and
//   struck off once its last is on disk (TDLibraryJournal.h), so that the next start can finish
//   one a crash cut short.
// - Each operation ends with exactly one completion, on the main thread: before the call returns
//   when it fails before its first save (a refused name, a file that could not be made), otherwise
//   once its saves and the file work after them are done. From the call until just before its
//   completion runs it counts in `operationsInFlight`.
// - A failure other than a refusal is printed once to standard output, "An error occurred: " and
//   the reason.
// - Work in flight holds the stores it needs, so it ends even when this object is gone.
//
// Main thread only.
class TDLibrary {
public:
    using Done = std::function<void(platform::Result<platform::Success, TDLibraryFailure>)>;
    using NoteDone = std::function<void(platform::Result<std::shared_ptr<TDNote>, TDLibraryFailure>)>;
    using ImportDone = std::function<void(platform::Result<TDImageImportReport, TDLibraryFailure>)>;

    explicit TDLibrary(TDStores stores);

    int operationsInFlight() const { return *m_inFlight; }

    // Runs the main loop, input aside, until no operation of any TDLibrary and no library file write
    // is under way, or `limit` has passed; true when everything is done. For the end of the
    // program, after its main loop has stopped: a chain of saves goes on only through that loop.
    // Then removes what earlier failed saves left and later saves dropped.
    static bool finishPendingWork(std::chrono::milliseconds limit);

    // Finishes the changes that a run which ended before their last step left listed in the
    // library folder (TDLibraryJournal.h), from what the loaded stores and the disk show. Only for
    // stores whose every library file loaded (or was not there yet).
    // - A deletion is carried through, as the user confirmed it and saw it happen: a project or
    //   note that the projects file still lists is deleted again, its records and then its folder;
    //   one it no longer lists has its folder moved to the trash if it is still there and no
    //   project or note names it.
    // - A new project that the projects file does not list has its folder removed while it is
    //   empty; a new note whose text file was made is listed in its project.
    // - A deleted image is deleted again while the media file lists it, else its own folder goes to
    //   the trash; a removed cover whose file is gone is cleared.
    // - A rename is carried through only when its folder had moved, else dropped: a project whose
    //   projects record still has the old name takes the new one and its paths; its images
    //   recorded inside the old folder point into the new one. A note still under its old title
    //   takes the new title and date and points at its text file in the moved folder.
    // - A file made before the record that names it was saved (an imported image's own folder, a
    //   link's file, a new cover), or left when its record went (a deleted link's file, a replaced
    //   cover), is removed when no record names it; these are files the program made, and only the
    //   files listed are touched, with what a killed save of a listed cover or link file left
    //   beside it.
    // - A change carried through a run that changed the library before it loaded whole (marked
    //   stale, TDLibraryJournal.h) is finished only where that adds or completes records from
    //   what is on disk (a new project or note, a rename, a cover whose file is gone); one that
    //   would remove records or files (a deletion, a file made before its record) is left as it
    //   is and reported on standard error, as the project may be the user's again.
    // The records change before the call returns; the saves follow.
    void finishInterruptedChanges();

    // Notes.

    // Checks a title the user typed for a new note of `project` and returns the title the note gets
    // (its percent escapes decoded); a refusal carries the alert.
    platform::Result<QString, TDLibraryFailure> checkNewNoteTitle(
        const TDProject& project, const QString& typedTitle) const;
    // Makes the note's folder and its empty text file, appends the note to the project, records its
    // place in the note map and saves the projects. A folder of that title already on disk is never
    // taken over. When the save fails the note stays, listed and on disk.
    void createNote(const std::shared_ptr<TDProject>& project, const QString& typedTitle, NoteDone done);
    // Removes the note and its links, saves the links and then the projects, and only then moves the
    // note's folder to the trash. A folder already gone counts as removed.
    void deleteNote(
        const std::shared_ptr<TDProject>& project, const std::shared_ptr<TDNote>& note, Done done = {});
    // Records where `note` sits now in the note map, before its window opens. Returns false when the
    // project is in the store but the note is no longer among its notes: then nothing is written and
    // no window must open. A project that left the store drops the note's entry.
    bool recordNoteOpened(const std::shared_ptr<TDProject>& project, const std::shared_ptr<TDNote>& note);

    // Renaming a note.

    // Moves the note's folder and text file to `title`, sets the note's title, `date` and text file,
    // and saves the projects. `title` was checked by the caller as a new note's title is checked, its
    // percent escapes decoded there once; it is used as given. The one refusal, before anything
    // changed: a folder of that title already on disk, which is never moved onto. A folder or text
    // file that is missing is printed ("File does not exist at path: ") and skipped. A step that
    // fails undoes the earlier ones: the files move back and the note keeps its title, date and
    // text file. Files that cannot be moved back stay where the note's new fields point, and the
    // next save of the projects writes those fields.
    void renameNote(const std::shared_ptr<TDProject>& project, const std::shared_ptr<TDNote>& note,
        const QString& title, platform::Date date, Done done = {});

    // Projects.

    // Makes the new project's folder, appends the project and saves the projects. The name was
    // checked by the caller.
    void createProject(TDProject::Fields fields, Done done = {});
    struct ProjectEdit {
        QString name;
        platform::Date startDate;
        std::shared_ptr<TDCategory> category;
    };
    // Writes what differs into the project (a new name first moves its folder and points its
    // stored paths into the moved one), then saves the projects and then the media.
    void editProject(const std::shared_ptr<TDProject>& project, ProjectEdit edit, Done done = {});
    // Removes the project, its notes' links and its images, saves the links, the media and the
    // projects in that order, and only then moves the project's folder to the trash.
    void deleteProject(const std::shared_ptr<TDProject>& project, Done done = {});
    // Saves the projects after a change made through a project's observed setters (its status).
    void saveProjectChange(Done done = {});
    void toggleFavorite(const std::shared_ptr<TDProject>& project, Done done = {});

    // Covers. A cover is a JPEG copy of the chosen picture in the project's folder.

    // Makes the cover's file away from the main thread (a large picture takes a second to read and
    // decode), then sets the cover and saves the projects; the replaced cover's file goes once that
    // save is done. Unlike other changes, the record changes only then. A later choice or removal of
    // the project's cover, or the project's deletion, meanwhile wins: this one then changes nothing,
    // leaves no file and succeeds. A rename meanwhile puts the file in the project's new folder.
    void setCoverImage(const std::shared_ptr<TDProject>& project, const QString& imagePath, Done done = {});
    // Removes the cover file, clears the cover and saves the projects. A file already gone is
    // reported on standard output and the cover is cleared all the same.
    void removeCoverImage(
        const std::shared_ptr<TDProject>& project, const platform::Url& url, Done done = {});

    // Quick access: the project's list of files and folders kept at hand; the items stay untouched.

    // Appends `url` (an entry already listed is listed again) and saves the projects. An invalid
    // URL is refused.
    void addQuickAccessURL(
        const std::shared_ptr<TDProject>& project, const platform::Url& url, Done done = {});
    // Removes every entry equal to `url`, the others keeping their order, and saves the projects.
    void removeQuickAccessURL(
        const std::shared_ptr<TDProject>& project, const platform::Url& url, Done done = {});

    // Reference images.

    // Copies the dropped image files into the project with their thumbnails (TDImageImport.h says
    // how), appends the records of the files ready together in one go, and saves the media once
    // after the last file (also when none could be added). The report names every file that was
    // not added and why; each of them is printed too. Fails only when the save fails.
    void importImages(
        const std::shared_ptr<TDProject>& project, std::vector<QUrl> urls, ImportDone done = {});
    // Appends the records and saves the media once (also when there are none).
    void addMedia(std::vector<std::shared_ptr<TDMedia>> media, Done done = {});
    // Removes the record, saves the media, and only then moves the image's own folder (its copy and
    // thumbnail, "images/<lower-case id>" in a project folder of the library) to the trash. Files a
    // record names anywhere else are left alone.
    void removeMedia(const platform::Uuid& mediaId, Done done = {});

    // Links: records only; a link's file is its caller's.

    void addLink(TDLink link, Done done = {});
    void removeLink(const platform::Uuid& linkId, Done done = {});

private:
    TDStores m_stores;
    std::shared_ptr<int> m_inFlight = std::make_shared<int>(0);
};
