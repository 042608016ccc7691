#include "platform/graphics/DecodeAhead.h"
#include "platform/graphics/ImageEncoding.h"
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/JpegDecoder.h"
#include "platform/graphics/PngWriter.h"
#include "platform/graphics/TestImages.h"
#include "platform/graphics/WebpAnimation.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>
#include <thread>

#include <zlib.h>

using namespace platform;
using testimages::GifFrame;

namespace {

constexpr QRgb red = 0xffff0000, green = 0xff00ff00, blue = 0xff0000ff, transparent = 0;

std::shared_ptr<ImageSource> sourceOf(const QByteArray& data, const DecodingLimits& limits = {})
{
    auto created = ImageSource::create(data, limits);
    return created ? created.value() : nullptr;
}

QRgb pixelOf(const Bitmap& bitmap, int x, int y)
{
    return bitmap.image().convertToFormat(QImage::Format_ARGB32).pixel(x, y);
}

// A PNG of only its signature and header chunk, declaring `width` × `height`.
QByteArray pngHeader(quint32 width, quint32 height)
{
    QByteArray chunk("IHDR");
    chunk.append(char(width >> 24)).append(char(width >> 16)).append(char(width >> 8)).append(char(width));
    chunk.append(char(height >> 24))
        .append(char(height >> 16))
        .append(char(height >> 8))
        .append(char(height));
    chunk.append("\x08\x06\x00\x00\x00", 5);
    const quint32 crc = qToBigEndian(quint32(~[&] {
        quint32 c = 0xffffffff;
        for (unsigned char byte : chunk) {
            c ^= byte;
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xedb88320 & (0 - (c & 1)));
        }
        return c;
    }()));
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png.append("\x00\x00\x00\x0d", 4).append(chunk).append(reinterpret_cast<const char*>(&crc), 4);
    return png;
}

// A baseline JPEG's markers up to the start of its scan, declaring `width` × `height`.
QByteArray jpegHeader(quint16 width, quint16 height)
{
    QByteArray jpeg("\xff\xd8\xff\xc0\x00\x11\x08", 7);
    jpeg.append(char(height >> 8)).append(char(height)).append(char(width >> 8)).append(char(width));
    jpeg.append("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
    jpeg.append("\xff\xda\x00\x0c\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00", 14);
    jpeg.append(QByteArray(64, '\0'));
    return jpeg;
}

QByteArray gifHeader(quint16 width, quint16 height)
{
    QByteArray gif("GIF89a");
    gif.append(char(width)).append(char(width >> 8)).append(char(height)).append(char(height >> 8));
    gif.append("\x00\x00\x00", 3);
    gif.append("\x2c\x00\x00\x00\x00", 5).append(char(width)).append(char(width >> 8));
    gif.append(char(height))
        .append(char(height >> 8))
        .append("\x80\x00\x00\x00\xff\xff\xff\x02\x02\x44\x01\x00\x3b", 13);
    return gif;
}

// `jpeg` with an APP2 marker holding `profile` right after its start (Qt's writer leaves the profile
// out of grey JPEGs).
QByteArray withIccProfile(const QByteArray& jpeg, const QByteArray& profile)
{
    QByteArray marker("\xff\xe2", 2);
    const int length = 2 + 14 + int(profile.size());
    marker.append(char(length >> 8)).append(char(length));
    marker.append("ICC_PROFILE\0\x01\x01", 14).append(profile);
    return jpeg.left(2) + marker + jpeg.mid(2);
}

} // namespace

TEST(ImageSource, DecodesStillFormatsMadeHere)
{
    const QImage picture = testimages::pattern(64, 48);
    struct Case {
        const char* format;
        QByteArray data;
        bool lossless;
    };
    const Case cases[] = {
        { "png", testimages::encoded(picture, "png"), true },
        { "jpeg", testimages::encoded(picture, "jpeg", 95), false },
        { "webp", testimages::encoded(picture, "webp", 100), false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        ASSERT_FALSE(c.data.isEmpty());
        const auto source = sourceOf(c.data);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->format(), QByteArray(c.format));
        EXPECT_EQ(source->frameCount(), 1);
        EXPECT_EQ(source->pixelSize(), QSize(64, 48));
        EXPECT_FALSE(source->frameProperties(0)->isGif);
        EXPECT_FALSE(source->frame(1));

        const auto image = imageFromData(c.data);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixelSize(), (Size { 64, 48 }));
        EXPECT_EQ(image->size(), (Size { 64, 48 }));
        EXPECT_FALSE(image->isAnimated());
        const QRgb corner = pixelOf(*image->bitmap(), 63, 47);
        if (c.lossless)
            EXPECT_EQ(corner, picture.pixel(63, 47));
        else
            EXPECT_NEAR(qRed(corner), 255, 12);
    }
}

TEST(ImageSource, GifFramesDelaysAndLoopCountWithRandomAccess)
{
    const QByteArray gif = testimages::writeGif(4, 4,
        { { QRect(0, 0, 4, 4), 0, DISPOSAL_UNSPECIFIED, 5 },
            { QRect(0, 0, 4, 4), 1, DISPOSAL_UNSPECIFIED, 50 } },
        0);
    const auto source = sourceOf(gif);
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->isGif());
    EXPECT_EQ(source->frameCount(), 2);
    EXPECT_EQ(source->pixelSize(), QSize(4, 4));
    EXPECT_EQ(source->loopCount(), 0);
    EXPECT_DOUBLE_EQ(*source->frameProperties(0)->gifDelaySeconds, 0.05);
    EXPECT_DOUBLE_EQ(*source->frameProperties(1)->gifDelaySeconds, 0.5);
    EXPECT_FALSE(source->frameProperties(2));

    // Backwards after forwards, so the cached canvas must be rebuilt.
    EXPECT_EQ(pixelOf(*source->frame(1), 2, 2), green);
    EXPECT_EQ(pixelOf(*source->frame(0), 2, 2), red);
    EXPECT_EQ(pixelOf(*source->frame(1), 0, 0), green);

    const auto still = imageFromData(gif);
    ASSERT_TRUE(still);
    EXPECT_EQ(pixelOf(*still->bitmap(), 0, 0), red);

    const auto noLoop = sourceOf(testimages::writeGif(2, 2, { { QRect(0, 0, 2, 2), 2 } }));
    ASSERT_TRUE(noLoop);
    EXPECT_FALSE(noLoop->loopCount());
}

TEST(ImageSource, GifFramesAreCompositedByTheirDisposal)
{
    // A red background frame, then a blue top-left quarter, then a green bottom-right quarter
    // whose white pixels are transparent.
    const auto composite = [](int secondDisposal) {
        return testimages::writeGif(4, 4,
            { { QRect(0, 0, 4, 4), 0, DISPOSE_DO_NOT }, { QRect(0, 0, 2, 2), 2, secondDisposal },
                { QRect(2, 2, 2, 2), 1, DISPOSE_DO_NOT } });
    };
    struct Case {
        int disposal;
        QRgb topLeftInThirdFrame;
    };
    for (const Case c : { Case { DISPOSE_DO_NOT, blue }, Case { DISPOSE_BACKGROUND, transparent },
             Case { DISPOSE_PREVIOUS, red } }) {
        SCOPED_TRACE(c.disposal);
        const auto source = sourceOf(composite(c.disposal));
        ASSERT_TRUE(source);
        const auto second = source->frame(1);
        ASSERT_TRUE(second);
        EXPECT_EQ(second->width(), 4);
        EXPECT_EQ(pixelOf(*second, 0, 0), blue);
        EXPECT_EQ(pixelOf(*second, 3, 3), red);
        const auto third = source->frame(2);
        ASSERT_TRUE(third);
        EXPECT_EQ(pixelOf(*third, 0, 0), c.topLeftInThirdFrame);
        EXPECT_EQ(pixelOf(*third, 3, 3), green);
        EXPECT_EQ(pixelOf(*third, 3, 0), red);
    }

    // A frame declared with no width draws nothing.
    QByteArray noWidth = testimages::writeGif(2, 2, { { QRect(0, 0, 2, 2), 0 }, { QRect(1, 0, 1, 2), 1 } });
    const qsizetype descriptor = noWidth.indexOf('\x2c', noWidth.indexOf('\x2c') + 1);
    ASSERT_GT(descriptor, 0);
    noWidth[descriptor + 5] = 0;
    const auto empty = sourceOf(noWidth);
    ASSERT_TRUE(empty);
    EXPECT_EQ(pixelOf(*empty->frame(1), 1, 1), red);

    const auto withHole = sourceOf(testimages::writeGif(
        2, 1, { { QRect(0, 0, 2, 1), 0 }, { QRect(0, 0, 2, 1), 3, DISPOSE_DO_NOT, 10, 3 } }));
    ASSERT_TRUE(withHole);
    EXPECT_EQ(pixelOf(*withHole->frame(1), 1, 0), red);
}

TEST(ImageSource, CorruptGifFrameFailsButEarlierFramesDecode)
{
    const QByteArray gif = testimages::writeGif(
        16, 16, { { QRect(0, 0, 16, 16), 0 }, { QRect(0, 0, 16, 16), 1 }, { QRect(0, 0, 16, 16), 2 } });
    // Cut inside the last frame's pixel data.
    const QByteArray cut = gif.left(gif.size() - 6);
    const auto source = sourceOf(cut);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->frameCount(), 3);
    EXPECT_TRUE(source->frame(0));
    EXPECT_TRUE(source->frame(1));
    EXPECT_FALSE(source->frame(2));

    // An impossible code size in the second frame: it and every later frame fail.
    QByteArray bad = gif;
    const qsizetype secondImage = bad.indexOf('\x2c', bad.indexOf('\x2c') + 1);
    ASSERT_GT(secondImage, 0);
    bad[secondImage + 10] = 0x0f;
    const auto damaged = sourceOf(bad);
    ASSERT_TRUE(damaged);
    EXPECT_TRUE(damaged->frame(0));
    EXPECT_FALSE(damaged->frame(1));
}

// The frame headers of a WebP made by hand (fuzz/corpus/image-source), and the same file damaged.
TEST(WebpAnimation, FrameDurationsAreReadOnlyWithinTheData)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/image-source/animated-frame-durations.webp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray webp = file.readAll();
    EXPECT_EQ(webpFrameDurations(webp), (std::vector<int> { 40, 0, 1250, 11 }));
    const qsizetype secondFrame = webp.indexOf("ANMF", webp.indexOf("ANMF") + 1);
    ASSERT_GT(secondFrame, 0);
    QByteArray claimsTooMuch = webp;
    claimsTooMuch[secondFrame + 7] = char(0x7f);
    QByteArray endsEarly = webp;
    endsEarly[4] = char(secondFrame - 8);
    endsEarly[5] = char((secondFrame - 8) >> 8);
    for (const QByteArray& damaged : { webp.left(secondFrame + 20), claimsTooMuch, endsEarly })
        EXPECT_EQ(webpFrameDurations(damaged), std::vector<int> { 40 });
    EXPECT_TRUE(webpFrameDurations(testimages::encoded(testimages::pattern(4, 4), "webp")).empty());
}

TEST(ImageSource, EnormousDeclaredSizesFailAtTheHeader)
{
    const std::pair<const char*, QByteArray> cases[] = {
        { "png", pngHeader(60000, 60000) },
        { "jpeg", jpegHeader(60000, 60000) },
        { "gif", gifHeader(60000, 60000) },
    };
    for (const auto& [name, data] : cases) {
        SCOPED_TRACE(name);
        auto created = ImageSource::create(data);
        ASSERT_TRUE(created.isFailure());
        EXPECT_EQ(created.error(), DecodeError::tooLarge);
        EXPECT_FALSE(imageFromData(data));
        EXPECT_FALSE(thumbnailFromData(data, 100));
    }
    // The same header at a sane size passes the check and fails later, for want of pixels.
    const auto sane = ImageSource::create(pngHeader(100, 100));
    ASSERT_TRUE(sane);
    EXPECT_FALSE(sane.value()->frame(0));
}

// A drawing names other files, which Qt's reader would open while reading its size: a picture
// elsewhere on the disk would be copied into ours, and a pipe or a terminal would never answer.
TEST(ImageSource, DrawingsThatNameOtherFilesAreRefused)
{
    QTemporaryDir folder;
    const QString picture = folder.filePath("elsewhere.png");
    ASSERT_TRUE(QImage(8, 8, QImage::Format_RGB32).save(picture));
    const QByteArray drawing = "<svg xmlns=\"http://www.w3.org/2000/svg\" "
                               "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"40\" height=\"40\">"
                               "<image width=\"40\" height=\"40\" xlink:href=\""
        + picture.toUtf8() + "\"/></svg>";
    auto created = ImageSource::create(drawing);
    ASSERT_TRUE(created.isFailure());
    EXPECT_EQ(created.error(), DecodeError::unrecognizedFormat);
    EXPECT_FALSE(imageFromData(drawing));
}

TEST(ImageSource, PngChunksLongerThanTheFileFailBeforeAnyAllocation)
{
    // 393 bytes whose text chunk declares 2,086,862,885: the PNG reader would first allocate that.
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/image-source/text-chunk-claims-2gb.png"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray claims2Gb = file.readAll();
    ASSERT_EQ(claims2Gb.size(), 393);

    QByteArray cutInIdat = testimages::encoded(testimages::pattern(64, 64), "png");
    cutInIdat.chop(40);
    for (const QByteArray& data : { claims2Gb, cutInIdat }) {
        testsupport::resetPeakResident();
        const long before = testsupport::statusKilobytes("VmHWM");
        auto created = ImageSource::create(data);
        ASSERT_TRUE(created.isFailure());
        EXPECT_EQ(created.error(), DecodeError::corrupt);
        EXPECT_FALSE(imageFromData(data));
        EXPECT_FALSE(thumbnailFromData(data, 32));
        EXPECT_LT(testsupport::statusKilobytes("VmHWM") - before, 64 << 10) << "kilobytes";
    }
}

TEST(ImageSource, SixteenBitPngWithATransparentColourDecodesRight)
{
    // Every other pixel is the tRNS colour; the rest are opaque.
    struct Case {
        const char* name;
        int bitDepth;
        int colorType;
        std::array<unsigned, 3> key;
        std::array<unsigned, 3> other;
    };
    const Case cases[] = {
        { "16-bit RGB", 16, PNG_COLOR_TYPE_RGB, { 0x1234, 0x5678, 0x9abc }, { 0xffff, 0x0000, 0x8080 } },
        { "8-bit RGB", 8, PNG_COLOR_TYPE_RGB, { 0x12, 0x56, 0x9a }, { 0xff, 0x00, 0x80 } },
        { "16-bit grey", 16, PNG_COLOR_TYPE_GRAY, { 0x4343, 0, 0 }, { 0x8080, 0, 0 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testimages::PngContents contents { 6, 3, c.bitDepth, c.colorType, {}, {}, c.key, std::nullopt, {} };
        const int channels = testimages::channelsOf(c.colorType);
        for (int i = 0; i < contents.width * contents.height; ++i) {
            for (int channel = 0; channel < channels; ++channel)
                contents.samples.push_back(
                    i % 2 ? c.other[std::size_t(channel)] : c.key[std::size_t(channel)]);
        }
        const QByteArray png = testimages::writePng(contents);
        const auto image = imageFromData(png);
        ASSERT_TRUE(image);
        const QImage pixels = image->bitmap()->image().convertToFormat(QImage::Format_ARGB32);
        const int shift = c.bitDepth - 8;
        const QRgb opaque = channels == 3
            ? qRgb(int(c.other[0] >> shift), int(c.other[1] >> shift), int(c.other[2] >> shift))
            : qRgb(int(c.other[0] >> shift), int(c.other[0] >> shift), int(c.other[0] >> shift));
        for (int i = 0; i < contents.width * contents.height; ++i) {
            const QRgb pixel = pixels.pixel(i % contents.width, i / contents.width);
            if (i % 2)
                EXPECT_EQ(pixel, opaque) << i;
            else
                EXPECT_EQ(qAlpha(pixel), 0) << i;
        }
        const auto thumbnail = thumbnailFromData(png, 3);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->image().size(), QSize(3, 2));
    }
}

TEST(ImageSource, OneColourRuleForEveryPixelFormat)
{
    // Mid-grey in files of every kind that carry the same linear profile, or the same bare gamma of
    // 1.0: all must come out as the same sRGB grey.
    const QColorSpace linear(QColorSpace::Primaries::SRgb, 1.0f);
    const int expected = 188;
    struct Case {
        const char* name;
        int colorType;
        std::vector<unsigned> samples;
        bool withProfile;
    };
    std::vector<Case> cases;
    for (bool withProfile : { false, true }) {
        cases.push_back({ "palette", PNG_COLOR_TYPE_PALETTE, { 0, 0 }, withProfile });
        cases.push_back({ "RGB", PNG_COLOR_TYPE_RGB, { 128, 128, 128, 128, 128, 128 }, withProfile });
        cases.push_back(
            { "RGBA", PNG_COLOR_TYPE_RGB_ALPHA, { 128, 128, 128, 255, 128, 128, 128, 255 }, withProfile });
        // libpng refuses an RGB profile on a grey file: grey files carry the gamma only.
        if (!withProfile) {
            cases.push_back({ "grey", PNG_COLOR_TYPE_GRAY, { 128, 128 }, false });
            cases.push_back({ "grey and alpha", PNG_COLOR_TYPE_GRAY_ALPHA, { 128, 255, 128, 255 }, false });
        }
    }
    std::vector<std::pair<std::string, QByteArray>> files;
    for (const Case& c : cases) {
        testimages::PngContents contents { 2, 1, 8, c.colorType, c.samples, { qRgb(128, 128, 128) },
            std::nullopt, c.withProfile ? std::nullopt : std::optional<double>(1.0),
            c.withProfile ? linear.iccProfile() : QByteArray() };
        if (c.colorType != PNG_COLOR_TYPE_PALETTE)
            contents.palette.clear();
        files.emplace_back(std::string(c.name) + (c.withProfile ? " with a profile" : " with a gamma"),
            testimages::writePng(contents));
    }
    for (QImage::Format format : { QImage::Format_RGB32, QImage::Format_Grayscale8 }) {
        QImage grey(16, 16, format);
        grey.fill(QColor(128, 128, 128));
        files.emplace_back(
            format == QImage::Format_RGB32 ? "colour JPEG with a profile" : "grey JPEG with a profile",
            withIccProfile(testimages::encoded(grey, "jpeg", 100), linear.iccProfile()));
    }
    for (const auto& [name, data] : files) {
        SCOPED_TRACE(name);
        const auto image = imageFromData(data);
        ASSERT_TRUE(image);
        const QRgb pixel = pixelOf(*image->bitmap(), 1, 0);
        EXPECT_NEAR(qRed(pixel), expected, 1);
        EXPECT_NEAR(qGreen(pixel), expected, 1);
        EXPECT_NEAR(qBlue(pixel), expected, 1);
    }
}

TEST(ImageSource, LimitsBoundFramesAndTotalBytes)
{
    const QByteArray png = testimages::encoded(testimages::pattern(100, 100), "png");
    EXPECT_EQ(ImageSource::create(png, { 9'999, qint64(1) << 30 }).error(), DecodeError::tooLarge);
    EXPECT_TRUE(ImageSource::create(png, { 10'000, qint64(1) << 30 }));

    const QByteArray gif
        = testimages::writeGif(10, 10, { { QRect(0, 0, 10, 10), 0 }, { QRect(0, 0, 10, 10), 1 } });
    EXPECT_EQ(ImageSource::create(gif, { 100, 700 }).error(), DecodeError::tooLarge);
    // Two canvases and their indices, and a kilobyte for what each frame costs beside its pixels.
    EXPECT_EQ(ImageSource::create(gif, { 100, 3047 }).error(), DecodeError::tooLarge);
    EXPECT_TRUE(ImageSource::create(gif, { 100, 3048 }));

    // A screen recording: a long animation at full size, beyond the bound as a whole. Its first
    // frame is still there for a still picture of it.
    std::vector<testimages::GifFrame> frames(200, { QRect(0, 0, 1, 1), 1 });
    frames.front() = { QRect(0, 0, 1920, 1080), 0 };
    const QByteArray recording = testimages::writeGif(1920, 1080, frames);
    EXPECT_EQ(ImageSource::create(recording).error(), DecodeError::tooLarge);
    DecodingLimits still;
    still.firstFrameOnly = true;
    auto first = ImageSource::create(recording, still);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.value()->frameCount(), 1);
    EXPECT_EQ(first.value()->pixelSize(), QSize(1920, 1080));
    EXPECT_TRUE(first.value()->thumbnail(80));

    EXPECT_EQ(
        ImageSource::create(QByteArray("not an image at all")).error(), DecodeError::unrecognizedFormat);
    EXPECT_EQ(ImageSource::create(QByteArray()).error(), DecodeError::unrecognizedFormat);
}

TEST(ImageSource, ThumbnailsAreBoundedAndNeverUpscaled)
{
    const QByteArray jpeg = testimages::encoded(testimages::pattern(4000, 3000), "jpeg", 90);
    // The DCT output at 7/8 is 266 × 210, whose fit would be 256 × 202; the original's is 256 × 201.
    const QByteArray oddJpeg = testimages::encoded(testimages::pattern(304, 239), "jpeg", 90);
    const QByteArray png = testimages::encoded(testimages::pattern(300, 100), "png");
    const QByteArray gif = testimages::writeGif(40, 20, { { QRect(0, 0, 40, 20), 2 } });
    struct Case {
        const char* name;
        const QByteArray& data;
        int maxPixelSize;
        QSize expected;
    };
    const Case cases[] = {
        { "jpeg", jpeg, 200, QSize(200, 150) },
        { "jpeg", jpeg, 1000, QSize(1000, 750) },
        { "jpeg", jpeg, 5000, QSize(4000, 3000) },
        { "jpeg", oddJpeg, 256, QSize(256, 201) },
        { "png", png, 50, QSize(50, 17) },
        { "png", png, 1000, QSize(300, 100) },
        { "gif", gif, 10, QSize(10, 5) },
        { "gif", gif, 0, QSize(40, 20) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.maxPixelSize));
        const auto thumbnail = thumbnailFromData(c.data, c.maxPixelSize);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->image().size(), c.expected);
    }
    const auto small = thumbnailFromData(jpeg, 200);
    // The pattern's red grows to the right and its green downwards.
    EXPECT_GT(qRed(pixelOf(*small, 199, 0)), 240);
    EXPECT_GT(qGreen(pixelOf(*small, 0, 149)), 240);
}

TEST(ImageSource, ThumbnailsFollowTheExifOrientation)
{
    QImageWriter probe;
    probe.setFormat("jpeg");
    ASSERT_TRUE(probe.supportsOption(QImageIOHandler::ImageTransformation));
    // Stored 400 × 200 and marked as turned a quarter clockwise: shown 200 × 400.
    const QByteArray jpeg = testimages::encoded(
        testimages::pattern(400, 200), "jpeg", 90, QImageIOHandler::TransformationRotate90);
    const auto source = sourceOf(jpeg);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->pixelSize(), QSize(200, 400));
    const auto thumbnail = source->thumbnail(100);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->image().size(), QSize(50, 100));
    // The stored top-right corner (red, no green) is shown at the bottom-right.
    const QRgb shown = pixelOf(*thumbnail, 49, 99);
    EXPECT_GT(qRed(shown), 220);
    EXPECT_LT(qGreen(shown), 40);
    const auto whole = source->frame(0);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->image().size(), QSize(200, 400));

    // Fitted from the original size, then turned.
    const auto turned = thumbnailFromData(testimages::encoded(testimages::pattern(304, 239), "jpeg", 90,
                                              QImageIOHandler::TransformationRotate90),
        256);
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->image().size(), QSize(201, 256));
}

// `png` with an eXIf chunk holding `orientation` (big-endian TIFF, one entry) before its pixels.
QByteArray withExifChunk(QByteArray png, int orientation)
{
    QByteArray chunk("eXIf");
    chunk.append("MM\0\x2a\0\0\0\x08\0\x01", 10);
    chunk.append("\x01\x12\0\x03\0\0\0\x01\0", 9).append(char(orientation)).append("\0\0\0\0\0\0", 6);
    const quint32 length = qToBigEndian(quint32(chunk.size() - 4));
    const quint32 crc = qToBigEndian(
        quint32(crc32(0, reinterpret_cast<const Bytef*>(chunk.constData()), uInt(chunk.size()))));
    chunk.prepend(reinterpret_cast<const char*>(&length), 4).append(reinterpret_cast<const char*>(&crc), 4);
    png.insert(png.indexOf("IDAT") - 4, chunk);
    return png;
}

// A PNG's eXIf orientation turns and mirrors it as a JPEG's EXIF does: the whole picture, its
// thumbnail and its size. The pattern's stored corners are told apart by red (growing to the
// right) and green (growing downwards).
TEST(ImageSource, APngsExifOrientationTurnsItAsAJpegsDoes)
{
    const QByteArray png = testimages::encoded(testimages::pattern(40, 20), "png");
    enum Corner { topLeft, topRight, bottomLeft, bottomRight };
    // Where the stored top-left and top-right corners are shown.
    const struct {
        int orientation;
        Corner storedTopLeft, storedTopRight;
    } cases[] = { { 1, topLeft, topRight }, { 2, topRight, topLeft }, { 3, bottomRight, bottomLeft },
        { 4, bottomLeft, bottomRight }, { 5, topLeft, bottomLeft }, { 6, topRight, bottomRight },
        { 7, bottomRight, topRight }, { 8, bottomLeft, topLeft } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        const QByteArray data = withExifChunk(png, c.orientation);
        const QSize shown = c.orientation >= 5 ? QSize(20, 40) : QSize(40, 20);
        const auto source = sourceOf(data);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->pixelSize(), shown);
        const auto whole = imageFromData(data);
        const auto thumbnail = thumbnailFromData(data, 20);
        ASSERT_TRUE(whole && whole->bitmap() && thumbnail);
        EXPECT_EQ(thumbnail->image().size(), shown / 2);
        for (const Bitmap& bitmap : { *whole->bitmap(), *thumbnail }) {
            const int right = bitmap.width() - 1, bottom = bitmap.height() - 1;
            const QPoint corners[] = { { 0, 0 }, { right, 0 }, { 0, bottom }, { right, bottom } };
            const QPoint black = corners[c.storedTopLeft], red = corners[c.storedTopRight];
            EXPECT_LT(qRed(pixelOf(bitmap, black.x(), black.y())), 30) << bitmap.width();
            EXPECT_LT(qGreen(pixelOf(bitmap, black.x(), black.y())), 30) << bitmap.width();
            EXPECT_GT(qRed(pixelOf(bitmap, red.x(), red.y())), 225) << bitmap.width();
            EXPECT_LT(qGreen(pixelOf(bitmap, red.x(), red.y())), 30) << bitmap.width();
        }
    }
}

TEST(ImageEncoding, RoundTripsThroughTheDecoders)
{
    const QImage picture = testimages::pattern(40, 30);
    const Bitmap bitmap = *Bitmap::fromImage(picture);

    const auto png = encodePng(bitmap);
    ASSERT_TRUE(png);
    EXPECT_EQ(imageFromData(*png)->bitmap()->image().convertToFormat(QImage::Format_RGB32), picture);

    QImage deep(8, 8, QImage::Format_RGBA64);
    deep.fill(QColor::fromRgba64(1000, 30000, 65535, 65535));
    const auto deepPng = encodePng(*Bitmap::fromImage(deep));
    ASSERT_TRUE(deepPng);
    EXPECT_EQ(imageFromData(*deepPng)->bitmap()->bitsPerComponent(), 16);

    const auto best = encodeJpeg(bitmap, 1.0);
    const auto worst = encodeJpeg(bitmap, 0.0);
    ASSERT_TRUE(best && worst);
    EXPECT_LT(worst->size(), best->size());
    EXPECT_EQ(sourceOf(*worst)->pixelSize(), QSize(40, 30));

    // Many colours go through the fixed palette; few keep their exact values.
    const auto gif = encodeGif(
        { { bitmap, 0.25 }, { *Bitmap::fromImage(QImage(40, 30, QImage::Format_ARGB32)), 1 } }, 3);
    ASSERT_TRUE(gif);
    const auto animated = sourceOf(*gif);
    ASSERT_TRUE(animated);
    EXPECT_EQ(animated->frameCount(), 2);
    EXPECT_EQ(animated->loopCount(), 3);
    EXPECT_DOUBLE_EQ(*animated->frameProperties(0)->gifDelaySeconds, 0.25);
    const QRgb approximate = pixelOf(*animated->frame(0), 39, 29);
    EXPECT_NEAR(qRed(approximate), 255, 30);
    EXPECT_NEAR(qGreen(approximate), 255, 30);

    QImage few(3, 1, QImage::Format_ARGB32);
    few.setPixel(0, 0, 0xff123456);
    few.setPixel(1, 0, 0x00000000);
    few.setPixel(2, 0, 0xffabcdef);
    const auto exact = sourceOf(*encodeGif({ { *Bitmap::fromImage(few), 0.1 } }));
    ASSERT_TRUE(exact);
    EXPECT_EQ(pixelOf(*exact->frame(0), 0, 0), 0xff123456);
    EXPECT_EQ(pixelOf(*exact->frame(0), 1, 0), transparent);
    EXPECT_EQ(pixelOf(*exact->frame(0), 2, 0), 0xffabcdef);
    EXPECT_FALSE(encodeGif({}));
}

TEST(ImageEncoding, JpegLaysEveryFormatWithAlphaOverBlack)
{
    for (const QImage::Format format : { QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32,
             QImage::Format_RGBA64, QImage::Format_RGBA64_Premultiplied, QImage::Format_Alpha8 }) {
        SCOPED_TRACE(int(format));
        QImage picture(8, 8, format);
        picture.fill(QColor(200, 100, 50, 128));
        // A hidden colour under full transparency.
        picture.setPixelColor(0, 0, QColor(255, 255, 255, 0));
        const auto jpeg = encodeJpeg(*Bitmap::fromImage(picture), 1.0);
        ASSERT_TRUE(jpeg);
        const QImage decoded = imageFromData(*jpeg)->bitmap()->image();
        const QColor expected = format == QImage::Format_Alpha8 ? QColor(0, 0, 0) : QColor(100, 50, 25);
        EXPECT_NEAR(decoded.pixelColor(5, 5).red(), expected.red(), 3);
        EXPECT_NEAR(decoded.pixelColor(5, 5).green(), expected.green(), 3);
        EXPECT_NEAR(decoded.pixelColor(5, 5).blue(), expected.blue(), 3);
        EXPECT_LT(decoded.pixelColor(0, 0).lightness(), 40);
    }
}

TEST(ImageSource, FramesMayBeAskedForFromSeveralThreads)
{
    std::vector<GifFrame> frames;
    for (int i = 0; i < 6; ++i)
        frames.push_back({ QRect(i % 4, 0, 1, 4), i % 3, DISPOSE_DO_NOT });
    const auto source = sourceOf(testimages::writeGif(4, 4, frames));
    ASSERT_TRUE(source);
    const QImage expected = source->frame(5)->image();
    std::vector<std::thread> threads;
    std::atomic<int> mismatches { 0 };
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                const int index = (round + t) % 6;
                const auto frame = source->frame(index);
                if (!frame || (index == 5 && frame->image() != expected))
                    ++mismatches;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
}

// Thumbnails of PNGs with transparency: transparent pixels lend no colour to their neighbours, and
// palette, 1-bit and 16-bit pixels keep their colours and alpha.
TEST(ImageSource, ThumbnailsOfTransparentPngsKeepTheirColours)
{
    // Opaque blue squares beside transparent white ones.
    const auto blueOrClear = [](int x, int y) { return (x / 2 + y / 2) % 2 == 0; };
    testimages::PngContents rgba { 40, 40, 8, PNG_COLOR_TYPE_RGB_ALPHA, {}, {}, std::nullopt, std::nullopt,
        {} };
    testimages::PngContents deep = rgba;
    deep.bitDepth = 16;
    testimages::PngContents palette { 40, 40, 1, PNG_COLOR_TYPE_PALETTE, {},
        { qRgba(255, 255, 255, 0), qRgba(0, 0, 255, 255) }, std::nullopt, std::nullopt, {} };
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool blue = blueOrClear(x, y);
            for (const unsigned sample : { blue ? 0u : 255u, blue ? 0u : 255u, 255u, blue ? 255u : 0u }) {
                rgba.samples.push_back(sample);
                deep.samples.push_back(sample * 257);
            }
            palette.samples.push_back(blue ? 1 : 0);
        }
    for (const auto& contents : { rgba, deep, palette }) {
        SCOPED_TRACE("depth " + std::to_string(contents.bitDepth) + " colour type "
            + std::to_string(contents.colorType));
        const std::optional<Bitmap> thumbnail = thumbnailFromData(testimages::writePng(contents), 13);
        ASSERT_TRUE(thumbnail);
        ASSERT_EQ(thumbnail->image().size(), QSize(13, 13));
        const QImage pixels = thumbnail->image().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 13; ++x) {
                const QRgb pixel = pixels.pixel(x, y);
                EXPECT_GT(qAlpha(pixel), 60) << x << "," << y;
                EXPECT_LT(qAlpha(pixel), 200) << x << "," << y;
                EXPECT_LE(qRed(pixel), 2) << x << "," << y;
                EXPECT_GE(qBlue(pixel), 253) << x << "," << y;
            }
    }
}

namespace {

// An uncompressed 8-bit grey TIFF of `pages` pages of `side` × `side`, all showing one mid-grey strip.
QByteArray multiPageTiff(int side, int pages)
{
    QByteArray tiff("II*\0", 4);
    auto put = [&](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.append(char(value >> (8 * i)));
    };
    const quint32 pixels = quint32(side) * quint32(side);
    put(8 + pixels, 4);
    tiff.append(QByteArray(qsizetype(pixels), char(0x80)));
    // Width, height, bits per sample, no compression, black is zero, strip offset, rows per strip,
    // strip bytes.
    const std::pair<quint16, quint32> entries[] = { { 256, quint32(side) }, { 257, quint32(side) },
        { 258, 8 }, { 259, 1 }, { 262, 1 }, { 273, 8 }, { 278, quint32(side) }, { 279, pixels } };
    for (int page = 0; page < pages; ++page) {
        const quint32 at = quint32(tiff.size());
        put(std::size(entries), 2);
        for (const auto& [tag, value] : entries) {
            put(tag, 2);
            put(4, 2); // a 32-bit value
            put(1, 4);
            put(value, 4);
        }
        put(page + 1 < pages ? at + 2 + quint32(std::size(entries)) * 12 + 4 : 0, 4);
    }
    return tiff;
}

} // namespace

// A scan of hundreds of pages is more than the limits allow as a whole, yet its still picture, the
// first page, is well within them: it shows, decoded ahead or not.
TEST(ImageSource, AStillPictureOfAFileOfManyPagesIsItsFirstPage)
{
    const QByteArray tiff = multiPageTiff(1000, 300);
    const auto whole = ImageSource::create(tiff);
    ASSERT_FALSE(whole);
    EXPECT_EQ(whole.error(), DecodeError::tooLarge);

    const std::shared_ptr<Image> still = imageFromData(tiff);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->bitmap()->image().size(), QSize(1000, 1000));
    EXPECT_EQ(pixelOf(*still->bitmap(), 500, 500), qRgb(0x80, 0x80, 0x80));

    ASSERT_TRUE(decodeAhead::decode(tiff, [](qint64) { return true; }));
    const std::shared_ptr<Image> ahead = decodeAhead::take(tiff);
    ASSERT_TRUE(ahead);
    EXPECT_EQ(ahead->bitmap()->image().size(), QSize(1000, 1000));
}
