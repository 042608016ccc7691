#include "app/store/TDProjectStore.h"

#include "app/TDLocalizedText.h"
#include "app/store/TDFolderIcon.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryJournal.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

using platform::FileManager;
using platform::PlatformError;
using platform::Result;
using platform::Success;

namespace {

// `name` as a disk that ignores letter case, Unicode form and trailing dots and spaces sees it.
QString looseName(const QString& name)
{
    QString loose = name.normalized(QString::NormalizationForm_KC).toCaseFolded();
    while (!loose.isEmpty() && (loose.back() == QLatin1Char('.') || loose.back() == QLatin1Char(' ')))
        loose.chop(1);
    return loose;
}

} // namespace

TDProjectStore::TDProjectStore()
    : TDProjectStore(TDLibraryFile::forLocation(TDDirectoryPath::projectsLibraryURL()))
{
}

TDProjectStore::TDProjectStore(std::shared_ptr<TDLibraryFile> file)
    : m_file(std::move(file))
{
}

TDProjectStore::ProjectList TDProjectStore::tdProjects() const
{
    m_registrar.access("tdProjects");
    return m_tdProjects;
}

void TDProjectStore::setTdProjects(ProjectList projects)
{
    m_registrar.withMutation("tdProjects", [&] { m_tdProjects = std::move(projects); });
}

TDProjectStore::NoteMap TDProjectStore::noteMap() const
{
    m_registrar.access("noteMap");
    return m_noteMap;
}

void TDProjectStore::setNoteMap(NoteMap noteMap)
{
    m_registrar.withMutation("noteMap", [&] { m_noteMap = std::move(noteMap); });
}

std::optional<TDProjectStore::LocatedNote> TDProjectStore::locateNote(const platform::Uuid& noteId) const
{
    // Read as `tdProjects()` and `noteMap()` would, without copying either.
    m_registrar.access("tdProjects");
    m_registrar.access("noteMap");
    auto at = [&](NoteLocation location) -> std::optional<LocatedNote> {
        if (location.projectIndex < 0 || location.projectIndex >= static_cast<int>(m_tdProjects.size()))
            return std::nullopt;
        const auto& project = m_tdProjects[std::size_t(location.projectIndex)];
        auto note = project->tdNoteAt(location.progressIndex);
        if (!note || note->id() != noteId)
            return std::nullopt;
        return LocatedNote { location, project, std::move(note) };
    };
    if (auto entry = m_noteMap.find(noteId); entry != m_noteMap.end()) {
        if (auto found = at(entry->second))
            return found;
    }
    if (auto entry = m_foundAt.find(noteId); entry != m_foundAt.end()) {
        if (auto found = at(entry->second))
            return found;
        m_foundAt.erase(entry);
    }
    for (int p = 0; p < static_cast<int>(m_tdProjects.size()); ++p) {
        const auto notes = m_tdProjects[std::size_t(p)]->tdNote();
        for (int i = 0; i < static_cast<int>(notes.size()); ++i) {
            if (notes[std::size_t(i)]->id() == noteId) {
                m_foundAt[noteId] = NoteLocation { p, i };
                return LocatedNote { { p, i }, m_tdProjects[std::size_t(p)], notes[std::size_t(i)] };
            }
        }
    }
    return std::nullopt;
}

void TDProjectStore::save(const ProjectList& projects, TDSaveCompletion completion)
{
    // Encoding a library of thousands of projects takes a good part of a second: the file's queue
    // does it, from copies taken now.
    auto copies = std::make_shared<ProjectList>();
    copies->reserve(projects.size());
    for (const auto& project : projects)
        copies->push_back(project->detachedCopy());
    m_file->write(TDLibraryFile::Encoder([copies] { return tdlibrary::encodeProjects(*copies); }),
        std::move(completion));
}

void TDProjectStore::prepareLibraryFolder()
{
    platform::Url folder = TDDirectoryPath::libraryFolderURL();
    if (!folder.isValid()) {
        platform::print(TDDirectoryPath::libraryFolderMissing()->description);
        return;
    }
    if (FileManager::fileExists(folder)) {
        if (!FileManager::directoryExists(folder))
            platform::printError(QStringLiteral("%1 is in the way of the library folder: it is not a folder.")
                                     .arg(folder.path()));
        return;
    }
    auto created = FileManager::createDirectory(folder, platform::IntermediateDirectories::create);
    if (!created) {
        platform::print(created.error().description);
        return;
    }
    applyFolderIcon(folder);
}

Result<Success, PlatformError> TDProjectStore::createProjectDirectory(const QString& name)
{
    platform::Url folder = TDDirectoryPath::projectDirectoryURL(name);
    // Told as such: the name is not what is wrong.
    if (!TDDirectoryPath::libraryFolderURL().isValid())
        return Result<Success, PlatformError>::failure(*TDDirectoryPath::libraryFolderMissing());
    if (TDDirectoryPath::nameProblem(name) || !folder.isValid())
        return Result<Success, PlatformError>::failure(PlatformError::fromErrno(
            EINVAL, QStringLiteral("\"%1\" cannot name a project folder").arg(name)));
    auto made = FileManager::createDirectory(folder, platform::IntermediateDirectories::doNotCreate);
    if (!made)
        return Result<Success, PlatformError>::failure(
            TDDirectoryPath::explainedNameRefusal(made.error(), name));
    return made;
}

bool TDProjectStore::isLibraryFileName(const QString& name)
{
    for (const char* file : { "projects.library", "media.library", "links.library" }) {
        if (name.compare(QLatin1String(file), Qt::CaseInsensitive) == 0)
            return true;
    }
    return name.compare(TDLibraryJournal::fileName(), Qt::CaseInsensitive) == 0;
}

std::optional<TDNameProblem> TDProjectStore::newProjectNameProblem(
    const QString& name, const std::optional<QString>& renamedFrom)
{
    if (auto problem = TDDirectoryPath::nameProblem(name))
        return problem;
    // The library's own files sit beside the project folders; a project folder of such a name
    // would stand where a library file must be written (on any file system, whatever the case).
    if (isLibraryFileName(name))
        return TDNameProblem { QStringLiteral("The name cannot be used"),
            QStringLiteral(
                "The library keeps its own files under this name. Please enter a different name.") };
    const platform::Url folder = TDDirectoryPath::projectDirectoryURL(name);
    if (FileManager::fileExists(folder)
        && !(renamedFrom
            && FileManager::isSameItem(TDDirectoryPath::projectDirectoryURL(*renamedFrom), folder)))
        return TDNameProblem { QStringLiteral("The project folder already exists."),
            QStringLiteral("The library folder already holds a folder with the name you entered. "
                           "Please enter a different name.") };
    return std::nullopt;
}

std::optional<TDNameProblem> TDProjectStore::missingFolderNameProblem(
    const QString& name, const ProjectList& others)
{
    const QString loose = looseName(name);
    for (const auto& other : others) {
        const QString otherName = other->name();
        if (looseName(otherName) != loose)
            continue;
        const platform::Url folder = TDDirectoryPath::projectDirectoryURL(otherName);
        if (folder.isValid() && FileManager::fileExists(folder))
            continue;
        return TDNameProblem { tdLocalized("The project already exist."),
            tdLocalized(
                "A project with the name you entered already exists. Please enter a different name.") };
    }
    return std::nullopt;
}
