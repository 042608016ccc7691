#include "app/model/TDProject.h"

#include "app/model/TDJsonKeys.h"

#include <QJsonArray>

#include <cmath>

using platform::PlatformError;
using platform::Result;

TDProject::TDProject(Fields fields)
    : m_name(std::move(fields.name))
    , m_category(fields.category ? std::move(fields.category)
                                 : TDCategory::make(platform::Uuid::random(), QString()))
    , m_id(fields.id)
    , m_quickAccessURL(std::move(fields.quickAccessURL))
    , m_status(fields.status)
    , m_tdNote(std::move(fields.tdNote))
    , m_isFavorite(fields.isFavorite)
    , m_startDate(fields.startDate)
    , m_imageColumnCount(
          std::isfinite(fields.imageColumnCount) ? fields.imageColumnCount : defaultImageColumnCount)
    , m_coverImageURL(std::move(fields.coverImageURL))
    , m_unknownKeys(std::move(fields.unknownKeys))
{
    // A library holds thousands of these lists; a list grown by appending has room to spare.
    m_tdNote.shrink_to_fit();
}

std::shared_ptr<TDProject> TDProject::make(Fields fields)
{
    return std::make_shared<TDProject>(std::move(fields));
}

QString TDProject::name() const
{
    m_registrar.access("name");
    return m_name;
}

void TDProject::setName(QString name)
{
    m_registrar.withMutation("name", [&] { m_name = std::move(name); });
}

std::shared_ptr<TDCategory> TDProject::category() const
{
    m_registrar.access("category");
    return m_category;
}

void TDProject::setCategory(std::shared_ptr<TDCategory> category)
{
    if (!category)
        return;
    m_registrar.withMutation("category", [&] { m_category = std::move(category); });
}

std::vector<platform::Url> TDProject::quickAccessURL() const
{
    m_registrar.access("quickAccessURL");
    std::vector<platform::Url> urls;
    urls.reserve(m_quickAccessURL.size());
    for (const TDCompactUrl& url : m_quickAccessURL)
        urls.push_back(url.url());
    return urls;
}

void TDProject::setQuickAccessURL(std::vector<platform::Url> urls)
{
    std::vector<TDCompactUrl> compact(urls.begin(), urls.end());
    m_registrar.withMutation("quickAccessURL", [&] { m_quickAccessURL = std::move(compact); });
}

TDStatus TDProject::status() const
{
    m_registrar.access("status");
    return m_status;
}

void TDProject::setStatus(TDStatus status)
{
    m_registrar.withMutation("status", [&] { m_status = status; });
}

std::vector<std::shared_ptr<TDNote>> TDProject::tdNote() const
{
    m_registrar.access("tdNote");
    return m_tdNote;
}

std::shared_ptr<TDNote> TDProject::tdNoteAt(int index) const
{
    m_registrar.access("tdNote");
    if (index < 0 || index >= static_cast<int>(m_tdNote.size()))
        return nullptr;
    return m_tdNote[std::size_t(index)];
}

std::span<const std::shared_ptr<TDNote>> TDProject::tdNoteInPlace() const
{
    m_registrar.access("tdNote");
    return m_tdNote;
}

void TDProject::setTdNote(std::vector<std::shared_ptr<TDNote>> notes)
{
    m_registrar.withMutation("tdNote", [&] { m_tdNote = std::move(notes); });
}

bool TDProject::isFavorite() const
{
    m_registrar.access("isFavorite");
    return m_isFavorite;
}

void TDProject::setIsFavorite(bool isFavorite)
{
    m_registrar.withMutation("isFavorite", [&] { m_isFavorite = isFavorite; });
}

platform::Date TDProject::startDate() const
{
    m_registrar.access("startDate");
    return m_startDate;
}

void TDProject::setStartDate(platform::Date date)
{
    m_registrar.withMutation("startDate", [&] { m_startDate = date; });
}

double TDProject::imageColumnCount() const
{
    m_registrar.access("imageColumnCount");
    return m_imageColumnCount;
}

void TDProject::setImageColumnCount(double count)
{
    if (!std::isfinite(count))
        return;
    m_registrar.withMutation("imageColumnCount", [&] { m_imageColumnCount = count; });
}

std::optional<platform::Url> TDProject::coverImageURL() const
{
    m_registrar.access("coverImageURL");
    if (!m_coverImageURL)
        return std::nullopt;
    return m_coverImageURL->url();
}

void TDProject::setCoverImageURL(std::optional<platform::Url> url)
{
    std::optional<TDCompactUrl> compact;
    if (url)
        compact = TDCompactUrl(*url);
    m_registrar.withMutation("coverImageURL", [&] { m_coverImageURL = std::move(compact); });
}

std::shared_ptr<TDProject> TDProject::detachedCopy() const
{
    auto copy = std::make_shared<TDProject>(*this);
    copy->m_category = std::make_shared<TDCategory>(*m_category);
    for (auto& note : copy->m_tdNote)
        note = std::make_shared<TDNote>(*note);
    return copy;
}

Result<platform::Success, PlatformError> TDProject::writeJson(platform::JsonWriter& writer) const
{
    if (!std::isfinite(m_imageColumnCount))
        return Result<platform::Success, PlatformError>::failure(
            platform::jsonError(platform::JsonErrorCode::invalidValue,
                QStringLiteral("the image column count of project \"%1\" is not finite").arg(m_name)));
    writer.beginObject();
    writer.key(u"_name");
    writer.string(m_name);
    writer.key(u"_category");
    m_category->writeJson(writer);
    writer.key(u"id");
    writer.string(m_id.uuidString());
    writer.key(u"_quickAccessURL");
    writer.beginArray();
    for (const auto& url : m_quickAccessURL)
        writer.string(url.absoluteString());
    writer.endArray();
    writer.key(u"_status");
    writer.string(rawValue(m_status));
    writer.key(u"_tdNote");
    writer.beginArray();
    for (const auto& note : m_tdNote)
        note->writeJson(writer);
    writer.endArray();
    writer.key(u"_isFavorite");
    writer.boolean(m_isFavorite);
    writer.key(u"_startDate");
    writer.number(m_startDate.timeIntervalSinceReferenceDate());
    writer.key(u"_imageColumnCount");
    writer.number(m_imageColumnCount);
    if (m_coverImageURL) {
        writer.key(u"_coverImageURL");
        writer.string(m_coverImageURL->absoluteString());
    }
    m_unknownKeys.writeJson(writer);
    writer.key(tdjson::registrarKey());
    writer.emptyObject();
    writer.endObject();
    return Result<platform::Success, PlatformError>::success({});
}

Result<std::shared_ptr<TDProject>, PlatformError> TDProject::fromJson(const QJsonObject& object)
{
    using Decoded = Result<std::shared_ptr<TDProject>, PlatformError>;
    platform::JsonObjectReader reader(object, QStringLiteral("a project"));
    Fields fields;
    fields.name = reader.string(QStringLiteral("_name"));
    QJsonObject categoryObject = reader.object(QStringLiteral("_category"));
    fields.id = reader.uuid(QStringLiteral("id"));
    QJsonArray urls = reader.array(QStringLiteral("_quickAccessURL"));
    QString status = reader.string(QStringLiteral("_status"));
    QJsonArray notes = reader.array(QStringLiteral("_tdNote"));
    fields.isFavorite = reader.boolean(QStringLiteral("_isFavorite"));
    fields.startDate = platform::Date(reader.number(QStringLiteral("_startDate")));
    fields.imageColumnCount = reader.number(QStringLiteral("_imageColumnCount"));
    fields.coverImageURL = reader.optionalUrl(QStringLiteral("_coverImageURL"));
    fields.unknownKeys = TDUnknownKeys::of(object,
        { QLatin1String("_name"), QLatin1String("_category"), QLatin1String("id"),
            QLatin1String("_quickAccessURL"), QLatin1String("_status"), QLatin1String("_tdNote"),
            QLatin1String("_isFavorite"), QLatin1String("_startDate"), QLatin1String("_imageColumnCount"),
            QLatin1String("_coverImageURL") });
    if (!reader.ok())
        return Decoded::failure(reader.error());

    auto parsedStatus = tdStatusFromRawValue(status);
    if (!parsedStatus) {
        reader.fail(platform::JsonErrorCode::invalidValue, QStringLiteral("_status"),
            QStringLiteral("\"%1\" is not a status").arg(status));
        return Decoded::failure(reader.error());
    }
    fields.status = *parsedStatus;

    auto category = TDCategory::fromJson(categoryObject);
    if (!category)
        return Decoded::failure(category.error());
    fields.category = category.value();

    for (const QJsonValue& value : urls) {
        auto url = value.isString() ? platform::Url::fromString(value.toString()) : std::nullopt;
        if (!url) {
            reader.fail(platform::JsonErrorCode::invalidValue, QStringLiteral("_quickAccessURL"),
                QStringLiteral("an element is not a valid URL"));
            return Decoded::failure(reader.error());
        }
        fields.quickAccessURL.push_back(std::move(*url));
    }
    for (const QJsonValue& value : notes) {
        if (!value.isObject()) {
            reader.fail(platform::JsonErrorCode::wrongType, QStringLiteral("_tdNote"),
                QStringLiteral("an element is not an object"));
            return Decoded::failure(reader.error());
        }
        auto note = TDNote::fromJson(value.toObject());
        if (!note)
            return Decoded::failure(note.error());
        fields.tdNote.push_back(note.value());
    }
    return Decoded::success(make(std::move(fields)));
}
