#include "app/store/TDDirectoryPath.h"

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Trash.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

using platform::Url;

namespace {

// A builder's result is used only when it is a direct child of its base: appending a component
// can then never climb out of the base or into a nested folder.
Url childOf(const Url& base, const QString& component)
{
    Url child = base.appendingPathComponent(component);
    if (!child.isValid() || child.deletingLastPathComponent() != base)
        return Url();
    return child;
}

QString resolvedPath(const QString& path, int hops = 0)
{
    // Resolve the longest existing prefix, then put the missing rest back lexically.
    QString existing = QDir::cleanPath(path);
    QStringList rest;
    while (!existing.isEmpty() && existing != QLatin1String("/") && !QFileInfo::exists(existing)) {
        const QFileInfo entry(existing);
        if (entry.isSymLink() && hops < 40) {
            // A link to nothing yet leads where it points (a save through it makes the file there),
            // not where it stands.
            QString target = entry.symLinkTarget();
            for (const QString& part : rest)
                target += QLatin1Char('/') + part;
            return resolvedPath(target, hops + 1);
        }
        qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        rest.prepend(existing.mid(slash + 1));
        existing = slash <= 0 ? QStringLiteral("/") : existing.left(slash);
    }
    QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = existing;
    for (const QString& part : rest)
        canonical = (canonical.endsWith(QLatin1Char('/')) ? canonical : canonical + QLatin1Char('/')) + part;
    return canonical;
}

} // namespace

Url TDDirectoryPath::documentsDirectoryURL()
{
    return platform::FileManager::documentsDirectory();
}

Url TDDirectoryPath::libraryFolderURL()
{
    return childOf(documentsDirectoryURL(), QStringLiteral("Tindrel.folder"));
}

Url TDDirectoryPath::projectsLibraryURL()
{
    return childOf(libraryFolderURL(), QStringLiteral("projects.library"));
}

Url TDDirectoryPath::mediaLibraryURL()
{
    return childOf(libraryFolderURL(), QStringLiteral("media.library"));
}

Url TDDirectoryPath::linksLibraryURL()
{
    return childOf(libraryFolderURL(), QStringLiteral("links.library"));
}

Url TDDirectoryPath::projectDirectoryURL(const QString& projectName)
{
    return childOf(libraryFolderURL(), projectName);
}

Url TDDirectoryPath::coverImageFileURL(const Url& folder, const QString& stem)
{
    if (!platform::isSinglePathComponent(stem))
        return Url();
    return childOf(folder, stem + QStringLiteral("-cover-image.jpeg"));
}

Url TDDirectoryPath::noteDirectoryURL(const Url& projectFolder, const QString& noteTitle)
{
    return childOf(childOf(projectFolder, QStringLiteral("notes")), noteTitle);
}

Url TDDirectoryPath::noteTextFileURL(const Url& projectFolder, const QString& noteTitle)
{
    if (!platform::isSinglePathComponent(noteTitle))
        return Url();
    return childOf(noteDirectoryURL(projectFolder, noteTitle), noteTitle + QStringLiteral(".txt"));
}

Url TDDirectoryPath::noteLinksDirectoryURL(const Url& projectFolder, const QString& noteTitle)
{
    return childOf(noteDirectoryURL(projectFolder, noteTitle), QStringLiteral("links"));
}

Url TDDirectoryPath::weblocFileURL(
    const Url& projectFolder, const QString& noteTitle, const QString& linkName)
{
    if (!platform::isSinglePathComponent(linkName))
        return Url();
    return childOf(noteLinksDirectoryURL(projectFolder, noteTitle), linkName + QStringLiteral(".webloc"));
}

Url TDDirectoryPath::mediaFileURL(
    const Url& projectFolder, const platform::Uuid& mediaId, const QString& fileName)
{
    Url images = childOf(projectFolder, QStringLiteral("images"));
    return childOf(childOf(images, mediaId.lowercaseString()), fileName);
}

Url TDDirectoryPath::mediaThumbnailURL(const Url& projectFolder, const platform::Uuid& mediaId)
{
    Url images = childOf(projectFolder, QStringLiteral("images"));
    return childOf(childOf(images, mediaId.lowercaseString()), QStringLiteral("thumbnail.jpg"));
}

std::optional<TDNameProblem> TDDirectoryPath::nameProblem(const QString& name)
{
    if (name.trimmed().isEmpty())
        return TDNameProblem { QStringLiteral("A name is blank"),
            QStringLiteral("A name is required. Please enter a name.") };
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0)))
        return TDNameProblem { QStringLiteral("The name cannot be used"),
            QStringLiteral("A name cannot be \".\" or \"..\" and cannot contain \"/\". "
                           "Please enter a different name.") };
    if (name.toUtf8().size() > maximumNameBytes)
        return TDNameProblem { QStringLiteral("The name is too long"),
            QStringLiteral("A name can be at most 255 bytes long. Please enter a shorter name.") };
    return std::nullopt;
}

platform::PlatformError TDDirectoryPath::explainedNameRefusal(
    platform::PlatformError error, const QString& name)
{
    if (!isNameRefusal(error) || nameForAnyDisk(name) == name)
        return error;
    error.description += QStringLiteral(". The disk that holds the library does not accept some of the "
                                        "characters in \"%1\" (such as : * ? \" < > | \\). Please use a "
                                        "different name.")
                             .arg(name);
    return error;
}

bool TDDirectoryPath::isNameRefusal(const platform::PlatformError& error)
{
    return error.domain == platform::PlatformError::posixDomain
        && (error.code == EINVAL || error.code == EPERM);
}

QString TDDirectoryPath::nameForAnyDisk(const QString& name)
{
    static const QString refused = QStringLiteral(":*?\"<>|\\");
    QString out = name;
    for (QChar& c : out) {
        if (refused.contains(c))
            c = QLatin1Char('-');
    }
    while (!out.isEmpty() && (out.back() == QLatin1Char('.') || out.back().isSpace()))
        out.chop(1);
    if (out.isEmpty())
        return QStringLiteral("Untitled");
    return out;
}

bool TDDirectoryPath::isDirectionControl(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F
        || u == 0x061C;
}

QString TDDirectoryPath::safeName(const QString& outsideName, DirectionControls keep)
{
    QString name;
    name.reserve(outsideName.size());
    for (QChar c : outsideName) {
        bool control = c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control
            || (keep == DirectionControls::replace && isDirectionControl(c));
        name.append(c == QLatin1Char('/') || control ? QLatin1Char('-') : c);
    }
    name = name.trimmed();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("Untitled");
    if (name.toUtf8().size() <= maximumOutsideNameBytes)
        return name;
    QString cut;
    int bytes = 0;
    for (qsizetype i = 0; i < name.size();) {
        qsizetype length = name.at(i).isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        int size = static_cast<int>(name.mid(i, length).toUtf8().size());
        if (bytes + size > maximumOutsideNameBytes)
            break;
        cut.append(name.mid(i, length));
        bytes += size;
        i += length;
    }
    cut = cut.trimmed();
    return cut.isEmpty() || cut == QLatin1String(".") || cut == QLatin1String("..")
        ? QStringLiteral("Untitled")
        : cut;
}

std::optional<platform::PlatformError> TDDirectoryPath::libraryFolderMissing()
{
    const Url library = libraryFolderURL();
    if (!library.isValid())
        return platform::PlatformError { platform::PlatformError::posixDomain, ENOENT,
            QStringLiteral("There is no Documents folder to keep the library in: the system names none, "
                           "or names one whose path is not UTF-8 text. Rename the folders on the way to "
                           "your Documents folder, or name another one in the desktop's settings, then "
                           "start Tindrel again."),
            nullptr };
    if (platform::FileManager::directoryExists(library))
        return std::nullopt;
    return platform::PlatformError::fromErrno(ENOENT, library.isValid() ? library.path() : QString());
}

bool TDDirectoryPath::isInsideLibraryFolder(const Url& url)
{
    Url library = libraryFolderURL();
    if (!url.isStrictlyInside(library))
        return false;
    Url resolved = Url::fileUrl(resolvedPath(url.path()));
    Url resolvedLibrary = Url::fileUrl(resolvedPath(library.path()));
    return resolved.isStrictlyInside(resolvedLibrary);
}

std::optional<Url> TDDirectoryPath::relocatedInto(const Url& url, const Url& library)
{
    if (!url.isFileUrl() || !library.isFileUrl() || url.isStrictlyInside(library))
        return std::nullopt;
    const QStringList components = url.pathComponents();
    const qsizetype at = components.indexOf(library.lastPathComponent());
    if (at < 1 || at + 1 >= components.size())
        return std::nullopt;
    Url moved = library;
    for (qsizetype i = at + 1; i < components.size() && moved.isValid(); ++i)
        moved = childOf(moved, components[i]);
    if (!moved.isValid() || !moved.isStrictlyInside(library))
        return std::nullopt;
    return moved;
}

platform::PlatformError TDDirectoryPath::outsideLibraryRefusal(const Url& url)
{
    // Not told as a POSIX failure: the system refused nothing, and its words ("Operation not
    // permitted") would send the user to the folder's permissions.
    return platform::PlatformError { QStringLiteral("library"), EPERM,
        QStringLiteral("%1 is not inside the library folder %2 (a symbolic link on the way leads out of it), "
                       "so Tindrel leaves it as it is. Move that folder back into the library folder, or "
                       "change it in the file manager.")
            .arg(url.isFileUrl() ? url.path() : url.absoluteString(), libraryFolderURL().path()),
        nullptr };
}

bool TDDirectoryPath::isLibraryFile(const Url& url)
{
    if (!url.isFileUrl())
        return false;
    const QFileInfo resolved(resolvedPath(url.path()));
    if (resolved.path() != resolvedPath(libraryFolderURL().path()))
        return false;
    // In any case: a disk that ignores it (FAT, exFAT) takes "Projects.library" for the same file.
    for (const Url& file : { projectsLibraryURL(), mediaLibraryURL(), linksLibraryURL() }) {
        if (resolved.fileName().compare(file.lastPathComponent(), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool TDDirectoryPath::isOpenableLibraryFile(const Url& url)
{
    if (!url.isFileUrl() || !isInsideLibraryFolder(url))
        return false;
    // A FIFO or a device would block or never end; QFileInfo follows a link to its target.
    return QFileInfo(url.path()).isFile();
}

namespace {

// Why `url` may not be removed or moved away: it is not strictly inside the library folder. The
// item itself may be a symbolic link; only its folder must resolve inside the library.
std::optional<platform::PlatformError> outsideLibrary(const Url& url)
{
    const Url library = TDDirectoryPath::libraryFolderURL();
    if (url.isStrictlyInside(library)
        && (url.deletingLastPathComponent() == library
            || TDDirectoryPath::isInsideLibraryFolder(url.deletingLastPathComponent())))
        return std::nullopt;
    return TDDirectoryPath::outsideLibraryRefusal(url);
}

} // namespace

platform::Result<platform::Success, platform::PlatformError> TDDirectoryPath::removeItemInsideLibrary(
    const Url& url)
{
    if (auto refusal = outsideLibrary(url))
        return platform::Result<platform::Success, platform::PlatformError>::failure(*refusal);
    return platform::FileManager::removeItem(url);
}

platform::Result<platform::Success, platform::PlatformError> TDDirectoryPath::trashItemInsideLibrary(
    const Url& url)
{
    if (auto refusal = outsideLibrary(url))
        return platform::Result<platform::Success, platform::PlatformError>::failure(*refusal);
    // A move that fails leaves the item where it was. Only where the disk has no trash is the item
    // deleted for good; a trash that is there but could not take it now (a full disk, an item busy)
    // is a failure, so that a passing fault never turns a deletion into one nothing can undo.
    auto moved = platform::Trash::moveToTrash(url);
    if (moved)
        return platform::Result<platform::Success, platform::PlatformError>::success({});
    const platform::PlatformError& error = moved.error();
    const bool noTrash = error.domain == platform::PlatformError::posixDomain
        && (error.code == EXDEV || error.code == ENOENT);
    if (!noTrash)
        return platform::Result<platform::Success, platform::PlatformError>::failure(error);
    return platform::FileManager::removeItem(url);
}
