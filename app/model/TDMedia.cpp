#include "app/model/TDMedia.h"

#include "app/model/TDJsonKeys.h"

using platform::PlatformError;
using platform::Result;

TDMedia::TDMedia(platform::Uuid id, TDCompactUrl url, TDCompactUrl thumbnailURL,
    std::optional<platform::Uuid> tdProjectId, TDUnknownKeys unknownKeys)
    : m_id(id)
    , m_url(std::move(url))
    , m_thumbnailURL(std::move(thumbnailURL))
    , m_tdProjectId(tdProjectId)
    , m_unknownKeys(std::move(unknownKeys))
{
}

std::shared_ptr<TDMedia> TDMedia::make(platform::Uuid id, TDCompactUrl url, TDCompactUrl thumbnailURL,
    std::optional<platform::Uuid> tdProjectId, TDUnknownKeys unknownKeys)
{
    return std::make_shared<TDMedia>(
        id, std::move(url), std::move(thumbnailURL), tdProjectId, std::move(unknownKeys));
}

platform::Url TDMedia::url() const
{
    m_registrar.access("url");
    return m_url.url();
}

void TDMedia::setUrl(platform::Url url)
{
    m_registrar.withMutation("url", [&] { m_url = TDCompactUrl(url); });
}

platform::Url TDMedia::thumbnailURL() const
{
    m_registrar.access("thumbnailURL");
    return m_thumbnailURL.url();
}

QString TDMedia::urlText() const
{
    m_registrar.access("url");
    return m_url.absoluteString();
}

QString TDMedia::thumbnailURLText() const
{
    m_registrar.access("thumbnailURL");
    return m_thumbnailURL.absoluteString();
}

void TDMedia::setThumbnailURL(platform::Url url)
{
    m_registrar.withMutation("thumbnailURL", [&] { m_thumbnailURL = TDCompactUrl(url); });
}

std::optional<platform::Uuid> TDMedia::tdProjectId() const
{
    m_registrar.access("tdProjectId");
    return m_tdProjectId;
}

void TDMedia::setTdProjectId(std::optional<platform::Uuid> id)
{
    m_registrar.withMutation("tdProjectId", [&] { m_tdProjectId = id; });
}

void TDMedia::writeJson(platform::JsonWriter& writer) const
{
    writer.beginObject();
    writer.key(u"id");
    writer.string(m_id.uuidString());
    writer.key(u"_url");
    writer.string(m_url.absoluteString());
    writer.key(u"_thumbnailURL");
    writer.string(m_thumbnailURL.absoluteString());
    if (m_tdProjectId) {
        writer.key(u"_tdProjectId");
        writer.string(m_tdProjectId->uuidString());
    }
    m_unknownKeys.writeJson(writer);
    writer.key(tdjson::registrarKey());
    writer.emptyObject();
    writer.endObject();
}

Result<std::shared_ptr<TDMedia>, PlatformError> TDMedia::fromJson(const QJsonObject& object)
{
    platform::JsonObjectReader reader(object, QStringLiteral("a media item"));
    auto id = reader.uuid(QStringLiteral("id"));
    auto url = reader.url(QStringLiteral("_url"));
    auto thumbnailURL = reader.url(QStringLiteral("_thumbnailURL"));
    auto projectId = reader.optionalUuid(QStringLiteral("_tdProjectId"));
    if (!reader.ok())
        return Result<std::shared_ptr<TDMedia>, PlatformError>::failure(reader.error());
    return Result<std::shared_ptr<TDMedia>, PlatformError>::success(
        make(id, std::move(url), std::move(thumbnailURL), projectId,
            TDUnknownKeys::of(object,
                { QLatin1String("id"), QLatin1String("_url"), QLatin1String("_thumbnailURL"),
                    QLatin1String("_tdProjectId") })));
}
