#include "app/store/TDProjectRename.h"

#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QDir>

#include <cerrno>

using platform::PlatformError;
using platform::Result;
using platform::Success;
using platform::Url;

namespace {

// `url` moved from inside `from` to the same place inside `to`; none when it is not inside `from`.
std::optional<Url> rebased(const Url& url, const Url& from, const Url& to)
{
    if (!from.isValid() || !url.isFileUrl() || !url.isStrictlyInside(from))
        return std::nullopt;
    QString rest = url.path().mid(from.path().size());
    Url moved = Url::fileUrl(to.path() + rest);
    if (!moved.isValid() || !moved.isStrictlyInside(to))
        return std::nullopt;
    return moved;
}

// Each entry of `project` that is `from` itself or lies inside it, moved into `to`.
bool pointEntriesInto(TDProject& project, const Url& from, const Url& to)
{
    if (!from.isValid() || !to.isValid())
        return false;
    const QString folder = QDir::cleanPath(from.path());
    auto entries = project.quickAccessURL();
    bool pointed = false;
    for (Url& entry : entries) {
        std::optional<Url> moved = rebased(entry, from, to);
        if (!moved && entry.isFileUrl() && QDir::cleanPath(entry.path()) == folder)
            moved = to;
        if (moved) {
            entry = *moved;
            pointed = true;
        }
    }
    if (pointed)
        project.setQuickAccessURL(std::move(entries));
    return pointed;
}

// `url` rebuilt as `rebuilt` where that names a place; otherwise (a title no folder can have, an
// address with no file name) `url` as it was. A record never gets an empty address: the library file
// holding one would not load.
Url rebuiltOr(const Url& rebuilt, const Url& url)
{
    return rebuilt.isValid() ? rebuilt : url;
}

} // namespace

Result<Success, PlatformError> renameTDProject(
    TDProject& project, const QString& newName, const std::vector<std::shared_ptr<TDMedia>>& media)
{
    if (auto problem = TDDirectoryPath::nameProblem(newName))
        return Result<Success, PlatformError>::failure(PlatformError::fromErrno(EINVAL, problem->message));
    const Url oldFolder = TDDirectoryPath::projectDirectoryURL(project.name());
    const Url newFolder = TDDirectoryPath::projectDirectoryURL(newName);
    if (!newFolder.isValid())
        return Result<Success, PlatformError>::failure(*TDDirectoryPath::libraryFolderMissing());

    if (oldFolder.isValid() && platform::FileManager::fileExists(oldFolder)) {
        if (platform::FileManager::fileExists(newFolder)
            && !platform::FileManager::isSameItem(oldFolder, newFolder))
            // The path alone: the alert puts the failure in words around it.
            return Result<Success, PlatformError>::failure(
                PlatformError::fromErrno(EEXIST, newFolder.path()));
        auto moved = platform::FileManager::moveItem(oldFolder, newFolder);
        if (!moved)
            return Result<Success, PlatformError>::failure(
                TDDirectoryPath::explainedNameRefusal(moved.error(), newName));
    } else if (auto missing = TDDirectoryPath::libraryFolderMissing()) {
        // The whole library is away (its disk unplugged): renamed records would no longer find the
        // folder, still under its old name, once it is back.
        return Result<Success, PlatformError>::failure(*missing);
    } else {
        QString oldPath = oldFolder.isValid()
            ? oldFolder.path()
            : TDDirectoryPath::libraryFolderURL().path() + QLatin1Char('/') + project.name();
        platform::print(QStringLiteral("File does not exist at path: ") + oldPath);
    }

    pointTDProjectAt(project, newName, media);
    return Result<Success, PlatformError>::success(Success {});
}

void pointTDProjectAt(
    TDProject& project, const QString& newName, const std::vector<std::shared_ptr<TDMedia>>& media)
{
    const Url oldFolder = TDDirectoryPath::projectDirectoryURL(project.name());
    const Url newFolder = TDDirectoryPath::projectDirectoryURL(newName);
    project.setName(newName);
    for (const auto& note : project.tdNote()) {
        if (auto moved = rebased(note->contentURL(), oldFolder, newFolder))
            note->setContentURL(*moved);
        else
            note->setContentURL(
                rebuiltOr(TDDirectoryPath::noteTextFileURL(newFolder, note->title()), note->contentURL()));
    }
    for (const auto& item : media) {
        if (item->tdProjectId() != project.id())
            continue;
        if (auto moved = rebased(item->url(), oldFolder, newFolder))
            item->setUrl(*moved);
        else
            item->setUrl(rebuiltOr(
                TDDirectoryPath::mediaFileURL(newFolder, item->id(), item->url().lastPathComponent()),
                item->url()));
        if (auto moved = rebased(item->thumbnailURL(), oldFolder, newFolder))
            item->setThumbnailURL(*moved);
        else
            item->setThumbnailURL(
                rebuiltOr(TDDirectoryPath::mediaThumbnailURL(newFolder, item->id()), item->thumbnailURL()));
    }
    pointEntriesInto(project, oldFolder, newFolder);
    if (auto cover = project.coverImageURL()) {
        if (auto moved = rebased(*cover, oldFolder, newFolder)) {
            project.setCoverImageURL(*moved);
        } else {
            const QString file = cover->lastPathComponent();
            project.setCoverImageURL(rebuiltOr(
                platform::isSinglePathComponent(file) ? newFolder.appendingPathComponent(file) : Url(),
                *cover));
        }
    }
}

bool pointQuickAccessInto(
    const std::vector<std::shared_ptr<TDProject>>& projects, const Url& from, const Url& to)
{
    bool pointed = false;
    for (const auto& project : projects)
        pointed = pointEntriesInto(*project, from, to) || pointed;
    return pointed;
}

bool pointTDProjectMediaInto(const platform::Uuid& project, const Url& from, const Url& to,
    const std::vector<std::shared_ptr<TDMedia>>& media)
{
    bool pointed = false;
    for (const auto& item : media) {
        if (item->tdProjectId() != project)
            continue;
        if (auto moved = rebased(item->url(), from, to)) {
            item->setUrl(*moved);
            pointed = true;
        }
        if (auto moved = rebased(item->thumbnailURL(), from, to)) {
            item->setThumbnailURL(*moved);
            pointed = true;
        }
    }
    return pointed;
}
