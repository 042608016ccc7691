#include "platform/foundation/Uuid.h"

#include <QHashFunctions>
#include <QUuid>

#include <cstring>

namespace platform {

namespace {

int hexValue(QChar c)
{
    char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

QString format(const Uuid::Bytes& bytes, const char* digits)
{
    QString text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text.append(QLatin1Char('-'));
        text.append(QLatin1Char(digits[bytes[i] >> 4]));
        text.append(QLatin1Char(digits[bytes[i] & 0xF]));
    }
    return text;
}

} // namespace

Uuid Uuid::random()
{
    QByteArray raw = QUuid::createUuid().toRfc4122();
    Bytes bytes;
    std::memcpy(bytes.data(), raw.constData(), bytes.size());
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::fromString(QStringView text)
{
    if (text.size() != 36)
        return std::nullopt;
    Bytes bytes;
    std::size_t byteIndex = 0;
    for (qsizetype i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != QLatin1Char('-'))
                return std::nullopt;
            ++i;
            continue;
        }
        int high = hexValue(text[i]);
        int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[byteIndex++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    return Uuid(bytes);
}

QString Uuid::uuidString() const
{
    return format(m_bytes, "0123456789ABCDEF");
}

QString Uuid::lowercaseString() const
{
    return format(m_bytes, "0123456789abcdef");
}

bool Uuid::isNull() const
{
    return m_bytes == Bytes {};
}

std::size_t qHash(const Uuid& uuid, std::size_t seed) noexcept
{
    return ::qHashBits(uuid.bytes().data(), uuid.bytes().size(), seed);
}

} // namespace platform
