#pragma once

#include "Iris/cache/CacheFileSystem.h"
#include "Iris/cache/CacheSerializer.h"
#include "Iris/cache/StorageExpiration.h"
#include "Iris/general/Source.h"
#include "Iris/image/ImageProcessor.h"
#include "Iris/utility/CallbackQueue.h"

#include <any>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class Image;
}

namespace iris {

class AsyncImageDownloadRequestModifier;
class DataReceivingSideEffect;
class ImageCache;
class ImageDownloader;
class ImageDownloadRedirectHandler;
class ImageModifier;
class ImageProgressive;
struct ImageTransition;
class RetryStrategy;

// The download priority a new data task gets unless the options say otherwise.
inline constexpr float defaultDownloadPriority = 0.5f;

// One retrieval option, as callers list them. Each item writes the parsed field of the same name
// (`lowDataMode` writes `lowDataModeSource`); flag items only ever turn their flag on.
class IrisOptionsInfoItem {
public:
    enum class Kind {
        targetCache,
        originalCache,
        downloader,
        transition,
        downloadPriority,
        callbackQueue,
        scaleFactor,
        requestModifier,
        redirectHandler,
        processor,
        cacheSerializer,
        imageModifier,
        onFailureImage,
        diskStoreWriteOptions,
        memoryCacheExpiration,
        memoryCacheAccessExtendingExpiration,
        diskCacheExpiration,
        diskCacheAccessExtendingExpiration,
        processingQueue,
        progressiveJPEG,
        alternativeSources,
        retryStrategy,
        lowDataMode,
        forceRefresh,
        fromMemoryCacheOrRefresh,
        forceTransition,
        cacheMemoryOnly,
        waitForCache,
        onlyFromCache,
        backgroundDecode,
        preloadAllAnimationData,
        keepCurrentImageWhileLoading,
        onlyLoadFirstFrame,
        cacheOriginalImage,
        alsoPrefetchToMemory,
        loadDiskFileSynchronously,
    };

    static IrisOptionsInfoItem targetCache(std::shared_ptr<ImageCache> cache)
    {
        return { Kind::targetCache, cache };
    }
    static IrisOptionsInfoItem originalCache(std::shared_ptr<ImageCache> cache)
    {
        return { Kind::originalCache, cache };
    }
    static IrisOptionsInfoItem downloader(std::shared_ptr<ImageDownloader> downloader)
    {
        return { Kind::downloader, downloader };
    }
    static IrisOptionsInfoItem transition(std::shared_ptr<const ImageTransition> transition)
    {
        return { Kind::transition, transition };
    }
    static IrisOptionsInfoItem downloadPriority(float priority)
    {
        return { Kind::downloadPriority, priority };
    }
    static IrisOptionsInfoItem callbackQueue(CallbackQueue queue) { return { Kind::callbackQueue, queue }; }
    static IrisOptionsInfoItem scaleFactor(double scale) { return { Kind::scaleFactor, scale }; }
    static IrisOptionsInfoItem requestModifier(
        std::shared_ptr<const AsyncImageDownloadRequestModifier> modifier)
    {
        return { Kind::requestModifier, modifier };
    }
    static IrisOptionsInfoItem redirectHandler(std::shared_ptr<const ImageDownloadRedirectHandler> handler)
    {
        return { Kind::redirectHandler, handler };
    }
    static IrisOptionsInfoItem processor(std::shared_ptr<const ImageProcessor> processor)
    {
        return { Kind::processor, processor };
    }
    static IrisOptionsInfoItem cacheSerializer(std::shared_ptr<const CacheSerializer> serializer)
    {
        return { Kind::cacheSerializer, serializer };
    }
    static IrisOptionsInfoItem imageModifier(std::shared_ptr<const ImageModifier> modifier)
    {
        return { Kind::imageModifier, modifier };
    }
    // A null image sets the field to "no image", which differs from leaving it unset.
    static IrisOptionsInfoItem onFailureImage(std::shared_ptr<platform::Image> image)
    {
        return { Kind::onFailureImage, image };
    }
    static IrisOptionsInfoItem diskStoreWriteOptions(DataWritingOptions options)
    {
        return { Kind::diskStoreWriteOptions, options };
    }
    static IrisOptionsInfoItem memoryCacheExpiration(StorageExpiration expiration)
    {
        return { Kind::memoryCacheExpiration, expiration };
    }
    static IrisOptionsInfoItem memoryCacheAccessExtendingExpiration(ExpirationExtending extending)
    {
        return { Kind::memoryCacheAccessExtendingExpiration, extending };
    }
    static IrisOptionsInfoItem diskCacheExpiration(StorageExpiration expiration)
    {
        return { Kind::diskCacheExpiration, expiration };
    }
    static IrisOptionsInfoItem diskCacheAccessExtendingExpiration(ExpirationExtending extending)
    {
        return { Kind::diskCacheAccessExtendingExpiration, extending };
    }
    static IrisOptionsInfoItem processingQueue(CallbackQueue queue)
    {
        return { Kind::processingQueue, queue };
    }
    static IrisOptionsInfoItem progressiveJPEG(std::shared_ptr<const ImageProgressive> progressive)
    {
        return { Kind::progressiveJPEG, progressive };
    }
    static IrisOptionsInfoItem alternativeSources(std::vector<Source> sources)
    {
        return { Kind::alternativeSources, std::move(sources) };
    }
    static IrisOptionsInfoItem retryStrategy(std::shared_ptr<const RetryStrategy> strategy)
    {
        return { Kind::retryStrategy, strategy };
    }
    static IrisOptionsInfoItem lowDataMode(std::optional<Source> source)
    {
        return { Kind::lowDataMode, source };
    }
    static IrisOptionsInfoItem forceRefresh() { return flag(Kind::forceRefresh); }
    static IrisOptionsInfoItem fromMemoryCacheOrRefresh() { return flag(Kind::fromMemoryCacheOrRefresh); }
    static IrisOptionsInfoItem forceTransition() { return flag(Kind::forceTransition); }
    static IrisOptionsInfoItem cacheMemoryOnly() { return flag(Kind::cacheMemoryOnly); }
    static IrisOptionsInfoItem waitForCache() { return flag(Kind::waitForCache); }
    static IrisOptionsInfoItem onlyFromCache() { return flag(Kind::onlyFromCache); }
    static IrisOptionsInfoItem backgroundDecode() { return flag(Kind::backgroundDecode); }
    static IrisOptionsInfoItem preloadAllAnimationData() { return flag(Kind::preloadAllAnimationData); }
    static IrisOptionsInfoItem keepCurrentImageWhileLoading()
    {
        return flag(Kind::keepCurrentImageWhileLoading);
    }
    static IrisOptionsInfoItem onlyLoadFirstFrame() { return flag(Kind::onlyLoadFirstFrame); }
    static IrisOptionsInfoItem cacheOriginalImage() { return flag(Kind::cacheOriginalImage); }
    static IrisOptionsInfoItem alsoPrefetchToMemory() { return flag(Kind::alsoPrefetchToMemory); }
    static IrisOptionsInfoItem loadDiskFileSynchronously() { return flag(Kind::loadDiskFileSynchronously); }

    Kind kind() const { return m_kind; }
    // The payload as the factory stored it (empty for flags).
    const std::any& payload() const { return m_payload; }

private:
    // Flags are made only through their named factories above, so no payload kind is ever made
    // without its payload.
    static IrisOptionsInfoItem flag(Kind kind);

    IrisOptionsInfoItem(Kind kind, std::any payload)
        : m_kind(kind)
        , m_payload(std::move(payload))
    {
    }

    Kind m_kind;
    std::any m_payload;
};

using IrisOptionsInfo = std::vector<IrisOptionsInfoItem>;

// The retrieval options in parsed form, passed by value through the whole image library. Every
// field may be changed after parsing; nothing is derived again.
struct IrisParsedOptionsInfo {
    // All defaults, then each item in list order: a later item for the same field wins. After the
    // walk an absent `originalCache` becomes `targetCache`.
    IrisParsedOptionsInfo() = default;
    explicit IrisParsedOptionsInfo(const std::optional<IrisOptionsInfo>& items);

    std::shared_ptr<ImageCache> targetCache;
    std::shared_ptr<ImageCache> originalCache;
    std::shared_ptr<ImageDownloader> downloader;
    // Null means no transition.
    std::shared_ptr<const ImageTransition> transition;
    float downloadPriority = defaultDownloadPriority;
    bool forceRefresh = false;
    bool fromMemoryCacheOrRefresh = false;
    bool forceTransition = false;
    bool cacheMemoryOnly = false;
    bool waitForCache = false;
    bool onlyFromCache = false;
    bool backgroundDecode = false;
    bool preloadAllAnimationData = false;
    CallbackQueue callbackQueue = CallbackQueue::mainCurrentOrAsync();
    double scaleFactor = 1.0;
    std::shared_ptr<const AsyncImageDownloadRequestModifier> requestModifier;
    std::shared_ptr<const ImageDownloadRedirectHandler> redirectHandler;
    // Never null: the shared default processor unless an item chose another.
    ImageProcessorPtr processor = DefaultImageProcessor::shared();
    std::shared_ptr<const ImageModifier> imageModifier;
    // Never null: a default serializer (quality 1.0, not preferring the original) unless an item chose
    // another.
    CacheSerializerPtr cacheSerializer = DefaultCacheSerializer::shared();
    bool keepCurrentImageWhileLoading = false;
    bool onlyLoadFirstFrame = false;
    bool cacheOriginalImage = false;
    // Unset, or set to an image or to no image (null).
    std::optional<std::shared_ptr<platform::Image>> onFailureImage;
    bool alsoPrefetchToMemory = false;
    bool loadDiskFileSynchronously = false;
    DataWritingOptions diskStoreWriteOptions;
    std::optional<StorageExpiration> memoryCacheExpiration;
    ExpirationExtending memoryCacheAccessExtendingExpiration = ExpirationExtending::cacheTime();
    std::optional<StorageExpiration> diskCacheExpiration;
    ExpirationExtending diskCacheAccessExtendingExpiration = ExpirationExtending::cacheTime();
    std::optional<CallbackQueue> processingQueue;
    std::shared_ptr<const ImageProgressive> progressiveJPEG;
    std::optional<std::vector<Source>> alternativeSources;
    std::shared_ptr<const RetryStrategy> retryStrategy;
    std::optional<Source> lowDataModeSource;
    // Filled only by code, never by an item.
    std::optional<std::vector<std::shared_ptr<DataReceivingSideEffect>>> onDataReceived;
};

} // namespace iris
