#include "app/store/TDLibraryCoding.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"

#include <QJsonArray>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>

using platform::PlatformError;
using platform::Result;

namespace tdlibrary {

namespace {

// Below this size a file is parsed in one piece: starting threads would cost more than they save.
constexpr qsizetype parallelDecodingMinimumBytes = 64 * 1024;
constexpr qsizetype bytesPerPiece = 32 * 1024;

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
Result<std::vector<Element>, PlatformError> decodeWhole(const QByteArray& bytes, Decode decode)
{
    auto array = platform::parseJsonArray(bytes);
    if (!array)
        return Result<std::vector<Element>, PlatformError>::failure(array.error());
    return decodeParsed<Element>(array.value(), decode);
}

// The pieces of one file and their results. Shared with the helpers on the pool, which may start
// after the caller has already finished every piece itself.
template<typename Element, typename Decode> struct PieceWork {
    using Decoded = Result<std::vector<Element>, PlatformError>;

    QByteArray bytes;
    std::vector<QByteArrayView> pieces;
    Decode decode;
    std::vector<std::optional<Decoded>> results;
    std::atomic<std::size_t> next { 0 };
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t done = 0;

    // Decodes pieces until none is left to take.
    void run()
    {
        for (std::size_t index; (index = next.fetch_add(1)) < pieces.size();) {
            QByteArray text;
            text.reserve(pieces[index].size() + 2);
            text.append('[').append(pieces[index]).append(']');
            Decoded decoded = decodeWhole<Element>(text, decode);
            std::lock_guard lock(mutex);
            results[index] = std::move(decoded);
            if (++done == pieces.size())
                finished.notify_all();
        }
    }
};

// A large file is cut between its top-level elements and the pieces are parsed and decoded on the
// shared pool and on this thread at once; the records come out in file order. This thread takes
// pieces too and then waits only for pieces already being decoded, so it never waits on a pool that
// is busy elsewhere. Any piece that fails sends the whole file through the one-piece path, so that
// a bad file reports exactly the error it always did.
template<typename Element, typename Decode>
Result<std::vector<Element>, PlatformError> decodeArray(const QByteArray& bytes, Decode decode)
{
    using Decoded = Result<std::vector<Element>, PlatformError>;
    const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
    if (bytes.size() < parallelDecodingMinimumBytes || threads < 2)
        return decodeWhole<Element>(bytes, decode);
    const int wanted = int(std::min<qsizetype>(threads, bytes.size() / bytesPerPiece));
    std::optional<std::vector<QByteArrayView>> pieces = platform::splitJsonArray(bytes, wanted);
    if (!pieces || pieces->size() < 2)
        return decodeWhole<Element>(bytes, decode);

    auto work = std::make_shared<PieceWork<Element, Decode>>();
    work->bytes = bytes;
    work->pieces = std::move(*pieces);
    work->decode = decode;
    work->results.resize(work->pieces.size());
    const std::shared_ptr<platform::DispatchQueue> pool
        = platform::DispatchQueue::global(platform::QualityOfService::userInitiated);
    for (std::size_t helper = 1; helper < work->pieces.size(); ++helper)
        pool->async([work] { work->run(); });
    work->run();
    {
        std::unique_lock lock(work->mutex);
        work->finished.wait(lock, [&] { return work->done == work->pieces.size(); });
    }

    std::size_t total = 0;
    for (const std::optional<Decoded>& piece : work->results) {
        if (!*piece)
            return decodeWhole<Element>(bytes, decode);
        total += piece->value().size();
    }
    std::vector<Element> elements;
    elements.reserve(total);
    for (std::optional<Decoded>& piece : work->results) {
        std::vector<Element> part = std::move(*piece).value();
        std::move(part.begin(), part.end(), std::back_inserter(elements));
    }
    return Decoded::success(std::move(elements));
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

Result<ProjectList, PlatformError> decodeProjects(const QByteArray& bytes)
{
    return decodeArray<std::shared_ptr<TDProject>>(bytes, TDProject::fromJson);
}

Result<MediaList, PlatformError> decodeMedia(const QByteArray& bytes)
{
    return decodeArray<std::shared_ptr<TDMedia>>(bytes, TDMedia::fromJson);
}

Result<LinkList, PlatformError> decodeLinks(const QByteArray& bytes)
{
    return decodeArray<TDLink>(bytes, TDLink::fromJson);
}

Result<CategoryList, PlatformError> decodeCategories(const QByteArray& bytes)
{
    return decodeArray<std::shared_ptr<TDCategory>>(bytes, TDCategory::fromJson);
}

} // namespace tdlibrary
