#include "app/store/TDLibraryJournal.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
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
    // Where the change's kind name begins in the file, when this run wrote it there.
    std::optional<std::int64_t> nameOffset;
    // Its line's length in the file.
    std::int64_t lineBytes = 0;
};

// One library folder's list, and its file as this run last wrote it.
struct Journal {
    std::vector<Listed> listed;
    // The file's version after this run's last write: an append or a strike-off goes to that file
    // only, else the list is written whole. None before this run's first write and after a failure.
    std::optional<platform::FileVersion> written;
    // The length of the lines struck off in the file.
    std::int64_t struckBytes = 0;
    // The file found at the start could not be read whole: it is kept aside before the first write.
    bool damaged = false;
};

// The changes under way, by library folder path.
std::map<QString, Journal>& journals()
{
    static auto* map = new std::map<QString, Journal>;
    return *map;
}

TDLibraryJournal::Entry s_lastEntry = 0;

const QByteArray opening = QByteArrayLiteral("{\"changes\":[\n");
const QByteArray closing = QByteArrayLiteral("]}\n");
const QByteArray namePrefix = QByteArrayLiteral("{\"change\":\"");

bool same(const Change& a, const Change& b)
{
    return a.kind == b.kind && a.project == b.project && a.item == b.item && a.from == b.from && a.to == b.to
        && a.date == b.date && a.file == b.file;
}

QByteArray line(const Change& change);

// The lines of `listed` from the first of `first` on, each after a comma unless it opens the list;
// each line's place (relative to the first) is noted in its entry.
QByteArray lines(std::vector<Listed>& listed, std::size_t first, bool opensList)
{
    QByteArray bytes;
    for (std::size_t i = first; i < listed.size(); ++i) {
        if (i > first || !opensList)
            bytes += ',';
        const QByteArray text = line(listed[i].change);
        // The kind's name is overwritten in place when the change is struck off: it must begin the
        // line, as the keys are written in order.
        if (text.startsWith(namePrefix))
            listed[i].nameOffset = bytes.size() + namePrefix.size();
        else
            listed[i].nameOffset.reset();
        bytes += text;
        bytes += '\n';
        listed[i].lineBytes = text.size() + 2;
    }
    return bytes;
}

void shift(std::vector<Listed>& listed, std::size_t first, std::int64_t by)
{
    for (std::size_t i = first; i < listed.size(); ++i) {
        if (listed[i].nameOffset)
            *listed[i].nameOffset += by;
    }
}

void printFailure(const Url& file, const PlatformError& error)
{
    platform::printError(QStringLiteral("Could not save %1: %2").arg(file.path(), error.description));
}

platform::FileVersion versionIn(const struct stat& info)
{
    return { info.st_dev, info.st_ino, info.st_size, info.st_mtim, S_ISREG(info.st_mode) };
}

// Opens the file this run last wrote, if it is still as it was left.
int openAsWritten(const Url& file, const Journal& journal)
{
    if (!journal.written)
        return -1;
    const int fd = ::open(QFile::encodeName(file.path()).constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !(versionIn(info) == *journal.written)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes every piece at its place, flushes the file to disk and notes its new version; false when
// any step failed (the file may then hold some of the pieces: the next write replaces it whole).
bool writeInPlace(int fd, const std::vector<std::pair<std::int64_t, QByteArray>>& pieces, Journal& journal)
{
    bool written = true;
    for (const auto& [offset, bytes] : pieces) {
        std::int64_t done = 0;
        while (written && done < bytes.size()) {
            const ssize_t wrote = ::pwrite(
                fd, bytes.constData() + done, std::size_t(bytes.size() - done), off_t(offset + done));
            if (wrote < 0 && errno == EINTR)
                continue;
            written = wrote > 0;
            done += std::max<ssize_t>(wrote, 0);
        }
    }
    struct stat info;
    written = written && ::fsync(fd) == 0 && ::fstat(fd, &info) == 0;
    if (written)
        journal.written = versionIn(info);
    else
        journal.written.reset();
    ::close(fd);
    return written;
}

// Writes the whole list over the file, or removes the file when the list is empty. A file that
// could not be read at the start is kept aside first, never written over nor removed.
void rewrite(const QString& folderPath, Journal& journal)
{
    const Url file = TDLibraryJournal::location(Url::fileUrl(folderPath));
    journal.written.reset();
    journal.struckBytes = 0;
    for (auto& each : journal.listed)
        each.nameOffset.reset();
    if (journal.damaged) {
        struct stat info;
        if (::lstat(QFile::encodeName(file.path()).constData(), &info) == 0) {
            auto kept = platform::FileManager::keepBeside(file, TDLibraryJournal::fileName(),
                QStringLiteral(".damaged-"), QString(), platform::FileManager::defaultReadLimitBytes,
                platform::FileManager::LinkKept::moved);
            if (!kept)
                return platform::printError(
                    QStringLiteral("The list of unfinished changes %1 could not be kept aside, so it was not "
                                   "written over: %2")
                        .arg(file.path(), kept.error().description));
            platform::printError(QStringLiteral("The list of unfinished changes %1 could not be read; it was "
                                                "kept as %2")
                                     .arg(file.path(), kept.value().path()));
        }
        journal.damaged = false;
    }
    if (journal.listed.empty()) {
        if (platform::FileManager::fileExists(file)) {
            if (auto removed = platform::FileManager::removeItem(file); !removed)
                printFailure(file, removed.error());
        }
        return;
    }
    QByteArray bytes = opening + lines(journal.listed, 0, true) + closing;
    shift(journal.listed, 0, opening.size());
    if (auto written = platform::FileManager::writeAtomically(file, bytes); !written) {
        for (auto& each : journal.listed)
            each.nameOffset.reset();
        return printFailure(file, written.error());
    }
    journal.written = platform::FileManager::versionOf(file);
}

// Writes the entries from `first` on, which `begin` just listed.
void writeAdded(const QString& folderPath, Journal& journal, std::size_t first)
{
    // A library folder that is away (its disk unplugged) is not made anew for the list; the change
    // itself is refused there.
    if (!platform::FileManager::directoryExists(Url::fileUrl(folderPath)))
        return;
    const Url file = TDLibraryJournal::location(Url::fileUrl(folderPath));
    const int fd = journal.damaged ? -1 : openAsWritten(file, journal);
    if (fd < 0)
        return rewrite(folderPath, journal);
    // In place of the closing line, which follows them again.
    const std::int64_t at = std::int64_t(journal.written->size) - closing.size();
    const QByteArray added = lines(journal.listed, first, false);
    shift(journal.listed, first, at);
    if (!writeInPlace(fd, { { at, added + closing } }, journal))
        rewrite(folderPath, journal);
}

// Writes the list once `ended` (lines this run wrote, or not) were taken out of it.
void writeStruck(const QString& folderPath, Journal& journal, const std::vector<Listed>& ended)
{
    if (!platform::FileManager::directoryExists(Url::fileUrl(folderPath)))
        return;
    std::int64_t struck = journal.struckBytes;
    bool inFile = true;
    for (const auto& each : ended) {
        inFile = inFile && each.nameOffset;
        struck += each.lineBytes;
    }
    std::int64_t listedBytes = 0;
    for (const auto& each : journal.listed)
        listedBytes += each.lineBytes;
    const Url file = TDLibraryJournal::location(Url::fileUrl(folderPath));
    // Compacted once struck-off lines outweigh the listed ones, so the file stays within twice
    // what it lists.
    const int fd = journal.listed.empty() || !inFile || struck > listedBytes || journal.damaged
        ? -1
        : openAsWritten(file, journal);
    if (fd < 0)
        return rewrite(folderPath, journal);
    std::vector<std::pair<std::int64_t, QByteArray>> pieces;
    for (const auto& each : ended) {
        const auto name = std::find_if(std::begin(kindNames), std::end(kindNames),
            [&](const auto& kind) { return kind.first == each.change.kind; });
        pieces.emplace_back(*each.nameOffset, QByteArray(qsizetype(std::strlen(name->second)), '-'));
    }
    if (!writeInPlace(fd, pieces, journal))
        return rewrite(folderPath, journal);
    journal.struckBytes = struck;
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
    Journal& journal = journals()[libraryFolder.path()];
    if (changes.empty())
        return {};
    // Carried changes are still listed only while the library has not loaded whole: this change
    // may alter what they would act on.
    bool marked = false;
    for (auto& each : journal.listed) {
        if (each.carried && !each.change.stale) {
            each.change.stale = true;
            marked = true;
        }
    }
    if (marked)
        journal.written.reset();
    const std::size_t first = journal.listed.size();
    std::vector<Entry> entries;
    for (auto& change : changes) {
        entries.push_back(++s_lastEntry);
        journal.listed.push_back({ entries.back(), std::move(change) });
    }
    writeAdded(libraryFolder.path(), journal, first);
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
    for (auto& [folder, journal] : journals()) {
        std::vector<Listed> removed;
        std::erase_if(journal.listed, [&](Listed& each) {
            if (!ended.contains(each.entry))
                return false;
            removed.push_back(std::move(each));
            return true;
        });
        if (!removed.empty())
            writeStruck(folder, journal, removed);
    }
}

void TDLibraryJournal::carryLeftOver(const Url& libraryFolder)
{
    assert(platform::DispatchQueue::isMainThread());
    const Url file = location(libraryFolder);
    struct stat info;
    if (::lstat(QFile::encodeName(file.path()).constData(), &info) != 0)
        return;
    Journal& journal = journals()[libraryFolder.path()];
    auto bytes = platform::FileManager::readRegularFile(file, largestFileBytes);
    auto found = bytes ? read(bytes.value()) : Result<Read, PlatformError>::failure(bytes.error());
    journal.damaged = !found || !found.value().whole;
    if (journal.damaged) {
        platform::printError(
            QStringLiteral(
                "The list of unfinished changes %1 could not be read whole; it will be kept aside: %2")
                .arg(file.path(), found ? QStringLiteral("it was cut short") : found.error().description));
        if (!found)
            return;
    }
    // Only what this run listed before can be listed again; the file's own changes are compared with
    // those alone, as a list after a large drop holds thousands.
    const std::size_t before = journal.listed.size();
    for (auto& change : found.value().changes) {
        const bool known
            = std::any_of(journal.listed.begin(), journal.listed.begin() + std::ptrdiff_t(before),
                [&](const Listed& each) { return same(each.change, change); });
        if (!known)
            journal.listed.push_back({ ++s_lastEntry, std::move(change), true });
    }
    // The file holds what this run did not write: the next write replaces it whole.
    journal.written.reset();
}

std::vector<std::pair<TDLibraryJournal::Entry, Change>> TDLibraryJournal::takeLeftOver(
    const Url& libraryFolder)
{
    assert(platform::DispatchQueue::isMainThread());
    std::vector<std::pair<Entry, Change>> taken;
    for (auto& each : journals()[libraryFolder.path()].listed) {
        if (!each.carried)
            continue;
        each.carried = false;
        taken.emplace_back(each.entry, each.change);
    }
    return taken;
}

namespace {

// The change `value` describes, if it is one this version can use.
std::optional<Change> changeIn(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const QString kindName = object.value(QLatin1String("change")).toString();
    const auto kind = std::find_if(std::begin(kindNames), std::end(kindNames),
        [&](const auto& each) { return kindName == QLatin1String(each.second); });
    const auto project = uuidIn(object, "project");
    if (kind == std::end(kindNames) || !project)
        return std::nullopt;
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
    change.stale = object.value(QLatin1String("stale")).toBool();
    if (!isWhole(change))
        return std::nullopt;
    return change;
}

QByteArray line(const Change& change)
{
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
    if (change.stale)
        object.insert(QLatin1String("stale"), true);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

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
        if (auto change = changeIn(value))
            changes.push_back(std::move(*change));
    }
    return Outcome::success(std::move(changes));
}

Result<TDLibraryJournal::Read, PlatformError> TDLibraryJournal::read(const QByteArray& bytes)
{
    using Outcome = Result<Read, PlatformError>;
    auto decoded = decode(bytes);
    if (decoded)
        return Outcome::success({ std::move(decoded).value(), true });
    if (!bytes.startsWith(opening))
        return Outcome::failure(decoded.error());
    // A crash while a line was added in place of the closing one leaves the lines before it whole.
    Read found { {}, false };
    for (qsizetype at = opening.size(); at < bytes.size();) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            break;
        QByteArrayView text = QByteArrayView(bytes).sliced(at, end - at);
        if (text.startsWith(','))
            text = text.sliced(1);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            break;
        if (auto change = changeIn(document.object()))
            found.changes.push_back(std::move(*change));
        at = end + 1;
    }
    return Outcome::success(std::move(found));
}

QByteArray TDLibraryJournal::encode(const std::vector<Change>& changes)
{
    std::vector<Listed> listed;
    for (const auto& change : changes)
        listed.push_back({ 0, change });
    return opening + lines(listed, 0, true) + closing;
}
