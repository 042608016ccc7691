#include "app/notes/TDWeblocFile.h"

#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <vector>

using platform::FileManager;
using platform::PlatformError;
using platform::Result;
using platform::Success;
using platform::Url;

namespace {

constexpr QByteArrayView head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                "<plist version=\"1.0\">\n"
                                "<dict>\n"
                                "    <key>URL</key>\n"
                                "    <string>";
constexpr QByteArrayView tail = "</string>\n"
                                "</dict>\n"
                                "</plist>";

bool isXmlCharacter(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

QByteArray escapedForXml(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + 16);
    for (char32_t c : text.toUcs4()) {
        switch (c) {
        case U'&':
            out += "&amp;";
            continue;
        case U'<':
            out += "&lt;";
            continue;
        case U'>':
            out += "&gt;";
            continue;
        case U'"':
            out += "&quot;";
            continue;
        case U'\'':
            out += "&apos;";
            continue;
        default:
            break;
        }
        const QByteArray utf8 = QString::fromUcs4(&c, 1).toUtf8();
        if (isXmlCharacter(c) && c != 0xD) {
            out += utf8;
            continue;
        }
        // No XML document may hold these, not even as references: keep them as URL escapes.
        for (char byte : utf8)
            out += '%'
                + QByteArray::number(static_cast<unsigned char>(byte), 16).rightJustified(2, '0').toUpper();
    }
    return out;
}

PlatformError refusal(int error, const QString& text)
{
    return PlatformError::fromErrno(error, text);
}

bool isSymbolicLink(const Url& url, bool* exists)
{
    struct stat info;
    *exists = ::lstat(url.path().toUtf8().constData(), &info) == 0;
    return *exists && S_ISLNK(info.st_mode);
}

// The name of a link's file; with direction controls kept, the name earlier versions gave it.
QString fileName(const TDLink& link, bool withoutDirectionControls)
{
    // Embeddings, overrides and isolates reorder what follows them, so a page could make its file
    // show another name or extension in a file manager.
    QString title = TDDirectoryPath::safeName(link.title.value_or(QString()),
        withoutDirectionControls ? TDDirectoryPath::DirectionControls::replace
                                 : TDDirectoryPath::DirectionControls::keep);
    // A page must not be able to hide its link's file.
    while (title.startsWith(QLatin1Char('.')))
        title.remove(0, 1);
    if (title.isEmpty())
        title = QStringLiteral("Untitled");
    return title + QLatin1Char(' ') + link.id.lowercaseString().left(TDWeblocFile::idDigitsInName);
}

Result<Success, PlatformError> writeFile(const Url& file, const QByteArray& contents)
{
    bool exists = false;
    if (isSymbolicLink(file, &exists))
        return Result<Success, PlatformError>::failure(
            refusal(EPERM, file.path() + QStringLiteral(" is a symbolic link")));
    return FileManager::writeAtomically(file, contents);
}

// Every name the link's file may have: its own, the one a disk refusing some of its characters
// gave it, and the one earlier versions gave it.
std::vector<Url> candidateLocations(const QString& projectName, const QString& noteTitle, const TDLink& link)
{
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(projectName);
    std::vector<QString> names { fileName(link, true) };
    for (const QString& more : { TDDirectoryPath::nameForAnyDisk(names.front()), fileName(link, false) }) {
        if (std::find(names.begin(), names.end(), more) == names.end())
            names.push_back(more);
    }
    std::vector<Url> files;
    for (const QString& each : names)
        files.push_back(TDDirectoryPath::weblocFileURL(projectFolder, noteTitle, each));
    return files;
}

} // namespace

QByteArray TDWeblocFile::contents(const QString& address)
{
    return head.toByteArray() + escapedForXml(address) + tail.toByteArray();
}

QString TDWeblocFile::name(const TDLink& link)
{
    return fileName(link, true);
}

Url TDWeblocFile::location(const QString& projectName, const QString& noteTitle, const TDLink& link)
{
    return TDDirectoryPath::weblocFileURL(
        TDDirectoryPath::projectDirectoryURL(projectName), noteTitle, name(link));
}

std::vector<Url> TDWeblocFile::places(
    const QString& projectName, const QString& noteTitle, const TDLink& link)
{
    std::vector<Url> places = candidateLocations(projectName, noteTitle, link);
    std::erase_if(places, [](const Url& each) { return !each.isValid(); });
    return places;
}

Result<Url, PlatformError> TDWeblocFile::write(
    const QString& projectName, const QString& noteTitle, const TDLink& link)
{
    using Outcome = Result<Url, PlatformError>;
    const std::optional<Url> address = Url::fromString(link.url);
    if (!address)
        return Outcome::failure(refusal(EINVAL, QStringLiteral("Invalid URL")));
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(projectName);
    const Url folder = TDDirectoryPath::noteLinksDirectoryURL(projectFolder, noteTitle);
    const Url file = location(projectName, noteTitle, link);
    if (!file.isValid())
        return Outcome::failure(refusal(EINVAL, QStringLiteral("no file name for the link")));
    // A project that is gone (deleted while the page loaded) does not get its folders back.
    if (!FileManager::directoryExists(projectFolder))
        return Outcome::failure(refusal(ENOENT, projectFolder.path()));
    // Checked before creating anything and again after, so that no folder is made, and nothing is
    // written, through a symbolic link that leads out of the library.
    if (!TDDirectoryPath::isInsideLibraryFolder(folder))
        return Outcome::failure(
            refusal(EPERM, folder.path() + QStringLiteral(" is outside the library folder")));
    if (auto created = FileManager::createDirectory(folder, platform::IntermediateDirectories::create);
        !created)
        return Outcome::failure(created.error());
    if (!TDDirectoryPath::isInsideLibraryFolder(folder))
        return Outcome::failure(
            refusal(EPERM, folder.path() + QStringLiteral(" is outside the library folder")));
    const QByteArray bytes = contents(address->absoluteString());
    auto written = writeFile(file, bytes);
    if (written)
        return Outcome::success(file);
    // A memory card refuses names with : ? " and the like, which page titles often hold; there
    // the file still gets written, under the name with those characters replaced.
    const Url onFat = TDDirectoryPath::weblocFileURL(
        projectFolder, noteTitle, TDDirectoryPath::nameForAnyDisk(name(link)));
    if (!TDDirectoryPath::isNameRefusal(written.error()) || !onFat.isValid() || onFat == file)
        return Outcome::failure(written.error());
    if (auto again = writeFile(onFat, bytes); !again)
        return Outcome::failure(again.error());
    return Outcome::success(onFat);
}

Result<Success, PlatformError> TDWeblocFile::remove(
    const QString& projectName, const QString& noteTitle, const TDLink& link)
{
    using Outcome = Result<Success, PlatformError>;
    const Url file = location(projectName, noteTitle, link);
    if (!file.isValid())
        return Outcome::failure(refusal(EINVAL, QStringLiteral("no file name for the link")));
    for (const Url& each : candidateLocations(projectName, noteTitle, link)) {
        if (!each.isValid())
            continue;
        bool exists = false;
        isSymbolicLink(each, &exists);
        if (!exists)
            continue;
        if (auto removed = TDDirectoryPath::removeItemInsideLibrary(each); !removed)
            return removed;
    }
    return Outcome::success({});
}
