#pragma once

#include "Iris/utility/CallbackQueue.h"

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace iris {

using ProviderDataResult = platform::Result<QByteArray, platform::PlatformError>;
using ProviderDataHandler = std::function<void(ProviderDataResult)>;

// Produces the encoded bytes of an image that does not come from the network.
class ImageDataProvider {
public:
    virtual ~ImageDataProvider() = default;

    virtual QString cacheKey() const = 0;
    // Calls `handler` exactly once with the bytes or the reason there are none.
    virtual void data(ProviderDataHandler handler) const = 0;
    // The same for a read that may be called off: a provider whose read waits its turn asks
    // `cancelled` before starting it and, when it answers true, calls back with a failure instead of
    // reading. The others read as `data` does.
    virtual void dataUnlessCancelled(ProviderDataHandler handler, std::function<bool()> cancelled) const
    {
        (void)cancelled;
        data(std::move(handler));
    }
    virtual std::optional<QUrl> contentURL() const { return std::nullopt; }
    virtual QString description() const;
    // Whether `data` calls back on a concurrent queue, where more work on the bytes overlaps with
    // the work on other images.
    virtual bool deliversOnConcurrentQueue() const { return false; }
};

// Files larger than this are refused rather than read whole into memory.
inline constexpr std::int64_t maximumProviderFileSizeBytes = std::int64_t(256) * 1024 * 1024;

// Reads the whole file at a file URL. Only regular files of at most `maximumSizeBytes` are read: a
// FIFO or a device would block the reading thread or never end.
ProviderDataResult dataWithContentsOfURL(
    const QUrl& url, std::int64_t maximumSizeBytes = maximumProviderFileSizeBytes);

class LocalFileImageDataProvider final : public ImageDataProvider {
public:
    // Without a key the file's local-file cache key is used.
    LocalFileImageDataProvider(QUrl fileURL, std::optional<QString> cacheKey = std::nullopt,
        CallbackQueue loadingQueue = defaultLoadingQueue());

    static CallbackQueue defaultLoadingQueue();

    const QUrl& fileURL() const { return m_fileURL; }
    const CallbackQueue& loadingQueue() const { return m_loadingQueue; }
    QString cacheKey() const override { return m_cacheKey; }
    void setCacheKey(QString key) { m_cacheKey = std::move(key); }
    std::optional<QUrl> contentURL() const override { return m_fileURL; }

    // Reads on the loading queue and calls back there, after this has returned. On a concurrent
    // queue, the reads (and the handlers, which decode there) of all local files together run on
    // at most two threads a core; the rest wait their turn in order.
    void data(ProviderDataHandler handler) const override;
    // A read called off before its turn comes fails with ECANCELED without touching the file.
    void dataUnlessCancelled(ProviderDataHandler handler, std::function<bool()> cancelled) const override;
    bool deliversOnConcurrentQueue() const override;

    // Files above this size are refused; the cap exists for tests to lower.
    void setMaximumFileSizeBytes(std::int64_t bytes) { m_maximumFileSizeBytes = bytes; }

private:
    QUrl m_fileURL;
    CallbackQueue m_loadingQueue;
    QString m_cacheKey;
    std::int64_t m_maximumFileSizeBytes = maximumProviderFileSizeBytes;
};

class Base64ImageDataProvider final : public ImageDataProvider {
public:
    Base64ImageDataProvider(QString base64String, QString cacheKey);

    const QString& base64String() const { return m_base64String; }
    QString cacheKey() const override { return m_cacheKey; }
    void setCacheKey(QString key) { m_cacheKey = std::move(key); }

    // Strict standard Base64: any character outside the alphabet, white space included, fails.
    // Calls back at once, on the calling thread.
    void data(ProviderDataHandler handler) const override;

    static QString errorDomain() { return QStringLiteral("Iris.Base64ImageDataProvider"); }

private:
    QString m_base64String;
    QString m_cacheKey;
};

class RawImageDataProvider final : public ImageDataProvider {
public:
    RawImageDataProvider(QByteArray data, QString cacheKey);

    const QByteArray& rawData() const { return m_data; }
    QString cacheKey() const override { return m_cacheKey; }
    void setCacheKey(QString key) { m_cacheKey = std::move(key); }

    // Calls back at once with the bytes, on the calling thread; never fails.
    void data(ProviderDataHandler handler) const override;

private:
    QByteArray m_data;
    QString m_cacheKey;
};

class ImageCache;
struct IrisParsedOptionsInfo;

// The share of a memory tier's cost limit held for an image decoded ahead, from before its decoding
// until it is stored in the tier (or dropped). Given back by `release` or on destruction.
class MemoryTierReservation {
public:
    explicit MemoryTierReservation(std::function<void()> giveBack)
        : m_giveBack(std::move(giveBack))
    {
    }
    ~MemoryTierReservation() { release(); }
    MemoryTierReservation(const MemoryTierReservation&) = delete;
    MemoryTierReservation& operator=(const MemoryTierReservation&) = delete;

    void release();

private:
    std::function<void()> m_giveBack;
};

// Called where a provider's bytes arrive, before they go to the serial processing queue: when the
// provider delivers on a concurrent queue and the processor is the default one, decodes the image
// there and then (platform/graphics/DecodeAhead.h), so that independent images decode in parallel
// and the processor finds its image made. Its bytes are first held in the memory tier of the cache
// the image is headed for, the least recently used images there making room, so that what the tier
// stores and the images on their way into it stay within its limit together: the caller keeps the
// returned reservation until the image is stored. Null when nothing was decoded.
std::shared_ptr<MemoryTierReservation> decodeAheadForProcessing(const ImageDataProvider& provider,
    const QByteArray& data, const IrisParsedOptionsInfo& options, const ImageCache& targetCache);

// Strict RFC 4648 Base64 without options: nothing when `text` is not exactly such text.
std::optional<QByteArray> decodeBase64Strictly(const QString& text);

} // namespace iris
