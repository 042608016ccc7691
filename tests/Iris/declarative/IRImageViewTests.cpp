#include "Iris/declarative/IRAnimatedImage.h"
#include "Iris/declarative/IRImageView.h"
#include "Iris/image/ImageProcessor.h"
#include "ScriptedRetrieving.h"

#include <QGraphicsEffect>
#include <QLabel>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace iris;
using namespace iristest;

namespace {

QUrl fileURL(const char* name)
{
    return QUrl::fromLocalFile(QStringLiteral("/library/") + QLatin1String(name));
}

// A shown top-level window holding one image view of a fixed size.
template<typename ViewWidget> struct Window {
    template<typename View> explicit Window(View view, QSize size = QSize(200, 100))
    {
        widget = new ViewWidget(std::move(view), &window);
        widget->setGeometry(QRect(QPoint(), size));
        window.resize(size);
        window.show();
    }
    QWidget window;
    ViewWidget* widget;
};

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 50 && qBlue(pixel) < 50;
}

} // namespace

TEST(IRImageView, AnEqualContextKeepsTheBinderAndANewSourceOrProcessorStartsOver)
{
    ScopedRetrieving scope;
    Window<IRImageView> view(IRImage(fileURL("a.png")).resizable());
    drainMainQueue();
    ASSERT_EQ(scope.manager->calls.size(), 1u);
    scope.manager->succeed(0, solidImage(Qt::red), CacheType::none);
    const auto binder = view.widget->binder();

    // A parent's re-render builds a new view with an equal context.
    view.widget->setView(IRImage(fileURL("a.png")).resizable());
    drainMainQueue();
    EXPECT_EQ(view.widget->binder(), binder);
    EXPECT_EQ(scope.manager->calls.size(), 1u);
    EXPECT_TRUE(view.widget->binder()->loadedImage);

    view.widget->setView(IRImage(fileURL("b.png")).resizable());
    drainMainQueue();
    EXPECT_NE(view.widget->binder(), binder);
    EXPECT_EQ(scope.manager->calls.size(), 2u);

    auto processor = std::make_shared<GeneralProcessor>(
        QStringLiteral("tint"), [](const ImageProcessItem&, const IrisParsedOptionsInfo&) {
            return std::shared_ptr<platform::Image>();
        });
    view.widget->setView(IRImage(fileURL("b.png")).processor(processor));
    drainMainQueue();
    EXPECT_EQ(scope.manager->calls.size(), 3u);
}

TEST(IRImageView, CancelOnDisappearFollowsTheVisibleTree)
{
    ScopedRetrieving scope;
    Window<IRImageView> view(IRImage(fileURL("a.png")).cancelOnDisappear(true));
    drainMainQueue();
    ASSERT_EQ(scope.manager->calls.size(), 1u);

    view.window.hide();
    EXPECT_EQ(scope.manager->cancelled, std::vector<std::int64_t> { 0 });
    view.window.show();
    drainMainQueue();
    EXPECT_EQ(scope.manager->calls.size(), 2u);

    delete view.widget;
    EXPECT_EQ(scope.manager->cancelled, (std::vector<std::int64_t> { 0, 1 })) << "removal is a disappearance";
}

TEST(IRImageView, StartBeforeAppearStartsOnceAndAHiddenViewWaits)
{
    ScopedRetrieving scope;
    IRImageView early(IRImage(fileURL("a.png")).startLoadingBeforeViewAppear());
    IRImageView waits(IRImage(fileURL("b.png")));
    drainMainQueue();
    ASSERT_EQ(scope.manager->calls.size(), 1u) << "only the early view starts before it is shown";
    early.show();
    waits.show();
    drainMainQueue();
    EXPECT_EQ(scope.manager->calls.size(), 2u);
}

TEST(IRImageView, AViewHiddenBeforeItsStartRunsLoadsNothingOutOfSight)
{
    ScopedRetrieving scope;
    Window<IRImageView> view(IRImage(fileURL("a.png")).cancelOnDisappear(true));
    drainMainQueue();
    ASSERT_EQ(scope.manager->calls.size(), 1u);

    // A new source starts from the main queue; the view is scrolled away before that runs.
    view.widget->setView(IRImage(fileURL("b.png")).cancelOnDisappear(true));
    view.window.hide();
    drainMainQueue();
    EXPECT_EQ(scope.manager->calls.size(), 1u);
    EXPECT_FALSE(view.widget->binder()->loading);

    view.window.show();
    drainMainQueue();
    ASSERT_EQ(scope.manager->calls.size(), 2u) << "shown again, it loads";
    view.window.hide();
    EXPECT_EQ(scope.manager->cancelled, (std::vector<std::int64_t> { 0, 1 }));
}

TEST(IRImageView, StartBeforeAppearIsNotRetriedByRendersOnlyByAppearances)
{
    ScopedRetrieving scope;
    int attempts = 0;
    scope.manager->immediate = [&attempts](const Source&) -> std::optional<RetrieveImageResultOrError> {
        ++attempts;
        return RetrieveImageResultOrError::failure(
            IrisError::requestError(IrisError::RequestErrorReason::emptyRequest()));
    };
    // A failure image of none re-renders the view after each failure.
    IRImageView failing(IRImage(fileURL("a.png"))
                            .startLoadingBeforeViewAppear()
                            .onFailureImage(std::shared_ptr<platform::Image>()));
    for (int turn = 0; turn < 5; ++turn)
        drainMainQueue();
    EXPECT_EQ(attempts, 1);

    // A parent that redraws on every failure.
    scope.manager->immediate = nullptr;
    auto early = [] { return IRImage(fileURL("b.png")).startLoadingBeforeViewAppear(); };
    Window<IRImageView> view(early());
    drainMainQueue();
    ASSERT_EQ(scope.manager->calls.size(), 1u);
    scope.manager->fail(0, IrisError::requestError(IrisError::RequestErrorReason::emptyRequest()));
    for (int redraw = 0; redraw < 3; ++redraw) {
        view.widget->setView(early());
        drainMainQueue();
    }
    EXPECT_EQ(scope.manager->calls.size(), 1u);

    view.window.hide();
    view.window.show();
    drainMainQueue();
    EXPECT_EQ(scope.manager->calls.size(), 2u) << "an appearance tries again";
}

TEST(IRImageView, ALayoutGivesTheViewTheSizeOfTheImageThatCame)
{
    ScopedRetrieving scope;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new IRImageView(IRImage(fileURL("a.png")), &window);
    layout->addWidget(view);
    layout->addStretch();
    window.resize(200, 200);
    window.show();
    drainMainQueue();
    scope.manager->succeed(0, solidImage(Qt::red, 40, 30), CacheType::memory);
    EXPECT_TRUE(testsupport::waitUntil([&] { return view->height() == 30; })) << view->height();
}

TEST(IRImageView, AResizableImageFillsItsFrameAndAFixedOneKeepsItsSize)
{
    ScopedRetrieving scope;
    scope.manager->immediate = [](const Source& source) -> std::optional<RetrieveImageResultOrError> {
        return RetrieveImageResultOrError::success(
            { solidImage(Qt::red, 10, 10), CacheType::memory, source, source });
    };
    Window<IRImageView> stretched(IRImage(fileURL("a.png")).resizable());
    Window<IRImageView> fixed(IRImage(fileURL("a.png")));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return stretched.widget->binder()->loadedImage && fixed.widget->binder()->loadedImage
            && !stretched.widget->isRenderPending() && !fixed.widget->isRenderPending();
    }));
    EXPECT_FALSE(stretched.widget->placeholderLayer());
    EXPECT_EQ(stretched.widget->imageLayer()->graphicsEffect(), nullptr) << "a memory hit does not fade";

    const QImage full = stretched.widget->grab().toImage();
    for (QPoint probe : { QPoint(1, 1), QPoint(198, 1), QPoint(1, 98), QPoint(198, 98), QPoint(100, 50) })
        EXPECT_TRUE(isRed(full.pixel(probe))) << probe.x() << "," << probe.y();

    const QImage centred = fixed.widget->grab().toImage();
    EXPECT_TRUE(isRed(centred.pixel(100, 50)));
    EXPECT_FALSE(isRed(centred.pixel(1, 1)));
    EXPECT_FALSE(isRed(centred.pixel(80, 50))) << "a 10-point image stays 10 points wide";
}

TEST(IRImageView, ALoadedImageFadesInAndThePlaceholderGoes)
{
    ScopedRetrieving scope;
    int placeholdersMade = 0;
    auto view = IRImage(fileURL("a.png")).resizable().fade(0.05).placeholder([&placeholdersMade] {
        return AnyView { [&placeholdersMade](QWidget* parent) -> QWidget* {
            ++placeholdersMade;
            return new QLabel(QStringLiteral("Loading"), parent);
        } };
    });
    Window<IRImageView> window(view);
    drainMainQueue();
    ASSERT_TRUE(window.widget->placeholderLayer());
    EXPECT_TRUE(window.widget->imageLayer()->isHidden());
    scope.manager->calls[0].progress(10, 20);
    drainMainQueue();
    EXPECT_EQ(placeholdersMade, 1) << "a re-render updates the placeholder in place";

    scope.manager->succeed(0, solidImage(Qt::red), CacheType::none);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !window.widget->placeholderLayer(); }));
    EXPECT_FALSE(window.widget->imageLayer()->isHidden());
    EXPECT_NE(window.widget->imageLayer()->graphicsEffect(), nullptr);
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return window.widget->imageLayer()->graphicsEffect() == nullptr; }));
}

TEST(IRImageModifiers, ConfigurationsApplyInOrderAndTheContentConfigurationWrapsThem)
{
    ScopedRetrieving scope;
    std::vector<int> order;
    std::optional<HoldingImage> wrapped;
    auto view = IRImage(fileURL("a.png"))
                    .configure([&](HoldingImage image) {
                        order.push_back(1);
                        return image.interpolation(HoldingImage::Interpolation::none);
                    })
                    .resizable({ 1, 2, 3, 4 }, HoldingImage::ResizingMode::tile)
                    .configure([&](HoldingImage image) {
                        order.push_back(2);
                        return image;
                    })
                    .contentConfiguration([&](HoldingImage image) {
                        wrapped = image;
                        return AnyView {};
                    });
    IRImageRenderer<HoldingImage> renderer(ImageBinder::create(), view.context());
    auto body = renderer.body();
    EXPECT_EQ(order, (std::vector<int> { 1, 2 }));
    ASSERT_TRUE(wrapped);
    ASSERT_TRUE(body.content);
    EXPECT_EQ(wrapped->interpolationQuality(), HoldingImage::Interpolation::none);
    EXPECT_TRUE(wrapped->isResizable());
    EXPECT_EQ(wrapped->capInsets(), (EdgeInsets { 1, 2, 3, 4 }));
    EXPECT_EQ(wrapped->resizingMode(), HoldingImage::ResizingMode::tile);
    EXPECT_EQ(body.holdingView, *wrapped);
}

TEST(IRImageModifiers, CopiesShareTheContextAndOptionSettersWriteIntoIt)
{
    ScopedRetrieving scope;
    IRImage original(fileURL("a.png"));
    IRImage copy = original;
    copy.cancelOnDisappear(true).antialiased(false).forceTransition().fade(0.5);
    EXPECT_TRUE(original.context()->cancelOnDisappear);
    EXPECT_EQ(original.context()->configurations.size(), 1u);
    EXPECT_EQ(original.context()->fadeDuration(CacheType::memory), 0.5) << "forced";

    auto options = original.options();
    options.forceTransition = false;
    original.setOptions(options);
    EXPECT_EQ(copy.context()->fadeDuration(CacheType::memory), std::nullopt);
    EXPECT_EQ(copy.context()->fadeDuration(CacheType::none), 0.5);
}

TEST(IRImageModifiers, ALaterHookReplacesTheEarlierAndADeadTargetIsNotCalled)
{
    ScopedRetrieving scope;
    int first = 0;
    int second = 0;
    auto view = IRImage(fileURL("a.png"));
    view.onSuccess([&](const RetrieveImageResult&) { ++first; }).onSuccess([&](const RetrieveImageResult&) {
        ++second;
    });
    const Source source = *view.context()->source();
    const RetrieveImageResult result { solidImage(Qt::red), CacheType::none, source, source };
    EXPECT_TRUE(view.context()->onSuccessDelegate.call(result));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);

    // A delegate kept past its view's context answers nothing.
    auto other = IRImage(fileURL("b.png"));
    other.context()->onSuccessDelegate.delegate<IRImageContextBase>(
        view.context(), [&](IRImageContextBase&, RetrieveImageResult) {
            ++first;
            return NoResult {};
        });
    view.setContext(nullptr);
    EXPECT_FALSE(other.context()->onSuccessDelegate.call(result));
    EXPECT_EQ(first, 0);
}

TEST(IRAnimatedImage, RenderConfigurationsRunOnceWhenTheViewIsMadeAndNeverOnAStillImageView)
{
    ScopedRetrieving scope;
    int configured = 0;
    auto animated
        = IRAnimatedImage(fileURL("a.gif")).configureRenderingView([&](platform::AnimatedImageView& view) {
              ++configured;
              EXPECT_EQ(view.image(), nullptr) << "configured before the image is set";
          });
    Window<IRAnimatedImageView> window(animated);
    drainMainQueue();
    EXPECT_EQ(configured, 1);
    auto* player = dynamic_cast<platform::AnimatedImageView*>(window.widget->imageLayer());
    ASSERT_TRUE(player);
    EXPECT_EQ(player->contentCompressionResistancePriority(Qt::Horizontal), 250.0f);
    EXPECT_EQ(player->contentCompressionResistancePriority(Qt::Vertical), 250.0f);
    EXPECT_EQ(player->minimumSizeHint(), QSize(0, 0));

    auto picture = solidImage(Qt::blue);
    scope.manager->succeed(0, picture, CacheType::memory);
    ASSERT_TRUE(testsupport::waitUntil([&] { return player->image() == picture; }));
    EXPECT_EQ(configured, 1) << "an update only sets the image";
    EXPECT_EQ(window.widget->imageLayer(), player);

    // The still view has the same list in its context type, but nothing applies it.
    IRImage still(fileURL("a.png"));
    EXPECT_TRUE(still.context()->renderConfigurations.empty());
}
