#include "Iris/general/ImageDataProvider.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/general/Source.h"
#include "Iris/image/ImageFormat.h"
#include "Iris/image/ImageProcessor.h"

#include "platform/foundation/FileAttributes.h"
#include "platform/graphics/DecodeAhead.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <mutex>
#include <utility>

namespace iris {

QString ImageDataProvider::description() const
{
    QString text = QStringLiteral("ImageDataProvider(cacheKey: ") + cacheKey();
    if (std::optional<QUrl> url = contentURL())
        text += QStringLiteral(", contentURL: ") + absoluteString(*url);
    return text + QLatin1Char(')');
}

ProviderDataResult dataWithContentsOfURL(const QUrl& url, std::int64_t maximumSizeBytes)
{
    if (!url.isLocalFile())
        return ProviderDataResult::failure(platform::PlatformError::fromErrno(EINVAL, absoluteString(url)));
    const QString path = url.toLocalFile();
    bool tooLarge = false;
    auto contents = platform::readFileIfAccepted(path, [&](const platform::FileStatus& status) {
        tooLarge = status.size > maximumSizeBytes;
        return !tooLarge;
    });
    if (contents.isFailure())
        return ProviderDataResult::failure(contents.error());
    if (tooLarge || !contents.value().data)
        return ProviderDataResult::failure(platform::PlatformError::fromErrno(EFBIG, path));
    return ProviderDataResult::success(std::move(*contents.value().data));
}

LocalFileImageDataProvider::LocalFileImageDataProvider(
    QUrl fileURL, std::optional<QString> cacheKey, CallbackQueue loadingQueue)
    : m_fileURL(std::move(fileURL))
    , m_loadingQueue(std::move(loadingQueue))
    , m_cacheKey(cacheKey ? std::move(*cacheKey) : localFileCacheKey(m_fileURL))
{
}

CallbackQueue LocalFileImageDataProvider::defaultLoadingQueue()
{
    return CallbackQueue::dispatch(
        platform::DispatchQueue::global(platform::QualityOfService::userInitiated));
}

namespace {

// Runs work on concurrent queues, at most `width` items at a time, the rest in the order they came.
// Two items a core keep every core busy while some wait on reads, hand their images on or share the
// cores with the cache's disk writes; many more would only share the cores, with more images half
// made in memory and each one finished later.
class Lanes {
public:
    explicit Lanes(int width)
        : m_width(std::max(1, width))
    {
    }

    void run(const std::shared_ptr<platform::DispatchQueue>& queue, std::function<void()> work)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_running >= m_width) {
                m_waiting.push_back({ queue, std::move(work) });
                return;
            }
            ++m_running;
        }
        start(queue, std::move(work));
    }

private:
    struct Item {
        std::shared_ptr<platform::DispatchQueue> queue;
        std::function<void()> work;
    };

    void start(const std::shared_ptr<platform::DispatchQueue>& queue, std::function<void()> work)
    {
        queue->async([this, work = std::move(work)] {
            work();
            finished();
        });
    }

    void finished()
    {
        Item next;
        {
            std::lock_guard lock(m_mutex);
            if (m_waiting.empty()) {
                --m_running;
                return;
            }
            next = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        start(next.queue, std::move(next.work));
    }

    const int m_width;
    std::mutex m_mutex;
    int m_running = 0;
    std::deque<Item> m_waiting;
};

Lanes& localFileLanes()
{
    // Never destroyed: work may still be queued while static objects are torn down at exit.
    static Lanes* lanes = new Lanes(2 * std::max(1, QThread::idealThreadCount()));
    return *lanes;
}

} // namespace

void LocalFileImageDataProvider::data(ProviderDataHandler handler) const
{
    dataUnlessCancelled(std::move(handler), {});
}

void LocalFileImageDataProvider::dataUnlessCancelled(
    ProviderDataHandler handler, std::function<bool()> cancelled) const
{
    // Asked when the read's turn comes: a grid scrolled past queues many reads that nobody waits for
    // by then.
    auto work = [url = m_fileURL, maximum = m_maximumFileSizeBytes, handler = std::move(handler),
                    cancelled = std::move(cancelled)] {
        if (cancelled && cancelled()) {
            handler(ProviderDataResult::failure(
                platform::PlatformError::fromErrno(ECANCELED, url.toLocalFile())));
            return;
        }
        handler(dataWithContentsOfURL(url, maximum));
    };
    if (deliversOnConcurrentQueue())
        localFileLanes().run(m_loadingQueue.queue(), std::move(work));
    else
        runCallback(m_loadingQueue, std::move(work));
}

bool LocalFileImageDataProvider::deliversOnConcurrentQueue() const
{
    return m_loadingQueue.kind() == CallbackQueue::Kind::dispatch && m_loadingQueue.queue()
        && !m_loadingQueue.queue()->isSerial();
}

void MemoryTierReservation::release()
{
    if (std::function<void()> giveBack = std::exchange(m_giveBack, nullptr))
        giveBack();
}

std::shared_ptr<MemoryTierReservation> decodeAheadForProcessing(const ImageDataProvider& provider,
    const QByteArray& data, const IrisParsedOptionsInfo& options, const ImageCache& targetCache)
{
    if (!provider.deliversOnConcurrentQueue()
        || !dynamic_cast<const DefaultImageProcessor*>(options.processor.get()))
        return nullptr;
    // The default processor decodes GIF data as an animation, not through the still-image path
    // that takes images decoded ahead.
    if (detectImageFormat(data) == ImageFormat::GIF)
        return nullptr;
    const auto& memory = targetCache.memoryStorage();
    std::shared_ptr<MemoryTierReservation> reservation;
    const bool decoded = platform::decodeAhead::decode(data, [&](qint64 imageBytes) {
        if (!memory->reserve(imageBytes))
            return false;
        reservation = std::make_shared<MemoryTierReservation>(
            [memory, imageBytes] { memory->releaseReservation(imageBytes); });
        return true;
    });
    return decoded ? reservation : nullptr;
}

std::optional<QByteArray> decodeBase64Strictly(const QString& text)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static const std::array<int, 128> values = [] {
        std::array<int, 128> table {};
        table.fill(-1);
        for (int index = 0; index < 64; ++index)
            table[static_cast<unsigned char>(alphabet[index])] = index;
        return table;
    }();

    if (text.size() % 4 != 0)
        return std::nullopt;
    qsizetype padding = 0;
    if (text.endsWith(QLatin1String("==")))
        padding = 2;
    else if (text.endsWith(QLatin1Char('=')))
        padding = 1;

    QByteArray bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (qsizetype index = 0; index < text.size() - padding; ++index) {
        const char16_t character = text[index].unicode();
        const int value = character < 128 ? values[character] : -1;
        if (value < 0)
            return std::nullopt;
        buffer = (buffer << 6) | std::uint32_t(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.append(char((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

Base64ImageDataProvider::Base64ImageDataProvider(QString base64String, QString cacheKey)
    : m_base64String(std::move(base64String))
    , m_cacheKey(std::move(cacheKey))
{
}

void Base64ImageDataProvider::data(ProviderDataHandler handler) const
{
    if (std::optional<QByteArray> bytes = decodeBase64Strictly(m_base64String)) {
        handler(ProviderDataResult::success(std::move(*bytes)));
        return;
    }
    // Without an answer here the retrieval waiting on this provider would never end.
    handler(ProviderDataResult::failure(
        { errorDomain(), 1, QStringLiteral("The Base64 text cannot be decoded."), nullptr }));
}

RawImageDataProvider::RawImageDataProvider(QByteArray data, QString cacheKey)
    : m_data(std::move(data))
    , m_cacheKey(std::move(cacheKey))
{
}

void RawImageDataProvider::data(ProviderDataHandler handler) const
{
    handler(ProviderDataResult::success(m_data));
}

} // namespace iris
