#pragma once

#include "app/model/TDProject.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDSaveCompletion.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/Uuid.h"

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

// All projects, with their notes, and the map from an opened note to its position. Main thread only.
class TDProjectStore {
public:
    struct NoteLocation {
        int projectIndex = 0;
        int progressIndex = 0;
        friend bool operator==(const NoteLocation&, const NoteLocation&) = default;
    };
    using NoteMap = std::unordered_map<platform::Uuid, NoteLocation>;
    using ProjectList = std::vector<std::shared_ptr<TDProject>>;

    // A store on the projects file of the current library folder.
    TDProjectStore();
    explicit TDProjectStore(std::shared_ptr<TDLibraryFile> file);

    ProjectList tdProjects() const;
    void setTdProjects(ProjectList projects);
    NoteMap noteMap() const;
    void setNoteMap(NoteMap noteMap);

    // Where the note of `noteId` is now: the `noteMap` entry when the note at that position still
    // has that id, otherwise the note of that id where the last search found it while it is still
    // there, otherwise the first note of that id in the store. None when no project has it.
    // Reads through observation. Every note window asks on every render: remembering where the
    // search found a note the map no longer places keeps the library from being searched (and
    // observed whole) again at each render.
    struct LocatedNote {
        NoteLocation location;
        std::shared_ptr<TDProject> project;
        std::shared_ptr<TDNote> note;
    };
    std::optional<LocatedNote> locateNote(const platform::Uuid& noteId) const;

    // Copies `projects` now (a snapshot), encodes the copy on the file's queue and writes it over the
    // projects file in order with every other save of that file. `completion` runs on the main queue.
    void save(const ProjectList& projects, TDSaveCompletion completion = {});

    const std::shared_ptr<TDLibraryFile>& libraryFile() const { return m_file; }

    // Makes sure the library folder exists. It is created whether or not the folder icon resource
    // loads (no desktop-neutral way exists to set a folder's icon here). A failure to create it is
    // printed to standard output.
    static void prepareLibraryFolder();

    // Creates the folder of a new project (not its parents). Unsafe names and an existing folder
    // fail; the caller may ignore the result.
    static platform::Result<platform::Success, platform::PlatformError> createProjectDirectory(
        const QString& name);

    // Whether `name` is that of one of the library's own files ("projects.library", ...), in any case.
    static bool isLibraryFileName(const QString& name);

    // Why `name` cannot name a new project's folder: an unsafe name, the name of a library file, or
    // an item that already exists at the folder's place in the library folder. None when it can.
    // `renamedFrom`, the name of a project being renamed: its own folder is not in the way (a disk
    // that ignores case takes "Idea" and "idea" for one folder).
    static std::optional<TDNameProblem> newProjectNameProblem(
        const QString& name, const std::optional<QString>& renamedFrom = std::nullopt);

    // Why `name` cannot name a new or renamed project's folder when one of `others` (the other
    // projects) has no folder on disk under a name that differs from `name` only in letter case,
    // Unicode form or trailing dots and spaces: a disk that ignores those (FAT, exFAT, NTFS, a
    // Windows share) would give both projects the new folder, and deleting the other one would
    // remove it. With the other folder missing the disk cannot be asked, so such a name is refused
    // on every disk. None when no such project exists.
    static std::optional<TDNameProblem> missingFolderNameProblem(
        const QString& name, const ProjectList& others);

private:
    ProjectList m_tdProjects;
    NoteMap m_noteMap;
    // Where `locateNote` last found each note that its `noteMap` entry did not place. Not
    // observed: it only shortens the search, and each entry is checked before it is trusted.
    mutable NoteMap m_foundAt;
    std::shared_ptr<TDLibraryFile> m_file;
    platform::ObservationRegistrar m_registrar;
};
