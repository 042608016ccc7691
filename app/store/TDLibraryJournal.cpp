#include "app/store/TDLibraryJournal.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <map>
#include <unordered_set>

using platform::PlatformError;
using platform::Result;
using platform::Url;
using Change = TDLibraryJournal::Change;
using Kind = TDLibraryJournal::Change::Kind;

namespace {

// A list this long is no list of ours; reading it whole would only cost memory. A drop of a hundred
// thousand images lists each of them, in about 25 MiB.
constexpr std::int64_t largestFileBytes = std::int64_t(64) << 20;

constexpr std::pair<Kind, const char*> kindNames[] = {
    { Kind::createProject, "createProject" },
    { Kind::renameProject, "renameProject" },
    { Kind::deleteProject, "deleteProject" },
    { Kind::createNote, "createNote" },
    { Kind::renameNote, "renameNote" },
    { Kind::deleteNote, "deleteNote" },
    { Kind::deleteMedia, "deleteMedia" },
    { Kind::removeCover, "removeCover" },
    { Kind::importMedia, "importMedia" },
    { Kind::addLink, "addLink" },
    { Kind::setCover, "setCover" },
    { Kind::deleteLink, "deleteLink" },
};

struct Listed {
    TDLibraryJournal::Entry entry;
    Change change;
    // Left by an earlier run and not handed on yet.
    bool carried = false;
};

// The changes under way, by library folder path.
std::map<QString, std::vector<Listed>>& lists()
{
    static auto* map = new std::map<QString, std::vector<Listed>>;
    return *map;
}

TDLibraryJournal::Entry s_lastEntry = 0;

bool same(const Change& a, const Change& b)
{
    return a.kind == b.kind && a.project == b.project && a.item == b.item && a.from == b.from && a.to == b.to
        && a.date == b.date && a.file == b.file;
}

void write(const QString& folderPath, const std::vector<Listed>& listed)
{
    // A library folder that is away (its disk unplugged) is not made anew for the list; the change
    // itself is refused there.
    if (!platform::FileManager::directoryExists(Url::fileUrl(folderPath)))
        return;
    const Url file = TDLibraryJournal::location(Url::fileUrl(folderPath));
    Result<platform::Success, PlatformError> written = Result<platform::Success, PlatformError>::success({});
    if (listed.empty()) {
        if (platform::FileManager::fileExists(file))
            written = platform::FileManager::removeItem(file);
    } else {
        std::vector<Change> changes;
        for (const auto& each : listed)
            changes.push_back(each.change);
        written = platform::FileManager::writeAtomically(file, TDLibraryJournal::encode(changes));
    }
    if (!written)
        platform::printError(
            QStringLiteral("Could not save %1: %2").arg(file.path(), written.error().description));
}

std::optional<platform::Uuid> uuidIn(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? platform::Uuid::fromString(value.toString()) : std::nullopt;
}

// Whether `change` has every field its kind needs.
bool isWhole(const Change& change)
{
    switch (change.kind) {
    case Kind::createProject:
    case Kind::deleteProject:
        return !change.from.isEmpty();
    case Kind::renameProject:
        return !change.from.isEmpty() && !change.to.isEmpty();
    case Kind::createNote:
        return !change.from.isEmpty() && change.item && change.date && change.file;
    case Kind::renameNote:
        return !change.from.isEmpty() && !change.to.isEmpty() && change.item && change.date;
    case Kind::deleteNote:
        return !change.from.isEmpty() && change.item;
    case Kind::deleteMedia:
        return change.item.has_value();
    case Kind::removeCover:
    case Kind::setCover:
        return change.file.has_value();
    case Kind::importMedia:
    case Kind::addLink:
    case Kind::deleteLink:
        return change.item && change.file;
    }
    return false;
}

} // namespace

QString TDLibraryJournal::fileName()
{
    return QStringLiteral(".unfinished-changes");
}

Url TDLibraryJournal::location(const Url& libraryFolder)
{
    return libraryFolder.appendingPathComponent(fileName());
}

TDLibraryJournal::Entry TDLibraryJournal::begin(const Url& libraryFolder, Change change)
{
    std::vector<Change> one;
    one.push_back(std::move(change));
    return begin(libraryFolder, std::move(one)).front();
}

std::vector<TDLibraryJournal::Entry> TDLibraryJournal::begin(
    const Url& libraryFolder, std::vector<Change> changes)
{
    assert(platform::DispatchQueue::isMainThread());
    auto& listed = lists()[libraryFolder.path()];
    std::vector<Entry> entries;
    for (auto& change : changes) {
        entries.push_back(++s_lastEntry);
        listed.push_back({ entries.back(), std::move(change) });
    }
    if (!entries.empty())
        write(libraryFolder.path(), listed);
    return entries;
}

void TDLibraryJournal::end(Entry entry)
{
    end(std::vector<Entry> { entry });
}

void TDLibraryJournal::end(const std::vector<Entry>& entries)
{
    assert(platform::DispatchQueue::isMainThread());
    if (entries.empty())
        return;
    const std::unordered_set<Entry> ended(entries.begin(), entries.end());
    for (auto& [folder, listed] : lists()) {
        const auto removed
            = std::erase_if(listed, [&](const Listed& each) { return ended.contains(each.entry); });
        if (removed > 0)
            write(folder, listed);
    }
}

void TDLibraryJournal::carryLeftOver(const Url& libraryFolder)
{
    assert(platform::DispatchQueue::isMainThread());
    const Url file = location(libraryFolder);
    if (!platform::FileManager::fileExists(file))
        return;
    auto bytes = platform::FileManager::readRegularFile(file, largestFileBytes);
    auto decoded
        = bytes ? decode(bytes.value()) : Result<std::vector<Change>, PlatformError>::failure(bytes.error());
    if (!decoded) {
        platform::printError(QStringLiteral("The list of unfinished changes %1 could not be read: %2")
                                 .arg(file.path(), decoded.error().description));
        return;
    }
    auto& listed = lists()[libraryFolder.path()];
    // Only what this run listed before can be listed again; the file's own changes are compared with
    // those alone, as a list after a large drop holds thousands.
    const std::size_t before = listed.size();
    for (auto& change : decoded.value()) {
        const bool known = std::any_of(listed.begin(), listed.begin() + std::ptrdiff_t(before),
            [&](const Listed& each) { return same(each.change, change); });
        if (!known)
            listed.push_back({ ++s_lastEntry, std::move(change), true });
    }
}

std::vector<std::pair<TDLibraryJournal::Entry, Change>> TDLibraryJournal::takeLeftOver(
    const Url& libraryFolder)
{
    assert(platform::DispatchQueue::isMainThread());
    std::vector<std::pair<Entry, Change>> taken;
    for (auto& each : lists()[libraryFolder.path()]) {
        if (!each.carried)
            continue;
        each.carried = false;
        taken.emplace_back(each.entry, each.change);
    }
    return taken;
}

Result<std::vector<Change>, PlatformError> TDLibraryJournal::decode(const QByteArray& bytes)
{
    using Outcome = Result<std::vector<Change>, PlatformError>;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return Outcome::failure(PlatformError::fromErrno(EINVAL, error.errorString()));
    if (!document.isObject() || !document.object().value(QLatin1String("changes")).isArray())
        return Outcome::failure(
            PlatformError::fromErrno(EINVAL, QStringLiteral("it holds no list of changes")));
    std::vector<Change> changes;
    for (const QJsonValue& value : document.object().value(QLatin1String("changes")).toArray()) {
        const QJsonObject object = value.toObject();
        const QString kindName = object.value(QLatin1String("change")).toString();
        const auto kind = std::find_if(std::begin(kindNames), std::end(kindNames),
            [&](const auto& each) { return kindName == QLatin1String(each.second); });
        const auto project = uuidIn(object, "project");
        if (kind == std::end(kindNames) || !project)
            continue;
        Change change;
        change.kind = kind->first;
        change.project = *project;
        change.from = object.value(QLatin1String("from")).toString();
        change.item = uuidIn(object, "item");
        change.to = object.value(QLatin1String("to")).toString();
        if (object.value(QLatin1String("date")).isDouble())
            change.date = platform::Date(object.value(QLatin1String("date")).toDouble());
        if (const Url file = Url::fileUrl(object.value(QLatin1String("file")).toString()); file.isValid())
            change.file = file;
        if (!isWhole(change))
            continue;
        changes.push_back(std::move(change));
    }
    return Outcome::success(std::move(changes));
}

QByteArray TDLibraryJournal::encode(const std::vector<Change>& changes)
{
    QJsonArray list;
    for (const auto& change : changes) {
        QJsonObject object;
        for (const auto& [kind, name] : kindNames) {
            if (kind == change.kind)
                object.insert(QLatin1String("change"), QLatin1String(name));
        }
        object.insert(QLatin1String("project"), change.project.uuidString());
        if (!change.from.isEmpty())
            object.insert(QLatin1String("from"), change.from);
        if (change.item)
            object.insert(QLatin1String("item"), change.item->uuidString());
        if (!change.to.isEmpty())
            object.insert(QLatin1String("to"), change.to);
        if (change.date)
            object.insert(QLatin1String("date"), change.date->timeIntervalSinceReferenceDate());
        if (change.file)
            object.insert(QLatin1String("file"), change.file->path());
        list.append(object);
    }
    return QJsonDocument(QJsonObject { { QLatin1String("changes"), list } }).toJson(QJsonDocument::Compact);
}
