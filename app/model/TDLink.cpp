#include "app/model/TDLink.h"

using platform::PlatformError;
using platform::Result;

void TDLink::writeJson(platform::JsonWriter& writer) const
{
    writer.beginObject();
    if (title) {
        writer.key(u"title");
        writer.string(*title);
    }
    if (desc) {
        writer.key(u"desc");
        writer.string(*desc);
    }
    writer.key(u"url");
    writer.string(url);
    writer.key(u"id");
    writer.string(id.uuidString());
    writer.key(u"tdNoteId");
    writer.string(tdNoteId.uuidString());
    unknownKeys.writeJson(writer);
    writer.endObject();
}

Result<TDLink, PlatformError> TDLink::fromJson(const QJsonObject& object)
{
    platform::JsonObjectReader reader(object, QStringLiteral("a link"));
    TDLink link;
    link.title = reader.optionalString(QStringLiteral("title"));
    link.desc = reader.optionalString(QStringLiteral("desc"));
    link.url = reader.string(QStringLiteral("url"));
    link.id = reader.uuid(QStringLiteral("id"));
    link.tdNoteId = reader.uuid(QStringLiteral("tdNoteId"));
    link.unknownKeys = TDUnknownKeys::of(object,
        { QLatin1String("title"), QLatin1String("desc"), QLatin1String("url"), QLatin1String("id"),
            QLatin1String("tdNoteId") });
    if (!reader.ok())
        return Result<TDLink, PlatformError>::failure(reader.error());
    return Result<TDLink, PlatformError>::success(std::move(link));
}
