#include "app/store/TDLibraryCoding.h"

#include "app/store/TDLibraryCodingReader.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

using platform::PlatformError;
using platform::Result;

namespace tdlibrary {

namespace {

using Reader = TDLibraryCodingReader;

// Below this size a file is read in one piece: starting threads would cost more than they save.
constexpr qsizetype parallelDecodingMinimumBytes = 64 * 1024;
constexpr qsizetype bytesPerPiece = 32 * 1024;
// Pieces per thread: a thread slowed by other work on the machine holds up a smaller share.
constexpr int piecesPerThread = 4;

// Reads the value of a key into `slot`, once: a key given twice is left to the document, where the
// last one wins.
template<typename T> bool once(std::optional<T>& slot, std::optional<T> value)
{
    if (slot || !value)
        return false;
    slot = std::move(value);
    return true;
}

// Makes equal texts share one string. Category names repeat across thousands of projects; QString
// copies on write, so sharing is never seen.
class SharedNames {
public:
    QString share(QString name)
    {
        for (const QString& known : m_names) {
            if (known == name)
                return known;
        }
        if (m_names.size() < maximumNames)
            m_names.push_back(name);
        return name;
    }

private:
    static constexpr std::size_t maximumNames = 64;
    std::vector<QString> m_names;
};

// Keeps the value of a key the record does not know (one a later version wrote), as the document
// reads it. The registrar's key is not kept: every record writes its own.
bool keepUnknown(Reader& reader, QByteArrayView key, TDUnknownKeys& unknown)
{
    if (key == "_$observationRegistrar")
        return reader.skipValue();
    const auto raw = reader.rawValue();
    if (!raw)
        return false;
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson("[" + raw->toByteArray() + "]", &error);
    if (error.error != QJsonParseError::NoError || parsed.array().size() != 1)
        return reader.fail();
    unknown.insert(QString::fromUtf8(key), parsed.array().at(0));
    return true;
}

std::shared_ptr<TDCategory> readCategory(Reader& reader, SharedNames& names)
{
    std::optional<platform::Uuid> id;
    std::optional<QString> name;
    TDUnknownKeys unknown;
    bool read = reader.readObject([&](QByteArrayView key) {
        if (key == "_id")
            return once(id, reader.uuid());
        if (key == "_name")
            return once(name, reader.string());
        return keepUnknown(reader, key, unknown);
    });
    if (!read || !id || !name)
        return nullptr;
    return TDCategory::make(*id, names.share(std::move(*name)), std::move(unknown));
}

std::shared_ptr<TDNote> readNote(Reader& reader)
{
    std::optional<platform::Uuid> id, projectId;
    std::optional<QString> title;
    std::optional<TDCompactUrl> contentURL;
    std::optional<double> date;
    TDUnknownKeys unknown;
    bool read = reader.readObject([&](QByteArrayView key) {
        if (key == "id")
            return once(id, reader.uuid());
        if (key == "tdProjectId")
            return once(projectId, reader.uuid());
        if (key == "_title")
            return once(title, reader.string());
        if (key == "_contentURL")
            return once(contentURL, reader.url());
        if (key == "_date")
            return once(date, reader.number());
        return keepUnknown(reader, key, unknown);
    });
    if (!read || !id || !projectId || !title || !contentURL || !date)
        return nullptr;
    return TDNote::make(*id, *projectId, std::move(*title), std::move(*contentURL), platform::Date(*date),
        std::move(unknown));
}

// What reading one run of projects keeps from project to project: the notes and addresses of one
// project are gathered here and then copied into lists of their exact size.
struct ProjectScratch {
    SharedNames names;
    std::vector<std::shared_ptr<TDNote>> notes;
    std::vector<TDCompactUrl> urls;
};

std::shared_ptr<TDProject> readProject(Reader& reader, ProjectScratch& scratch)
{
    std::optional<QString> name, status;
    std::optional<std::shared_ptr<TDCategory>> category;
    std::optional<platform::Uuid> id;
    std::optional<bool> isFavorite;
    std::optional<double> startDate, imageColumnCount;
    std::optional<TDCompactUrl> coverImageURL;
    bool hasURLs = false, hasNotes = false, hasCover = false;
    TDUnknownKeys unknown;
    scratch.notes.clear();
    scratch.urls.clear();
    auto list
        = [&](bool& seen, auto element) { return !std::exchange(seen, true) && reader.readArray(element); };
    bool read = reader.readObject([&](QByteArrayView key) {
        if (key == "_name")
            return once(name, reader.string());
        if (key == "_category") {
            auto read = readCategory(reader, scratch.names);
            return read && once(category, std::optional(std::move(read)));
        }
        if (key == "id")
            return once(id, reader.uuid());
        if (key == "_quickAccessURL") {
            return list(hasURLs, [&] {
                auto url = reader.url();
                if (!url)
                    return false;
                scratch.urls.push_back(std::move(*url));
                return true;
            });
        }
        if (key == "_status")
            return once(status, reader.string());
        if (key == "_tdNote") {
            return list(hasNotes, [&] {
                auto note = readNote(reader);
                if (!note)
                    return false;
                scratch.notes.push_back(std::move(note));
                return true;
            });
        }
        if (key == "_isFavorite")
            return once(isFavorite, reader.boolean());
        if (key == "_startDate")
            return once(startDate, reader.number());
        if (key == "_imageColumnCount")
            return once(imageColumnCount, reader.number());
        if (key == "_coverImageURL") {
            if (std::exchange(hasCover, true))
                return false;
            return reader.readNull() || once(coverImageURL, reader.url());
        }
        return keepUnknown(reader, key, unknown);
    });
    if (!read || !name || !category || !id || !hasURLs || !status || !hasNotes || !isFavorite || !startDate
        || !imageColumnCount)
        return nullptr;
    auto parsedStatus = tdStatusFromRawValue(*status);
    if (!parsedStatus)
        return nullptr;

    TDProject::Fields fields;
    fields.name = std::move(*name);
    fields.category = std::move(*category);
    fields.id = *id;
    fields.quickAccessURL.assign(scratch.urls.begin(), scratch.urls.end());
    fields.status = *parsedStatus;
    fields.tdNote.reserve(scratch.notes.size());
    fields.tdNote.assign(scratch.notes.begin(), scratch.notes.end());
    fields.isFavorite = *isFavorite;
    fields.startDate = platform::Date(*startDate);
    fields.imageColumnCount = *imageColumnCount;
    fields.coverImageURL = std::move(coverImageURL);
    fields.unknownKeys = std::move(unknown);
    return TDProject::make(std::move(fields));
}

struct NoScratch { };

std::shared_ptr<TDMedia> readMedia(Reader& reader, NoScratch&)
{
    std::optional<platform::Uuid> id, projectId;
    std::optional<TDCompactUrl> url, thumbnailURL;
    bool hasProjectId = false;
    TDUnknownKeys unknown;
    bool read = reader.readObject([&](QByteArrayView key) {
        if (key == "id")
            return once(id, reader.uuid());
        if (key == "_url")
            return once(url, reader.url());
        if (key == "_thumbnailURL")
            return once(thumbnailURL, reader.url());
        if (key == "_tdProjectId") {
            if (std::exchange(hasProjectId, true))
                return false;
            return reader.readNull() || once(projectId, reader.uuid());
        }
        return keepUnknown(reader, key, unknown);
    });
    if (!read || !id || !url || !thumbnailURL)
        return nullptr;
    return TDMedia::make(*id, std::move(*url), std::move(*thumbnailURL), projectId, std::move(unknown));
}

std::optional<TDLink> readLink(Reader& reader, NoScratch&)
{
    std::optional<QString> title, desc, url;
    std::optional<platform::Uuid> id, noteId;
    bool hasTitle = false, hasDesc = false;
    TDUnknownKeys unknown;
    auto optionalString = [&](bool& seen, std::optional<QString>& slot) {
        if (std::exchange(seen, true))
            return false;
        return reader.readNull() || once(slot, reader.string());
    };
    bool read = reader.readObject([&](QByteArrayView key) {
        if (key == "title")
            return optionalString(hasTitle, title);
        if (key == "desc")
            return optionalString(hasDesc, desc);
        if (key == "url")
            return once(url, reader.string());
        if (key == "id")
            return once(id, reader.uuid());
        if (key == "tdNoteId")
            return once(noteId, reader.uuid());
        return keepUnknown(reader, key, unknown);
    });
    if (!read || !url || !id || !noteId)
        return std::nullopt;
    return TDLink { std::move(title), std::move(desc), std::move(*url), *id, *noteId, std::move(unknown) };
}

// Reads the elements of a file straight from its text, from `start` (the file's start or an element
// start) up to the element start `stop`, or to the end without one. None when the reader stops.
template<typename Element, typename Scratch, typename ReadElement>
std::optional<std::vector<Element>> readDirectly(
    const QByteArray& bytes, const char* start, const char* stop, ReadElement readElement)
{
    Reader reader(QByteArrayView(start, bytes.constEnd()));
    Scratch scratch;
    std::vector<Element> elements;
    auto element = [&] {
        // Anything but an object is left to the document, which names the element.
        if (!reader.atObject())
            return false;
        auto read = readElement(reader, scratch);
        if (!read)
            return false;
        elements.push_back(std::move(*std::move(read)));
        return true;
    };
    bool read;
    if (start == bytes.constBegin()) {
        read = stop ? reader.readDocumentStart() && reader.readElementsUntil(stop, element)
                    : reader.readDocument(element);
    } else {
        reader.resumeInDocument();
        read = reader.readElementsUntil(stop, element);
    }
    if (!read)
        return std::nullopt;
    return elements;
}

template<typename Element, typename Decode>
Result<std::vector<Element>, PlatformError> decodeParsed(const QJsonArray& array, Decode decode)
{
    using Decoded = Result<std::vector<Element>, PlatformError>;
    std::vector<Element> elements;
    elements.reserve(static_cast<std::size_t>(array.size()));
    qsizetype index = 0;
    for (const QJsonValue& value : array) {
        if (!value.isObject())
            return Decoded::failure(platform::jsonError(platform::JsonErrorCode::wrongType,
                QStringLiteral("element %1 is not an object").arg(index)));
        auto element = decode(value.toObject());
        if (!element)
            return Decoded::failure(element.error());
        elements.push_back(std::move(element).value());
        ++index;
    }
    return Decoded::success(std::move(elements));
}

template<typename Element, typename Decode>
Result<std::vector<Element>, PlatformError> decodeThroughDocument(const QByteArray& bytes, Decode decode)
{
    auto array = platform::parseJsonArray(bytes);
    if (!array)
        return Result<std::vector<Element>, PlatformError>::failure(array.error());
    return decodeParsed<Element>(array.value(), decode);
}

// Where to cut a large file into `count` pieces without reading it first: the first place after each
// of `count - 1` equal offsets where `elementStart` follows "}," (as our writer puts each element's
// first key). The text found may lie within a string or a nested value; a cut is trusted only once
// the reading of the piece before it, itself from a trusted start, ends exactly there.
std::vector<const char*> guessCuts(const QByteArray& bytes, int count, QByteArrayView elementStart)
{
    QByteArray pattern = "}," + elementStart.toByteArray();
    std::vector<const char*> cuts;
    qsizetype from = 0;
    for (int piece = 1; piece < count; ++piece) {
        const qsizetype found
            = QByteArrayView(bytes).indexOf(pattern, std::max(from, bytes.size() * piece / count));
        if (found < 0)
            break;
        cuts.push_back(bytes.constData() + found + 2);
        from = found + pattern.size();
    }
    return cuts;
}

// The exact cuts: where each top-level element of the file starts, after a scan of the whole text.
std::vector<const char*> exactCuts(const QByteArray& bytes, int count)
{
    std::vector<const char*> cuts;
    if (auto pieces = platform::splitJsonArray(bytes, count)) {
        for (std::size_t piece = 1; piece < pieces->size(); ++piece)
            cuts.push_back((*pieces)[piece].data());
    }
    return cuts;
}

// The pieces of one file and their elements. Shared with the helpers on the pool, which may start
// after the caller has already read every piece itself.
template<typename Element, typename Scratch, typename ReadElement> struct PieceWork {
    QByteArray bytes;
    // Piece i runs from starts[i] to starts[i + 1]; the last one to the end.
    std::vector<const char*> starts;
    ReadElement readElement;
    std::vector<std::optional<std::vector<Element>>> results;
    std::atomic<std::size_t> next { 0 };
    std::atomic<bool> failed { false };
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t done = 0;

    // Reads pieces until none is left to take, or one has failed.
    void run()
    {
        for (std::size_t index; (index = next.fetch_add(1)) < starts.size();) {
            std::optional<std::vector<Element>> read;
            if (!failed) {
                const char* stop = index + 1 < starts.size() ? starts[index + 1] : nullptr;
                read = readDirectly<Element, Scratch>(bytes, starts[index], stop, readElement);
            }
            if (!read)
                failed = true;
            std::lock_guard lock(mutex);
            results[index] = std::move(read);
            if (++done == starts.size())
                finished.notify_all();
        }
    }
};

// Reads a file straight from its text; none when the direct reading does not take it. A large file
// is cut into pieces, which are read on the shared pool and on this thread at once; the records come
// out in file order. The cuts are guessed, so that no thread reads the whole file before the others
// can start: each piece's reading ends exactly at the next piece's start or fails, so every piece
// read in full starts where the one before it ends, and the first starts at the file's start. This
// thread takes pieces too and then waits only for pieces already being read, so it never waits on a
// pool that is busy elsewhere. When a piece fails, the file is read again in one piece.
template<typename Element, typename Scratch, typename ReadElement>
std::optional<std::vector<Element>> readArray(
    const QByteArray& bytes, QByteArrayView elementStart, ReadElement readElement)
{
    auto whole
        = [&] { return readDirectly<Element, Scratch>(bytes, bytes.constBegin(), nullptr, readElement); };
    const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
    if (bytes.size() < parallelDecodingMinimumBytes || threads < 2)
        return whole();
    const int wanted = int(std::min<qsizetype>(threads * piecesPerThread, bytes.size() / bytesPerPiece));
    std::vector<const char*> cuts = guessCuts(bytes, wanted, elementStart);
    if (cuts.size() < std::size_t(wanted) / 2)
        cuts = exactCuts(bytes, wanted);
    if (cuts.empty())
        return whole();

    auto work = std::make_shared<PieceWork<Element, Scratch, ReadElement>>();
    work->bytes = bytes;
    work->starts.push_back(bytes.constBegin());
    work->starts.insert(work->starts.end(), cuts.begin(), cuts.end());
    work->readElement = readElement;
    work->results.resize(work->starts.size());
    const std::shared_ptr<platform::DispatchQueue> pool
        = platform::DispatchQueue::global(platform::QualityOfService::userInitiated);
    const std::size_t helpers = std::min<std::size_t>(std::size_t(threads), work->starts.size()) - 1;
    for (std::size_t helper = 0; helper < helpers; ++helper)
        pool->async([work] { work->run(); });
    work->run();
    {
        std::unique_lock lock(work->mutex);
        work->finished.wait(lock, [&] { return work->done == work->starts.size(); });
    }
    if (work->failed)
        return whole();

    std::size_t total = 0;
    for (const auto& piece : work->results)
        total += piece->size();
    std::vector<Element> elements;
    elements.reserve(total);
    for (auto& piece : work->results)
        std::move(piece->begin(), piece->end(), std::back_inserter(elements));
    return elements;
}

// A file the direct reading does not take (a damaged one, or one it leaves to the document) is
// decoded whole through a QJsonDocument, so that a bad file reports exactly the error it always did.
template<typename Element, typename Decode>
Result<std::vector<Element>, PlatformError> readOrDecode(
    std::optional<std::vector<Element>> read, const QByteArray& bytes, Decode decode)
{
    if (read)
        return Result<std::vector<Element>, PlatformError>::success(std::move(*read));
    return decodeThroughDocument<Element>(bytes, decode);
}

template<typename List> Result<QByteArray, PlatformError> encodeInfallibly(const List& list)
{
    platform::JsonWriter writer;
    writer.beginArray();
    for (const auto& element : list) {
        if constexpr (requires { element->writeJson(writer); })
            element->writeJson(writer);
        else
            element.writeJson(writer);
    }
    writer.endArray();
    return Result<QByteArray, PlatformError>::success(writer.take());
}

} // namespace

Result<QByteArray, PlatformError> encodeProjects(const ProjectList& projects)
{
    platform::JsonWriter writer;
    writer.beginArray();
    for (const auto& project : projects) {
        auto written = project->writeJson(writer);
        if (!written)
            return Result<QByteArray, PlatformError>::failure(written.error());
    }
    writer.endArray();
    return Result<QByteArray, PlatformError>::success(writer.take());
}

Result<QByteArray, PlatformError> encodeMedia(const MediaList& media)
{
    return encodeInfallibly(media);
}

Result<QByteArray, PlatformError> encodeLinks(const LinkList& links)
{
    return encodeInfallibly(links);
}

Result<QByteArray, PlatformError> encodeCategories(const CategoryList& categories)
{
    return encodeInfallibly(categories);
}

std::optional<ProjectList> readProjectsDirectly(const QByteArray& bytes)
{
    auto read = [](Reader& reader, ProjectScratch& scratch) {
        auto project = readProject(reader, scratch);
        return project ? std::optional(std::move(project)) : std::nullopt;
    };
    return readArray<std::shared_ptr<TDProject>, ProjectScratch>(bytes, "{\"_name\":", read);
}

std::optional<MediaList> readMediaDirectly(const QByteArray& bytes)
{
    auto read = [](Reader& reader, NoScratch& scratch) {
        auto media = readMedia(reader, scratch);
        return media ? std::optional(std::move(media)) : std::nullopt;
    };
    return readArray<std::shared_ptr<TDMedia>, NoScratch>(bytes, "{\"id\":", read);
}

std::optional<LinkList> readLinksDirectly(const QByteArray& bytes)
{
    return readArray<TDLink, NoScratch>(bytes, "{\"", readLink);
}

Result<ProjectList, PlatformError> decodeProjects(const QByteArray& bytes)
{
    return readOrDecode(readProjectsDirectly(bytes), bytes, TDProject::fromJson);
}

Result<MediaList, PlatformError> decodeMedia(const QByteArray& bytes)
{
    return readOrDecode(readMediaDirectly(bytes), bytes, TDMedia::fromJson);
}

Result<LinkList, PlatformError> decodeLinks(const QByteArray& bytes)
{
    return readOrDecode(readLinksDirectly(bytes), bytes, TDLink::fromJson);
}

Result<CategoryList, PlatformError> decodeCategories(const QByteArray& bytes)
{
    return decodeThroughDocument<std::shared_ptr<TDCategory>>(bytes, TDCategory::fromJson);
}

Result<ProjectList, PlatformError> decodeProjectsThroughDocument(const QByteArray& bytes)
{
    return decodeThroughDocument<std::shared_ptr<TDProject>>(bytes, TDProject::fromJson);
}

Result<MediaList, PlatformError> decodeMediaThroughDocument(const QByteArray& bytes)
{
    return decodeThroughDocument<std::shared_ptr<TDMedia>>(bytes, TDMedia::fromJson);
}

Result<LinkList, PlatformError> decodeLinksThroughDocument(const QByteArray& bytes)
{
    return decodeThroughDocument<TDLink>(bytes, TDLink::fromJson);
}

} // namespace tdlibrary
