#include "app/model/TDNote.h"

#include "app/model/TDJsonKeys.h"

#include <algorithm>
#include <vector>

using platform::PlatformError;
using platform::Result;

namespace {

// The watches alive now, in the order they were made. Only the main thread changes dates.
std::vector<TDNote::DateWatch*>& dateWatches()
{
    static std::vector<TDNote::DateWatch*> watches;
    return watches;
}

} // namespace

TDNote::DateWatch::DateWatch(OnChange onChange)
    : m_onChange(std::move(onChange))
{
    dateWatches().push_back(this);
}

TDNote::DateWatch::~DateWatch()
{
    std::erase(dateWatches(), this);
}

TDNote::TDNote(platform::Uuid id, platform::Uuid tdProjectId, QString title, TDCompactUrl contentURL,
    platform::Date date, TDUnknownKeys unknownKeys)
    : m_id(id)
    , m_tdProjectId(tdProjectId)
    , m_title(std::move(title))
    , m_contentURL(std::move(contentURL))
    , m_date(date)
    , m_unknownKeys(std::move(unknownKeys))
{
}

std::shared_ptr<TDNote> TDNote::make(platform::Uuid id, platform::Uuid tdProjectId, QString title,
    TDCompactUrl contentURL, platform::Date date, TDUnknownKeys unknownKeys)
{
    return std::make_shared<TDNote>(
        id, tdProjectId, std::move(title), std::move(contentURL), date, std::move(unknownKeys));
}

QString TDNote::title() const
{
    m_registrar.access("title");
    return m_title;
}

void TDNote::setTitle(QString title)
{
    m_registrar.withMutation("title", [&] { m_title = std::move(title); });
}

platform::Url TDNote::contentURL() const
{
    m_registrar.access("contentURL");
    return m_contentURL.url();
}

void TDNote::setContentURL(platform::Url url)
{
    m_registrar.withMutation("contentURL", [&] { m_contentURL = TDCompactUrl(url); });
}

platform::Date TDNote::date() const
{
    m_registrar.access("date");
    return m_date;
}

void TDNote::setDate(platform::Date date)
{
    const platform::Date previous = m_date;
    m_registrar.withMutation("date", [&] { m_date = date; });
    for (DateWatch* watch : dateWatches())
        watch->m_onChange(*this, previous);
}

void TDNote::writeJson(platform::JsonWriter& writer) const
{
    writer.beginObject();
    writer.key(u"id");
    writer.string(m_id.uuidString());
    writer.key(u"tdProjectId");
    writer.string(m_tdProjectId.uuidString());
    writer.key(u"_title");
    writer.string(m_title);
    writer.key(u"_contentURL");
    writer.string(m_contentURL.absoluteString());
    writer.key(u"_date");
    writer.number(m_date.timeIntervalSinceReferenceDate());
    m_unknownKeys.writeJson(writer);
    writer.key(tdjson::registrarKey());
    writer.emptyObject();
    writer.endObject();
}

Result<std::shared_ptr<TDNote>, PlatformError> TDNote::fromJson(const QJsonObject& object)
{
    platform::JsonObjectReader reader(object, QStringLiteral("a note"));
    auto id = reader.uuid(QStringLiteral("id"));
    auto projectId = reader.uuid(QStringLiteral("tdProjectId"));
    auto title = reader.string(QStringLiteral("_title"));
    auto contentURL = reader.url(QStringLiteral("_contentURL"));
    auto date = reader.number(QStringLiteral("_date"));
    if (!reader.ok())
        return Result<std::shared_ptr<TDNote>, PlatformError>::failure(reader.error());
    return Result<std::shared_ptr<TDNote>, PlatformError>::success(
        make(id, projectId, std::move(title), std::move(contentURL), platform::Date(date),
            TDUnknownKeys::of(object,
                { QLatin1String("id"), QLatin1String("tdProjectId"), QLatin1String("_title"),
                    QLatin1String("_contentURL"), QLatin1String("_date") })));
}
