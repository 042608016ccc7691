#include "app/model/TDLink.h"

using platform::PlatformError;
using platform::Result;

QJsonObject TDLink::toJson() const
{
    QJsonObject object {
        { QStringLiteral("url"), url },
        { QStringLiteral("id"), id.uuidString() },
        { QStringLiteral("tdNoteId"), tdNoteId.uuidString() },
    };
    if (title)
        object.insert(QStringLiteral("title"), *title);
    if (desc)
        object.insert(QStringLiteral("desc"), *desc);
    return object;
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
    if (!reader.ok())
        return Result<TDLink, PlatformError>::failure(reader.error());
    return Result<TDLink, PlatformError>::success(std::move(link));
}
