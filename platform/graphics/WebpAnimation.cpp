#include "platform/graphics/WebpAnimation.h"

#include <algorithm>

namespace platform {

namespace {

constexpr qsizetype riffHeaderBytes = 12; // "RIFF", size, "WEBP"
constexpr qsizetype chunkHeaderBytes = 8; // tag, size
// An ANMF payload starts with x, y, width - 1, height - 1 and the duration, 24 bits each, and a
// byte of flags.
constexpr quint32 frameHeaderBytes = 16;
constexpr qsizetype durationOffset = 12;

quint32 readLittleEndian(const QByteArray& data, qsizetype at, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | quint8(data[at + i]);
    return value;
}

} // namespace

std::vector<int> webpFrameDurations(const QByteArray& data)
{
    std::vector<int> durations;
    if (data.size() < riffHeaderBytes || !data.startsWith("RIFF") || data.mid(8, 4) != "WEBP")
        return durations;
    // The container's own size bounds the chunks; bytes after it belong to nothing.
    const qint64 end = std::min<qint64>(data.size(), qint64(readLittleEndian(data, 4, 4)) + 8);
    qint64 at = riffHeaderBytes;
    while (at + chunkHeaderBytes <= end) {
        const quint32 size = readLittleEndian(data, qsizetype(at) + 4, 4);
        const qint64 payload = at + chunkHeaderBytes;
        if (qint64(size) > end - payload)
            break;
        if (data.mid(qsizetype(at), 4) == "ANMF" && size >= frameHeaderBytes)
            durations.push_back(int(readLittleEndian(data, qsizetype(payload + durationOffset), 3)));
        // Chunks are padded to an even length.
        at = payload + size + (size & 1);
    }
    return durations;
}

} // namespace platform
