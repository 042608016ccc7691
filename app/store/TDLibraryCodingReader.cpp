#include "app/store/TDLibraryCodingReader.h"

#include <charconv>

using platform::Uuid;

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The code unit of the four hexadecimal digits at `at`, or -1.
int escapedUnit(const char* at, const char* end)
{
    if (end - at < 4)
        return -1;
    int unit = 0;
    for (int i = 0; i < 4; ++i) {
        int digit = hexValue(at[i]);
        if (digit < 0)
            return -1;
        unit = unit << 4 | digit;
    }
    return unit;
}

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `at` that starts with a byte above 0x7F, or 0 for
// anything else (overlong forms, surrogates, code points past U+10FFFF, cut sequences).
int utf8SequenceLength(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = at[0];
    int length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - at < length || at[1] < low || at[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (!isContinuation(at[i]))
            return 0;
    }
    return length;
}

} // namespace

bool TDLibraryCodingReader::scanString(Token& token)
{
    if (m_at == m_end || *m_at != '"')
        return fail();
    const char* start = ++m_at;
    token.escaped = false;
    while (m_at < m_end) {
        const unsigned char c = static_cast<unsigned char>(*m_at);
        if (c == '"') {
            token.raw = QByteArrayView(start, m_at - start);
            ++m_at;
            return true;
        }
        if (c < 0x80 && c != '\\') {
            ++m_at;
            continue;
        }
        if (c >= 0x80) {
            int length = utf8SequenceLength(
                reinterpret_cast<const unsigned char*>(m_at), reinterpret_cast<const unsigned char*>(m_end));
            if (length == 0)
                return fail();
            m_at += length;
            continue;
        }
        token.escaped = true;
        if (m_end - m_at < 2)
            return fail();
        const char kind = m_at[1];
        if (kind != 'u') {
            // QJsonDocument reads an unknown escape as the bare character; such text is left to it.
            if (!std::char_traits<char>::find("\"\\/bfnrt", 8, kind))
                return fail();
            m_at += 2;
            continue;
        }
        const int unit = escapedUnit(m_at + 2, m_end);
        if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF))
            return fail();
        m_at += 6;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            // Only a whole pair: QJsonDocument keeps a lone half, which UTF-16 text cannot hold.
            if (m_end - m_at < 6 || m_at[0] != '\\' || m_at[1] != 'u')
                return fail();
            const int second = escapedUnit(m_at + 2, m_end);
            if (second < 0xDC00 || second > 0xDFFF)
                return fail();
            m_at += 6;
        }
    }
    return fail();
}

QString TDLibraryCodingReader::decode(const Token& token)
{
    if (!token.escaped)
        return QString::fromUtf8(token.raw);
    QString text;
    text.reserve(token.raw.size());
    const char* at = token.raw.data();
    const char* const end = at + token.raw.size();
    while (at < end) {
        const char* run = at;
        while (at < end && *at != '\\')
            ++at;
        if (at > run) {
            // QString::fromUtf8 drops a byte-order mark that starts its input; after an escape it
            // is a character of the string, which the document keeps.
            if (QByteArrayView(run, at - run).startsWith("\xEF\xBB\xBF"))
                text.append(QChar(0xFEFF));
            text.append(QString::fromUtf8(run, at - run));
        }
        if (at == end)
            break;
        const char kind = at[1];
        at += 2;
        switch (kind) {
        case 'b':
            text.append(QChar(u'\b'));
            break;
        case 'f':
            text.append(QChar(u'\f'));
            break;
        case 'n':
            text.append(QChar(u'\n'));
            break;
        case 'r':
            text.append(QChar(u'\r'));
            break;
        case 't':
            text.append(QChar(u'\t'));
            break;
        case 'u':
            text.append(QChar(char16_t(escapedUnit(at, end))));
            at += 4;
            break;
        default: // '"', '\\' and '/' stand for themselves.
            text.append(QLatin1Char(kind));
            break;
        }
    }
    return text;
}

bool TDLibraryCodingReader::literal(QByteArrayView word)
{
    skipSpace();
    if (m_end - m_at < word.size() || QByteArrayView(m_at, word.size()) != word)
        return false;
    m_at += word.size();
    return true;
}

bool TDLibraryCodingReader::readNull()
{
    return literal("null");
}

std::optional<QString> TDLibraryCodingReader::string()
{
    skipSpace();
    Token token;
    if (!scanString(token))
        return std::nullopt;
    return decode(token);
}

std::optional<double> TDLibraryCodingReader::number()
{
    skipSpace();
    const char* start = m_at;
    auto digits = [&] {
        const char* first = m_at;
        while (m_at < m_end && *m_at >= '0' && *m_at <= '9')
            ++m_at;
        return m_at > first;
    };
    if (m_at < m_end && *m_at == '-')
        ++m_at;
    if (m_at < m_end && *m_at == '0')
        ++m_at;
    else if (!digits())
        return fail(), std::nullopt;
    if (m_at < m_end && *m_at == '.') {
        ++m_at;
        if (!digits())
            return fail(), std::nullopt;
    }
    if (m_at < m_end && (*m_at == 'e' || *m_at == 'E')) {
        ++m_at;
        if (m_at < m_end && (*m_at == '+' || *m_at == '-'))
            ++m_at;
        if (!digits())
            return fail(), std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(start, m_at, value);
    // Out of range (overflow, and underflow to a subnormal) is left to QJsonDocument.
    if (error != std::errc() || end != m_at)
        return fail(), std::nullopt;
    // QJsonDocument keeps a whole number as an integer, so -0 comes out as 0.
    return value == 0 ? 0.0 : value;
}

std::optional<bool> TDLibraryCodingReader::boolean()
{
    if (literal("true"))
        return true;
    if (literal("false"))
        return false;
    return fail(), std::nullopt;
}

std::optional<Uuid> TDLibraryCodingReader::uuid()
{
    skipSpace();
    Token token;
    if (!scanString(token))
        return std::nullopt;
    std::optional<Uuid> uuid;
    if (!token.escaped && token.raw.size() == 36) {
        char16_t units[36];
        for (int i = 0; i < 36; ++i)
            units[i] = static_cast<unsigned char>(token.raw[i]);
        uuid = Uuid::fromString(QStringView(units, 36));
    } else {
        uuid = Uuid::fromString(decode(token));
    }
    if (!uuid)
        fail();
    return uuid;
}

std::optional<TDCompactUrl> TDLibraryCodingReader::url()
{
    skipSpace();
    Token token;
    if (!scanString(token))
        return std::nullopt;
    const QString text = decode(token);
    auto url = platform::Url::fromString(text);
    if (!url)
        return fail(), std::nullopt;
    return TDCompactUrl::fromParsed(*url, text);
}

bool TDLibraryCodingReader::skipValue()
{
    skipSpace();
    if (m_at == m_end)
        return fail();
    switch (*m_at) {
    case '"': {
        Token token;
        return scanString(token);
    }
    case '{':
        return readObject([&](QByteArrayView) { return skipValue(); });
    case '[':
        return readArray([&] { return skipValue(); });
    case 't':
    case 'f':
        return boolean().has_value();
    case 'n':
        return readNull() || fail();
    default:
        return number().has_value();
    }
}
