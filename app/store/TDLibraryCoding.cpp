#include "app/store/TDLibraryCoding.h"

#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"

#include <QJsonArray>

#include <algorithm>
#include <iterator>
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

// A large file is cut between its top-level elements and the pieces are parsed and decoded on
// several threads at once; the records come out in file order. Any piece that fails sends the whole
// file through the one-piece path, so that a bad file reports exactly the error it always did.
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

    std::vector<std::optional<Decoded>> decoded(pieces->size());
    const auto decodePiece = [&](std::size_t index) {
        const QByteArrayView piece = (*pieces)[index];
        QByteArray text;
        text.reserve(piece.size() + 2);
        text.append('[').append(piece).append(']');
        decoded[index] = decodeWhole<Element>(text, decode);
    };
    std::vector<std::thread> workers;
    for (std::size_t index = 1; index < pieces->size(); ++index)
        workers.emplace_back(decodePiece, index);
    decodePiece(0);
    for (std::thread& worker : workers)
        worker.join();

    std::size_t total = 0;
    for (const std::optional<Decoded>& piece : decoded) {
        if (!*piece)
            return decodeWhole<Element>(bytes, decode);
        total += piece->value().size();
    }
    std::vector<Element> elements;
    elements.reserve(total);
    for (std::optional<Decoded>& piece : decoded) {
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
