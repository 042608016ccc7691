#include "app/model/TDCategory.h"

#include "app/model/TDJsonKeys.h"

using platform::PlatformError;
using platform::Result;

TDCategory::TDCategory(platform::Uuid id, QString name, TDUnknownKeys unknownKeys)
    : m_id(id)
    , m_name(std::move(name))
    , m_unknownKeys(std::move(unknownKeys))
{
}

std::shared_ptr<TDCategory> TDCategory::make(platform::Uuid id, QString name, TDUnknownKeys unknownKeys)
{
    return std::make_shared<TDCategory>(id, std::move(name), std::move(unknownKeys));
}

platform::Uuid TDCategory::id() const
{
    m_registrar.access("id");
    return m_id;
}

void TDCategory::setId(platform::Uuid id)
{
    m_registrar.withMutation("id", [&] { m_id = id; });
}

QString TDCategory::name() const
{
    m_registrar.access("name");
    return m_name;
}

void TDCategory::setName(QString name)
{
    m_registrar.withMutation("name", [&] { m_name = std::move(name); });
}

void TDCategory::writeJson(platform::JsonWriter& writer) const
{
    writer.beginObject();
    writer.key(u"_id");
    writer.string(m_id.uuidString());
    writer.key(u"_name");
    writer.string(m_name);
    m_unknownKeys.writeJson(writer);
    writer.key(tdjson::registrarKey());
    writer.emptyObject();
    writer.endObject();
}

Result<std::shared_ptr<TDCategory>, PlatformError> TDCategory::fromJson(const QJsonObject& object)
{
    platform::JsonObjectReader reader(object, QStringLiteral("a category"));
    auto id = reader.uuid(QStringLiteral("_id"));
    auto name = reader.string(QStringLiteral("_name"));
    if (!reader.ok())
        return Result<std::shared_ptr<TDCategory>, PlatformError>::failure(reader.error());
    return Result<std::shared_ptr<TDCategory>, PlatformError>::success(make(
        id, std::move(name), TDUnknownKeys::of(object, { QLatin1String("_id"), QLatin1String("_name") })));
}
