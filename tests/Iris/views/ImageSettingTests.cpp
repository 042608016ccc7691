#include "ImageSettingTestSupport.h"

#include "Iris/image/Placeholder.h"
#include "Iris/views/ButtonWrapper.h"
#include "Iris/views/IRBuilder.h"
#include "Iris/views/ImageViewWrapper.h"
#include "Iris/views/TextAttachmentWrapper.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/ImageEncoding.h"
#include "platform/ui/AnimatedImageView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ProgressIndicator.h"
#include "platform/ui/TextAttachment.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace viewtest;
using ImagePtr = std::shared_ptr<platform::Image>;

namespace {

// One image slot of a target, reached the way a caller reaches it.
struct Target {
    std::string name;
    std::function<std::optional<DownloadTask>(
        std::optional<Source>, ImagePtr placeholder, IrisOptionsInfo, RetrieveImageCompletion)>
        set;
    std::function<ImagePtr()> shown;
    std::function<std::optional<DownloadTask>()> storedTask;
    std::function<std::optional<std::uint64_t>()> identifier;
};

// Every target, on objects that live as long as the fixture.
struct Targets {
    platform::ImageView view;
    platform::Button button;
    std::shared_ptr<platform::TextAttachment> attachment = std::make_shared<platform::TextAttachment>();
    QWidget text;
    int textViewAsked = 0;
    // Handed to every request made through `all()`.
    DownloadProgressCallback progress;

    std::vector<Target> all()
    {
        auto placeholderOf = [](ImagePtr image) -> std::shared_ptr<Placeholder> {
            return image ? std::make_shared<ImagePlaceholder>(std::move(image)) : nullptr;
        };
        auto displaying = [this] {
            ++textViewAsked;
            return &text;
        };
        return {
            { "image view",
                [=, this](auto source, auto placeholder, auto options, auto completion) {
                    return ir(&view).setImage(std::move(source), placeholderOf(placeholder), options,
                        progress, std::move(completion));
                },
                [this] { return view.image(); }, [this] { return ir(&view).imageTask(); },
                [this] { return ir(&view).taskIdentifier(); } },
            { "button image",
                [this](auto source, auto placeholder, auto options, auto completion) {
                    return ir(&button).setButtonImage(
                        source, placeholder, options, progress, std::move(completion));
                },
                [this] { return button.image(); }, [this] { return ir(&button).imageTask(); },
                [this] { return ir(&button).taskIdentifier(); } },
            { "button alternate image",
                [this](auto source, auto placeholder, auto options, auto completion) {
                    return ir(&button).setButtonAlternateImage(
                        source, placeholder, options, progress, std::move(completion));
                },
                [this] { return button.alternateImage(); },
                [this] { return ir(&button).alternateImageTask(); },
                [this] { return ir(&button).alternateTaskIdentifier(); } },
            { "text attachment",
                [=, this](auto source, auto placeholder, auto options, auto completion) {
                    return ir(attachment)
                        .setAttachmentImage(
                            source, displaying, placeholder, options, progress, std::move(completion));
                },
                [this] { return attachment->image(); }, [this] { return ir(attachment).imageTask(); },
                [this] { return ir(attachment).taskIdentifier(); } },
            { "builder on an image view",
                [this](auto source, auto placeholder, auto options, RetrieveImageCompletion completion) {
                    IR::Builder builder = IR::source(source).placeholder(placeholder);
                    builder.setOptions(parseImageSettingOptions(options));
                    return builder
                        .onSuccess([completion](const RetrieveImageResult& result) {
                            if (completion)
                                completion(RetrieveImageResultOrError::success(result));
                        })
                        .onFailure([completion](const IrisError& error) {
                            if (completion)
                                completion(RetrieveImageResultOrError::failure(error));
                        })
                        .onProgress(progress)
                        .set(&view);
                },
                [this] { return view.image(); }, [this] { return ir(&view).imageTask(); },
                [this] { return ir(&view).taskIdentifier(); } },
        };
    }
};

// Runs `test` once per target, each time on fresh objects.
void forEachTarget(const std::function<void(const Target&, Targets&)>& test)
{
    const std::size_t count = Targets().all().size();
    for (std::size_t i = 0; i < count; ++i) {
        Targets targets;
        const Target target = targets.all()[i];
        SCOPED_TRACE(target.name);
        test(target, targets);
    }
}

IrisError cancelled()
{
    return IrisError::requestError(IrisError::RequestErrorReason::taskCancelled({}, 1));
}

} // namespace

// The heart of image setting: two requests in a row, the first answering last. The second wins on
// every target, whatever the first does afterwards: its answer, its partial images, its retries.
TEST(ImageSetting, ANewerRequestWinsOverALateOlderOneOnEveryTarget)
{
    const ImagePtr older = solid(Qt::red), newer = solid(Qt::green), partial = solid(Qt::blue);
    forEachTarget([&](const Target& target, Targets&) {
        ScopedManager scope;
        ScriptedManager& manager = *scope.manager;
        Outcome first, second;
        target.set(sourceNamed("a"), nullptr, {}, first.completion());
        target.set(sourceNamed("b"), nullptr, {}, second.completion());
        ASSERT_EQ(manager.calls.size(), 2u);
        EXPECT_EQ(target.storedTask()->cancelToken, manager.calls[1].token);
        EXPECT_FALSE(manager.calls[0].isCurrent());
        EXPECT_TRUE(manager.calls[1].isCurrent());

        // The older request moves on to a retry: its task does not take the newer one's place.
        manager.calls[0].taskUpdated(DownloadTask { nullptr, 7 });
        EXPECT_EQ(target.storedTask()->cancelToken, manager.calls[1].token);
        manager.calls[0].partialImage(partial);
        EXPECT_NE(target.shown(), partial);
        manager.calls[1].partialImage(partial);
        EXPECT_EQ(target.shown(), partial);

        manager.succeed(1, newer);
        manager.succeed(0, older);
        EXPECT_EQ(target.shown(), newer);
        EXPECT_TRUE(second.succeededWith(newer));
        const auto* reason = first.settingFailure();
        ASSERT_TRUE(reason);
        EXPECT_EQ(reason->kind, IrisError::ImageSettingErrorReason::Kind::notCurrentSourceTask);
        ASSERT_TRUE(reason->result);
        EXPECT_EQ(reason->result->object->image, older) << "the real outcome travels with the failure";
        EXPECT_EQ(first.results.front().error().errorCode(), 5002);
        EXPECT_FALSE(target.identifier());
        EXPECT_FALSE(target.storedTask());

        // A failure of a request that is no longer current leaves the target alone too.
        Outcome third, fourth;
        target.set(sourceNamed("c"), nullptr,
            { IrisOptionsInfoItem::keepCurrentImageWhileLoading(),
                IrisOptionsInfoItem::onFailureImage(nullptr) },
            third.completion());
        target.set(sourceNamed("d"), nullptr, { IrisOptionsInfoItem::keepCurrentImageWhileLoading() },
            fourth.completion());
        manager.fail(2, cancelled());
        EXPECT_EQ(target.shown(), newer);
        ASSERT_TRUE(third.settingFailure());
        EXPECT_TRUE(third.settingFailure()->error);
    });
}

// A request without a source shows the placeholder, answers at once, and makes the running
// request's answer miss.
TEST(ImageSetting, AnAbsentSourceShowsThePlaceholderAndFailsAtOnce)
{
    const ImagePtr placeholder = solid(Qt::gray), late = solid(Qt::red);
    forEachTarget([&](const Target& target, Targets&) {
        ScopedManager scope;
        Outcome running, empty;
        target.set(sourceNamed("a"), nullptr, {}, running.completion());
        EXPECT_FALSE(target.set(std::nullopt, placeholder,
            { IrisOptionsInfoItem::keepCurrentImageWhileLoading() }, empty.completion()));
        ASSERT_EQ(empty.results.size(), 1u) << "answered before the call returned";
        EXPECT_EQ(empty.results.front().error().errorCode(), 5001);
        EXPECT_EQ(target.shown(), placeholder);
        EXPECT_FALSE(target.identifier());
        scope.manager->succeed(0, late);
        EXPECT_EQ(target.shown(), placeholder);
        ASSERT_TRUE(running.settingFailure());
        EXPECT_EQ(
            running.settingFailure()->kind, IrisError::ImageSettingErrorReason::Kind::notCurrentSourceTask);
    });
}

// What a target shows while it loads and after a failure: image views keep a placeholder they show
// while nothing else is shown; buttons and attachments only ever set the property.
TEST(ImageSetting, PlaceholderAndFailureImageRules)
{
    const ImagePtr shownBefore = solid(Qt::yellow), placeholder = solid(Qt::gray), failure = solid(Qt::black);
    struct Case {
        bool keepCurrent;
        bool imageBefore;
        // Expected while loading: 'p' placeholder, 'b' the image before, '0' nothing.
        char viewWhileLoading;
        char propertyWhileLoading;
    };
    for (const Case& c : {
             Case { false, true, 'p', 'p' },
             Case { true, true, 'b', 'b' },
             Case { true, false, 'p', '0' },
             Case { false, false, 'p', 'p' },
         }) {
        SCOPED_TRACE(std::string(c.keepCurrent ? "keeping" : "replacing") + (c.imageBefore ? ", shown" : ""));
        forEachTarget([&](const Target& target, Targets&) {
            ScopedManager scope;
            if (c.imageBefore) {
                // Answered inside the call, as a memory hit on the main thread is: shown when the
                // call returns, with nothing left waiting.
                scope.manager->answerAtOnce = shownBefore;
                EXPECT_FALSE(target.set(sourceNamed("before"), nullptr, {}, {}));
                EXPECT_FALSE(target.identifier());
                EXPECT_FALSE(target.storedTask());
                scope.manager->answerAtOnce = nullptr;
            }
            ASSERT_EQ(target.shown(), c.imageBefore ? shownBefore : nullptr);
            IrisOptionsInfo options;
            if (c.keepCurrent)
                options.push_back(IrisOptionsInfoItem::keepCurrentImageWhileLoading());
            target.set(sourceNamed("x"), placeholder, options, {});
            const bool isView = target.name.find("view") != std::string::npos;
            const char expected = isView ? c.viewWhileLoading : c.propertyWhileLoading;
            EXPECT_EQ(target.shown(),
                expected == 'p'       ? placeholder
                    : expected == 'b' ? shownBefore
                                      : nullptr);
        });
    }

    // After a failure: without a failure image the target keeps what it shows; with an explicit
    // "no image" it is cleared; with an image it shows that. Only success redraws an attachment's view.
    struct FailureCase {
        std::optional<ImagePtr> failureImage;
        ImagePtr expected;
    };
    for (const FailureCase& c : { FailureCase { std::nullopt, placeholder },
             FailureCase { ImagePtr(), nullptr }, FailureCase { failure, failure } }) {
        forEachTarget([&](const Target& target, Targets& targets) {
            ScopedManager scope;
            IrisOptionsInfo options;
            if (c.failureImage)
                options.push_back(IrisOptionsInfoItem::onFailureImage(*c.failureImage));
            Outcome outcome;
            target.set(sourceNamed("x"), placeholder, options, outcome.completion());
            scope.manager->fail(0, cancelled());
            EXPECT_EQ(target.shown(), c.expected);
            ASSERT_EQ(outcome.results.size(), 1u);
            EXPECT_TRUE(outcome.results.front().error().isCancelledTask()) << "the failure as received";
            EXPECT_EQ(targets.textViewAsked, 0);
        });
    }
    Targets targets;
    ScopedManager scope;
    targets.all()[3].set(sourceNamed("x"), placeholder, {}, {});
    scope.manager->succeed(0, failure);
    EXPECT_EQ(targets.textViewAsked, 1);
}

// The image view's loading indicator: a small spinner in the middle, shown while any request runs.
TEST(ImageSetting, AnActivityIndicatorSpinsUntilTheLastRequestEnds)
{
    ScopedManager scope;
    platform::ImageView view;
    view.resize(200, 100);
    view.show();
    ir(&view).setIndicatorType(IndicatorType::activity());
    auto indicator = std::dynamic_pointer_cast<ActivityIndicator>(ir(&view).indicator());
    ASSERT_TRUE(indicator);
    QWidget* spinner = indicator->view();
    EXPECT_EQ(spinner->parentWidget(), &view);
    EXPECT_EQ(spinner->geometry(), QRect(92, 42, 16, 16));
    EXPECT_TRUE(spinner->isHidden());
    view.resize(300, 100);
    EXPECT_EQ(spinner->geometry(), QRect(142, 42, 16, 16)) << "kept in the middle";

    ir(&view).setImage(sourceNamed("a"));
    ir(&view).setImage(sourceNamed("b"));
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_TRUE(indicator->activityIndicatorView()->isAnimating());
    scope.manager->succeed(0, solid(Qt::red));
    EXPECT_FALSE(spinner->isHidden()) << "the newer request still runs";
    scope.manager->fail(1, cancelled());
    EXPECT_TRUE(spinner->isHidden());
    EXPECT_FALSE(indicator->activityIndicatorView()->isAnimating());
    EXPECT_EQ(indicator->animatingCount(), 0);

    ir(&view).setIndicatorType(IndicatorType::none());
    EXPECT_EQ(ir(&view).indicator(), nullptr);
    EXPECT_NE(spinner->parentWidget(), &view);
}

TEST(ImageSetting, IndicatorsArePlacedBySizeStrategyAndOffset)
{
    struct Fixed : Indicator {
        void startAnimatingView() override { }
        void stopAnimatingView() override { }
        platform::Point centerOffset() const override { return { 5, -3 }; }
        QWidget* view() const override { return widget.get(); }
        IndicatorSizeStrategy sizeStrategy(const platform::ImageView&) const override
        {
            return IndicatorSizeStrategy::size({ 40, 20 });
        }
        std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();
    };
    platform::ImageView view;
    view.resize(200, 100);
    auto custom = std::make_shared<Fixed>();
    ir(&view).setIndicatorType(IndicatorType::custom(custom));
    EXPECT_EQ(custom->widget->geometry(), QRect(85, 37, 40, 20));

    // An image indicator fills the view and shows its picture unscaled; a GIF one animates only
    // while a request runs.
    const std::vector<platform::ImageFrame> frames { { *solid(Qt::red)->bitmap(), 0.1 },
        { *solid(Qt::blue)->bitmap(), 0.1 } };
    ir(&view).setIndicatorType(IndicatorType::image(*platform::encodeGif(frames)));
    EXPECT_NE(custom->widget->parentWidget(), &view);
    auto indicator = std::dynamic_pointer_cast<ImageIndicator>(ir(&view).indicator());
    ASSERT_TRUE(indicator);
    EXPECT_EQ(indicator->view()->geometry(), view.rect());
    EXPECT_EQ(
        indicator->animatedImageIndicatorView()->imageScaling(), platform::ImageView::ImageScaling::none);
    view.show();
    EXPECT_FALSE(indicator->animatedImageIndicatorView()->animates());
    ScopedManager scope;
    ir(&view).setImage(sourceNamed("a"));
    EXPECT_TRUE(indicator->animatedImageIndicatorView()->animates());
    scope.manager->succeed(0, solid(Qt::green));
    EXPECT_FALSE(indicator->animatedImageIndicatorView()->animates());
    EXPECT_TRUE(indicator->view()->isHidden());

    // Data that makes no image installs no indicator, though the type reads back as assigned.
    ir(&view).setIndicatorType(IndicatorType::image("not an image"));
    EXPECT_EQ(ir(&view).indicator(), nullptr);
    EXPECT_EQ(ir(&view).indicatorType().kind(), IndicatorType::Kind::image);
}

// Identity is checked from network threads while the main thread issues new requests.
TEST(ImageSetting, IdentityChecksFromOtherThreadsSeeOnlyTheCurrentRequest)
{
    ScopedManager scope;
    platform::ImageView view;
    ir(&view).setImage(sourceNamed("first"));
    std::atomic<bool> stop { false };
    std::atomic<int> currentSeen { 0 };
    ReferenceTaskChecker firstIsCurrent = scope.manager->calls[0].isCurrent;
    std::thread network([&] {
        while (!stop)
            currentSeen += firstIsCurrent() ? 1 : 0;
    });
    for (int i = 0; i < 300; ++i)
        ir(&view).setImage(sourceNamed(QString::number(i)));
    stop = true;
    network.join();
    int current = 0;
    for (const auto& call : scope.manager->calls)
        current += call.isCurrent() ? 1 : 0;
    EXPECT_EQ(current, 1);
    EXPECT_TRUE(scope.manager->calls.back().isCurrent());
    for (std::size_t i = 0; i < scope.manager->calls.size(); ++i)
        scope.manager->fail(i, cancelled());
}

namespace {

// A placeholder that shows nothing and counts where it is destroyed.
struct WitnessPlaceholder final : Placeholder {
    explicit WitnessPlaceholder(std::atomic<int>& offMain)
        : offMain(offMain)
    {
    }
    ~WitnessPlaceholder() override { offMain += QThread::currentThread() != qApp->thread(); }
    void add(platform::ImageView&) override { }
    void remove(platform::ImageView&) override { }
    std::atomic<int>& offMain;
};

} // namespace

// The retrieval lets go of a request's closures on whichever thread it ends on; what the caller put
// in them (widgets, a builder with its placeholder and hooks) is still let go on the main thread.
TEST(ImageSetting, WhatARequestHoldsIsLetGoOnTheMainThread)
{
    std::atomic<int> offMain { 0 };
    std::weak_ptr<Placeholder> builderPlaceholder;
    forEachTarget([&](const Target& target, Targets& targets) {
        ScopedManager scope;
        auto held = std::make_shared<WitnessPlaceholder>(offMain);
        targets.progress = [held](std::int64_t, std::int64_t) {};
        target.set(sourceNamed("a"), nullptr, {}, [held](RetrieveImageResultOrError) {});
        IR::source(sourceNamed("b"))
            .placeholder(std::make_shared<WitnessPlaceholder>(offMain))
            .set(&targets.view);
        builderPlaceholder = ir(&targets.view).placeholder();
        held.reset();
        targets.progress = nullptr;
        scope.manager->succeed(0, solid(Qt::red));
        scope.manager->succeed(1, solid(Qt::red));
        std::thread([calls = std::move(scope.manager->calls)]() mutable { calls.clear(); }).join();
        EXPECT_TRUE(testsupport::waitUntil([&] { return builderPlaceholder.expired(); }));
    });
    EXPECT_EQ(offMain, 0);
}

// Progress let through on the network thread reaches the main thread later; by then a newer request
// (here a memory hit, answered at once) may have taken the target, and that progress must not reach
// the caller.
TEST(ImageSetting, ProgressOfARequestNoLongerAwaitedIsDropped)
{
    forEachTarget([&](const Target& target, Targets& targets) {
        ScopedManager scope;
        int heard = 0;
        targets.progress = [&](std::int64_t, std::int64_t) { ++heard; };
        target.set(sourceNamed("a"), nullptr, {}, {});
        const auto report = [effect = scope.manager->calls[0].options.onDataReceived->back()] {
            std::thread([&] { effect->reportReceivedData(nullptr, nullptr, {}, 5, 10); }).join();
        };
        report();
        EXPECT_TRUE(testsupport::waitUntil([&] { return heard == 1; }));
        report();
        scope.manager->answerAtOnce = solid(Qt::green);
        target.set(sourceNamed("b"), nullptr, {}, {});
        bool drained = false;
        platform::DispatchQueue::main()->async([&] { drained = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return drained; }));
        EXPECT_EQ(heard, 1) << "the older request's report came after the newer one's answer";
        scope.manager->fail(0, cancelled());
    });
}
