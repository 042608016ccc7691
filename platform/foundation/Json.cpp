#include "platform/foundation/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace platform {

PlatformError jsonError(JsonErrorCode code, const QString& description)
{
    return PlatformError { jsonErrorDomain, static_cast<int>(code), description, nullptr };
}

Result<QJsonArray, PlatformError> parseJsonArray(const QByteArray& bytes)
{
    QJsonParseError parseError;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Result<QJsonArray, PlatformError>::failure(jsonError(JsonErrorCode::malformed,
            QStringLiteral("JSON is malformed at offset %1: %2")
                .arg(parseError.offset)
                .arg(parseError.errorString())));
    if (!document.isArray())
        return Result<QJsonArray, PlatformError>::failure(
            jsonError(JsonErrorCode::wrongType, QStringLiteral("the JSON document is not an array")));
    return Result<QJsonArray, PlatformError>::success(document.array());
}

QByteArray compactJson(const QJsonArray& array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

void JsonObjectReader::fail(JsonErrorCode code, const QString& key, const QString& what)
{
    if (m_error)
        return;
    QString where = m_context.isEmpty() ? QStringLiteral("\"%1\"").arg(key)
                                        : QStringLiteral("\"%1\" of %2").arg(key, m_context);
    m_error = jsonError(code, where + QStringLiteral(": ") + what);
}

const QJsonValue* JsonObjectReader::required(const QString& key, QJsonValue& storage)
{
    auto it = m_object.constFind(key);
    if (it == m_object.constEnd()) {
        fail(JsonErrorCode::missingKey, key, QStringLiteral("the key is missing"));
        return nullptr;
    }
    storage = it.value();
    return &storage;
}

QString JsonObjectReader::string(const QString& key)
{
    QJsonValue value;
    if (!required(key, value))
        return QString();
    if (!value.isString()) {
        fail(JsonErrorCode::wrongType, key, QStringLiteral("expected a string"));
        return QString();
    }
    return value.toString();
}

double JsonObjectReader::number(const QString& key)
{
    QJsonValue value;
    if (!required(key, value))
        return 0;
    if (!value.isDouble() || !std::isfinite(value.toDouble())) {
        fail(JsonErrorCode::wrongType, key, QStringLiteral("expected a finite number"));
        return 0;
    }
    return value.toDouble();
}

bool JsonObjectReader::boolean(const QString& key)
{
    QJsonValue value;
    if (!required(key, value))
        return false;
    if (!value.isBool()) {
        fail(JsonErrorCode::wrongType, key, QStringLiteral("expected true or false"));
        return false;
    }
    return value.toBool();
}

Uuid JsonObjectReader::uuid(const QString& key)
{
    QString text = string(key);
    if (!ok())
        return Uuid();
    auto parsed = Uuid::fromString(text);
    if (!parsed) {
        fail(JsonErrorCode::invalidValue, key, QStringLiteral("not a canonical UUID"));
        return Uuid();
    }
    return *parsed;
}

Url JsonObjectReader::url(const QString& key)
{
    QString text = string(key);
    if (!ok())
        return Url();
    auto parsed = Url::fromString(text);
    if (!parsed) {
        fail(JsonErrorCode::invalidValue, key, QStringLiteral("not a valid URL"));
        return Url();
    }
    return *parsed;
}

QJsonObject JsonObjectReader::object(const QString& key)
{
    QJsonValue value;
    if (!required(key, value))
        return QJsonObject();
    if (!value.isObject()) {
        fail(JsonErrorCode::wrongType, key, QStringLiteral("expected an object"));
        return QJsonObject();
    }
    return value.toObject();
}

QJsonArray JsonObjectReader::array(const QString& key)
{
    QJsonValue value;
    if (!required(key, value))
        return QJsonArray();
    if (!value.isArray()) {
        fail(JsonErrorCode::wrongType, key, QStringLiteral("expected an array"));
        return QJsonArray();
    }
    return value.toArray();
}

std::optional<QString> JsonObjectReader::optionalString(const QString& key)
{
    QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString()) {
        fail(JsonErrorCode::wrongType, key, QStringLiteral("expected a string or null"));
        return std::nullopt;
    }
    return value.toString();
}

std::optional<Uuid> JsonObjectReader::optionalUuid(const QString& key)
{
    auto text = optionalString(key);
    if (!text)
        return std::nullopt;
    auto parsed = Uuid::fromString(*text);
    if (!parsed)
        fail(JsonErrorCode::invalidValue, key, QStringLiteral("not a canonical UUID"));
    return parsed;
}

std::optional<Url> JsonObjectReader::optionalUrl(const QString& key)
{
    auto text = optionalString(key);
    if (!text)
        return std::nullopt;
    auto parsed = Url::fromString(*text);
    if (!parsed)
        fail(JsonErrorCode::invalidValue, key, QStringLiteral("not a valid URL"));
    return parsed;
}

} // namespace platform
