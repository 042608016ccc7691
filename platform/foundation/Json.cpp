#include "platform/foundation/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
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

namespace {

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBlank(QByteArrayView text)
{
    for (char c : text) {
        if (!isJsonSpace(c))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::vector<QByteArrayView>> splitJsonArray(const QByteArray& bytes, int pieces)
{
    const char* const text = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype at = 0;
    while (at < size && isJsonSpace(text[at]))
        ++at;
    if (at == size || text[at] != '[')
        return std::nullopt;
    const qsizetype bodyStart = ++at;

    // Where each top-level element ends (at its comma, or at the closing bracket for the last).
    std::vector<qsizetype> elementEnds;
    int depth = 0;
    bool inString = false;
    qsizetype bodyEnd = -1;
    for (; at < size; ++at) {
        const char c = text[at];
        if (inString) {
            if (c == '\\')
                ++at;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (depth == 0) {
                if (c != ']')
                    return std::nullopt;
                bodyEnd = at;
                break;
            }
            --depth;
        } else if (c == ',' && depth == 0) {
            elementEnds.push_back(at);
        }
    }
    if (bodyEnd < 0 || !isBlank(QByteArrayView(text + bodyEnd + 1, size - bodyEnd - 1)))
        return std::nullopt;
    elementEnds.push_back(bodyEnd);

    // Every element must hold something: "[1,,2]" and "[1,]" are left to the whole parse.
    qsizetype start = bodyStart;
    for (qsizetype end : elementEnds) {
        if (isBlank(QByteArrayView(text + start, end - start)))
            return std::nullopt;
        start = end + 1;
    }

    std::vector<QByteArrayView> runs;
    const qsizetype target = (bodyEnd - bodyStart) / std::max(1, pieces) + 1;
    qsizetype runStart = bodyStart;
    for (qsizetype end : elementEnds) {
        if (end - runStart >= target || end == bodyEnd) {
            runs.emplace_back(text + runStart, end - runStart);
            runStart = end + 1;
        }
    }
    return runs;
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
