#include "app/store/TDLibraryCoding.h"

#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"

#include <QJsonArray>

using platform::PlatformError;
using platform::Result;

namespace tdlibrary {

namespace {

template<typename Element, typename Decode>
Result<std::vector<Element>, PlatformError> decodeArray(const QByteArray& bytes, Decode decode)
{
    using Decoded = Result<std::vector<Element>, PlatformError>;
    auto array = platform::parseJsonArray(bytes);
    if (!array)
        return Decoded::failure(array.error());
    std::vector<Element> elements;
    elements.reserve(static_cast<std::size_t>(array.value().size()));
    qsizetype index = 0;
    for (const QJsonValue& value : array.value()) {
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
