#include "platform/graphics/DecodeAhead.h"

#include "platform/graphics/ImageSource.h"

#include <chrono>
#include <mutex>
#include <unordered_map>

namespace platform::decodeAhead {

namespace {

using Clock = std::chrono::steady_clock;

struct Waiting {
    QByteArray data;
    std::shared_ptr<Image> image;
    qint64 bytes = 0;
    Clock::time_point decodedAt;
};

qint64 imageBytes(const Image& image)
{
    qint64 bytes = 0;
    for (const Bitmap& bitmap : image.representations())
        bytes += bitmap.byteCount();
    return bytes;
}

class Table {
public:
    void add(const QByteArray& data, std::shared_ptr<Image> image)
    {
        std::lock_guard lock(m_mutex);
        dropUnclaimed();
        const qint64 bytes = image ? imageBytes(*image) : 0;
        auto [entry, added] = m_waiting.try_emplace(data.constData());
        if (!added)
            m_waitingBytes -= entry->second.bytes;
        entry->second = Waiting { data, std::move(image), bytes, Clock::now() };
        m_waitingBytes += bytes;
    }

    // A waiting entry without an image is a failed decode.
    Taken take(const QByteArray& data)
    {
        std::lock_guard lock(m_mutex);
        if (m_waiting.empty())
            return {};
        const auto entry = m_waiting.find(data.constData());
        if (entry == m_waiting.end() || entry->second.data.size() != data.size())
            return {};
        std::shared_ptr<Image> image = std::move(entry->second.image);
        m_waitingBytes -= entry->second.bytes;
        m_waiting.erase(entry);
        if (!image)
            return { Taken::Kind::failed, nullptr };
        return { Taken::Kind::decoded, std::move(image) };
    }

    qint64 waitingBytes() const
    {
        std::lock_guard lock(m_mutex);
        return m_waitingBytes;
    }

private:
    void dropUnclaimed()
    {
        const Clock::time_point oldest = Clock::now() - std::chrono::seconds(unclaimedLifetimeSeconds);
        for (auto entry = m_waiting.begin(); entry != m_waiting.end();) {
            if (entry->second.decodedAt < oldest) {
                m_waitingBytes -= entry->second.bytes;
                entry = m_waiting.erase(entry);
            } else {
                ++entry;
            }
        }
    }

    mutable std::mutex m_mutex;
    std::unordered_map<const char*, Waiting> m_waiting;
    qint64 m_waitingBytes = 0;
};

Table& table()
{
    static Table* shared = new Table;
    return *shared;
}

} // namespace

bool decode(const QByteArray& data, const std::function<bool(qint64 imageBytes)>& admit)
{
    auto created = stillImageSource(data);
    if (!created) {
        table().add(data, nullptr);
        return false;
    }
    const std::shared_ptr<ImageSource>& source = created.value();
    if (!admit(qint64(source->pixelSize().width()) * source->pixelSize().height() * 4))
        return false;
    std::shared_ptr<Image> image = stillImageFrom(*source, DecodingLimits());
    const bool decoded = image != nullptr;
    table().add(data, std::move(image));
    return decoded;
}

Taken takeResult(const QByteArray& data)
{
    if (data.isEmpty())
        return {};
    return table().take(data);
}

std::shared_ptr<Image> take(const QByteArray& data)
{
    return takeResult(data).image;
}

qint64 waitingBytes()
{
    return table().waitingBytes();
}

} // namespace platform::decodeAhead
