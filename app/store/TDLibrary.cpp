#include "app/store/TDLibrary.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDMedia.h"
#include "app/model/TDNote.h"
#include "app/store/TDCoverImage.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDFileFailure.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDLibraryJournal.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectRename.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

using platform::PlatformError;
using platform::Result;
using platform::Success;
using platform::Url;
using Kind = TDLibraryFailure::Kind;

namespace {

using SaveOutcome = Result<Success, PlatformError>;

void printFailure(const QString& reason)
{
    platform::print(QStringLiteral("An error occurred: ") + reason);
}

// Operations of every TDLibrary under way; main thread only.
int s_operationsInFlight = 0;

bool sameName(const QString& a, const QString& b)
{
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

// One operation under way: its in-flight mark, held until its one completion runs.
template<typename T> class Operation {
public:
    using Outcome = Result<T, TDLibraryFailure>;

    Operation(std::shared_ptr<int> inFlight, std::function<void(Outcome)> done)
        : m_inFlight(std::move(inFlight))
        , m_done(std::move(done))
    {
        ++*m_inFlight;
        ++s_operationsInFlight;
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    void succeed(T value) { finish(Outcome::success(std::move(value))); }
    void refuse(QString title, QString message)
    {
        finish(Outcome::failure({ Kind::refused, std::move(title), std::move(message) }));
    }
    // `reason` is what went wrong underneath; it is printed, and shown unless `message` says more.
    void fail(Kind kind, QString title, const QString& reason, QString message = {})
    {
        printFailure(reason);
        finish(Outcome::failure({ kind, std::move(title), message.isEmpty() ? reason : std::move(message) }));
    }
    // A file or folder of the library could not be made, moved, written or removed.
    void failFile(QString title, const PlatformError& error)
    {
        fail(Kind::fileFailed, std::move(title), error.description, tdPlainFileFailure(error));
    }
    void failSaving(const PlatformError& error, QString message = {})
    {
        fail(Kind::saveFailed, tdLocalized("The library could not be saved."), error.description,
            message.isEmpty() ? error.plainDescription() : std::move(message));
    }

private:
    void finish(Outcome outcome)
    {
        if (m_finished)
            return;
        m_finished = true;
        --*m_inFlight;
        --s_operationsInFlight;
        if (m_done)
            m_done(std::move(outcome));
    }

    std::shared_ptr<int> m_inFlight;
    std::function<void(Outcome)> m_done;
    bool m_finished = false;
};

template<typename T>
std::shared_ptr<Operation<T>> begin(
    const std::shared_ptr<int>& inFlight, std::function<void(Result<T, TDLibraryFailure>)> done)
{
    return std::make_shared<Operation<T>>(inFlight, std::move(done));
}

enum class LibraryFile { links, media, projects };

const std::shared_ptr<TDLibraryFile>& fileOf(const TDStores& stores, LibraryFile file)
{
    switch (file) {
    case LibraryFile::links:
        return stores.linkStore->libraryFile();
    case LibraryFile::media:
        return stores.mediaStore->libraryFile();
    case LibraryFile::projects:
        break;
    }
    return stores.projectStore->libraryFile();
}

// Files a change stopped naming but left on disk because a save of that change failed: the change
// stays in memory and reaches the library files with a later save, and only then may its files go.
// Kept without them, a deleted project's or note's folder would block its name for good. Main
// thread only.
struct PendingRemoval {
    TDStores stores;
    // Removes what is still unnamed; reports what it could not remove.
    std::function<void()> remove;
};

std::vector<PendingRemoval>& pendingRemovals()
{
    static auto* pending = new std::vector<PendingRemoval>;
    return *pending;
}

void removeOnceSaved(const TDStores& stores, std::function<void()> remove)
{
    pendingRemovals().push_back({ stores, std::move(remove) });
}

// Runs the pending removals whose library files have all been written since.
void removeWhatSavesDropped()
{
    auto& pending = pendingRemovals();
    std::vector<PendingRemoval> due;
    for (auto it = pending.begin(); it != pending.end();) {
        const TDStores& stores = it->stores;
        if (stores.projectStore->libraryFile()->isBehind() || stores.mediaStore->libraryFile()->isBehind()
            || stores.linkStore->libraryFile()->isBehind()) {
            ++it;
            continue;
        }
        due.push_back(std::move(*it));
        it = pending.erase(it);
    }
    for (const auto& removal : due)
        removal.remove();
}

// Saves the stores in `order`, each with its list as it is when its turn comes; the first failure
// ends the chain.
void saveInOrder(
    const TDStores& stores, std::vector<LibraryFile> order, std::function<void(SaveOutcome)> then)
{
    if (order.empty()) {
        removeWhatSavesDropped();
        then(SaveOutcome::success({}));
        return;
    }
    const LibraryFile first = order.front();
    order.erase(order.begin());
    TDSaveCompletion next = [stores, order, then](SaveOutcome saved) {
        if (!saved) {
            // The files after this one hold less than their stores now.
            for (LibraryFile file : order)
                fileOf(stores, file)->markBehind();
            return then(saved);
        }
        saveInOrder(stores, order, then);
    };
    switch (first) {
    case LibraryFile::links:
        stores.linkStore->save(stores.linkStore->tdLinks(), std::move(next));
        break;
    case LibraryFile::media:
        stores.mediaStore->save(stores.mediaStore->tdMedia(), std::move(next));
        break;
    case LibraryFile::projects:
        stores.projectStore->save(stores.projectStore->tdProjects(), std::move(next));
        break;
    }
}

// Ends `operation` with the outcome of its last save.
std::function<void(SaveOutcome)> finishing(std::shared_ptr<Operation<Success>> operation)
{
    return [operation](SaveOutcome saved) {
        if (!saved)
            return operation->failSaving(saved.error());
        operation->succeed({});
    };
}

using JournalChange = TDLibraryJournal::Change;

Url libraryFolderOf(const TDStores& stores)
{
    return stores.projectStore->libraryFile()->location().deletingLastPathComponent();
}

// Strikes `entry` off once the saves of its change are on disk: at once after saves that
// succeeded, else once later saves have written every library file.
void endOnceSaved(
    const TDStores& stores, std::vector<TDLibraryJournal::Entry> entries, const SaveOutcome& saved)
{
    if (saved)
        TDLibraryJournal::end(entries);
    else
        removeOnceSaved(stores, [entries] { TDLibraryJournal::end(entries); });
}

void endOnceSaved(const TDStores& stores, TDLibraryJournal::Entry entry, const SaveOutcome& saved)
{
    endOnceSaved(stores, std::vector<TDLibraryJournal::Entry> { entry }, saved);
}

// The project's place in the store: the record itself, else the first of its id.
std::optional<int> projectIndex(const TDProjectStore& store, const std::shared_ptr<TDProject>& project)
{
    const auto projects = store.tdProjects();
    auto found = std::find(projects.begin(), projects.end(), project);
    if (found == projects.end())
        found = std::find_if(projects.begin(), projects.end(),
            [&](const auto& element) { return element->id() == project->id(); });
    if (found == projects.end())
        return std::nullopt;
    return static_cast<int>(found - projects.begin());
}

// Removes a deleted project's folder once the library no longer lists it. Only a safe name's
// folder directly inside the library folder goes, and not while another project has that name.
Result<Success, PlatformError> removeProjectFolder(const QString& name, const TDProjectStore& projects)
{
    using Outcome = Result<Success, PlatformError>;
    if (TDDirectoryPath::nameProblem(name) || TDProjectStore::isLibraryFileName(name))
        return Outcome::success({});
    for (const auto& other : projects.tdProjects()) {
        if (other->name() == name)
            return Outcome::success({});
    }
    const Url folder = TDDirectoryPath::projectDirectoryURL(name);
    // Only a real folder: never a library file, nor what a symbolic link points at.
    QFileInfo info(folder.path());
    if (!folder.isValid() || info.isSymLink() || !info.isDir())
        return Outcome::success({});
    return TDDirectoryPath::trashItemInsideLibrary(folder);
}

// Whether `folder` is the folder an import made for the image `id`: "images/<lower-case id>" in a
// folder of the library, a real folder (not a link). Only such a folder goes with its record.
bool isOwnMediaFolder(const Url& folder, const platform::Uuid& id)
{
    if (!folder.isFileUrl() || folder.lastPathComponent() != id.lowercaseString()
        || folder.deletingLastPathComponent().lastPathComponent() != QLatin1String("images"))
        return false;
    const Url project = folder.deletingLastPathComponent().deletingLastPathComponent();
    if (project.deletingLastPathComponent() != TDDirectoryPath::libraryFolderURL())
        return false;
    QFileInfo info(folder.path());
    return info.isDir() && !info.isSymLink() && TDDirectoryPath::isInsideLibraryFolder(folder);
}

// `file`, listed by a change of the project `projectId`, and where it is now when a rename moved
// the project's folder since.
std::vector<Url> listedAndMoved(
    const TDStores& stores, const platform::Uuid& projectId, const Url& file, int depthInProject)
{
    std::vector<Url> places { file };
    Url inProject = file;
    QStringList below;
    for (int i = 0; i < depthInProject; ++i) {
        below.prepend(inProject.lastPathComponent());
        inProject = inProject.deletingLastPathComponent();
    }
    for (const auto& project : stores.projectStore->tdProjects()) {
        if (project->id() != projectId)
            continue;
        Url moved = TDDirectoryPath::projectDirectoryURL(project->name());
        for (const QString& component : below)
            moved = moved.appendingPathComponent(component);
        if (moved.isValid() && std::find(places.begin(), places.end(), moved) == places.end())
            places.push_back(moved);
    }
    return places;
}

bool isCoverOfAnyProject(const TDStores& stores, const Url& file)
{
    const auto projects = stores.projectStore->tdProjects();
    return std::any_of(projects.begin(), projects.end(),
        [&](const auto& project) { return project->coverImageURL() == file; });
}

// Removes what saves of `file` killed before their rename left beside it: "." NAME ".saving-" and
// base-36 digits, as FileManager::writeAtomically names its temporary files (in full for any name a
// cover or link file has). A cover or link file is never saved again under its name, so no later
// save clears them. A save still under way holds a lock on its file and is let be.
void removeKilledSavesOf(const Url& file)
{
    if (!TDDirectoryPath::isInsideLibraryFolder(file))
        return;
    const QByteArray folder = QFile::encodeName(file.deletingLastPathComponent().path());
    const QByteArray prefix = "." + QFile::encodeName(file.lastPathComponent()) + ".saving-";
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const QByteArray suffix = name.mid(prefix.size());
        if (!name.startsWith(prefix) || suffix.isEmpty()
            || !std::all_of(suffix.begin(), suffix.end(),
                [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); }))
            continue;
        const int fd
            = ::openat(::dirfd(dir), name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(dir), name.constData(), 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// Removes a cover file a change of `projectId` listed, where it is and where the project's folder is
// now, unless a project names it as its cover. Only a cover file directly in a project folder of the
// library goes. The first failure.
std::optional<PlatformError> removeUnnamedCoverFile(
    const TDStores& stores, const platform::Uuid& projectId, const Url& file)
{
    for (const Url& place : listedAndMoved(stores, projectId, file, 1)) {
        const Url folder = place.deletingLastPathComponent();
        removeKilledSavesOf(place);
        if (isCoverOfAnyProject(stores, place)
            || folder.deletingLastPathComponent() != TDDirectoryPath::libraryFolderURL())
            continue;
        if (auto removed = tdcoverimage::removeCoverFile(place, folder); !removed)
            return removed.error();
    }
    return std::nullopt;
}

} // namespace

TDLibrary::TDLibrary(TDStores stores)
    : m_stores(std::move(stores))
{
}

Result<QString, TDLibraryFailure> TDLibrary::checkNewNoteTitle(
    const TDProject& project, const QString& typedTitle) const
{
    auto title = tdnotefiles::checkedTitle(typedTitle, project.tdNote(), tdnotefiles::TitleUse::newNote);
    if (!title)
        return Result<QString, TDLibraryFailure>::failure(
            { Kind::refused, title.error().title, title.error().message });
    return Result<QString, TDLibraryFailure>::success(title.value());
}

void TDLibrary::createNote(
    const std::shared_ptr<TDProject>& project, const QString& typedTitle, NoteDone done)
{
    auto operation = begin<std::shared_ptr<TDNote>>(m_inFlight, std::move(done));
    auto title = checkNewNoteTitle(*project, typedTitle);
    if (!title)
        return operation->refuse(title.error().title, title.error().message);
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(project->name());
    const platform::Uuid id = platform::Uuid::random();
    const platform::Date date = platform::Date::now();
    // The files are made before the projects are saved: a start after a crash in between lists the
    // note with them, as a folder no note names would keep its title from being used again.
    const auto entry = TDLibraryJournal::begin(libraryFolderOf(m_stores),
        { JournalChange::Kind::createNote, project->id(), id, title.value(), {}, date,
            TDDirectoryPath::noteTextFileURL(projectFolder, title.value()) });
    auto files = tdnotefiles::createNoteFiles(projectFolder, title.value());
    if (!files) {
        TDLibraryJournal::end(entry);
        if (files.error().domain == PlatformError::posixDomain && files.error().code == EEXIST) {
            // A folder of that name is there already (a note a failed save left, or a folder of the
            // user's): it is never taken over.
            const auto exists = tdnotefiles::existingTitleProblem();
            return operation->refuse(exists.title, exists.message);
        }
        return operation->failFile(tdLocalized("The note could not be created."), files.error());
    }

    auto note = TDNote::make(id, project->id(), title.value(), files.value(), date);
    auto notes = project->tdNote();
    notes.push_back(note);
    project->setTdNote(notes);
    if (auto index = projectIndex(*m_stores.projectStore, project)) {
        auto map = m_stores.projectStore->noteMap();
        map[note->id()] = TDProjectStore::NoteLocation { *index, static_cast<int>(notes.size()) - 1 };
        m_stores.projectStore->setNoteMap(std::move(map));
    }
    auto stores = m_stores;
    saveInOrder(stores, { LibraryFile::projects }, [operation, stores, entry, note](SaveOutcome saved) {
        endOnceSaved(stores, entry, saved);
        // A failed save leaves the note listed and its files on disk; the next save of the projects
        // keeps it.
        if (!saved)
            return operation->failSaving(
                saved.error(), tdLocalized("The note was made but could not be saved in the library yet."));
        operation->succeed(note);
    });
}

void TDLibrary::deleteNote(
    const std::shared_ptr<TDProject>& project, const std::shared_ptr<TDNote>& note, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    const platform::Uuid id = note->id();
    const auto entry = TDLibraryJournal::begin(libraryFolderOf(m_stores),
        { JournalChange::Kind::deleteNote, project->id(), id, note->title(), {}, {}, note->contentURL() });
    auto notes = project->tdNote();
    std::erase_if(notes, [&](const auto& element) { return element->id() == id; });
    project->setTdNote(notes);
    // A hand-edited library may list a note of this id in another project too: its links stay, as
    // they do when a project is deleted.
    const auto projects = m_stores.projectStore->tdProjects();
    const bool idKept = std::any_of(projects.begin(), projects.end(), [&](const auto& other) {
        const auto otherNotes = other->tdNoteInPlace();
        return std::any_of(
            otherNotes.begin(), otherNotes.end(), [&](const auto& each) { return each->id() == id; });
    });
    if (!idKept) {
        auto links = m_stores.linkStore->tdLinks();
        std::erase_if(links, [&](const TDLink& link) { return link.tdNoteId == id; });
        m_stores.linkStore->setTdLinks(std::move(links));
    }
    // The deleted note's entry goes; the entries of the notes after it in this project would point
    // one place too far, so they follow their notes.
    auto map = m_stores.projectStore->noteMap();
    map.erase(id);
    for (int i = 0; i < static_cast<int>(notes.size()); ++i) {
        auto entry = map.find(notes[std::size_t(i)]->id());
        if (entry != map.end())
            entry->second.progressIndex = i;
    }
    m_stores.projectStore->setNoteMap(std::move(map));

    // The folder goes only once both library files stopped listing the note: a save that fails
    // leaves the note's text on disk, where the library still points.
    auto stores = m_stores;
    saveInOrder(stores, { LibraryFile::links, LibraryFile::projects },
        [operation, stores, project, note, entry](SaveOutcome saved) {
            if (!saved) {
                removeOnceSaved(stores, [stores, project, note, entry] {
                    // Not when the note is listed again (the library was loaded anew meanwhile).
                    const auto projects = stores.projectStore->tdProjects();
                    const bool listed = std::any_of(projects.begin(), projects.end(), [&](const auto& each) {
                        const auto notes = each->tdNote();
                        return std::any_of(notes.begin(), notes.end(),
                            [&](const auto& other) { return other->id() == note->id(); });
                    });
                    if (!listed) {
                        auto removed = tdnotefiles::removeNoteFolder(
                            TDDirectoryPath::projectDirectoryURL(project->name()), *note, projects);
                        if (!removed)
                            return printFailure(removed.error().description);
                    }
                    TDLibraryJournal::end(entry);
                });
                return operation->failSaving(saved.error());
            }
            // The project's folder as it is now: a rename meanwhile moved the note's folder with it.
            const Url projectFolder = TDDirectoryPath::projectDirectoryURL(project->name());
            auto removed
                = tdnotefiles::removeNoteFolder(projectFolder, *note, stores.projectStore->tdProjects());
            if (removed)
                TDLibraryJournal::end(entry);
            if (!removed)
                return operation->failFile(
                    tdLocalized("The note's folder could not be removed."), removed.error());
            operation->succeed({});
        });
}

bool TDLibrary::recordNoteOpened(
    const std::shared_ptr<TDProject>& project, const std::shared_ptr<TDNote>& note)
{
    const auto& store = m_stores.projectStore;
    auto map = store->noteMap();
    if (auto index = projectIndex(*store, project)) {
        const auto notes = project->tdNote();
        auto found = std::find_if(
            notes.begin(), notes.end(), [&](const auto& element) { return element->id() == note->id(); });
        if (found == notes.end())
            return false;
        map[note->id()] = TDProjectStore::NoteLocation { *index, static_cast<int>(found - notes.begin()) };
    } else {
        // An entry left from before would point the window at whatever note sits there now.
        map.erase(note->id());
    }
    store->setNoteMap(std::move(map));
    return true;
}

// Renaming a note.

namespace {

// Whether anything, a dangling symbolic link included, is at `url`.
bool itemExists(const Url& url)
{
    struct stat info;
    return url.isFileUrl() && ::lstat(url.path().toUtf8().constData(), &info) == 0;
}

struct Move {
    Url from;
    Url to;
};

// Moves back what `done` moved, last first. When a move back fails, what was moved back is moved
// forward again, so the files stay together where the note's new fields point.
bool undoMoves(const std::vector<Move>& done)
{
    for (std::size_t undone = 0; undone < done.size(); ++undone) {
        const Move& move = done[done.size() - 1 - undone];
        if (platform::FileManager::moveItem(move.to, move.from))
            continue;
        for (std::size_t redo = done.size() - undone; redo < done.size(); ++redo)
            platform::FileManager::moveItem(done[redo].from, done[redo].to);
        return false;
    }
    return true;
}

void printMissing(const Url& url)
{
    platform::print(QStringLiteral("File does not exist at path: ") + url.path());
}

} // namespace

void TDLibrary::renameNote(const std::shared_ptr<TDProject>& project, const std::shared_ptr<TDNote>& note,
    const QString& title, platform::Date date, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    const QString failed = tdLocalized("The note could not be renamed.");
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(project->name());
    const Url notesFolder = projectFolder.appendingPathComponent(QStringLiteral("notes"));

    // Where the files are now: the text file's own folder when it lies in the project's notes
    // folder (whatever the stored title says), else the folder the title names.
    const Url oldURL = note->contentURL();
    Url oldFolder = oldURL.deletingLastPathComponent();
    QString oldFileName = oldURL.lastPathComponent();
    if (!oldURL.isFileUrl() || oldFolder.deletingLastPathComponent() != notesFolder) {
        oldFolder = TDDirectoryPath::noteDirectoryURL(projectFolder, note->title());
        oldFileName = note->title() + QStringLiteral(".txt");
    }
    const Url newFolder = TDDirectoryPath::noteDirectoryURL(projectFolder, title);
    const Url newTextFile = TDDirectoryPath::noteTextFileURL(projectFolder, title);
    const Url movedTextFile = newFolder.appendingPathComponent(oldFileName);
    for (const Url& url : { oldFolder, newFolder, newTextFile, movedTextFile }) {
        if (!url.isFileUrl() || !TDDirectoryPath::isInsideLibraryFolder(url))
            return operation->fail(
                Kind::fileFailed, failed, tdLocalized("The note's files are not in its project's folder."));
    }

    // With the whole library away (its disk unplugged), the renamed note would no longer find its
    // files, still under the old name, once the library is back.
    if (!itemExists(oldFolder)) {
        if (auto missing = TDDirectoryPath::libraryFolderMissing())
            return operation->failFile(failed, *missing);
    }
    std::vector<Move> moved;
    // The files move before the projects are saved: a start after a crash in between points the
    // note at them.
    std::optional<TDLibraryJournal::Entry> entry;
    const auto listChange = [&] {
        entry = TDLibraryJournal::begin(libraryFolderOf(m_stores),
            { JournalChange::Kind::renameNote, project->id(), note->id(), note->title(), title, date, {} });
    };
    const auto endChange = [&] {
        if (entry)
            TDLibraryJournal::end(*entry);
    };
    if (newFolder != oldFolder) {
        // Never moved onto: a folder of that name that no note lists is someone's, not this note's.
        if (itemExists(newFolder) && !platform::FileManager::isSameItem(oldFolder, newFolder)) {
            const auto exists = tdnotefiles::existingTitleProblem();
            return operation->refuse(exists.title, exists.message);
        }
        if (itemExists(oldFolder)) {
            listChange();
            auto folderMoved = platform::FileManager::moveItem(oldFolder, newFolder);
            if (!folderMoved) {
                endChange();
                return operation->failFile(
                    failed, TDDirectoryPath::explainedNameRefusal(folderMoved.error(), title));
            }
            moved.push_back({ oldFolder, newFolder });
        } else {
            printMissing(oldFolder);
        }
    }
    if (movedTextFile != newTextFile) {
        if (itemExists(movedTextFile)) {
            if (!entry)
                listChange();
            auto fileMoved = platform::FileManager::moveItem(movedTextFile, newTextFile);
            if (!fileMoved) {
                const PlatformError refusal = TDDirectoryPath::explainedNameRefusal(fileMoved.error(), title);
                const QString reason = tdPlainFileFailure(refusal);
                if (undoMoves(moved)) {
                    endChange();
                    return operation->failFile(failed, refusal);
                }
                // The files stay where the new title puts them; the list keeps the change for a
                // later start to point the note there.
                return operation->fail(Kind::fileFailed, failed, reason,
                    reason + QLatin1Char(' ') + tdLocalized("Its folder could not be moved back: ")
                        + newFolder.path());
            }
            moved.push_back({ movedTextFile, newTextFile });
        } else {
            printMissing(movedTextFile);
        }
    }

    // Quick-access entries in the note's folder, of any project, follow the files (and go back with
    // them).
    auto candidates = m_stores.projectStore->tdProjects();
    if (std::find(candidates.begin(), candidates.end(), project) == candidates.end())
        candidates.push_back(project);
    // The projects whose entries moved: a failed save points those back.
    std::vector<std::shared_ptr<TDProject>> projects;
    for (const auto& each : candidates) {
        bool pointed = false;
        for (const Move& move : moved)
            pointed = pointQuickAccessInto({ each }, move.from, move.to) || pointed;
        if (pointed)
            projects.push_back(each);
    }

    const QString oldTitle = note->title();
    const platform::Date oldDate = note->date();
    note->setTitle(title);
    note->setDate(date);
    note->setContentURL(newTextFile);
    auto stores = m_stores;
    saveInOrder(stores, { LibraryFile::projects },
        [operation, stores, entry, note, moved, oldTitle, oldDate, oldURL, projects, failed](
            SaveOutcome saved) {
            const bool movedBack = !saved && undoMoves(moved);
            if (entry)
                endOnceSaved(stores, *entry, movedBack ? SaveOutcome::success({}) : saved);
            if (saved)
                return operation->succeed({});
            QString text = tdLocalized("The library could not be saved: ") + saved.error().plainDescription();
            if (movedBack) {
                note->setTitle(oldTitle);
                note->setDate(oldDate);
                note->setContentURL(oldURL);
                for (auto move = moved.rbegin(); move != moved.rend(); ++move)
                    pointQuickAccessInto(projects, move->to, move->from);
                text += QLatin1Char(' ') + tdLocalized("The note keeps its name.");
            } else {
                // The files stay where the note's new fields point; the next save of the projects
                // writes them.
                text += QLatin1Char(' ')
                    + tdLocalized("Its files could not be moved back, so it keeps the new name.");
            }
            operation->fail(Kind::saveFailed, failed, saved.error().description, text);
        });
}

bool TDLibrary::finishPendingWork(std::chrono::milliseconds limit)
{
    const bool finished = platform::runMainLoopUntil(
        [] { return s_operationsInFlight == 0 && TDLibraryFile::writesInFlight() == 0; }, limit);
    // The saves just ended (those made at quit among them) may have dropped what a failed save left.
    if (finished)
        removeWhatSavesDropped();
    return finished;
}

void TDLibrary::createProject(TDProject::Fields fields, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    // The folder is made before the projects are saved: a start after a crash in between removes
    // it while it is still empty, as a folder no project names would keep its name from being used.
    const auto entry = TDLibraryJournal::begin(libraryFolderOf(m_stores),
        { JournalChange::Kind::createProject, fields.id, {}, fields.name, {}, {}, {} });
    auto created = TDProjectStore::createProjectDirectory(fields.name);
    if (!created) {
        TDLibraryJournal::end(entry);
        return operation->failFile(tdLocalized("The project folder could not be created."), created.error());
    }
    auto projects = m_stores.projectStore->tdProjects();
    projects.push_back(TDProject::make(std::move(fields)));
    m_stores.projectStore->setTdProjects(std::move(projects));
    auto stores = m_stores;
    saveInOrder(stores, { LibraryFile::projects }, [operation, stores, entry](SaveOutcome saved) {
        endOnceSaved(stores, entry, saved);
        finishing(operation)(saved);
    });
}

void TDLibrary::editProject(const std::shared_ptr<TDProject>& project, ProjectEdit edit, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    std::optional<TDLibraryJournal::Entry> entry;
    if (!sameName(edit.name, project->name())) {
        // The folder moves before either file is saved: a start after a crash in between finds out
        // from the list which folder the records meant.
        entry = TDLibraryJournal::begin(libraryFolderOf(m_stores),
            { JournalChange::Kind::renameProject, project->id(), {}, project->name(), edit.name, {}, {} });
        const Url oldFolder = TDDirectoryPath::projectDirectoryURL(project->name());
        auto renamed = renameTDProject(*project, edit.name, m_stores.mediaStore->tdMedia());
        if (!renamed) {
            TDLibraryJournal::end(*entry);
            return operation->failFile(
                tdLocalized("The project folder could not be renamed."), renamed.error());
        }
        pointQuickAccessInto(m_stores.projectStore->tdProjects(), oldFolder,
            TDDirectoryPath::projectDirectoryURL(project->name()));
    }
    if (edit.startDate != project->startDate())
        project->setStartDate(edit.startDate);
    auto current = project->category();
    if (edit.category && (!current || current->id() != edit.category->id()))
        project->setCategory(edit.category);
    auto stores = m_stores;
    saveInOrder(
        stores, { LibraryFile::projects, LibraryFile::media }, [operation, stores, entry](SaveOutcome saved) {
            if (entry)
                endOnceSaved(stores, *entry, saved);
            finishing(operation)(saved);
        });
}

// Removes the record the user chose, found by identity and id: a hand-edited library may hold two
// records of one id, and the other one keeps its notes' links and its images.
void TDLibrary::deleteProject(const std::shared_ptr<TDProject>& project, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    const QString name = project->name();
    // Three saves and a move to the trash: a start after a crash in between finishes the deletion.
    const auto entry = TDLibraryJournal::begin(libraryFolderOf(m_stores),
        { JournalChange::Kind::deleteProject, project->id(), {}, name, {}, {}, {} });
    auto projects = m_stores.projectStore->tdProjects();
    auto chosen = std::find_if(projects.begin(), projects.end(),
        [&](const auto& element) { return element == project && element->id() == project->id(); });
    if (chosen != projects.end()) {
        projects.erase(chosen);
        const platform::Uuid id = project->id();
        // The project's own notes, less those another record also lists: a set of a few ids
        // looked up once per note of the library, not a set of every note of the library.
        std::unordered_set<platform::Uuid> removedNotes;
        for (const auto& note : project->tdNoteInPlace())
            removedNotes.insert(note->id());
        bool idKept = false;
        for (const auto& other : projects) {
            idKept = idKept || other->id() == id;
            if (removedNotes.empty())
                continue;
            for (const auto& note : other->tdNoteInPlace())
                removedNotes.erase(note->id());
        }
        // One pass and one write of the links, however many notes the project has.
        if (!removedNotes.empty()) {
            auto links = m_stores.linkStore->tdLinks();
            std::erase_if(links, [&](const TDLink& link) { return removedNotes.contains(link.tdNoteId); });
            m_stores.linkStore->setTdLinks(std::move(links));
        }
        m_stores.projectStore->setTdProjects(std::move(projects));
        if (!idKept) {
            auto media = m_stores.mediaStore->tdMedia();
            std::erase_if(
                media, [&](const std::shared_ptr<TDMedia>& element) { return element->tdProjectId() == id; });
            m_stores.mediaStore->setTdMedia(std::move(media));
        }
    }

    // The folder goes only after every library file stopped listing the project: a save that fails
    // leaves the files on disk that the library still points at.
    auto stores = m_stores;
    saveInOrder(stores, { LibraryFile::links, LibraryFile::media, LibraryFile::projects },
        [operation, stores, name, entry](SaveOutcome saved) {
            if (!saved) {
                removeOnceSaved(stores, [stores, name, entry] {
                    if (auto removed = removeProjectFolder(name, *stores.projectStore); !removed)
                        printFailure(removed.error().description);
                    else
                        TDLibraryJournal::end(entry);
                });
                return operation->failSaving(saved.error());
            }
            auto removed = removeProjectFolder(name, *stores.projectStore);
            // A folder that could not go stays listed, for a later start to try again.
            if (removed)
                TDLibraryJournal::end(entry);
            if (!removed)
                return operation->failFile(
                    tdLocalized("The project folder could not be removed."), removed.error());
            operation->succeed({});
        });
}

void TDLibrary::saveProjectChange(Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    saveInOrder(m_stores, { LibraryFile::projects }, finishing(operation));
}

void TDLibrary::toggleFavorite(const std::shared_ptr<TDProject>& project, Done done)
{
    project->setIsFavorite(!project->isFavorite());
    saveProjectChange(std::move(done));
}

namespace {

// Reading, decoding and encoding a picture of tens of megapixels takes a second: it is done away
// from the main thread, one cover at a time so that only one decoded picture is held.
const std::shared_ptr<platform::DispatchQueue>& coverQueue()
{
    // Never destroyed: a cover may still be on its way while the program exits.
    static auto* queue
        = new std::shared_ptr<platform::DispatchQueue>(platform::DispatchQueue::makeSerial("cover images"));
    return *queue;
}

// The latest choice of cover of each project with one on its way; a choice that is no longer the
// latest (another cover chosen, or the cover removed, meanwhile) changes nothing when it ends.
// Main thread only.
std::uint64_t s_coverChoices = 0;
std::unordered_map<const TDProject*, std::uint64_t>& latestCoverChoices()
{
    static auto* latest = new std::unordered_map<const TDProject*, std::uint64_t>;
    return *latest;
}

// One cover on its way; it lives and dies on the main thread.
struct CoverChoice {
    TDStores stores;
    std::shared_ptr<Operation<Success>> operation;
    std::shared_ptr<TDProject> project;
    std::uint64_t number;
    QString imagePath;
    // The files this choice is making, listed before each is written.
    std::vector<std::pair<TDLibraryJournal::Entry, Url>> listed;
};

// Strikes off the files of `choice` that are nowhere any more.
void endGoneCoverFiles(CoverChoice& choice)
{
    std::vector<TDLibraryJournal::Entry> gone;
    std::erase_if(choice.listed, [&](const auto& listed) {
        const auto places = listedAndMoved(choice.stores, choice.project->id(), listed.second, 1);
        if (std::any_of(places.begin(), places.end(), [](const Url& place) { return itemExists(place); }))
            return false;
        gone.push_back(listed.first);
        return true;
    });
    TDLibraryJournal::end(gone);
}

struct CoverFailure {
    QString title;
    QString reason;
    // What the alert says, when it says more than `reason`.
    QString message = {};
};

void makeCover(std::shared_ptr<CoverChoice> choice, QByteArray jpeg);

void coverMade(std::shared_ptr<CoverChoice> choice, const QByteArray& jpeg, const Url& writtenFolder,
    const std::optional<Url>& file, const std::optional<CoverFailure>& failure)
{
    const TDProject& project = *choice->project;
    auto& latest = latestCoverChoices();
    const auto found = latest.find(&project);
    const bool latestChoice = found != latest.end() && found->second == choice->number;
    const auto projects = choice->stores.projectStore->tdProjects();
    const bool inStore = std::find(projects.begin(), projects.end(), choice->project) != projects.end();
    const Url folder = TDDirectoryPath::projectDirectoryURL(project.name());
    // A rename moves the project's folder, and the new file along with it when it was already there.
    std::optional<Url> landed;
    if (file && folder == writtenFolder) {
        landed = file;
    } else if (file) {
        const Url moved = folder.appendingPathComponent(file->lastPathComponent());
        if (QFileInfo(moved.path()).isFile() && !QFileInfo(moved.path()).isSymLink())
            landed = moved;
        else
            tdcoverimage::removeCoverFile(*file, writtenFolder);
    }
    if (!latestChoice || !inStore) {
        if (landed)
            tdcoverimage::removeCoverFile(*landed, folder);
        endGoneCoverFiles(*choice);
        if (latestChoice)
            latest.erase(found);
        return choice->operation->succeed({});
    }
    if (!landed && !jpeg.isEmpty() && folder != writtenFolder)
        return makeCover(std::move(choice), jpeg);
    latest.erase(found);
    if (failure) {
        endGoneCoverFiles(*choice);
        return choice->operation->fail(Kind::fileFailed, failure->title, failure->reason, failure->message);
    }

    auto old = project.coverImageURL();
    std::vector<TDLibraryJournal::Entry> listed;
    for (const auto& each : choice->listed)
        listed.push_back(each.first);
    // Once the save names the new file, the replaced one is named by no record: listed before, it
    // goes at the next start should a crash come first.
    std::optional<TDLibraryJournal::Entry> oldListed;
    if (old && *old != *landed && tdcoverimage::isOwnCoverFile(*old, folder))
        oldListed = TDLibraryJournal::begin(libraryFolderOf(choice->stores),
            { JournalChange::Kind::setCover, project.id(), {}, {}, {}, {}, *old });
    choice->project->setCoverImageURL(*landed);
    auto stores = choice->stores;
    saveInOrder(stores, { LibraryFile::projects },
        [operation = choice->operation, stores, projectId = project.id(), old, oldListed, listed, folder,
            file = *landed](SaveOutcome saved) {
            if (!saved) {
                // The new cover reaches the library with a later save, and only then may the old
                // file go.
                removeOnceSaved(stores, [stores, projectId, old, oldListed, listed] {
                    if (old && oldListed) {
                        if (auto failed = removeUnnamedCoverFile(stores, projectId, *old))
                            return printFailure(failed->description);
                        TDLibraryJournal::end(*oldListed);
                    }
                    TDLibraryJournal::end(listed);
                });
                return operation->failSaving(saved.error());
            }
            TDLibraryJournal::end(listed);
            // The replaced cover's file goes once the library no longer names it; one left behind
            // is only reported, and stays listed for the next start to remove.
            if (old && *old != file) {
                auto removed = tdcoverimage::removeCoverFile(*old, folder);
                if (!removed)
                    printFailure(removed.error().description);
                else if (oldListed)
                    TDLibraryJournal::end(*oldListed);
            }
            operation->succeed({});
        });
}

// Makes the JPEG of the chosen picture (unless `jpeg` holds it already) and writes it into the
// project's folder, then ends on the main thread.
void makeCover(std::shared_ptr<CoverChoice> choice, QByteArray jpeg)
{
    const Url folder = TDDirectoryPath::projectDirectoryURL(choice->project->name());
    const QString path = choice->imagePath;
    // Listed before it is written: a crash before the save names it leaves a file the next start
    // removes.
    const Url target = tdcoverimage::newCoverFileURL(folder);
    if (target.isValid())
        choice->listed.emplace_back(
            TDLibraryJournal::begin(libraryFolderOf(choice->stores),
                { JournalChange::Kind::setCover, choice->project->id(), {}, {}, {}, {}, target }),
            target);
    coverQueue()->async([choice = std::move(choice), jpeg = std::move(jpeg), folder, path, target]() mutable {
        std::optional<CoverFailure> failure;
        std::optional<Url> file;
        if (jpeg.isEmpty()) {
            auto made = tdcoverimage::jpegData(path);
            if (made)
                jpeg = made.value();
            else
                failure = CoverFailure { tdLocalized("The image cannot be used as a cover."),
                    made.error().description };
        }
        if (!failure) {
            auto written = tdcoverimage::writeCoverFile(target, jpeg);
            if (written)
                file = target;
            else
                failure = CoverFailure { tdLocalized("The cover image could not be saved."),
                    written.error().description, tdPlainFileFailure(written.error()) };
        }
        // The choice goes back whole: what it holds belongs to the main thread.
        platform::DispatchQueue::main()->async(
            [choice = std::move(choice), jpeg = std::move(jpeg), folder, file, failure]() mutable {
                coverMade(std::move(choice), jpeg, folder, file, failure);
            });
    });
}

} // namespace

void TDLibrary::setCoverImage(const std::shared_ptr<TDProject>& project, const QString& imagePath, Done done)
{
    auto choice = std::make_shared<CoverChoice>(CoverChoice {
        m_stores, begin<Success>(m_inFlight, std::move(done)), project, ++s_coverChoices, imagePath });
    latestCoverChoices()[project.get()] = choice->number;
    makeCover(std::move(choice), {});
}

void TDLibrary::removeCoverImage(const std::shared_ptr<TDProject>& project, const Url& url, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    // A cover chosen before and still on its way no longer replaces this choice.
    latestCoverChoices().erase(project.get());
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(project->name());
    // A cover whose file is gone is still cleared: kept, it could never be removed nor replaced.
    if (tdcoverimage::isOwnCoverFile(url, projectFolder) && !QFileInfo(url.path()).exists()
        && !QFileInfo(url.path()).isSymLink())
        printFailure(PlatformError::fromErrno(ENOENT, url.path()).description);
    // The file goes before the projects are saved: a start after a crash in between clears the
    // cover that names it.
    const auto entry = TDLibraryJournal::begin(
        libraryFolderOf(m_stores), { JournalChange::Kind::removeCover, project->id(), {}, {}, {}, {}, url });
    auto removed = tdcoverimage::removeCoverFile(url, projectFolder);
    if (!removed) {
        TDLibraryJournal::end(entry);
        return operation->failFile(tdLocalized("The cover image could not be removed."), removed.error());
    }
    project->setCoverImageURL(std::nullopt);
    auto stores = m_stores;
    saveInOrder(stores, { LibraryFile::projects }, [operation, stores, entry](SaveOutcome saved) {
        endOnceSaved(stores, entry, saved);
        finishing(operation)(saved);
    });
}

void TDLibrary::addQuickAccessURL(const std::shared_ptr<TDProject>& project, const Url& url, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    if (!url.isValid())
        return operation->refuse(tdLocalized("The item cannot be added."),
            tdLocalized("Only a file or a folder can be kept in the quick-access bar."));
    auto urls = project->quickAccessURL();
    urls.push_back(url);
    project->setQuickAccessURL(std::move(urls));
    saveInOrder(m_stores, { LibraryFile::projects }, finishing(operation));
}

void TDLibrary::removeQuickAccessURL(const std::shared_ptr<TDProject>& project, const Url& url, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    auto urls = project->quickAccessURL();
    std::erase(urls, url);
    project->setQuickAccessURL(std::move(urls));
    saveInOrder(m_stores, { LibraryFile::projects }, finishing(operation));
}

void TDLibrary::importImages(
    const std::shared_ptr<TDProject>& project, std::vector<QUrl> urls, ImportDone done)
{
    auto operation = begin<TDImageImportReport>(m_inFlight, std::move(done));
    auto stores = m_stores;
    tdimageimport::start(
        stores, project, std::move(urls),
        [stores](std::vector<std::shared_ptr<TDMedia>> media) {
            auto all = stores.mediaStore->tdMedia();
            all.reserve(all.size() + media.size());
            std::move(media.begin(), media.end(), std::back_inserter(all));
            stores.mediaStore->setTdMedia(std::move(all));
        },
        [operation, stores](TDImageImportReport report) {
            for (const auto& failure : report.failures)
                printFailure(failure.fileName + QStringLiteral(": ") + failure.reason);
            saveInOrder(stores, { LibraryFile::media }, [operation, stores, report](SaveOutcome saved) {
                endOnceSaved(stores, report.listed, saved);
                if (!saved)
                    return operation->failSaving(saved.error());
                operation->succeed(report);
            });
        });
}

void TDLibrary::addMedia(std::vector<std::shared_ptr<TDMedia>> media, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    if (!media.empty()) {
        auto all = m_stores.mediaStore->tdMedia();
        for (auto& item : media)
            all.push_back(std::move(item));
        m_stores.mediaStore->setTdMedia(std::move(all));
    }
    saveInOrder(m_stores, { LibraryFile::media }, finishing(operation));
}

namespace {

// Moves to the trash the image's own folders (`folders`, and where its projects keep it now) that no
// record names any more; the first failure.
std::optional<PlatformError> removeMediaFolders(const TDStores& stores, std::vector<Url> folders,
    const std::vector<platform::Uuid>& projectIds, const platform::Uuid& mediaId)
{
    // A rename meanwhile moved the image's folder along with its project's.
    for (const auto& project : stores.projectStore->tdProjects()) {
        if (std::find(projectIds.begin(), projectIds.end(), project->id()) == projectIds.end())
            continue;
        const Url moved = TDDirectoryPath::mediaThumbnailURL(
            TDDirectoryPath::projectDirectoryURL(project->name()), mediaId)
                              .deletingLastPathComponent();
        if (std::find(folders.begin(), folders.end(), moved) == folders.end())
            folders.push_back(moved);
    }
    // Only the image's own folder, named by its id, is removed: an address outside one of that name
    // is passed over unparsed: parsing every record's address would take seconds in a large library.
    const QString ownFolder = u'/' + mediaId.lowercaseString() + u'/';
    for (const Url& folder : folders) {
        const auto kept = stores.mediaStore->tdMedia();
        const bool stillNamed = std::any_of(kept.begin(), kept.end(), [&](const auto& item) {
            return (item->urlText().contains(ownFolder) && item->url().deletingLastPathComponent() == folder)
                || (item->thumbnailURLText().contains(ownFolder)
                    && item->thumbnailURL().deletingLastPathComponent() == folder);
        });
        if (stillNamed || !isOwnMediaFolder(folder, mediaId))
            continue;
        auto removed = TDDirectoryPath::trashItemInsideLibrary(folder);
        if (!removed)
            return removed.error();
    }
    return std::nullopt;
}

} // namespace

void TDLibrary::removeMedia(const platform::Uuid& mediaId, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    auto media = m_stores.mediaStore->tdMedia();
    std::vector<Url> folders;
    std::vector<platform::Uuid> projectIds;
    std::optional<Url> file;
    for (const auto& item : media) {
        if (item->id() != mediaId)
            continue;
        folders.push_back(item->url().deletingLastPathComponent());
        file = file.value_or(item->url());
        if (auto projectId = item->tdProjectId())
            projectIds.push_back(*projectId);
    }
    // The record is saved away before the folder goes: a start after a crash in between removes it.
    const auto entry = TDLibraryJournal::begin(libraryFolderOf(m_stores),
        { JournalChange::Kind::deleteMedia, projectIds.empty() ? platform::Uuid() : projectIds.front(),
            mediaId, {}, {}, {}, file });
    std::erase_if(media, [&](const std::shared_ptr<TDMedia>& item) { return item->id() == mediaId; });
    m_stores.mediaStore->setTdMedia(std::move(media));
    auto stores = m_stores;
    auto removeFolders = [stores, folders, projectIds, mediaId, entry] {
        auto failed = removeMediaFolders(stores, folders, projectIds, mediaId);
        if (!failed)
            TDLibraryJournal::end(entry);
        return failed;
    };
    saveInOrder(stores, { LibraryFile::media }, [operation, stores, removeFolders](SaveOutcome saved) {
        if (!saved) {
            removeOnceSaved(stores, [removeFolders] {
                if (auto failed = removeFolders())
                    printFailure(failed->description);
            });
            return operation->failSaving(saved.error());
        }
        if (auto failed = removeFolders())
            return operation->failFile(tdLocalized("The image's files could not be removed."), *failed);
        operation->succeed({});
    });
}

void TDLibrary::addLink(TDLink link, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    auto links = m_stores.linkStore->tdLinks();
    links.push_back(std::move(link));
    m_stores.linkStore->setTdLinks(std::move(links));
    saveInOrder(m_stores, { LibraryFile::links }, finishing(operation));
}

void TDLibrary::removeLink(const platform::Uuid& linkId, Done done)
{
    auto operation = begin<Success>(m_inFlight, std::move(done));
    auto links = m_stores.linkStore->tdLinks();
    std::erase_if(links, [&](const TDLink& link) { return link.id == linkId; });
    m_stores.linkStore->setTdLinks(std::move(links));
    saveInOrder(m_stores, { LibraryFile::links }, finishing(operation));
}

// Finishing what a crash interrupted.

namespace {

bool isRealFolder(const Url& url)
{
    const QFileInfo info(url.path());
    return url.isFileUrl() && info.isDir() && !info.isSymLink();
}

// The listed project of `id`, of that name unless `name` is empty.
std::shared_ptr<TDProject> listedProject(
    const TDStores& stores, const platform::Uuid& id, const QString& name)
{
    for (const auto& project : stores.projectStore->tdProjects()) {
        if (project->id() == id && (name.isEmpty() || project->name() == name))
            return project;
    }
    return nullptr;
}

std::shared_ptr<TDNote> listedNote(const std::shared_ptr<TDProject>& project, const platform::Uuid& id)
{
    for (const auto& note : project ? project->tdNote() : std::vector<std::shared_ptr<TDNote>> {}) {
        if (note->id() == id)
            return note;
    }
    return nullptr;
}

void saveThenEnd(const TDStores& stores, std::vector<LibraryFile> order, TDLibraryJournal::Entry entry)
{
    saveInOrder(
        stores, std::move(order), [stores, entry](SaveOutcome saved) { endOnceSaved(stores, entry, saved); });
}

// Whether the rename had moved the folder: the old one is gone and the new one is there.
bool folderMoved(const Url& from, const Url& to)
{
    return from.isValid() && to.isValid() && !itemExists(from) && isRealFolder(to)
        && TDDirectoryPath::isInsideLibraryFolder(to);
}

// Returns whether saves that end the entry were started.
bool finishProjectRename(const TDStores& stores, TDLibraryJournal::Entry entry, const JournalChange& change)
{
    const Url from = TDDirectoryPath::projectDirectoryURL(change.from);
    const Url to = TDDirectoryPath::projectDirectoryURL(change.to);
    if (!folderMoved(from, to))
        return false;
    // The projects file was not saved: the record still has the old name and paths.
    if (auto project = listedProject(stores, change.project, change.from)) {
        const auto projects = stores.projectStore->tdProjects();
        if (std::any_of(projects.begin(), projects.end(),
                [&](const auto& other) { return other->name() == change.to; }))
            return false;
        pointTDProjectAt(*project, change.to, stores.mediaStore->tdMedia());
        pointQuickAccessInto(projects, from, to);
        saveThenEnd(stores, { LibraryFile::projects, LibraryFile::media }, entry);
        return true;
    }
    // The projects file was saved, the media file not.
    if (listedProject(stores, change.project, change.to)
        && pointTDProjectMediaInto(change.project, from, to, stores.mediaStore->tdMedia())) {
        saveThenEnd(stores, { LibraryFile::media }, entry);
        return true;
    }
    return false;
}

bool finishNoteRename(const TDStores& stores, TDLibraryJournal::Entry entry, const JournalChange& change)
{
    const auto project = listedProject(stores, change.project, {});
    const auto note = listedNote(project, *change.item);
    if (!note || note->title() != change.from || !change.date || itemExists(note->contentURL()))
        return false;
    // A note made under the new title since owns the folder of that title.
    const auto notes = project->tdNote();
    if (std::any_of(
            notes.begin(), notes.end(), [&](const auto& other) { return other->title() == change.to; }))
        return false;
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(project->name());
    const Url folder = TDDirectoryPath::noteDirectoryURL(projectFolder, change.to);
    if (!folder.isValid() || !isRealFolder(folder) || !TDDirectoryPath::isInsideLibraryFolder(folder))
        return false;
    // The text file moves after its folder: it may still have the old title's name.
    Url text = TDDirectoryPath::noteTextFileURL(projectFolder, change.to);
    if (!QFileInfo(text.path()).isFile())
        text = folder.appendingPathComponent(note->contentURL().lastPathComponent());
    if (!text.isValid() || !QFileInfo(text.path()).isFile())
        return false;
    // The quick-access entries in the note's folder were not saved either.
    const Url notesFolder = projectFolder.appendingPathComponent(QStringLiteral("notes"));
    Url oldFolder = note->contentURL().deletingLastPathComponent();
    if (!note->contentURL().isFileUrl() || oldFolder.deletingLastPathComponent() != notesFolder)
        oldFolder = TDDirectoryPath::noteDirectoryURL(projectFolder, change.from);
    const auto projects = stores.projectStore->tdProjects();
    pointQuickAccessInto(projects, oldFolder, folder);
    pointQuickAccessInto(
        projects, folder.appendingPathComponent(note->contentURL().lastPathComponent()), text);
    note->setTitle(change.to);
    note->setDate(*change.date);
    note->setContentURL(text);
    saveThenEnd(stores, { LibraryFile::projects }, entry);
    return true;
}

// Removes the folder of a deleted note that no library file lists any more; false when it could
// not go.
bool removeLeftNoteFolder(const TDStores& stores, const JournalChange& change)
{
    const auto project = listedProject(stores, change.project, {});
    if (!project)
        return true;
    const auto note = TDNote::make(
        *change.item, change.project, change.from, change.file.value_or(Url()), platform::Date());
    auto removed = tdnotefiles::removeNoteFolder(
        TDDirectoryPath::projectDirectoryURL(project->name()), *note, stores.projectStore->tdProjects());
    if (!removed)
        printFailure(removed.error().description);
    return bool(removed);
}

// The folder of a new project that the projects file does not list: it goes while it is empty,
// and only then (nothing of the user's is ever in it).
void removeUnlistedEmptyFolder(const TDStores& stores, const JournalChange& change)
{
    const auto projects = stores.projectStore->tdProjects();
    if (std::any_of(projects.begin(), projects.end(), [&](const auto& project) {
            return project->id() == change.project || project->name() == change.from;
        }))
        return;
    const Url folder = TDDirectoryPath::projectDirectoryURL(change.from);
    if (TDDirectoryPath::nameProblem(change.from) || TDProjectStore::isLibraryFileName(change.from)
        || !isRealFolder(folder) || !TDDirectoryPath::isInsideLibraryFolder(folder))
        return;
    QDir().rmdir(folder.path());
}

// Lists a new note whose files were made while the projects file does not list it; whether saves
// that end the entry were started.
bool listUnlistedNote(const TDStores& stores, TDLibraryJournal::Entry entry, const JournalChange& change)
{
    const auto project = listedProject(stores, change.project, {});
    if (!project || listedNote(project, *change.item) || !change.file || !change.date)
        return false;
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(project->name());
    const Url text = TDDirectoryPath::noteTextFileURL(projectFolder, change.from);
    // Only where the note's title still puts it, in the project as it is named now.
    if (text != *change.file || !QFileInfo(text.path()).isFile() || QFileInfo(text.path()).isSymLink())
        return false;
    auto notes = project->tdNote();
    if (std::any_of(
            notes.begin(), notes.end(), [&](const auto& note) { return note->title() == change.from; }))
        return false;
    notes.push_back(TDNote::make(*change.item, project->id(), change.from, text, *change.date));
    project->setTdNote(std::move(notes));
    saveThenEnd(stores, { LibraryFile::projects }, entry);
    return true;
}

// Removes the folder an import listed for the image `change.item` where no record names it (the copy
// and thumbnail of a drop whose records never reached the media file); `namedFolders` holds the
// paths of the folders the media records name.
std::optional<PlatformError> removeUnrecordedImport(
    const TDStores& stores, const JournalChange& change, const std::unordered_set<QString>& namedFolders)
{
    for (const Url& folder : listedAndMoved(stores, change.project, *change.file, 2)) {
        if (namedFolders.contains(folder.path()) || !isOwnMediaFolder(folder, *change.item))
            continue;
        if (auto removed = TDDirectoryPath::removeItemInsideLibrary(folder); !removed)
            return removed.error();
    }
    return std::nullopt;
}

// Removes a link's file that was written before a crash kept the link out of the links file, where
// it was listed and where a rename has put its project's folder since ("notes/<title>/links/<file>"
// in it). Only a file named as that link's file, in a note's "links" folder of the library.
std::optional<PlatformError> removeUnrecordedLinkFile(const TDStores& stores, const JournalChange& change)
{
    const auto links = stores.linkStore->tdLinks();
    if (std::any_of(links.begin(), links.end(), [&](const TDLink& link) { return link.id == *change.item; }))
        return std::nullopt;
    const QString ending
        = QLatin1Char(' ') + change.item->lowercaseString().left(8) + QStringLiteral(".webloc");
    for (const Url& file : listedAndMoved(stores, change.project, *change.file, 4)) {
        if (!file.isFileUrl() || !file.lastPathComponent().endsWith(ending)
            || file.deletingLastPathComponent().lastPathComponent() != QLatin1String("links"))
            continue;
        removeKilledSavesOf(file);
        if (!itemExists(file) || QFileInfo(file.path()).isDir())
            continue;
        if (auto removed = TDDirectoryPath::removeItemInsideLibrary(file); !removed)
            return removed.error();
    }
    return std::nullopt;
}

// Whether finishing a change of `kind` removes records or files. The others only complete records
// from what they find on disk (a moved folder, a made text file) or clear what is gone.
bool removesWhatItNames(JournalChange::Kind kind)
{
    switch (kind) {
    case JournalChange::Kind::createProject:
    case JournalChange::Kind::createNote:
    case JournalChange::Kind::renameProject:
    case JournalChange::Kind::renameNote:
    case JournalChange::Kind::removeCover:
        return false;
    case JournalChange::Kind::deleteProject:
    case JournalChange::Kind::deleteNote:
    case JournalChange::Kind::deleteMedia:
    case JournalChange::Kind::importMedia:
    case JournalChange::Kind::addLink:
    case JournalChange::Kind::setCover:
    case JournalChange::Kind::deleteLink:
        break;
    }
    return true;
}

QString describe(const JournalChange& change)
{
    static const std::pair<JournalChange::Kind, const char*> what[] = {
        { JournalChange::Kind::deleteProject, "deleting the project" },
        { JournalChange::Kind::deleteNote, "deleting the note" },
        { JournalChange::Kind::deleteMedia, "deleting an image" },
        { JournalChange::Kind::importMedia, "adding an image" },
        { JournalChange::Kind::addLink, "adding a link" },
        { JournalChange::Kind::setCover, "setting a cover" },
        { JournalChange::Kind::deleteLink, "deleting a link" },
    };
    QString text = QStringLiteral("a change");
    for (const auto& [kind, words] : what) {
        if (kind == change.kind)
            text = QLatin1String(words);
    }
    if (!change.from.isEmpty())
        text += QStringLiteral(" \u201C%1\u201D").arg(change.from);
    if (change.file)
        text += QLatin1Char(' ') + change.file->path();
    return text;
}

} // namespace

void TDLibrary::finishInterruptedChanges()
{
    // Struck off together: after a crash in a large drop, thousands are listed.
    std::vector<TDLibraryJournal::Entry> finished;
    std::optional<std::unordered_set<QString>> mediaFolders;
    constexpr int printedLeftAsTheyAre = 5;
    int leftAsTheyAre = 0;
    auto leftOver = TDLibraryJournal::takeLeftOver(libraryFolderOf(m_stores));
    // Files a change made go last, once a rename finished meanwhile has put their project's folder
    // where its record says.
    std::stable_partition(leftOver.begin(), leftOver.end(), [](const auto& listed) {
        const auto kind = listed.second.kind;
        return kind != JournalChange::Kind::importMedia && kind != JournalChange::Kind::addLink
            && kind != JournalChange::Kind::deleteLink && kind != JournalChange::Kind::setCover;
    });
    for (const auto& listed : leftOver) {
        const TDLibraryJournal::Entry entry = listed.first;
        const JournalChange& change = listed.second;
        if (change.stale && removesWhatItNames(change.kind)) {
            // The library changed after this was listed (a project used, a library file replaced):
            // what it would remove may be the user's again, or named by a record this start cannot
            // see. It is left as it is; a drop's thousands are told in one line.
            if (++leftAsTheyAre <= printedLeftAsTheyAre)
                platform::printError(
                    QStringLiteral("A change left unfinished (%1) was not finished, as the "
                                   "library changed meanwhile; its files are left as they are.")
                        .arg(describe(change)));
            finished.push_back(entry);
            continue;
        }
        switch (change.kind) {
        case JournalChange::Kind::createProject:
            removeUnlistedEmptyFolder(m_stores, change);
            break;
        case JournalChange::Kind::createNote:
            if (listUnlistedNote(m_stores, entry, change))
                continue;
            break;
        case JournalChange::Kind::renameProject:
            if (finishProjectRename(m_stores, entry, change))
                continue;
            break;
        case JournalChange::Kind::renameNote:
            if (finishNoteRename(m_stores, entry, change))
                continue;
            break;
        case JournalChange::Kind::deleteProject:
            // A deletion lists itself again before its first step.
            if (auto project = listedProject(m_stores, change.project, change.from)) {
                deleteProject(project);
            } else if (auto removed = removeProjectFolder(change.from, *m_stores.projectStore); !removed) {
                // Listed still, for a later start to try again.
                printFailure(removed.error().description);
                continue;
            }
            break;
        case JournalChange::Kind::deleteMedia: {
            const auto media = m_stores.mediaStore->tdMedia();
            if (std::any_of(media.begin(), media.end(),
                    [&](const auto& item) { return item->id() == *change.item; })) {
                removeMedia(*change.item);
                break;
            }
            std::vector<Url> folders;
            if (change.file)
                folders.push_back(change.file->deletingLastPathComponent());
            if (auto failed = removeMediaFolders(m_stores, folders, { change.project }, *change.item)) {
                printFailure(failed->description);
                continue;
            }
            break;
        }
        case JournalChange::Kind::removeCover: {
            const auto project = listedProject(m_stores, change.project, {});
            if (project && project->coverImageURL() == change.file && !itemExists(*change.file)) {
                project->setCoverImageURL(std::nullopt);
                saveThenEnd(m_stores, { LibraryFile::projects }, entry);
                continue;
            }
            break;
        }
        case JournalChange::Kind::importMedia:
        case JournalChange::Kind::addLink:
        case JournalChange::Kind::deleteLink:
        case JournalChange::Kind::setCover: {
            std::optional<PlatformError> failed;
            if (change.kind == JournalChange::Kind::importMedia) {
                if (!mediaFolders) {
                    mediaFolders.emplace();
                    for (const auto& item : m_stores.mediaStore->tdMedia())
                        mediaFolders->insert({ item->url().deletingLastPathComponent().path(),
                            item->thumbnailURL().deletingLastPathComponent().path() });
                }
                failed = removeUnrecordedImport(m_stores, change, *mediaFolders);
            } else if (change.kind == JournalChange::Kind::setCover) {
                failed = removeUnnamedCoverFile(m_stores, change.project, *change.file);
            } else {
                failed = removeUnrecordedLinkFile(m_stores, change);
            }
            if (failed) {
                // Listed still, for a later start to try again.
                printFailure(failed->description);
                continue;
            }
            break;
        }
        case JournalChange::Kind::deleteNote: {
            const auto project = listedProject(m_stores, change.project, {});
            if (auto note = listedNote(project, *change.item))
                deleteNote(project, note);
            else if (!removeLeftNoteFolder(m_stores, change))
                continue;
            break;
        }
        }
        finished.push_back(entry);
    }
    if (leftAsTheyAre > printedLeftAsTheyAre)
        platform::printError(QStringLiteral("%1 more changes left unfinished were not finished either.")
                                 .arg(leftAsTheyAre - printedLeftAsTheyAre));
    TDLibraryJournal::end(finished);
}
