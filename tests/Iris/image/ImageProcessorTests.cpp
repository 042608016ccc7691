#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/Image.h"
#include "Iris/image/ImageProcessor.h"
#include "IrisImageTestData.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace iris;
using platform::Image;

namespace {

// Records whether it ran and gives back its input, or nothing.
class SpyProcessor final : public ImageProcessor {
public:
    SpyProcessor(QString identifier, bool succeeds)
        : m_identifier(std::move(identifier))
        , m_succeeds(succeeds)
    {
    }
    QString identifier() const override { return m_identifier; }
    std::shared_ptr<Image> process(const ImageProcessItem& item, const IrisParsedOptionsInfo&) const override
    {
        ++runs;
        return m_succeeds ? item.imageValue() : nullptr;
    }
    mutable std::atomic<int> runs { 0 };

private:
    QString m_identifier;
    bool m_succeeds;
};

std::shared_ptr<Image> sampleImage(int width = 6, int height = 4)
{
    return Image::create(*platform::Bitmap::fromImage(testimages::pattern(width, height)), 2.0);
}

} // namespace

TEST(ImageProcessor, IdentifiersOfCompositions)
{
    const auto x = std::make_shared<SpyProcessor>("x", true);
    const auto y = std::make_shared<SpyProcessor>("y", true);
    const auto z = std::make_shared<SpyProcessor>("z", true);
    EXPECT_EQ(DefaultImageProcessor::shared()->identifier(), QString());
    EXPECT_EQ(DefaultImageProcessor().identifier(), QString());
    EXPECT_EQ(x->appendProcessor(y)->identifier(), "x|>y");
    EXPECT_EQ((x | y | z)->identifier(), "x|>y|>z");
    EXPECT_EQ((DefaultImageProcessor::shared() | y)->identifier(), "|>y");
    EXPECT_EQ(IrisParsedOptionsInfo().processor->identifier(), QString());
}

TEST(ImageProcessor, CompositionStopsAtTheFirstFailure)
{
    const auto failing = std::make_shared<SpyProcessor>("a", false);
    const auto second = std::make_shared<SpyProcessor>("b", true);
    const IrisParsedOptionsInfo options;
    EXPECT_FALSE((failing | second)->process(ImageProcessItem::image(sampleImage()), options));
    EXPECT_EQ(failing->runs, 1);
    EXPECT_EQ(second->runs, 0);

    const auto first = std::make_shared<SpyProcessor>("a", true);
    const auto image = sampleImage();
    EXPECT_EQ((first | second)->process(ImageProcessItem::image(image), options), image);
    EXPECT_EQ(second->runs, 1);
}

TEST(ImageProcessor, DefaultProcessorDecodesDataByFormat)
{
    IrisParsedOptionsInfo options;
    const QByteArray gif = iristest::twoFrameGif();
    const auto animated = DefaultImageProcessor::shared()->process(ImageProcessItem::data(gif), options);
    ASSERT_TRUE(animated);
    EXPECT_EQ(ir(animated).images()->size(), 2u);

    options.onlyLoadFirstFrame = true;
    const auto first = DefaultImageProcessor::shared()->process(ImageProcessItem::data(gif), options);
    ASSERT_TRUE(first);
    EXPECT_FALSE(ir(first).images());
    EXPECT_EQ(ir(first).imageFrameCount(), 2);

    // The scale factor plays no part in decoding; formats the detector does not know still decode.
    options.scaleFactor = 3;
    for (const char* format : { "png", "jpeg", "webp", "bmp" }) {
        SCOPED_TRACE(format);
        const auto image = DefaultImageProcessor::shared()->process(
            ImageProcessItem::data(testimages::encoded(testimages::pattern(9, 7), format)), options);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), (platform::Size { 9, 7 }));
    }
    EXPECT_FALSE(DefaultImageProcessor::shared()->process(ImageProcessItem::data("garbage bytes!"), options));
}

TEST(ImageProcessor, DefaultProcessorScaleFactorStep)
{
    const auto image = sampleImage(6, 4);
    ASSERT_EQ(image->size(), (platform::Size { 3, 2 }));
    IrisParsedOptionsInfo options;
    EXPECT_EQ(DefaultImageProcessor::shared()->process(ImageProcessItem::image(image), options), image);

    options.scaleFactor = 2.0;
    const auto scaled = DefaultImageProcessor::shared()->process(ImageProcessItem::image(image), options);
    ASSERT_TRUE(scaled);
    EXPECT_NE(scaled, image);
    EXPECT_EQ(scaled->size(), (platform::Size { 6, 4 }));

    const auto empty = Image::createEmpty({ 5, 5 });
    EXPECT_EQ(DefaultImageProcessor::shared()->process(ImageProcessItem::image(empty), options), empty);
}

TEST(ImageProcessor, DataGoesThroughTheDefaultProcessorFirst)
{
    const SpyProcessor spy("s", true);
    const IrisParsedOptionsInfo options;
    const auto decoded = processDataThroughDefault(
        spy, ImageProcessItem::data(testimages::encoded(testimages::pattern(5, 5), "png")), options);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(spy.runs, 1);
    EXPECT_FALSE(processDataThroughDefault(spy, ImageProcessItem::data("nope, not an image"), options));
    EXPECT_EQ(spy.runs, 1);
}

TEST(ImageProcessor, AMissingStageDecodesOnlyAsItsKeySays)
{
    // A chain with a gap has the key of the chain with the default processor there; both give the
    // same image, so neither can be served the other's cached result wrongly.
    const auto y = std::make_shared<SpyProcessor>("y", true);
    const IrisParsedOptionsInfo options;
    const auto data = ImageProcessItem::data(testimages::encoded(testimages::pattern(5, 5), "png"));
    const auto leading = appendProcessor(nullptr, y);
    EXPECT_EQ(leading->identifier(), (DefaultImageProcessor::shared() | y)->identifier());
    const auto decoded = leading->process(data, options);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), (platform::Size { 5, 5 }));
    EXPECT_EQ(y->runs, 1);

    const auto image = sampleImage();
    const auto trailing = appendProcessor(y, nullptr);
    EXPECT_EQ(trailing->identifier(), (y | DefaultImageProcessor::shared())->identifier());
    EXPECT_EQ(trailing->process(ImageProcessItem::image(image), options), image);
    EXPECT_EQ(y->runs, 2);
}
