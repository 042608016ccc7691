#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

namespace iris {

// The MD5 message digest of RFC 1321. Used to name cache files, never for security.
class MD5 {
public:
    using Digest = std::array<std::uint8_t, 16>;

    explicit MD5(QByteArray message);

    // The 16 digest bytes of the message.
    Digest calculate();

    // The digest of `message` as 32 lower-case hexadecimal digits.
    static QByteArray hexDigest(const QByteArray& message);

private:
    void processBlock(const std::uint8_t* block);

    QByteArray m_message;
    std::array<std::uint32_t, 4> m_hashes;
};

} // namespace iris
