#include "Iris/declarative/IRImage.h"
#include "Iris/declarative/IRImageRenderer.h"
#include "Iris/image/ImageProcessor.h"
#include "ScriptedRetrieving.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace iris;
using namespace iristest;

namespace {

const QUrl coverURL = QUrl::fromLocalFile(QStringLiteral("/library/Cover.png"));

// A view's renderer driven the way its widget drives it.
struct Harness {
    explicit Harness(const IRImage& view)
        : renderer(ImageBinder::create(), view.context())
    {
    }
    ImageBinder& binder() { return *renderer.binder(); }
    IRImageRenderer<HoldingImage>::Body body() { return renderer.body(); }
    void appear() { renderer.appearAction()(); }
    void disappear() { renderer.disappearAction()(); }

    IRImageRenderer<HoldingImage> renderer;
};

struct DelegateLog {
    int successes = 0;
    std::vector<IrisError> failures;
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
};

IRImage logged(IRImage view, DelegateLog& log)
{
    return view.onSuccess([&log](const RetrieveImageResult&) { ++log.successes; })
        .onFailure([&log](const IrisError& error) { log.failures.push_back(error); })
        .onProgress([&log](std::int64_t received, std::int64_t total) {
            log.progress.emplace_back(received, total);
        });
}

} // namespace

TEST(ImageBinder, ContextStartsFromTheManagersDefaultsAndReadsDiskFilesSynchronously)
{
    ScopedRetrieving scope;
    scope.manager->defaults = { IrisOptionsInfoItem::forceTransition() };
    IRImage view(coverURL);
    EXPECT_TRUE(view.context()->options.forceTransition);
    EXPECT_TRUE(view.context()->options.loadDiskFileSynchronously);
    ASSERT_TRUE(view.context()->source());
    EXPECT_EQ(view.context()->source()->kind(), Source::Kind::provider)
        << "a file URL reads through a provider";
    EXPECT_EQ(IRImage(QUrl(QStringLiteral("https://example.org/a.png"))).context()->source()->kind(),
        Source::Kind::network);
}

TEST(ImageBinder, AnAbsentURLFailsWithTheEmptySourceErrorOnEveryAppearance)
{
    ScopedRetrieving scope;
    DelegateLog log;
    Harness view(logged(IRImage(std::nullopt), log));
    EXPECT_TRUE(view.body().hasPlaceholderLayer);

    view.appear();
    ASSERT_EQ(log.failures.size(), 1u);
    ASSERT_NE(log.failures[0].imageSettingReason(), nullptr);
    EXPECT_EQ(
        log.failures[0].imageSettingReason()->kind, IrisError::ImageSettingErrorReason::Kind::emptySource);
    EXPECT_TRUE(view.binder().loaded);
    EXPECT_FALSE(view.binder().loading);
    auto body = view.body();
    EXPECT_EQ(body.imageOpacity, 1.0) << "an empty image at full opacity";
    EXPECT_TRUE(body.hasPlaceholderLayer);

    view.appear();
    EXPECT_EQ(log.failures.size(), 2u);
    EXPECT_TRUE(scope.manager->calls.empty()) << "no retrieval without a source";
}

TEST(ImageBinder, SuccessFadesOnlyForALoadedImageOrWhenForced)
{
    struct Case {
        const char* name;
        CacheType cacheType;
        bool forceTransition;
        std::optional<double> fade;
        std::optional<double> expectedFade;
    };
    const Case cases[] = {
        { "memory hit", CacheType::memory, false, 0.3, std::nullopt },
        { "disk hit", CacheType::disk, false, 0.3, std::nullopt },
        { "loaded", CacheType::none, false, 0.3, 0.3 },
        { "loaded without a transition", CacheType::none, false, std::nullopt, std::nullopt },
        { "memory hit, forced", CacheType::memory, true, 0.25, 0.25 },
        { "negative duration", CacheType::none, false, -2.0, 0.0 },
        { "NaN duration", CacheType::none, false, std::numeric_limits<double>::quiet_NaN(), 0.0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedRetrieving scope;
        DelegateLog log;
        IRImage image = logged(IRImage(coverURL), log).forceTransition(c.forceTransition);
        if (c.fade)
            image = image.fade(*c.fade);
        Harness view(image);
        (void)view.body();
        view.appear();
        ASSERT_EQ(scope.manager->calls.size(), 1u);
        EXPECT_TRUE(view.binder().loading);
        EXPECT_EQ(view.binder().downloadTask->cancelToken, 0);

        auto picture = solidImage(Qt::red);
        const auto before = view.binder().willChangeCount();
        scope.manager->succeed(0, picture, c.cacheType);
        EXPECT_FALSE(view.binder().loading);
        EXPECT_FALSE(view.binder().downloadTask);
        EXPECT_TRUE(view.binder().loaded);
        EXPECT_FALSE(view.binder().animating);
        EXPECT_EQ(view.binder().loadedImage, picture);
        EXPECT_EQ(view.binder().willChangeCount() - before, c.expectedFade ? 2u : 1u);

        auto body = view.body();
        EXPECT_EQ(body.fadeDuration, c.expectedFade);
        EXPECT_EQ(body.imageOpacity, 1.0);
        EXPECT_FALSE(body.hasPlaceholderLayer);
        EXPECT_EQ(body.holdingView.image(), picture);
        EXPECT_FALSE(view.body().fadeDuration) << "a fade plays once";

        EXPECT_EQ(log.successes, 0) << "the success delegate is posted after the change";
        drainMainQueue();
        EXPECT_EQ(log.successes, 1);

        view.appear();
        EXPECT_EQ(scope.manager->calls.size(), 1u) << "a view showing its image never reloads";
    }
}

TEST(ImageBinder, FailureShowsTheFailureImageWhenOneIsSet)
{
    struct Case {
        const char* name;
        std::optional<std::shared_ptr<platform::Image>> failureImage;
        bool showsImage;
    };
    const auto broken = solidImage(Qt::gray);
    const Case cases[] = {
        { "unset", std::nullopt, false },
        { "set to an image", broken, true },
        { "set to no image", std::shared_ptr<platform::Image>(), false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedRetrieving scope;
        DelegateLog log;
        IRImage image = logged(IRImage(coverURL), log);
        if (c.failureImage)
            image = image.onFailureImage(*c.failureImage);
        Harness view(image);
        view.appear();
        scope.manager->fail(0, IrisError::requestError(IrisError::RequestErrorReason::emptyRequest()));
        EXPECT_TRUE(view.binder().loaded);
        EXPECT_FALSE(view.binder().loading);
        EXPECT_EQ(view.binder().loadedImage != nullptr, c.showsImage);
        EXPECT_EQ(view.body().hasPlaceholderLayer, !c.showsImage);
        EXPECT_TRUE(log.failures.empty());
        drainMainQueue();
        EXPECT_EQ(log.failures.size(), 1u);

        view.appear();
        EXPECT_EQ(scope.manager->calls.size(), c.showsImage ? 1u : 2u)
            << "a failed view without an image retries";
    }
}

TEST(ImageBinder, ProgressReachesThePlaceholderAndTheHook)
{
    ScopedRetrieving scope;
    DelegateLog log;
    std::shared_ptr<Progress> seen;
    Harness view(
        logged(IRImage(coverURL), log).placeholder([&seen](const std::shared_ptr<Progress>& progress) {
            seen = progress;
            return AnyView {};
        }));
    view.appear();
    const auto before = view.binder().willChangeCount();
    scope.manager->calls[0].progress(40, 100);
    EXPECT_EQ(view.binder().willChangeCount(), before + 1);
    ASSERT_EQ(log.progress.size(), 1u);
    EXPECT_EQ(log.progress[0], std::make_pair(std::int64_t(40), std::int64_t(100)));
    (void)view.body();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->fractionCompleted(), 0.4);
}

TEST(ImageBinder, CancelOnDisappearCancelsAndTheNextAppearanceStartsOver)
{
    ScopedRetrieving scope;
    DelegateLog log;
    Harness view(logged(IRImage(coverURL), log).cancelOnDisappear(true));
    view.appear();
    view.disappear();
    EXPECT_EQ(scope.manager->cancelled, std::vector<std::int64_t> { 0 });
    EXPECT_FALSE(view.binder().loading);
    EXPECT_FALSE(view.binder().downloadTask);

    // The cancelled request answers with its cancellation.
    scope.manager->fail(0, cancelledError(0));
    EXPECT_TRUE(view.binder().loaded);
    drainMainQueue();
    EXPECT_EQ(log.failures.size(), 1u);

    view.appear();
    EXPECT_EQ(scope.manager->calls.size(), 2u);

    // Without the flag a disappearance leaves the retrieval running.
    Harness keeps { IRImage(coverURL) };
    keeps.appear();
    keeps.disappear();
    EXPECT_TRUE(keeps.binder().loading);
    EXPECT_EQ(scope.manager->cancelled.size(), 1u);
}

TEST(ImageBinder, ALateCompletionOfAnEarlierLoadLeavesTheNewerOneAlone)
{
    ScopedRetrieving scope;
    DelegateLog log;
    // Completions are posted, so a cancelled one arrives after the view has appeared again.
    Harness view(
        logged(IRImage(coverURL), log).cancelOnDisappear(true).callbackQueue(CallbackQueue::mainAsync()));
    view.appear();
    view.disappear();
    scope.manager->fail(0, cancelledError(0));
    view.appear();
    ASSERT_EQ(scope.manager->calls.size(), 2u);
    drainMainQueue();

    EXPECT_TRUE(view.binder().loading) << "the newer load is still running";
    ASSERT_TRUE(view.binder().downloadTask);
    EXPECT_EQ(view.binder().downloadTask->cancelToken, 1);
    EXPECT_FALSE(view.binder().loaded);
    EXPECT_EQ(log.failures.size(), 1u) << "the earlier load still reports";

    view.appear();
    EXPECT_EQ(scope.manager->calls.size(), 2u) << "no parallel third load";
    view.disappear();
    EXPECT_EQ(scope.manager->cancelled, (std::vector<std::int64_t> { 0, 1 }))
        << "the newer load can be cancelled";
}

TEST(ImageBinder, NeitherProgressNorCompletionKeepsADroppedBinderAlive)
{
    ScopedRetrieving scope;
    DelegateLog log;
    std::weak_ptr<ImageBinder> weakBinder;
    {
        Harness view(logged(IRImage(coverURL), log));
        view.appear();
        weakBinder = view.renderer.binder();
    }
    EXPECT_TRUE(weakBinder.expired());
    scope.manager->calls[0].progress(1, 2);
    scope.manager->succeed(0, solidImage(Qt::red), CacheType::none);
    drainMainQueue();
    EXPECT_TRUE(log.progress.empty());
    EXPECT_EQ(log.successes, 0);
}

TEST(ImageBinder, ContextEqualityIsBySourceAndProcessorIdentifier)
{
    ScopedRetrieving scope;
    auto processor = std::make_shared<GeneralProcessor>(
        QStringLiteral("blur"), [](const ImageProcessItem&, const IrisParsedOptionsInfo&) {
            return std::shared_ptr<platform::Image>();
        });
    const auto a = IRImage(coverURL).context();
    const auto sameURL = IRImage(coverURL).fade(1).context();
    const auto otherURL = IRImage(QUrl::fromLocalFile(QStringLiteral("/library/Other.png"))).context();
    const auto otherProcessor = IRImage(coverURL).processor(processor).context();
    const auto none = IRImage(std::nullopt).context();
    EXPECT_TRUE(*a == *sameURL);
    EXPECT_EQ(a->hash(), sameURL->hash());
    EXPECT_FALSE(*a == *otherURL);
    EXPECT_FALSE(*a == *otherProcessor);
    EXPECT_FALSE(*a == *none);
    EXPECT_FALSE(*none == *a);
    EXPECT_TRUE(*none == *IRImage(std::nullopt).context());
}

TEST(ImageBinder, AStartQueuedBeforeAppearingGivesWayToWhatHappenedMeanwhile)
{
    ScopedRetrieving scope;
    // Shown and scrolled away again before the queued start runs: the disappearance called it off.
    Harness scrolledAway(IRImage(coverURL).startLoadingBeforeViewAppear().cancelOnDisappear(true));
    (void)scrolledAway.body();
    scrolledAway.appear();
    scrolledAway.disappear();
    drainMainQueue();
    EXPECT_TRUE(scope.manager->calls.empty());
    EXPECT_FALSE(scrolledAway.binder().loading);
    scrolledAway.appear();
    EXPECT_EQ(scope.manager->calls.size(), 1u) << "the next appearance loads";

    // Back in view before it runs: the appearance's load is the only one, and it can be cancelled.
    Harness back(IRImage(coverURL).startLoadingBeforeViewAppear().cancelOnDisappear(true));
    (void)back.body();
    back.disappear();
    back.appear();
    drainMainQueue();
    ASSERT_EQ(scope.manager->calls.size(), 2u);
    back.disappear();
    EXPECT_EQ(scope.manager->cancelled, std::vector<std::int64_t> { 1 });
    EXPECT_FALSE(back.binder().loading);
}

TEST(ImageBinder, ALoadCalledOffByDisappearingShowsNoFailureImage)
{
    ScopedRetrieving scope;
    DelegateLog log;
    Harness view(logged(IRImage(coverURL), log).cancelOnDisappear(true).onFailureImage(solidImage(Qt::gray)));
    view.appear();
    view.disappear();
    scope.manager->fail(0, cancelledError(0));
    EXPECT_FALSE(view.binder().loadedImage) << "nothing failed: the view only went out of sight";
    EXPECT_TRUE(view.body().hasPlaceholderLayer);
    drainMainQueue();
    EXPECT_EQ(log.failures.size(), 1u);

    view.appear();
    ASSERT_EQ(scope.manager->calls.size(), 2u) << "the next appearance starts over";
    scope.manager->fail(1, IrisError::requestError(IrisError::RequestErrorReason::emptyRequest()));
    EXPECT_TRUE(view.binder().loadedImage) << "a real failure shows it";
    drainMainQueue();
    EXPECT_EQ(log.failures.size(), 2u);
}
