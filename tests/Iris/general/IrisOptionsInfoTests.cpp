#include "Iris/general/IrisOptionsInfo.h"

#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/general/ImageDataProvider.h"
#include "Iris/general/RetryStrategy.h"
#include "Iris/networking/ImageDownloader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace iris;
using Item = IrisOptionsInfoItem;

namespace {

class NeverRetry final : public RetryStrategy {
public:
    void retry(const std::shared_ptr<RetryContext>&, RetryHandler handler) const override
    {
        handler(RetryDecision::stop());
    }
};

Source rawSource(const QString& key)
{
    return Source::makeProvider(RawImageDataProvider(QByteArray("x"), key));
}

} // namespace

TEST(IrisParsedOptionsInfo, AbsentAndEmptyListsGiveTheDefaults)
{
    for (const IrisParsedOptionsInfo& options :
        { IrisParsedOptionsInfo(std::nullopt), IrisParsedOptionsInfo(IrisOptionsInfo {}) }) {
        EXPECT_FALSE(options.targetCache);
        EXPECT_FALSE(options.originalCache);
        EXPECT_FALSE(options.downloader);
        EXPECT_FALSE(options.transition);
        EXPECT_FLOAT_EQ(options.downloadPriority, 0.5f);
        EXPECT_EQ(options.callbackQueue.kind(), CallbackQueue::Kind::mainCurrentOrAsync);
        EXPECT_EQ(options.scaleFactor, 1.0);
        ASSERT_TRUE(options.processor);
        EXPECT_EQ(options.processor->identifier(), QString());
        EXPECT_EQ(options.processor, DefaultImageProcessor::shared());
        auto serializer = std::dynamic_pointer_cast<const DefaultCacheSerializer>(options.cacheSerializer);
        ASSERT_TRUE(serializer);
        EXPECT_EQ(serializer->compressionQuality, 1.0);
        EXPECT_FALSE(serializer->preferCacheOriginalData);
        EXPECT_FALSE(options.onFailureImage.has_value());
        EXPECT_EQ(options.memoryCacheAccessExtendingExpiration.kind(), ExpirationExtending::Kind::cacheTime);
        EXPECT_EQ(options.diskCacheAccessExtendingExpiration.kind(), ExpirationExtending::Kind::cacheTime);
        EXPECT_FALSE(options.memoryCacheExpiration || options.diskCacheExpiration || options.processingQueue);
        EXPECT_FALSE(options.alternativeSources || options.lowDataModeSource || options.onDataReceived);
        EXPECT_FALSE(options.retryStrategy || options.progressiveJPEG || options.imageModifier);
        EXPECT_FALSE(options.forceRefresh || options.fromMemoryCacheOrRefresh || options.forceTransition
            || options.cacheMemoryOnly || options.waitForCache || options.onlyFromCache
            || options.backgroundDecode || options.preloadAllAnimationData
            || options.keepCurrentImageWhileLoading || options.onlyLoadFirstFrame
            || options.cacheOriginalImage || options.alsoPrefetchToMemory
            || options.loadDiskFileSynchronously);
    }
}

// A payload kind can only be made by its own factory, with its payload: no item without one can
// reach the parser and fail there.
template<typename T>
concept MakesAnyKindWithoutPayload = requires(typename T::Kind kind)
{
    T::flag(kind);
};
static_assert(!MakesAnyKindWithoutPayload<Item>);

// Each flag item turns on its own field and no other.
TEST(IrisParsedOptionsInfo, EachFlagWritesItsOwnField)
{
    const std::pair<Item (*)(), bool IrisParsedOptionsInfo::*> flags[] = {
        { &Item::forceRefresh, &IrisParsedOptionsInfo::forceRefresh },
        { &Item::fromMemoryCacheOrRefresh, &IrisParsedOptionsInfo::fromMemoryCacheOrRefresh },
        { &Item::forceTransition, &IrisParsedOptionsInfo::forceTransition },
        { &Item::cacheMemoryOnly, &IrisParsedOptionsInfo::cacheMemoryOnly },
        { &Item::waitForCache, &IrisParsedOptionsInfo::waitForCache },
        { &Item::onlyFromCache, &IrisParsedOptionsInfo::onlyFromCache },
        { &Item::backgroundDecode, &IrisParsedOptionsInfo::backgroundDecode },
        { &Item::preloadAllAnimationData, &IrisParsedOptionsInfo::preloadAllAnimationData },
        { &Item::keepCurrentImageWhileLoading, &IrisParsedOptionsInfo::keepCurrentImageWhileLoading },
        { &Item::onlyLoadFirstFrame, &IrisParsedOptionsInfo::onlyLoadFirstFrame },
        { &Item::cacheOriginalImage, &IrisParsedOptionsInfo::cacheOriginalImage },
        { &Item::alsoPrefetchToMemory, &IrisParsedOptionsInfo::alsoPrefetchToMemory },
        { &Item::loadDiskFileSynchronously, &IrisParsedOptionsInfo::loadDiskFileSynchronously },
    };
    for (const auto& [make, field] : flags) {
        IrisParsedOptionsInfo options(IrisOptionsInfo { make(), make() });
        for (const auto& [otherMake, otherField] : flags)
            EXPECT_EQ(options.*otherField, otherField == field);
    }
}

TEST(IrisParsedOptionsInfo, LaterItemsWinAndPayloadsLandInTheirFields)
{
    auto first = std::make_shared<GeneralProcessor>("first", nullptr);
    auto second = std::make_shared<GeneralProcessor>("second", nullptr);
    auto downloader = std::make_shared<ImageDownloader>("d");
    auto queue = platform::DispatchQueue::makeSerial("options-test");
    auto strategy = std::make_shared<NeverRetry>();
    IrisParsedOptionsInfo options(IrisOptionsInfo {
        Item::processor(first),
        Item::scaleFactor(3),
        Item::downloader(downloader),
        Item::callbackQueue(CallbackQueue::untouch()),
        Item::processor(second),
        Item::scaleFactor(2),
        Item::callbackQueue(CallbackQueue::dispatch(queue)),
        Item::processingQueue(CallbackQueue::mainAsync()),
        Item::downloadPriority(0.9f),
        Item::diskCacheExpiration(StorageExpiration::days(2)),
        Item::memoryCacheAccessExtendingExpiration(ExpirationExtending::none()),
        Item::alternativeSources({ rawSource("a"), rawSource("b") }),
        Item::retryStrategy(strategy),
        Item::onFailureImage(nullptr),
    });
    EXPECT_EQ(options.processor->identifier(), "second");
    EXPECT_EQ(options.scaleFactor, 2.0);
    EXPECT_EQ(options.downloader, downloader);
    EXPECT_EQ(options.callbackQueue.queue(), queue);
    EXPECT_EQ(options.processingQueue->kind(), CallbackQueue::Kind::mainAsync);
    EXPECT_FLOAT_EQ(options.downloadPriority, 0.9f);
    EXPECT_EQ(options.diskCacheExpiration->kind(), StorageExpiration::Kind::days);
    EXPECT_EQ(options.memoryCacheAccessExtendingExpiration.kind(), ExpirationExtending::Kind::none);
    ASSERT_TRUE(options.alternativeSources);
    EXPECT_EQ(options.alternativeSources->size(), 2u);
    EXPECT_EQ((*options.alternativeSources)[1].cacheKey(), "b");
    EXPECT_EQ(options.retryStrategy, strategy);
    // Set to "no image", which is not the same as unset.
    ASSERT_TRUE(options.onFailureImage.has_value());
    EXPECT_FALSE(*options.onFailureImage);
    EXPECT_FALSE(options.onDataReceived);
}

TEST(IrisParsedOptionsInfo, LowDataModeFillsLowDataModeSource)
{
    IrisParsedOptionsInfo options(IrisOptionsInfo { Item::lowDataMode(rawSource("small")) });
    ASSERT_TRUE(options.lowDataModeSource);
    EXPECT_EQ(options.lowDataModeSource->cacheKey(), "small");

    IrisParsedOptionsInfo cleared(
        IrisOptionsInfo { Item::lowDataMode(rawSource("small")), Item::lowDataMode(std::nullopt) });
    EXPECT_FALSE(cleared.lowDataModeSource);
}

TEST(IrisParsedOptionsInfo, OriginalCacheFollowsTargetCacheOnlyWhenUnset)
{
    // The caches are only compared by identity here; no cache is ever used.
    auto a = std::shared_ptr<ImageCache>(reinterpret_cast<ImageCache*>(0x10), [](ImageCache*) {});
    auto b = std::shared_ptr<ImageCache>(reinterpret_cast<ImageCache*>(0x20), [](ImageCache*) {});
    IrisParsedOptionsInfo onlyTarget(IrisOptionsInfo { Item::targetCache(a) });
    EXPECT_EQ(onlyTarget.targetCache, a);
    EXPECT_EQ(onlyTarget.originalCache, a);
    for (const IrisOptionsInfo& items : { IrisOptionsInfo { Item::originalCache(b), Item::targetCache(a) },
             IrisOptionsInfo { Item::targetCache(a), Item::originalCache(b) } }) {
        IrisParsedOptionsInfo both(items);
        EXPECT_EQ(both.targetCache, a);
        EXPECT_EQ(both.originalCache, b);
    }
}

TEST(ImageLoadingProgressSideEffect, ReportsAccumulatedBytesOnTheMainQueue)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    std::atomic<bool> onMain { true };
    auto effect
        = std::make_shared<ImageLoadingProgressSideEffect>([&](std::int64_t received, std::int64_t total) {
              onMain = onMain && testsupport::isMainThread();
              reports.emplace_back(received, total);
          });
    auto pool = platform::DispatchQueue::makeSerial("progress-test");
    pool->sync([&] {
        effect->reportReceivedData(nullptr, nullptr, "ab", 2, -1); // unknown length: nothing
        effect->reportReceivedData(nullptr, nullptr, "ab", 2, 6);
        effect->reportReceivedData(nullptr, nullptr, "cd", 4, 6);
        effect->reportReceivedData(nullptr, nullptr, "", 0, 0);
    });
    effect->setOnShouldApply([] { return false; });
    effect->reportReceivedData(nullptr, nullptr, "ef", 6, 6);
    ASSERT_TRUE(testsupport::waitUntil([&] { return reports.size() >= 3; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], std::make_pair(std::int64_t(2), std::int64_t(6)));
    EXPECT_EQ(reports[1], std::make_pair(std::int64_t(4), std::int64_t(6)));
    EXPECT_EQ(reports[2], std::make_pair(std::int64_t(0), std::int64_t(0)));
    EXPECT_TRUE(onMain);
}

// A null processor or serializer stands for the default one, so given after another it replaces
// that one like any later item: the retrieval does not keep running the earlier choice.
TEST(IrisParsedOptionsInfo, ANullProcessorOrSerializerGivenLaterRestoresTheDefault)
{
    auto chosen = std::make_shared<GeneralProcessor>("chosen", nullptr);
    auto serializer = std::make_shared<DefaultCacheSerializer>();
    IrisParsedOptionsInfo options(IrisOptionsInfo { Item::processor(chosen),
        Item::cacheSerializer(serializer), Item::processor(nullptr), Item::cacheSerializer(nullptr) });
    EXPECT_EQ(options.processor, DefaultImageProcessor::shared());
    EXPECT_EQ(options.cacheSerializer, DefaultCacheSerializer::shared());

    IrisParsedOptionsInfo onlyNull(IrisOptionsInfo { Item::processor(nullptr) });
    EXPECT_EQ(onlyNull.processor, DefaultImageProcessor::shared());
}
