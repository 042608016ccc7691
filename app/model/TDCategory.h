#pragma once

#include "app/model/TDUnknownKeys.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/Uuid.h"

#include <QJsonObject>
#include <QString>

#include <memory>

// A project category. Equal (and hashed) by `id` alone.
class TDCategory {
public:
    TDCategory(platform::Uuid id, QString name, TDUnknownKeys unknownKeys = {});
    static std::shared_ptr<TDCategory> make(platform::Uuid id, QString name, TDUnknownKeys unknownKeys = {});

    platform::Uuid id() const;
    void setId(platform::Uuid id);
    QString name() const;
    void setName(QString name);

    void writeJson(platform::JsonWriter& writer) const;
    static platform::Result<std::shared_ptr<TDCategory>, platform::PlatformError> fromJson(
        const QJsonObject& object);

    friend bool operator==(const TDCategory& a, const TDCategory& b) { return a.m_id == b.m_id; }

private:
    platform::Uuid m_id;
    QString m_name;
    const TDUnknownKeys m_unknownKeys;
    platform::ObservationRegistrar m_registrar;
};

template<> struct std::hash<TDCategory> {
    std::size_t operator()(const TDCategory& category) const noexcept
    {
        return std::hash<platform::Uuid>()(category.id());
    }
};
