#include "Iris/cache/CacheSerializer.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/Image.h"
#include "Iris/image/IrisImageTestData.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>

using namespace iris;
using platform::Image;

namespace {

std::shared_ptr<Image> stillImage()
{
    return Image::create(*platform::Bitmap::fromImage(testimages::pattern(12, 8)));
}

ImageFormat formatOf(const std::optional<QByteArray>& data)
{
    return data ? detectImageFormat(*data) : ImageFormat::unknown;
}

const QByteArray jpegData = testimages::encoded(testimages::pattern(12, 8), "jpeg");
const QByteArray pngData = testimages::encoded(testimages::pattern(12, 8), "png");

} // namespace

TEST(DefaultCacheSerializer, KeepsTheOriginalFormat)
{
    const auto& serializer = *DefaultCacheSerializer::shared();
    EXPECT_EQ(serializer.compressionQuality, 1.0);
    EXPECT_FALSE(serializer.usesOriginalData());
    const auto image = stillImage();
    EXPECT_EQ(formatOf(serializer.dataForImage(image, std::nullopt)), ImageFormat::PNG);
    const auto asJpeg = serializer.dataForImage(image, jpegData);
    EXPECT_EQ(formatOf(asJpeg), ImageFormat::JPEG);
    EXPECT_NE(asJpeg, jpegData);
    EXPECT_EQ(*asJpeg, *ir(image).jpegRepresentation(1.0));
    // Fewer than nine bytes tell no format.
    EXPECT_EQ(formatOf(serializer.dataForImage(image, jpegData.left(8))), ImageFormat::PNG);
    // GIF is the animation's own bytes, which a still image lacks.
    EXPECT_FALSE(serializer.dataForImage(image, iristest::twoFrameGif()));
    const QByteArray gif = iristest::twoFrameGif();
    EXPECT_EQ(serializer.dataForImage(ImageWrapper::decodeImage(gif), gif), gif);
    EXPECT_FALSE(serializer.dataForImage(Image::createEmpty({ 3, 3 }), std::nullopt));
}

TEST(DefaultCacheSerializer, PrefersTheOriginalBytesWhenAsked)
{
    DefaultCacheSerializer serializer;
    serializer.preferCacheOriginalData = true;
    EXPECT_TRUE(serializer.usesOriginalData());
    const auto processed = stillImage();
    EXPECT_EQ(serializer.dataForImage(processed, jpegData), jpegData);
    EXPECT_EQ(serializer.dataForImage(processed, QByteArray("abc")), QByteArray("abc"));
    EXPECT_EQ(formatOf(serializer.dataForImage(processed, std::nullopt)), ImageFormat::PNG);
}

TEST(FormatIndicatedCacheSerializer, AimsAtItsFormatWithFallbacks)
{
    const auto image = stillImage();
    EXPECT_EQ(
        formatOf(FormatIndicatedCacheSerializer::png()->dataForImage(image, jpegData)), ImageFormat::PNG);
    EXPECT_EQ(FormatIndicatedCacheSerializer::jpeg()->dataForImage(image, std::nullopt),
        ir(image).jpegRepresentation(1.0));
    EXPECT_EQ(FormatIndicatedCacheSerializer::jpeg(0.3)->dataForImage(image, std::nullopt),
        ir(image).jpegRepresentation(0.3));
    EXPECT_FALSE(FormatIndicatedCacheSerializer::png()->usesOriginalData());

    const auto gif = FormatIndicatedCacheSerializer::gif();
    // No animation data: the original's format (PNG) differs, so the image is written as PNG.
    EXPECT_EQ(gif->dataForImage(image, pngData), ir(image).pngRepresentation());
    // The original is GIF already: its bytes as they are.
    const QByteArray gifData = iristest::twoFrameGif();
    EXPECT_EQ(gif->dataForImage(image, gifData), gifData);
    EXPECT_EQ(formatOf(gif->dataForImage(image, std::nullopt)), ImageFormat::PNG);
    // An original of unknown format that nothing can re-encode is written unchanged.
    EXPECT_EQ(gif->dataForImage(image, QByteArray("short")), QByteArray("short"));

    const FormatIndicatedCacheSerializer unknown(ImageFormat::unknown);
    EXPECT_EQ(formatOf(unknown.dataForImage(image, std::nullopt)), ImageFormat::PNG);
}

TEST(CacheSerializer, DecodingHonoursOnlyLoadFirstFrame)
{
    IrisParsedOptionsInfo options;
    const QByteArray gif = iristest::twoFrameGif();
    const std::vector<CacheSerializerPtr> serializers { DefaultCacheSerializer::shared(),
        FormatIndicatedCacheSerializer::png() };
    for (const CacheSerializerPtr& serializer : serializers) {
        options.onlyLoadFirstFrame = false;
        const auto animated = serializer->imageFromCacheData(gif, options);
        ASSERT_TRUE(animated);
        EXPECT_EQ(ir(animated).images()->size(), 2u);
        options.onlyLoadFirstFrame = true;
        const auto first = serializer->imageFromCacheData(gif, options);
        ASSERT_TRUE(first);
        EXPECT_FALSE(ir(first).images());
        EXPECT_TRUE(serializer->imageFromCacheData(jpegData, options));
        EXPECT_FALSE(serializer->imageFromCacheData(QByteArray("corrupt cache file"), options));
    }
}

// A cache file another program cut short decodes with grey rows; it must read as absent, so that
// the image is fetched again. Whole files still read, whatever sits around their markers.
TEST(CacheSerializer, ACutJpegReadsAsAbsent)
{
    IrisParsedOptionsInfo options;
    const auto& serializer = *DefaultCacheSerializer::shared();
    const QByteArray whole = testimages::encoded(testimages::pattern(64, 48), "jpeg", 90);
    ASSERT_TRUE(serializer.imageFromCacheData(whole, options));
    for (qsizetype keep : { whole.size() - 2, whole.size() * 3 / 4, whole.size() / 2 })
        EXPECT_FALSE(serializer.imageFromCacheData(whole.left(keep), options)) << keep;
    EXPECT_TRUE(serializer.imageFromCacheData(whole + QByteArray(100, '\0'), options));

    // A thumbnail in its own segment ends with an end-of-image marker of its own.
    QByteArray withThumbnail = whole.left(2);
    const QByteArray thumbnail = QByteArray("Exif") + testimages::encoded(testimages::pattern(8, 8), "jpeg");
    const qsizetype length = thumbnail.size() + 2;
    withThumbnail.append("\xff\xe1", 2).append(char(length >> 8)).append(char(length)).append(thumbnail);
    withThumbnail.append(whole.mid(2));
    ASSERT_TRUE(serializer.imageFromCacheData(withThumbnail, options));
    EXPECT_FALSE(serializer.imageFromCacheData(withThumbnail.left(withThumbnail.size() - 40), options));

    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(testimages::pattern(64, 48)));
    }
    EXPECT_TRUE(serializer.imageFromCacheData(progressive, options));
    EXPECT_FALSE(serializer.imageFromCacheData(progressive.left(progressive.size() * 2 / 3), options));
}

// A GIF cut short would play as fewer frames; one that merely lacks its trailer is whole.
TEST(CacheSerializer, AGifCutInsideABlockReadsAsAbsent)
{
    IrisParsedOptionsInfo options;
    const auto& serializer = *DefaultCacheSerializer::shared();
    testimages::GifFrame frame { QRect(0, 0, 16, 16), 1 };
    const QByteArray whole = testimages::writeGif(16, 16, { frame, frame, frame, frame });
    const auto image = serializer.imageFromCacheData(whole, options);
    ASSERT_TRUE(image && ir(image).images());
    EXPECT_EQ(ir(image).images()->size(), 4u);
    ASSERT_EQ(whole.back(), '\x3b');
    EXPECT_TRUE(serializer.imageFromCacheData(whole.chopped(1), options));
    for (qsizetype keep : { whole.size() - 2, whole.size() - 10, whole.size() * 3 / 4, qsizetype(20) })
        EXPECT_FALSE(serializer.imageFromCacheData(whole.left(keep), options)) << keep;
    options.onlyLoadFirstFrame = true;
    EXPECT_FALSE(serializer.imageFromCacheData(whole.left(whole.size() - 2), options));
}

// A photo given round corners by a processor comes back from the disk with clear corners, not black
// ones; opaque pixels are still written as JPEG.
TEST(DefaultCacheSerializer, KeepsTransparencyThatJpegWouldLose)
{
    const auto& serializer = *DefaultCacheSerializer::shared();
    const auto photo = ImageWrapper::decodeImage(jpegData);
    const auto rounded = ir(photo).roundedCornerImage(Radius::point(4), { 12, 8 });
    const auto written = serializer.dataForImage(rounded, jpegData);
    EXPECT_EQ(formatOf(written), ImageFormat::PNG);
    const auto readBack = serializer.imageFromCacheData(*written, IrisParsedOptionsInfo {});
    ASSERT_TRUE(readBack);
    EXPECT_EQ(qAlpha(readBack->bitmap()->image().pixel(0, 0)), 0);
    EXPECT_EQ(formatOf(serializer.dataForImage(photo, jpegData)), ImageFormat::JPEG);

    // One half-clear pixel is enough, in any format with alpha.
    QImage wide = testimages::pattern(12, 8).convertToFormat(QImage::Format_RGBA64);
    EXPECT_EQ(formatOf(serializer.dataForImage(Image::create(*platform::Bitmap::fromImage(wide)), jpegData)),
        ImageFormat::JPEG);
    wide.setPixelColor(11, 7, QColor(0, 0, 0, 128));
    EXPECT_EQ(formatOf(serializer.dataForImage(Image::create(*platform::Bitmap::fromImage(wide)), jpegData)),
        ImageFormat::PNG);
}
