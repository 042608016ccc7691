#include "Iris/general/IrisOptionsInfo.h"

namespace iris {

namespace {

template<typename T> T payloadOf(const IrisOptionsInfoItem& item)
{
    return std::any_cast<T>(item.payload());
}

template<typename T> std::shared_ptr<T> pointerOf(const IrisOptionsInfoItem& item)
{
    return std::any_cast<std::shared_ptr<T>>(item.payload());
}

void apply(IrisParsedOptionsInfo& options, const IrisOptionsInfoItem& item)
{
    using Kind = IrisOptionsInfoItem::Kind;
    switch (item.kind()) {
    case Kind::targetCache:
        options.targetCache = pointerOf<ImageCache>(item);
        break;
    case Kind::originalCache:
        options.originalCache = pointerOf<ImageCache>(item);
        break;
    case Kind::downloader:
        options.downloader = pointerOf<ImageDownloader>(item);
        break;
    case Kind::transition:
        options.transition = pointerOf<const ImageTransition>(item);
        break;
    case Kind::downloadPriority:
        options.downloadPriority = payloadOf<float>(item);
        break;
    case Kind::callbackQueue:
        options.callbackQueue = payloadOf<CallbackQueue>(item);
        break;
    case Kind::scaleFactor:
        options.scaleFactor = payloadOf<double>(item);
        break;
    case Kind::requestModifier:
        options.requestModifier = pointerOf<const AsyncImageDownloadRequestModifier>(item);
        break;
    case Kind::redirectHandler:
        options.redirectHandler = pointerOf<const ImageDownloadRedirectHandler>(item);
        break;
    // A null processor or serializer stands for the default one, and replaces an earlier choice like
    // any later item would.
    case Kind::processor:
        options.processor = pointerOf<const ImageProcessor>(item);
        if (!options.processor)
            options.processor = DefaultImageProcessor::shared();
        break;
    case Kind::cacheSerializer:
        options.cacheSerializer = pointerOf<const CacheSerializer>(item);
        if (!options.cacheSerializer)
            options.cacheSerializer = DefaultCacheSerializer::shared();
        break;
    case Kind::imageModifier:
        options.imageModifier = pointerOf<const ImageModifier>(item);
        break;
    case Kind::onFailureImage:
        options.onFailureImage = pointerOf<platform::Image>(item);
        break;
    case Kind::diskStoreWriteOptions:
        options.diskStoreWriteOptions = payloadOf<DataWritingOptions>(item);
        break;
    case Kind::memoryCacheExpiration:
        options.memoryCacheExpiration = payloadOf<StorageExpiration>(item);
        break;
    case Kind::memoryCacheAccessExtendingExpiration:
        options.memoryCacheAccessExtendingExpiration = payloadOf<ExpirationExtending>(item);
        break;
    case Kind::diskCacheExpiration:
        options.diskCacheExpiration = payloadOf<StorageExpiration>(item);
        break;
    case Kind::diskCacheAccessExtendingExpiration:
        options.diskCacheAccessExtendingExpiration = payloadOf<ExpirationExtending>(item);
        break;
    case Kind::processingQueue:
        options.processingQueue = payloadOf<CallbackQueue>(item);
        break;
    case Kind::progressiveJPEG:
        options.progressiveJPEG = pointerOf<const ImageProgressive>(item);
        break;
    case Kind::alternativeSources:
        options.alternativeSources = payloadOf<std::vector<Source>>(item);
        break;
    case Kind::retryStrategy:
        options.retryStrategy = pointerOf<const RetryStrategy>(item);
        break;
    case Kind::lowDataMode:
        options.lowDataModeSource = payloadOf<std::optional<Source>>(item);
        break;
    case Kind::forceRefresh:
        options.forceRefresh = true;
        break;
    case Kind::fromMemoryCacheOrRefresh:
        options.fromMemoryCacheOrRefresh = true;
        break;
    case Kind::forceTransition:
        options.forceTransition = true;
        break;
    case Kind::cacheMemoryOnly:
        options.cacheMemoryOnly = true;
        break;
    case Kind::waitForCache:
        options.waitForCache = true;
        break;
    case Kind::onlyFromCache:
        options.onlyFromCache = true;
        break;
    case Kind::backgroundDecode:
        options.backgroundDecode = true;
        break;
    case Kind::preloadAllAnimationData:
        options.preloadAllAnimationData = true;
        break;
    case Kind::keepCurrentImageWhileLoading:
        options.keepCurrentImageWhileLoading = true;
        break;
    case Kind::onlyLoadFirstFrame:
        options.onlyLoadFirstFrame = true;
        break;
    case Kind::cacheOriginalImage:
        options.cacheOriginalImage = true;
        break;
    case Kind::alsoPrefetchToMemory:
        options.alsoPrefetchToMemory = true;
        break;
    case Kind::loadDiskFileSynchronously:
        options.loadDiskFileSynchronously = true;
        break;
    }
}

} // namespace

IrisOptionsInfoItem IrisOptionsInfoItem::flag(Kind kind)
{
    return IrisOptionsInfoItem(kind, std::any());
}

IrisParsedOptionsInfo::IrisParsedOptionsInfo(const std::optional<IrisOptionsInfo>& items)
{
    if (!items)
        return;
    for (const IrisOptionsInfoItem& item : *items)
        apply(*this, item);
    if (!originalCache)
        originalCache = targetCache;
}

} // namespace iris
