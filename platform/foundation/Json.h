#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace platform {

inline const QString jsonErrorDomain = QStringLiteral("json");

enum class JsonErrorCode { malformed = 1, wrongType, missingKey, invalidValue };

// Parses a whole document that must be one JSON array.
Result<QJsonArray, PlatformError> parseJsonArray(const QByteArray& bytes);

// The text of a document that is one JSON array, cut between its top-level elements into at most
// `pieces` runs of whole elements of about equal size, each a valid array body on its own (the
// elements and the commas between them, without the brackets). The cut reads strings and nesting
// but does not check the rest of the syntax: each run is parsed later. Nothing for a document
// that is not plainly one array of at least one element per run (empty elements, text after the
// array), so that the caller parses it whole and reports its error.
std::optional<std::vector<QByteArrayView>> splitJsonArray(const QByteArray& bytes, int pieces);

// Compact text of an array, through QJsonDocument (JsonWriter writes records faster).
QByteArray compactJson(const QJsonArray& array);

PlatformError jsonError(JsonErrorCode code, const QString& description);

// Reads typed values out of one JSON object, strictly: a missing required key, a value of the wrong
// JSON type (a number is no boolean) or a malformed UUID or URL records a failure. Reading goes on
// after a failure with placeholder values, so a decoder reads every field and checks `ok()` once.
// Optional readers give no value for a missing key or a JSON null.
class JsonObjectReader {
public:
    explicit JsonObjectReader(const QJsonObject& object, QString context = {})
        : m_object(object)
        , m_context(std::move(context))
    {
    }

    QString string(const QString& key);
    double number(const QString& key);
    bool boolean(const QString& key);
    Uuid uuid(const QString& key);
    Url url(const QString& key);
    QJsonObject object(const QString& key);
    QJsonArray array(const QString& key);

    std::optional<QString> optionalString(const QString& key);
    std::optional<Uuid> optionalUuid(const QString& key);
    std::optional<Url> optionalUrl(const QString& key);

    // Records a failure found by the caller (say, a value outside an enumeration).
    void fail(JsonErrorCode code, const QString& key, const QString& what);

    bool ok() const { return !m_error.has_value(); }
    const PlatformError& error() const { return *m_error; }

private:
    const QJsonValue* required(const QString& key, QJsonValue& storage);

    QJsonObject m_object;
    QString m_context;
    std::optional<PlatformError> m_error;
};

} // namespace platform
