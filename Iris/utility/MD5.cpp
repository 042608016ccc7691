#include "Iris/utility/MD5.h"

#include <cstring>

namespace iris {

namespace {

constexpr std::array<std::uint32_t, 64> shifts = {
    7,
    12,
    17,
    22,
    7,
    12,
    17,
    22,
    7,
    12,
    17,
    22,
    7,
    12,
    17,
    22,
    5,
    9,
    14,
    20,
    5,
    9,
    14,
    20,
    5,
    9,
    14,
    20,
    5,
    9,
    14,
    20,
    4,
    11,
    16,
    23,
    4,
    11,
    16,
    23,
    4,
    11,
    16,
    23,
    4,
    11,
    16,
    23,
    6,
    10,
    15,
    21,
    6,
    10,
    15,
    21,
    6,
    10,
    15,
    21,
    6,
    10,
    15,
    21,
};

// The integer parts of abs(sin(i)) * 2^32 for i = 1 ... 64.
constexpr std::array<std::uint32_t, 64> sines = {
    0xd76aa478,
    0xe8c7b756,
    0x242070db,
    0xc1bdceee,
    0xf57c0faf,
    0x4787c62a,
    0xa8304613,
    0xfd469501,
    0x698098d8,
    0x8b44f7af,
    0xffff5bb1,
    0x895cd7be,
    0x6b901122,
    0xfd987193,
    0xa679438e,
    0x49b40821,
    0xf61e2562,
    0xc040b340,
    0x265e5a51,
    0xe9b6c7aa,
    0xd62f105d,
    0x02441453,
    0xd8a1e681,
    0xe7d3fbc8,
    0x21e1cde6,
    0xc33707d6,
    0xf4d50d87,
    0x455a14ed,
    0xa9e3e905,
    0xfcefa3f8,
    0x676f02d9,
    0x8d2a4c8a,
    0xfffa3942,
    0x8771f681,
    0x6d9d6122,
    0xfde5380c,
    0xa4beea44,
    0x4bdecfa9,
    0xf6bb4b60,
    0xbebfbc70,
    0x289b7ec6,
    0xeaa127fa,
    0xd4ef3085,
    0x04881d05,
    0xd9d4d039,
    0xe6db99e5,
    0x1fa27cf8,
    0xc4ac5665,
    0xf4292244,
    0x432aff97,
    0xab9423a7,
    0xfc93a039,
    0x655b59c3,
    0x8f0ccc92,
    0xffeff47d,
    0x85845dd1,
    0x6fa87e4f,
    0xfe2ce6e0,
    0xa3014314,
    0x4e0811a1,
    0xf7537e82,
    0xbd3af235,
    0x2ad7d2bb,
    0xeb86d391,
};

constexpr std::array<std::uint32_t, 4> initialHashes = { 0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476 };

inline std::uint32_t rotateLeft(std::uint32_t value, std::uint32_t count)
{
    return (value << count) | (value >> (32 - count));
}

inline std::uint32_t readLittleEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) | (std::uint32_t(bytes[2]) << 16)
        | (std::uint32_t(bytes[3]) << 24);
}

} // namespace

MD5::MD5(QByteArray message)
    : m_message(std::move(message))
    , m_hashes(initialHashes)
{
}

void MD5::processBlock(const std::uint8_t* block)
{
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i)
        words[i] = readLittleEndian32(block + 4 * i);

    std::uint32_t a = m_hashes[0], b = m_hashes[1], c = m_hashes[2], d = m_hashes[3];
    auto step = [&](std::uint32_t f, int i, int g) {
        std::uint32_t rotated = rotateLeft(a + f + sines[i] + words[g], shifts[i]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    };
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i)
        step((b & c) | (~b & d), i, i);
#pragma GCC unroll 16
    for (int i = 16; i < 32; ++i)
        step((d & b) | (~d & c), i, (5 * i + 1) % 16);
#pragma GCC unroll 16
    for (int i = 32; i < 48; ++i)
        step(b ^ c ^ d, i, (3 * i + 5) % 16);
#pragma GCC unroll 16
    for (int i = 48; i < 64; ++i)
        step(c ^ (b | ~d), i, (7 * i) % 16);

    m_hashes[0] += a;
    m_hashes[1] += b;
    m_hashes[2] += c;
    m_hashes[3] += d;
}

MD5::Digest MD5::calculate()
{
    m_hashes = initialHashes;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(m_message.constData());
    const std::uint64_t length = static_cast<std::uint64_t>(m_message.size());

    // Whole blocks are read in place; only the tail is copied to be padded.
    std::uint64_t wholeBlocks = length / 64;
    for (std::uint64_t block = 0; block < wholeBlocks; ++block)
        processBlock(bytes + block * 64);

    std::uint8_t tail[128] = {};
    std::size_t rest = static_cast<std::size_t>(length % 64);
    if (rest)
        std::memcpy(tail, bytes + wholeBlocks * 64, rest);
    tail[rest] = 0x80;
    std::size_t tailLength = rest + 1 + 8 <= 64 ? 64 : 128;
    std::uint64_t bitLength = length * 8;
    for (int i = 0; i < 8; ++i)
        tail[tailLength - 8 + i] = static_cast<std::uint8_t>(bitLength >> (8 * i));
    processBlock(tail);
    if (tailLength == 128)
        processBlock(tail + 64);

    Digest digest;
    for (int word = 0; word < 4; ++word)
        for (int i = 0; i < 4; ++i)
            digest[4 * word + i] = static_cast<std::uint8_t>(m_hashes[word] >> (8 * i));
    return digest;
}

QByteArray MD5::hexDigest(const QByteArray& message)
{
    static constexpr char digits[] = "0123456789abcdef";
    Digest digest = MD5(message).calculate();
    QByteArray hex(32, Qt::Uninitialized);
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 0xf];
    }
    return hex;
}

} // namespace iris
