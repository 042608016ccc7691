#pragma once

#include "Iris/cache/CacheFileSystem.h"
#include "Iris/cache/CacheSerializer.h"
#include "Iris/cache/StorageExpiration.h"
#include "Iris/image/ImageProcessor.h"
#include "Iris/utility/CallbackQueue.h"

#include <memory>
#include <optional>

namespace platform {
class Image;
}

namespace iris {

class ImageCache;
class ImageDownloader;

// The parsed retrieval options, passed by value through the whole pipeline. Every field starts at
// its default.
//
// The fields whose types belong to the downloader, the transitions, the progressive loader, the
// retry strategy, the modifiers and the sources join this record together with those types.
struct IrisParsedOptionsInfo {
    std::shared_ptr<ImageCache> targetCache; // null: the retrieval manager's cache
    std::shared_ptr<ImageCache> originalCache; // null: the target cache
    std::shared_ptr<ImageDownloader> downloader; // null: the retrieval manager's downloader
    float downloadPriority = 0.5f;
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
    ImageProcessorPtr processor = DefaultImageProcessor::shared();
    CacheSerializerPtr cacheSerializer = DefaultCacheSerializer::shared();
    bool keepCurrentImageWhileLoading = false;
    bool onlyLoadFirstFrame = false;
    bool cacheOriginalImage = false;
    // Unset, or set holding an image or no image.
    std::optional<std::shared_ptr<platform::Image>> onFailureImage;
    bool alsoPrefetchToMemory = false;
    bool loadDiskFileSynchronously = false;
    DataWritingOptions diskStoreWriteOptions;
    std::optional<StorageExpiration> memoryCacheExpiration;
    ExpirationExtending memoryCacheAccessExtendingExpiration = ExpirationExtending::cacheTime();
    std::optional<StorageExpiration> diskCacheExpiration;
    ExpirationExtending diskCacheAccessExtendingExpiration = ExpirationExtending::cacheTime();
    std::optional<CallbackQueue> processingQueue; // absent: the retrieval manager's queue
};

} // namespace iris
