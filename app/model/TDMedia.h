#pragma once

#include "app/model/TDCompactUrl.h"
#include "app/model/TDUnknownKeys.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QJsonObject>

#include <memory>
#include <optional>

// A reference image copied into a project's folder, with its thumbnail.
class TDMedia {
public:
    TDMedia(platform::Uuid id, TDCompactUrl url, TDCompactUrl thumbnailURL,
        std::optional<platform::Uuid> tdProjectId, TDUnknownKeys unknownKeys = {});
    static std::shared_ptr<TDMedia> make(platform::Uuid id, TDCompactUrl url, TDCompactUrl thumbnailURL,
        std::optional<platform::Uuid> tdProjectId, TDUnknownKeys unknownKeys = {});

    platform::Uuid id() const { return m_id; }

    platform::Url url() const;
    void setUrl(platform::Url url);
    platform::Url thumbnailURL() const;
    // `url().absoluteString()` and `thumbnailURL().absoluteString()`, without parsing the addresses.
    QString urlText() const;
    QString thumbnailURLText() const;
    void setThumbnailURL(platform::Url url);
    std::optional<platform::Uuid> tdProjectId() const;
    void setTdProjectId(std::optional<platform::Uuid> id);

    void writeJson(platform::JsonWriter& writer) const;
    static platform::Result<std::shared_ptr<TDMedia>, platform::PlatformError> fromJson(
        const QJsonObject& object);

private:
    const platform::Uuid m_id;
    TDCompactUrl m_url;
    TDCompactUrl m_thumbnailURL;
    std::optional<platform::Uuid> m_tdProjectId;
    const TDUnknownKeys m_unknownKeys;
    platform::ObservationRegistrar m_registrar;
};
