#include "platform/foundation/JsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <charconv>
#include <cmath>

namespace platform {

void JsonWriter::separate()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasElement.empty()) {
        if (m_hasElement.back())
            m_bytes.append(',');
        m_hasElement.back() = true;
    }
}

void JsonWriter::beginArray()
{
    separate();
    m_bytes.append('[');
    m_hasElement.push_back(false);
}

void JsonWriter::endArray()
{
    m_bytes.append(']');
    m_hasElement.pop_back();
}

void JsonWriter::beginObject()
{
    separate();
    m_bytes.append('{');
    m_hasElement.push_back(false);
}

void JsonWriter::endObject()
{
    m_bytes.append('}');
    m_hasElement.pop_back();
}

void JsonWriter::key(QStringView name)
{
    separate();
    appendString(name);
    m_bytes.append(':');
    m_afterKey = true;
}

void JsonWriter::string(QStringView text)
{
    separate();
    appendString(text);
}

void JsonWriter::number(double value)
{
    separate();
    if (!std::isfinite(value)) {
        m_failed = true;
        m_bytes.append("null");
        return;
    }
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    m_bytes.append(buffer, result.ptr - buffer);
}

void JsonWriter::boolean(bool value)
{
    separate();
    m_bytes.append(value ? "true" : "false");
}

void JsonWriter::null()
{
    separate();
    m_bytes.append("null");
}

void JsonWriter::emptyObject()
{
    separate();
    m_bytes.append("{}");
}

void JsonWriter::json(const QJsonValue& value)
{
    separate();
    // A document holds only an array or an object: the value goes in an array, whose brackets are
    // left out.
    const QByteArray text = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    m_bytes.append(QByteArrayView(text).sliced(1, text.size() - 2));
}

void JsonWriter::appendString(QStringView text)
{
    static constexpr char hex[] = "0123456789abcdef";
    m_bytes.append('"');
    qsizetype runStart = 0;
    auto flush = [&](qsizetype end) {
        if (end > runStart)
            m_bytes.append(text.mid(runStart, end - runStart).toUtf8());
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (QChar::isSurrogate(c)) {
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                ++i;
                continue;
            }
            // UTF-8 cannot hold half a pair; the escape keeps it, as the document writes it.
        } else if (c == 0xFEFF && i == 0) {
            // Readers take a byte-order mark that starts a string without escapes for an encoding
            // mark and drop it; escaped, it stays a character of the string.
        } else if (c >= 0x20 && c != u'"' && c != u'\\') {
            continue;
        }
        flush(i);
        runStart = i + 1;
        switch (c) {
        case u'"':
            m_bytes.append("\\\"");
            break;
        case u'\\':
            m_bytes.append("\\\\");
            break;
        case u'\n':
            m_bytes.append("\\n");
            break;
        case u'\r':
            m_bytes.append("\\r");
            break;
        case u'\t':
            m_bytes.append("\\t");
            break;
        case u'\b':
            m_bytes.append("\\b");
            break;
        case u'\f':
            m_bytes.append("\\f");
            break;
        default: {
            char escape[]
                = { '\\', 'u', hex[c >> 12], hex[(c >> 8) & 0xF], hex[(c >> 4) & 0xF], hex[c & 0xF] };
            m_bytes.append(escape, sizeof escape);
        }
        }
    }
    flush(text.size());
    m_bytes.append('"');
}

} // namespace platform
