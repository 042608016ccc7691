#pragma once

#include "app/model/TDUnknownKeys.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/Uuid.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// A link saved from a note: a plain value, copied. `url` is the address as entered, kept as text.
struct TDLink {
    std::optional<QString> title;
    std::optional<QString> desc;
    QString url;
    platform::Uuid id;
    platform::Uuid tdNoteId;
    // Keys a later version wrote, written back unchanged.
    TDUnknownKeys unknownKeys;

    void writeJson(platform::JsonWriter& writer) const;
    static platform::Result<TDLink, platform::PlatformError> fromJson(const QJsonObject& object);
};
