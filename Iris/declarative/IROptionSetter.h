#pragma once

#include "Iris/cache/CacheSerializer.h"
#include "Iris/declarative/IRImageContext.h"
#include "Iris/general/DelayRetryStrategy.h"
#include "Iris/image/ImageProcessors.h"
#include "Iris/networking/ImageModifier.h"
#include "Iris/networking/RedirectHandler.h"
#include "Iris/networking/RequestModifier.h"

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace iris {

class ImageCache;
class ImageDownloader;
class ImageProcessor;

namespace IR {

// What a redirect handler set from a block is given: the download, the redirect's response, the
// request it proposes, and the completion to call with the request to follow (or none to refuse).
struct RedirectPayload {
    std::shared_ptr<SessionDataTask> task;
    platform::UrlResponse response;
    platform::UrlRequest newRequest;
    RedirectCompletion completionHandler;
};

} // namespace IR

// Chained option setters and the three callback hooks, for any `Self` that provides `options()`,
// `setOptions()`, the three delegates and `hookTarget()`. Each setter changes one field of the
// options in place and returns `self` (a copy that refers to the same options), so calls chain; a
// later setter for the same field wins.
template<typename Self> class IROptionSetter {
public:
    // Reads a copy of the options, lets `change` edit it, writes it back as a whole.
    Self changingOptions(const std::function<void(IrisParsedOptionsInfo&)>& change) const
    {
        IrisParsedOptionsInfo options = self().options();
        change(options);
        self().setOptions(std::move(options));
        return self();
    }

    Self targetCache(std::shared_ptr<ImageCache> cache) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.targetCache = std::move(cache); });
    }
    Self originalCache(std::shared_ptr<ImageCache> cache) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.originalCache = std::move(cache); });
    }
    Self downloader(std::shared_ptr<ImageDownloader> downloader) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.downloader = std::move(downloader); });
    }
    Self downloadPriority(float priority) const
    {
        return changingOptions(
            [priority](IrisParsedOptionsInfo& options) { options.downloadPriority = priority; });
    }
    Self forceRefresh(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.forceRefresh = on; });
    }
    Self fromMemoryCacheOrRefresh(bool on = true) const
    {
        return changingOptions(
            [on](IrisParsedOptionsInfo& options) { options.fromMemoryCacheOrRefresh = on; });
    }
    Self cacheMemoryOnly(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.cacheMemoryOnly = on; });
    }
    Self waitForCache(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.waitForCache = on; });
    }
    Self onlyFromCache(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.onlyFromCache = on; });
    }
    Self backgroundDecode(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.backgroundDecode = on; });
    }
    Self forceTransition(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.forceTransition = on; });
    }
    Self cacheOriginalImage(bool on = true) const
    {
        return changingOptions([on](IrisParsedOptionsInfo& options) { options.cacheOriginalImage = on; });
    }
    Self loadDiskFileSynchronously(bool on = true) const
    {
        return changingOptions(
            [on](IrisParsedOptionsInfo& options) { options.loadDiskFileSynchronously = on; });
    }
    Self callbackQueue(CallbackQueue queue) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.callbackQueue = std::move(queue); });
    }
    Self processingQueue(std::optional<CallbackQueue> queue) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.processingQueue = std::move(queue); });
    }
    Self scaleFactor(double factor) const
    {
        return changingOptions([factor](IrisParsedOptionsInfo& options) { options.scaleFactor = factor; });
    }
    Self diskStoreWriteOptions(DataWritingOptions writeOptions) const
    {
        return changingOptions(
            [writeOptions](IrisParsedOptionsInfo& options) { options.diskStoreWriteOptions = writeOptions; });
    }
    // A null image sets "no image" (the target is cleared on failure), which differs from never
    // calling this setter (the target keeps what it shows).
    Self onFailureImage(std::shared_ptr<platform::Image> image) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.onFailureImage = std::move(image); });
    }
    Self alternativeSources(std::optional<std::vector<Source>> sources) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.alternativeSources = std::move(sources); });
    }
    Self lowDataModeSource(std::optional<Source> source) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.lowDataModeSource = std::move(source); });
    }
    Self retryStrategy(std::shared_ptr<const RetryStrategy> strategy) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.retryStrategy = std::move(strategy); });
    }
    Self retry(int maxRetryCount, DelayRetryStrategy::Interval retryInterval) const
    {
        return retryStrategy(
            std::make_shared<const DelayRetryStrategy>(maxRetryCount, std::move(retryInterval)));
    }
    Self requestModifier(std::shared_ptr<const AsyncImageDownloadRequestModifier> modifier) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.requestModifier = std::move(modifier); });
    }
    // `modify` changes a copy of each request, which is then sent.
    Self requestModifier(std::function<void(platform::UrlRequest&)> modify) const
    {
        return requestModifier(std::make_shared<const AnyModifier>(
            [modify = std::move(modify)](
                const platform::UrlRequest& request) -> std::optional<platform::UrlRequest> {
                platform::UrlRequest copy = request;
                if (modify)
                    modify(copy);
                return copy;
            }));
    }
    Self redirectHandler(std::shared_ptr<const ImageDownloadRedirectHandler> handler) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.redirectHandler = std::move(handler); });
    }
    Self redirectHandler(std::function<void(IR::RedirectPayload)> handle) const
    {
        return redirectHandler(std::make_shared<const AnyRedirectHandler>(
            [handle = std::move(handle)](const std::shared_ptr<SessionDataTask>& task,
                const platform::UrlResponse& response, const platform::UrlRequest& newRequest,
                RedirectCompletion completionHandler) {
                if (handle)
                    handle(IR::RedirectPayload { task, response, newRequest, std::move(completionHandler) });
                else
                    completionHandler(newRequest);
            }));
    }
    // Null sets the default processor: every later step, and the shortcuts below, read one.
    Self processor(std::shared_ptr<const ImageProcessor> processor) const
    {
        return changingOptions([&](IrisParsedOptionsInfo& options) {
            options.processor = processor ? std::move(processor) : DefaultImageProcessor::shared();
        });
    }
    // The first processor, then each following one on its result; the default processor when empty.
    Self processors(const std::vector<std::shared_ptr<const ImageProcessor>>& processors) const
    {
        if (processors.empty())
            return processor(DefaultImageProcessor::shared());
        std::shared_ptr<const ImageProcessor> composed = processors.front();
        for (std::size_t i = 1; i < processors.size(); ++i)
            composed = iris::appendProcessor(composed, processors[i]);
        return processor(std::move(composed));
    }
    // The current processor, then `processor` on its result; null adds nothing (a composition with
    // it would add a decoding stage and change the cache key).
    Self addProcessor(std::shared_ptr<const ImageProcessor> processor) const
    {
        if (!processor)
            return self();
        return changingOptions([&](IrisParsedOptionsInfo& options) {
            options.processor = iris::appendProcessor(options.processor, std::move(processor));
        });
    }
    // Null sets the default serializer, as for the processor.
    Self cacheSerializer(std::shared_ptr<const CacheSerializer> serializer) const
    {
        return changingOptions([&](IrisParsedOptionsInfo& options) {
            options.cacheSerializer = serializer ? std::move(serializer) : DefaultCacheSerializer::shared();
        });
    }
    // PNG for `unknown` and `PNG`; JPEG at `jpegCompressionQuality` (1.0 without one); GIF.
    Self cacheSerializer(
        ImageFormat format, std::optional<double> jpegCompressionQuality = std::nullopt) const
    {
        switch (format) {
        case ImageFormat::JPEG:
            return cacheSerializer(
                FormatIndicatedCacheSerializer::jpeg(jpegCompressionQuality.value_or(1.0)));
        case ImageFormat::GIF:
            return cacheSerializer(FormatIndicatedCacheSerializer::gif());
        case ImageFormat::unknown:
        case ImageFormat::PNG:
            break;
        }
        return cacheSerializer(FormatIndicatedCacheSerializer::png());
    }
    Self imageModifier(std::shared_ptr<const ImageModifier> modifier) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.imageModifier = std::move(modifier); });
    }
    // `modify` may replace the image or throw; a throw leaves the image as it was.
    Self imageModifier(std::function<void(std::shared_ptr<platform::Image>&)> modify) const
    {
        return imageModifier(std::make_shared<const AnyImageModifier>(
            [modify = std::move(modify)](std::shared_ptr<platform::Image> image) {
                if (modify)
                    modify(image);
                return image;
            }));
    }
    Self memoryCacheExpiration(std::optional<StorageExpiration> expiration) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.memoryCacheExpiration = std::move(expiration); });
    }
    Self memoryCacheAccessExtendingExpiration(ExpirationExtending extending) const
    {
        return changingOptions([&](IrisParsedOptionsInfo& options) {
            options.memoryCacheAccessExtendingExpiration = std::move(extending);
        });
    }
    Self diskCacheExpiration(std::optional<StorageExpiration> expiration) const
    {
        return changingOptions(
            [&](IrisParsedOptionsInfo& options) { options.diskCacheExpiration = std::move(expiration); });
    }
    Self diskCacheAccessExtendingExpiration(ExpirationExtending extending) const
    {
        return changingOptions([&](IrisParsedOptionsInfo& options) {
            options.diskCacheAccessExtendingExpiration = std::move(extending);
        });
    }

    // Processor shortcuts: each adds its processor after the current one.
    Self roundCorner(Radius radius, std::optional<platform::Size> targetSize = std::nullopt,
        RectCorner roundingCorners = RectCorner::all,
        std::optional<platform::Color> backgroundColor = std::nullopt) const
    {
        return addProcessor(std::make_shared<const RoundCornerImageProcessor>(
            radius, targetSize, roundingCorners, backgroundColor));
    }
    Self blur(double blurRadius) const
    {
        return addProcessor(std::make_shared<const BlurImageProcessor>(blurRadius));
    }
    Self overlay(platform::Color overlay, double fraction = 0.5) const
    {
        return addProcessor(std::make_shared<const OverlayImageProcessor>(overlay, fraction));
    }
    Self tint(platform::Color tint) const
    {
        return addProcessor(std::make_shared<const TintImageProcessor>(tint));
    }
    Self blackWhite() const { return addProcessor(std::make_shared<const BlackWhiteProcessor>()); }
    Self cropping(platform::Size size, platform::Point anchor = { 0.5, 0.5 }) const
    {
        return addProcessor(std::make_shared<const CroppingImageProcessor>(size, anchor));
    }
    // Replaces the default processor rather than following it: downsampling decodes the data itself.
    Self downsampling(platform::Size size) const
    {
        auto downsampling = std::make_shared<const DownsamplingImageProcessor>(size);
        if (self().options().processor->identifier() == DefaultImageProcessor::shared()->identifier())
            return processor(std::move(downsampling));
        return addProcessor(std::move(downsampling));
    }
    Self resizing(platform::Size referenceSize, ContentMode targetContentMode = ContentMode::none) const
    {
        return addProcessor(std::make_shared<const ResizingImageProcessor>(referenceSize, targetContentMode));
    }

    // Each hook replaces the delegate's block by one that holds the hook target weakly: once the
    // target is gone, `block` is not called.
    Self onProgress(std::function<void(std::int64_t received, std::int64_t total)> block) const
    {
        using HookTarget = HookTargetOf<Self>;
        self().onProgressDelegate().template delegate<HookTarget>(self().hookTarget(),
            [block = std::move(block)](HookTarget&, std::pair<std::int64_t, std::int64_t> sizes) {
                if (block)
                    block(sizes.first, sizes.second);
                return NoResult {};
            });
        return self();
    }
    Self onSuccess(std::function<void(const RetrieveImageResult&)> block) const
    {
        using HookTarget = HookTargetOf<Self>;
        self().onSuccessDelegate().template delegate<HookTarget>(
            self().hookTarget(), [block = std::move(block)](HookTarget&, RetrieveImageResult result) {
                if (block)
                    block(result);
                return NoResult {};
            });
        return self();
    }
    Self onFailure(std::function<void(const IrisError&)> block) const
    {
        using HookTarget = HookTargetOf<Self>;
        self().onFailureDelegate().template delegate<HookTarget>(
            self().hookTarget(), [block = std::move(block)](HookTarget&, IrisError error) {
                if (block)
                    block(error);
                return NoResult {};
            });
        return self();
    }

private:
    // The object the hooks are tied to. Named inside the hooks, where `Self` is complete.
    template<typename S>
    using HookTargetOf =
        typename std::remove_cvref_t<decltype(std::declval<const S&>().hookTarget())>::element_type;

    const Self& self() const { return static_cast<const Self&>(*this); }
};

} // namespace iris
