#include "Iris/image/Image.h"
#include "IrisImageTestData.h"

#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/ImageSource.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cmath>
#include <limits>

using namespace iris;
using platform::Image;

namespace {

QRgb pixelOf(const std::shared_ptr<Image>& image, int x, int y)
{
    return image->bitmap()->image().convertToFormat(QImage::Format_ARGB32).pixel(x, y);
}

} // namespace

TEST(ImageDecoding, StillFormatsDecodeWithoutAnimationState)
{
    const QImage picture = testimages::pattern(40, 30);
    for (const char* format : { "png", "jpeg", "webp" }) {
        SCOPED_TRACE(format);
        const QByteArray data = testimages::encoded(picture, format);
        ASSERT_FALSE(data.isEmpty());
        const std::shared_ptr<Image> image = ImageWrapper::decodeImage(data);
        ASSERT_TRUE(image);
        EXPECT_EQ(ir(image).pixelSize(), (platform::Size { 40, 30 }));
        EXPECT_EQ(image->size(), (platform::Size { 40, 30 }));
        EXPECT_FALSE(ir(image).images());
        EXPECT_FALSE(ir(image).animatedImageData());
        EXPECT_FALSE(ir(image).imageFrameCount());
        EXPECT_FALSE(ir(image).frameSource());
    }
    EXPECT_FALSE(ImageWrapper::decodeImage(QByteArray("definitely not an image")));
}

TEST(ImageDecoding, GifCarriesFramesDurationDataCountAndSource)
{
    const QByteArray gif = iristest::twoFrameGif(5, 20);
    const std::shared_ptr<Image> image = ImageWrapper::decodeImage(gif);
    ASSERT_TRUE(image);
    const auto frames = ir(image).images();
    ASSERT_TRUE(frames);
    ASSERT_EQ(frames->size(), 2u);
    EXPECT_NE((*frames)[0], image);
    EXPECT_EQ(pixelOf((*frames)[0], 3, 3), 0xffff0000);
    EXPECT_EQ(pixelOf((*frames)[1], 3, 3), 0xff00ff00);
    EXPECT_EQ(pixelOf(image, 3, 3), 0xffff0000);
    EXPECT_DOUBLE_EQ(ir(image).duration(), 0.25);
    EXPECT_EQ(ir(image).animatedImageData(), gif);
    EXPECT_EQ(ir(image).gifRepresentation(), gif);
    EXPECT_EQ(ir(image).imageFrameCount(), 2);
    const std::shared_ptr<ImageFrameSource> source = ir(image).frameSource();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->frameCount(), 2);
    EXPECT_DOUBLE_EQ(source->frameDuration(1), 0.2);
    // Frames are decoded again on demand, in any order.
    const auto second = source->frameImage(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->image().convertToFormat(QImage::Format_ARGB32).pixel(0, 0), 0xff00ff00);
}

TEST(ImageDecoding, OnlyFirstFrameGivesAStillImageWithTheSourceState)
{
    const QByteArray gif = iristest::twoFrameGif();
    ImageCreatingOptions options;
    options.onlyFirstFrame = true;
    const std::shared_ptr<Image> image = ImageWrapper::decodeImage(gif, options);
    ASSERT_TRUE(image);
    EXPECT_FALSE(ir(image).images());
    EXPECT_EQ(ir(image).duration(), 0.0);
    EXPECT_EQ(pixelOf(image, 0, 0), 0xffff0000);
    EXPECT_EQ(ir(image).animatedImageData(), gif);
    EXPECT_EQ(ir(image).imageFrameCount(), 2);
    EXPECT_TRUE(ir(image).frameSource());
}

TEST(ImageDecoding, FrameDelayRules)
{
    struct Case {
        std::optional<GIFFrameProperties> properties;
        double expected;
    };
    const Case cases[] = {
        { GIFFrameProperties { 0.05, std::nullopt }, 0.05 },
        { GIFFrameProperties { std::nullopt, 0.02 }, 0.02 },
        { GIFFrameProperties { 0.011, std::nullopt }, 0.1 },
        { GIFFrameProperties { 0.0, 0.5 }, 0.1 },
        { GIFFrameProperties { -1.0, std::nullopt }, 0.1 },
        { GIFFrameProperties { std::nan(""), std::nullopt }, 0.1 },
        { GIFFrameProperties { std::nullopt, std::nullopt }, 0.1 },
        { std::nullopt, 0.1 },
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(gifFrameDelay(c.properties), c.expected);

    // Stored delays of one hundredth and of zero play at a tenth of a second each.
    const std::shared_ptr<Image> fast = ImageWrapper::decodeImage(iristest::twoFrameGif(1, 0));
    ASSERT_TRUE(fast);
    EXPECT_DOUBLE_EQ(ir(fast).duration(), 0.2);

    // One frame lasts for ever, whatever its delay.
    const std::shared_ptr<Image> still
        = ImageWrapper::decodeImage(testimages::writeGif(4, 4, { { QRect(0, 0, 4, 4), 2 } }));
    ASSERT_TRUE(still);
    EXPECT_EQ(ir(still).duration(), std::numeric_limits<double>::infinity());
    ASSERT_TRUE(ir(still).images());
    EXPECT_EQ(ir(still).images()->size(), 1u);

    // A frame without properties (out of range) lasts nothing.
    auto source = platform::ImageSource::create(iristest::twoFrameGif());
    ASSERT_TRUE(source);
    EXPECT_EQ(frameDuration(*source.value(), 7), 0.0);
}

TEST(ImageDecoding, GifCutShortKeepsTheFramesThatDecode)
{
    // Cut inside the last of three frames: the two before it show, and only they are counted.
    const QByteArray three = testimages::writeGif(8, 8,
        { { QRect(0, 0, 8, 8), 0, DISPOSAL_UNSPECIFIED, 5 },
            { QRect(0, 0, 8, 8), 1, DISPOSAL_UNSPECIFIED, 20 }, { QRect(0, 0, 8, 8), 2 } });
    ASSERT_EQ(platform::ImageSource::create(three.chopped(6)).value()->frameCount(), 3);
    const std::shared_ptr<Image> image = ImageWrapper::decodeImage(three.chopped(6));
    ASSERT_TRUE(image && ir(image).images());
    EXPECT_EQ(ir(image).images()->size(), 2u);
    EXPECT_DOUBLE_EQ(ir(image).duration(), 0.25);
    EXPECT_EQ(ir(image).imageFrameCount(), 2);
    EXPECT_EQ(ir(image).frameSource()->frameCount(), 2);
    EXPECT_EQ(ir(image).frameSource()->data(), three.chopped(6));

    // Cut inside the second of two: the first alone is a still picture.
    const std::shared_ptr<Image> still = ImageWrapper::decodeImage(iristest::twoFrameGif().chopped(6));
    ASSERT_TRUE(still);
    EXPECT_EQ(ir(still).images()->size(), 1u);
    EXPECT_EQ(ir(still).duration(), std::numeric_limits<double>::infinity());

    // Cut inside the only frame: nothing to show.
    const QByteArray one = testimages::writeGif(8, 8, { { QRect(0, 0, 8, 8), 0 } }).chopped(6);
    ASSERT_TRUE(platform::ImageSource::create(one));
    EXPECT_FALSE(ImageWrapper::decodeImage(one));
}

TEST(ImageDecoding, AnimatedWebpFramesLastAsTheFileSays)
{
    // Stored as 40, 0, 1250 and 11 ms: the last two short ones take the floor GIF delays have.
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/image-source/animated-frame-durations.webp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::shared_ptr<Image> image = ImageWrapper::imageFromData(file.readAll());
    ASSERT_TRUE(image && ir(image).frameSource());
    const double expected[] = { 0.04, 0.1, 1.25, 0.1 };
    for (int i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(ir(image).frameSource()->frameDuration(i), expected[i]) << "frame " << i;
    EXPECT_EQ(pixelOf((*ir(image).images())[2], 3, 3), 0xff0000ff);
}

TEST(ImageDecoding, EnormousDeclaredSizesFail)
{
    for (const QByteArray& data : { iristest::pngDeclaring(60000, 60000),
             iristest::jpegDeclaring(60000, 60000), iristest::gifDeclaring(60000, 60000) }) {
        EXPECT_FALSE(ImageWrapper::decodeImage(data));
        ImageCreatingOptions firstFrame;
        firstFrame.onlyFirstFrame = true;
        EXPECT_FALSE(ImageWrapper::decodeImage(data, firstFrame));
        EXPECT_FALSE(ImageWrapper::downsampledImage(data, { 100, 100 }, 1));
    }
}

// Only the first frame is made, so only it counts against the bounds; the whole animation still
// does not decode.
TEST(ImageDecoding, TheFirstFrameOfAnAnimationTooLargeAsAWholeDecodes)
{
    const QByteArray recording = iristest::longRecordingGif();
    EXPECT_FALSE(ImageWrapper::decodeImage(recording));

    ImageCreatingOptions firstFrame;
    firstFrame.onlyFirstFrame = true;
    const std::shared_ptr<Image> still = ImageWrapper::decodeImage(recording, firstFrame);
    ASSERT_TRUE(still);
    EXPECT_EQ(ir(still).pixelSize(), (platform::Size { 1920, 1080 }));
    EXPECT_EQ(pixelOf(still, 960, 540), 0xff0000ff);
    EXPECT_FALSE(ir(still).images());
    EXPECT_EQ(ir(still).imageFrameCount(), 1);
    EXPECT_EQ(ir(still).animatedImageData(), recording);

    const std::shared_ptr<Image> thumbnail = ImageWrapper::downsampledImage(recording, { 100, 100 }, 2);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->pixelSize(), (platform::Size { 200, 113 }));
    EXPECT_EQ(pixelOf(thumbnail, 100, 56), 0xff0000ff);
}

TEST(ImageDecoding, FrameImageWithZeroMaximumIsWhole)
{
    auto created = platform::ImageSource::create(testimages::encoded(testimages::pattern(64, 32), "png"));
    ASSERT_TRUE(created);
    CGImageFrameSource source(std::nullopt, created.value());
    EXPECT_EQ(source.frameImage(0, platform::Size { 0, 0 })->width(), 64);
    EXPECT_EQ(source.frameImage(0)->width(), 64);
    EXPECT_EQ(source.frameImage(0, platform::Size { 16, 4 })->width(), 16);
    EXPECT_FALSE(source.frameImage(1));
}

TEST(ImageDecoding, ThumbnailsAreBoundedAndNeverUpscaled)
{
    const QByteArray photo = testimages::encoded(testimages::pattern(4000, 3000), "jpeg", 80);
    const std::shared_ptr<Image> thumbnail = ImageWrapper::downsampledImage(photo, { 200, 200 }, 1);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(std::max(thumbnail->pixelSize().width, thumbnail->pixelSize().height), 200);
    EXPECT_EQ(thumbnail->pixelSize().height, 150);

    // 100 × 50 points at scale 2 asks for 200 pixels on the longer side.
    const std::shared_ptr<Image> scaled = ImageWrapper::downsampledImage(photo, { 100, 50 }, 2);
    ASSERT_TRUE(scaled);
    EXPECT_LE(scaled->pixelSize().width, 200);

    const QByteArray small = testimages::encoded(testimages::pattern(120, 80), "jpeg");
    const std::shared_ptr<Image> notUp = ImageWrapper::downsampledImage(small, { 200, 200 }, 1);
    ASSERT_TRUE(notUp);
    EXPECT_EQ(notUp->pixelSize(), (platform::Size { 120, 80 }));

    for (double bad : { 0.0, -5.0, std::nan("") })
        EXPECT_FALSE(ImageWrapper::downsampledImage(small, { bad, bad }, 1));
}

TEST(ImageEncoding, RepresentationsByFormat)
{
    const std::shared_ptr<Image> image
        = ImageWrapper::decodeImage(testimages::encoded(testimages::pattern(20, 10), "png"));
    ASSERT_TRUE(image);
    EXPECT_EQ(detectImageFormat(*ir(image).dataInFormat(ImageFormat::unknown)), ImageFormat::PNG);
    EXPECT_EQ(detectImageFormat(*ir(image).dataInFormat(ImageFormat::PNG)), ImageFormat::PNG);
    EXPECT_EQ(detectImageFormat(*ir(image).dataInFormat(ImageFormat::JPEG, 0.5)), ImageFormat::JPEG);
    EXPECT_FALSE(ir(image).dataInFormat(ImageFormat::GIF));

    const auto roundTrip = ImageWrapper::decodeImage(*ir(image).pngRepresentation());
    ASSERT_TRUE(roundTrip);
    EXPECT_TRUE(*roundTrip->bitmap() == *image->bitmap());

    const auto empty = Image::createEmpty({ 10, 10 });
    EXPECT_FALSE(ir(empty).pngRepresentation());
    EXPECT_FALSE(ir(empty).jpegRepresentation(1));
    EXPECT_FALSE(ir(empty).cgImage());
}

TEST(ImageDecoding, PixelSizeIsTheLargestOfEachSide)
{
    const auto wide = platform::Bitmap::fromImage(QImage(100, 10, QImage::Format_ARGB32));
    const auto tall = platform::Bitmap::fromImage(QImage(20, 80, QImage::Format_ARGB32));
    const auto image = Image::create(std::vector<platform::Bitmap> { *wide, *tall });
    EXPECT_EQ(ir(image).pixelSize(), (platform::Size { 100, 80 }));
    EXPECT_EQ(ir(Image::createEmpty({ 5, 5 })).pixelSize(), (platform::Size { 0, 0 }));
}

TEST(ImageDecoding, BitmapDrawingContextIsCurrentAndRefusesBadSizes)
{
    const auto context = ImageWrapper::makeBitmapDrawingContext(nullptr, 30.7, 20);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->bitsPerComponent(), 8);
    EXPECT_EQ(context->pixelWidth(), 30);
    EXPECT_EQ(platform::GraphicsContext::current(), context);

    const auto deep = platform::Bitmap::fromImage(QImage(4, 4, QImage::Format_RGBA64));
    EXPECT_EQ(ImageWrapper::makeBitmapDrawingContext(&*deep, 4, 4)->bitsPerComponent(), 16);

    const double inf = std::numeric_limits<double>::infinity();
    for (auto [w, h] :
        { std::pair { std::nan(""), 10.0 }, { inf, 10.0 }, { 0.0, 10.0 }, { -3.0, 10.0 }, { 1e12, 1e12 } }) {
        EXPECT_FALSE(ImageWrapper::makeBitmapDrawingContext(nullptr, w, h));
    }
    platform::GraphicsContext::setCurrent(nullptr);
}

TEST(ImageAssociatedState, SettingAbsentRemovesAndImagesHoldNoCycle)
{
    std::shared_ptr<Image> image = ImageWrapper::decodeImage(iristest::twoFrameGif());
    ASSERT_TRUE(image);
    std::weak_ptr<Image> weak = image;
    std::weak_ptr<Image> frame = ir(image).images()->front();
    ir(image).setImageFrameCount(std::nullopt);
    ir(image).setFrameSource(nullptr);
    EXPECT_FALSE(ir(image).imageFrameCount());
    EXPECT_FALSE(ir(image).frameSource());
    image.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(frame.expired());
}

// A rotated photo stands upright whichever way it is decoded: whole, as a thumbnail, or as a frame
// asked for at a maximum size.
TEST(ImageDecoding, RotatedPhotosStandUprightOnEveryPath)
{
    const QByteArray photo
        = testimages::encoded(testimages::pattern(40, 30), "jpeg", 90, QImageIOHandler::TransformationRotate90);
    const std::shared_ptr<Image> whole = ImageWrapper::decodeImage(photo);
    ASSERT_TRUE(whole);
    EXPECT_EQ(ir(whole).pixelSize(), (platform::Size { 30, 40 }));
    const std::shared_ptr<Image> thumbnail = ImageWrapper::downsampledImage(photo, { 20, 20 }, 1);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(ir(thumbnail).pixelSize(), (platform::Size { 15, 20 }));
    auto created = platform::ImageSource::create(photo);
    ASSERT_TRUE(created);
    CGImageFrameSource source(photo, created.value());
    EXPECT_EQ(source.frameImage(0)->image().size(), QSize(30, 40));
    EXPECT_EQ(source.frameImage(0, platform::Size { 10, 10 })->image().size(), QSize(8, 10));
}

// Data that begins like an image but is not one decodes to nothing, quietly.
TEST(ImageDecoding, LookalikesGiveNoImage)
{
    const QByteArray movie = QByteArray("\x00\x00\x00\x18" "ftypisom\x00\x00\x02\x00isomiso2", 24)
        + QByteArray(100, '\0');
    const QByteArray signatureOnly("GIF89a\x08\x00\x08\x00\x00\x00\x00\x3b", 14);
    for (const QByteArray& data : { movie, QByteArray("GIF is a format; this is a note about it."),
             signatureOnly, QByteArray("\x89PNG\r\n\x1a\n<html>", 14) }) {
        EXPECT_FALSE(ImageWrapper::decodeImage(data)) << data.toHex().left(24).constData();
        EXPECT_FALSE(ImageWrapper::downsampledImage(data, { 10, 10 }, 1));
    }
}
