#include "ImageSettingTestSupport.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/ImageDataProvider.h"
#include "Iris/image/Placeholder.h"
#include "Iris/networking/ImageDownloader.h"
#include "Iris/networking/ImageProgressive.h"
#include "Iris/views/ButtonWrapper.h"
#include "Iris/views/IRBuilder.h"
#include "Iris/views/TextAttachmentWrapper.h"

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TextAttachment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace viewtest;

namespace {

IR::Builder fresh()
{
    return IR::url(QUrl(QStringLiteral("https://example.invalid/a.png")));
}

} // namespace

// Every setter writes its own field: a setter that wrote a neighbour's field would fail its check,
// which a fresh builder never passes.
TEST(IRBuilder, EachSetterWritesItsOwnField)
{
    ScopedManager scope;
    QTemporaryDir folder;
    auto cache = ImageCache::initNamed(QStringLiteral("builder"), QUrl::fromLocalFile(folder.path()));
    auto downloader = ImageDownloader::create(QStringLiteral("builder"));
    const auto queue = CallbackQueue::untouch();
    const auto source = sourceNamed("alternative");
    const auto failure = solid(Qt::black);
    const auto progressive = std::make_shared<ImageProgressive>();
    auto modifier = std::make_shared<AnyModifier>([](const platform::UrlRequest& r) { return r; });
    platform::UrlRequest request(QUrl(QStringLiteral("https://example.invalid/")));

    using Options = IrisParsedOptionsInfo;
    struct Case {
        const char* name;
        std::function<IR::Builder(IR::Builder)> set;
        std::function<bool(const Options&)> written;
    };
    const std::vector<Case> cases {
        { "targetCache", [&](auto b) { return b.targetCache(cache); },
            [&](const Options& o) { return o.targetCache == cache; } },
        { "originalCache", [&](auto b) { return b.originalCache(cache); },
            [&](const Options& o) { return o.originalCache == cache; } },
        { "downloader", [&](auto b) { return b.downloader(downloader); },
            [&](const Options& o) { return o.downloader == downloader; } },
        { "downloadPriority", [](auto b) { return b.downloadPriority(0.9f); },
            [](const Options& o) { return o.downloadPriority == 0.9f; } },
        { "forceRefresh", [](auto b) { return b.forceRefresh(); },
            [](const Options& o) { return o.forceRefresh; } },
        { "fromMemoryCacheOrRefresh", [](auto b) { return b.fromMemoryCacheOrRefresh(); },
            [](const Options& o) { return o.fromMemoryCacheOrRefresh; } },
        { "cacheMemoryOnly", [](auto b) { return b.cacheMemoryOnly(); },
            [](const Options& o) { return o.cacheMemoryOnly; } },
        { "waitForCache", [](auto b) { return b.waitForCache(); },
            [](const Options& o) { return o.waitForCache; } },
        { "onlyFromCache", [](auto b) { return b.onlyFromCache(); },
            [](const Options& o) { return o.onlyFromCache; } },
        { "backgroundDecode", [](auto b) { return b.backgroundDecode(); },
            [](const Options& o) { return o.backgroundDecode; } },
        { "forceTransition", [](auto b) { return b.forceTransition(); },
            [](const Options& o) { return o.forceTransition; } },
        { "cacheOriginalImage", [](auto b) { return b.cacheOriginalImage(); },
            [](const Options& o) { return o.cacheOriginalImage; } },
        { "loadDiskFileSynchronously", [](auto b) { return b.loadDiskFileSynchronously(); },
            [](const Options& o) { return o.loadDiskFileSynchronously; } },
        { "keepCurrentImageWhileLoading", [](auto b) { return b.keepCurrentImageWhileLoading(); },
            [](const Options& o) { return o.keepCurrentImageWhileLoading; } },
        { "onlyLoadFirstFrame", [](auto b) { return b.onlyLoadFirstFrame(); },
            [](const Options& o) { return o.onlyLoadFirstFrame; } },
        { "callbackQueue", [&](auto b) { return b.callbackQueue(queue); },
            [](const Options& o) { return o.callbackQueue.kind() == CallbackQueue::Kind::untouch; } },
        { "processingQueue", [&](auto b) { return b.processingQueue(queue); },
            [](const Options& o) { return o.processingQueue.has_value(); } },
        { "scaleFactor", [](auto b) { return b.scaleFactor(2); },
            [](const Options& o) { return o.scaleFactor == 2; } },
        { "diskStoreWriteOptions", [](auto b) { return b.diskStoreWriteOptions({ true }); },
            [](const Options& o) { return o.diskStoreWriteOptions.atomic; } },
        { "onFailureImage (no image)", [](auto b) { return b.onFailureImage(nullptr); },
            [](const Options& o) { return o.onFailureImage && !*o.onFailureImage; } },
        { "onFailureImage", [&](auto b) { return b.onFailureImage(failure); },
            [&](const Options& o) { return o.onFailureImage == failure; } },
        { "alternativeSources", [&](auto b) { return b.alternativeSources(std::vector { source }); },
            [](const Options& o) { return o.alternativeSources && o.alternativeSources->size() == 1; } },
        { "lowDataModeSource", [&](auto b) { return b.lowDataModeSource(source); },
            [&](const Options& o) { return o.lowDataModeSource == source; } },
        { "retry", [](auto b) { return b.retry(3, DelayRetryStrategy::Interval::seconds(2)); },
            [](const Options& o) {
                auto strategy = std::dynamic_pointer_cast<const DelayRetryStrategy>(o.retryStrategy);
                return strategy && strategy->maxRetryCount() == 3;
            } },
        { "requestModifier", [&](auto b) { return b.requestModifier(modifier); },
            [&](const Options& o) { return o.requestModifier == modifier; } },
        { "requestModifier (block)",
            [](auto b) {
                return b.requestModifier([](platform::UrlRequest& r) {
                    r.headerFields.append(std::pair<QByteArray, QByteArray>("X-A", "1"));
                });
            },
            [&](const Options& o) {
                std::optional<platform::UrlRequest> changed;
                if (o.requestModifier)
                    o.requestModifier->modifyRequest(request, [&](auto r) { changed = r; });
                return changed && changed->value("X-A") == "1" && !request.hasHeader("X-A");
            } },
        { "redirectHandler (block)",
            [](auto b) {
                return b.redirectHandler([](IR::RedirectPayload p) { p.completionHandler(std::nullopt); });
            },
            [&](const Options& o) {
                bool refused = false;
                if (o.redirectHandler)
                    o.redirectHandler->decideRedirection(nullptr, {}, request, [&](auto r) { refused = !r; });
                return refused;
            } },
        { "imageModifier (block)",
            [&](auto b) {
                return b.imageModifier([&](std::shared_ptr<platform::Image>& i) { i = failure; });
            },
            [&](const Options& o) {
                return o.imageModifier && o.imageModifier->modifiedImage(solid(Qt::red)) == failure;
            } },
        { "cacheSerializer", [](auto b) { return b.cacheSerializer(ImageFormat::GIF); },
            [](const Options& o) {
                auto serializer
                    = std::dynamic_pointer_cast<const FormatIndicatedCacheSerializer>(o.cacheSerializer);
                return serializer && serializer->imageFormat == ImageFormat::GIF;
            } },
        { "memoryCacheExpiration", [](auto b) { return b.memoryCacheExpiration(StorageExpiration::never()); },
            [](const Options& o) {
                return o.memoryCacheExpiration
                    && o.memoryCacheExpiration->kind() == StorageExpiration::Kind::never;
            } },
        { "memoryCacheAccessExtendingExpiration",
            [](auto b) { return b.memoryCacheAccessExtendingExpiration(ExpirationExtending::none()); },
            [](const Options& o) {
                return o.memoryCacheAccessExtendingExpiration.kind() == ExpirationExtending::Kind::none;
            } },
        { "diskCacheExpiration", [](auto b) { return b.diskCacheExpiration(StorageExpiration::expired()); },
            [](const Options& o) {
                return o.diskCacheExpiration
                    && o.diskCacheExpiration->kind() == StorageExpiration::Kind::expired;
            } },
        { "diskCacheAccessExtendingExpiration",
            [](auto b) { return b.diskCacheAccessExtendingExpiration(ExpirationExtending::none()); },
            [](const Options& o) {
                return o.diskCacheAccessExtendingExpiration.kind() == ExpirationExtending::Kind::none;
            } },
        { "progressiveJPEG", [&](auto b) { return b.progressiveJPEG(progressive); },
            [&](const Options& o) { return o.progressiveJPEG == progressive; } },
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.written(fresh().options())) << c.name << " holds already";
        EXPECT_TRUE(c.written(c.set(fresh()).options())) << c.name;
    }
    // A later setter for the same field wins, and the chain changes one builder.
    IR::Builder builder = fresh();
    builder.forceRefresh(true).scaleFactor(3).forceRefresh(false);
    EXPECT_FALSE(builder.options().forceRefresh);
    EXPECT_EQ(builder.options().scaleFactor, 3);
}

TEST(IRBuilder, ComposesProcessorsAndPicksSerializers)
{
    ScopedManager scope;
    const auto down = std::make_shared<DownsamplingImageProcessor>(platform::Size { 50, 50 });
    const auto blackWhite = std::make_shared<BlackWhiteProcessor>();
    const auto blur = std::make_shared<BlurImageProcessor>(4);
    auto identifier = [](const IR::Builder& builder) { return builder.options().processor->identifier(); };

    EXPECT_EQ(identifier(fresh().downsampling({ 50, 50 })), down->identifier()) << "replaces the default";
    // The default processor's identifier is empty, so what follows it starts with "|>".
    EXPECT_EQ(identifier(fresh().blackWhite().downsampling({ 50, 50 })),
        "|>" + blackWhite->identifier() + "|>" + down->identifier());
    EXPECT_EQ(identifier(fresh().processors({ blur, blackWhite, down })),
        blur->identifier() + "|>" + blackWhite->identifier() + "|>" + down->identifier());
    EXPECT_EQ(identifier(fresh().blur(4).processors({})), QString()) << "the default processor again";

    auto serializer = [](const IR::Builder& builder) {
        return std::dynamic_pointer_cast<const FormatIndicatedCacheSerializer>(
            builder.options().cacheSerializer);
    };
    EXPECT_EQ(serializer(fresh().cacheSerializer(ImageFormat::unknown))->imageFormat, ImageFormat::PNG);
    EXPECT_EQ(serializer(fresh().cacheSerializer(ImageFormat::PNG))->imageFormat, ImageFormat::PNG);
    const auto jpeg = serializer(fresh().cacheSerializer(ImageFormat::JPEG));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->imageFormat, ImageFormat::JPEG);
    EXPECT_EQ(jpeg->jpegCompressionQuality.value_or(1.0), 1.0);
    EXPECT_EQ(serializer(fresh().cacheSerializer(ImageFormat::JPEG, 0.4))->jpegCompressionQuality, 0.4);
}

// One builder finishes on every target; its hooks hear of each load, the last registration only.
TEST(IRBuilder, DrivesEveryTargetThroughItsHooks)
{
    ScopedManager scope;
    ScriptedManager& manager = *scope.manager;
    manager.setDefaultOptions({ IrisOptionsInfoItem::forceRefresh() });
    const auto placeholder = solid(Qt::gray), image = solid(Qt::green);
    std::vector<std::string> heard;
    IR::Builder builder = fresh().placeholder(placeholder);
    manager.setDefaultOptions({});
    EXPECT_TRUE(builder.options().forceRefresh) << "seeded from the defaults when made";
    builder.onProgress([&](std::int64_t received, std::int64_t total) {
        heard.push_back("progress " + std::to_string(received) + "/" + std::to_string(total));
    });
    builder.onSuccess([&](const RetrieveImageResult&) { heard.push_back("first"); });
    builder.onSuccess([&](const RetrieveImageResult&) { heard.push_back("success"); });
    builder.onFailure(
        [&](const IrisError& error) { heard.push_back("failure " + std::to_string(error.errorCode())); });

    platform::ImageView view;
    platform::Button button;
    auto attachment = std::make_shared<platform::TextAttachment>();
    QWidget text;
    builder.set(&view);
    builder.set(&button);
    builder.setAlternateImage(&button);
    builder.set(attachment, [&] { return &text; });
    ASSERT_EQ(manager.calls.size(), 4u);
    EXPECT_EQ(view.image(), placeholder);
    EXPECT_EQ(button.image(), placeholder);
    EXPECT_EQ(button.alternateImage(), placeholder);
    EXPECT_EQ(attachment->image(), placeholder);
    for (std::size_t i = 0; i < manager.calls.size(); ++i) {
        EXPECT_EQ(manager.calls[i].source, *builder.source());
        manager.progress(i, 5, 10);
        manager.succeed(i, image);
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return heard.size() >= 8; }));
    const std::vector<std::string> expected { "progress 5/10", "success", "progress 5/10", "success",
        "progress 5/10", "success", "progress 5/10", "success" };
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(view.image(), image);
    EXPECT_EQ(button.image(), image);
    EXPECT_EQ(button.alternateImage(), image);
    EXPECT_EQ(attachment->image(), image);

    // A placeholder that is not an image reaches image views only; no source fails at once.
    QWidget* cover = new QWidget;
    heard.clear();
    platform::Button other;
    IR::url(std::nullopt)
        .placeholder(std::make_shared<ViewPlaceholder>(cover))
        .onFailure(
            [&](const IrisError& error) { heard.push_back("failure " + std::to_string(error.errorCode())); })
        .set(&view);
    EXPECT_EQ(cover->parentWidget(), &view);
    IR::source(sourceNamed("b")).placeholder(std::make_shared<ViewPlaceholder>(new QWidget)).set(&other);
    EXPECT_EQ(other.image(), nullptr);
    EXPECT_EQ(heard, std::vector<std::string> { "failure 5001" });
    manager.fail(4, IrisError::requestError(IrisError::RequestErrorReason::taskCancelled({}, 0)));
}

// A file is read from disk on every target, attachments included: the downloader fetches only web
// addresses, so a file URL sent there would always fail.
TEST(IRBuilder, FileUrlsAreReadFromDiskOnEveryTarget)
{
    ScopedManager scope;
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/cover.png"));
    auto attachment = std::make_shared<platform::TextAttachment>();
    platform::Button button;
    IR::url(file).set(attachment, [] { return nullptr; });
    ir(attachment).setAttachmentImage(std::make_shared<const ImageResource>(file), [] { return nullptr; });
    ir(&button).setButtonImage(std::make_shared<const ImageResource>(file));
    ASSERT_EQ(scope.manager->calls.size(), 3u);
    for (const auto& call : scope.manager->calls)
        EXPECT_EQ(call.source.kind(), Source::Kind::provider);
    EXPECT_EQ(IR::data(QByteArray("bytes"), QStringLiteral("k")).source()->cacheKey(), QStringLiteral("k"));
    for (std::size_t i = 0; i < scope.manager->calls.size(); ++i)
        scope.manager->fail(i, IrisError::requestError(IrisError::RequestErrorReason::taskCancelled({}, 0)));
}

// A null processor or serializer used to be kept as it was: the downsampling shortcut read the
// processor at once, and a load read both around the caches; each stopped the program.
TEST(IRBuilder, ANullProcessorOrSerializerStandsForTheDefaultOne)
{
    const QString defaultIdentifier = DefaultImageProcessor::shared()->identifier();
    const platform::Size size { 10, 10 };
    EXPECT_EQ(fresh().processor(nullptr).options().processor->identifier(), defaultIdentifier);
    EXPECT_EQ(fresh().processor(nullptr).downsampling(size).options().processor->identifier(),
        DownsamplingImageProcessor(size).identifier());
    // Adding none keeps what was there rather than a composition that makes no image.
    EXPECT_EQ(fresh().blur(2).addProcessor(nullptr).options().processor->identifier(),
        fresh().blur(2).options().processor->identifier());
    EXPECT_EQ(fresh().cacheSerializer(nullptr).options().cacheSerializer, DefaultCacheSerializer::shared());
}
