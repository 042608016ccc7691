#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <vector>

namespace platform {

// Writes compact JSON text straight into a buffer, keys in the order they are written. Numbers are
// written in the shortest form that reads back to the same double (QJsonDocument reads a negative
// zero back as zero, the one exception); a number that is not finite has no JSON form, so writing
// one marks the output as failed.
class JsonWriter {
public:
    void beginArray();
    void endArray();
    void beginObject();
    void endObject();

    // The key of the next value inside an object.
    void key(QStringView name);

    void string(QStringView text);
    void number(double value);
    void boolean(bool value);
    void null();
    void emptyObject();
    // Any value as compact JSON, numbers and escapes as QJsonDocument writes them.
    void json(const QJsonValue& value);

    bool failed() const { return m_failed; }
    const QByteArray& bytes() const { return m_bytes; }
    QByteArray take() { return std::move(m_bytes); }

private:
    void separate();
    void appendString(QStringView text);

    QByteArray m_bytes;
    // Per open container: whether it already holds an element.
    std::vector<bool> m_hasElement;
    bool m_afterKey = false;
    bool m_failed = false;
};

} // namespace platform
