#include "Iris/prefetch/ProgressiveJpegFixture.h"
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/JpegDecoder.h"
#include "platform/graphics/TestImages.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cmath>
#include <utility>

using namespace platform;

namespace {

QByteArray app1Segment(const QByteArray& payload)
{
    QByteArray segment("\xff\xe1", 2);
    const int length = 2 + int(payload.size());
    segment.append(char(length >> 8)).append(char(length));
    return segment + payload;
}

// A segment of any marker with `payload` as its data.
QByteArray segment(char marker, const QByteArray& payload)
{
    return app1Segment(payload).replace(1, 1, QByteArray(1, marker));
}

// An XMP packet, as photo editors write it.
QByteArray xmpSegment()
{
    return app1Segment(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29)
        + "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>");
}

// EXIF data whose only tag is the orientation.
QByteArray exifSegment(int orientation)
{
    QByteArray tiff("MM\0*\0\0\0\x08", 8);
    tiff.append("\0\x01", 2); // one entry
    tiff.append("\x01\x12\0\x03\0\0\0\x01\0", 9).append(char(orientation)).append("\0\0", 2);
    tiff.append("\0\0\0\0", 4); // no next directory
    return app1Segment(QByteArray("Exif\0\0", 6) + tiff);
}

// The sRGB level of a neutral grey of CIE lightness `lightness`.
int srgbLevelOfLightness(double lightness)
{
    const double luminance = std::pow((lightness + 16) / 116, 3);
    const double encoded
        = luminance <= 0.0031308 ? 12.92 * luminance : 1.055 * std::pow(luminance, 1 / 2.4) - 0.055;
    return int(std::lround(encoded * 255));
}

// `jpeg` without its APP2 segments, which hold the ICC profile.
QByteArray withoutProfile(QByteArray jpeg)
{
    for (qsizetype at = jpeg.indexOf("\xff\xe2"); at >= 0; at = jpeg.indexOf("\xff\xe2", at))
        jpeg.remove(at, 2 + (quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3])));
    return jpeg;
}

} // namespace

// fuzz/corpus/image-source/cmyk-inks-without-adobe-marker.jpg: 16 × 8, written by libjpeg with
// samples as inks and no Adobe marker; the left half is cyan and the right half yellow, under black
// that grows by 16 per column. Without a profile the samples are read as inks, as the missing marker
// says, not as inverted ones.
TEST(JpegDecoder, CmykWithoutAProfileOrAdobeMarkerIsReadAsInks)
{
    QFile file(
        QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/image-source/cmyk-inks-without-adobe-marker.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray jpeg = file.readAll();
    const auto image = imageFromData(jpeg);
    const auto thumbnail = thumbnailFromData(jpeg, 8);
    ASSERT_TRUE(image && thumbnail);
    ASSERT_EQ(thumbnail->image().size(), QSize(8, 4));
    // Cyan without black, and yellow under half black.
    for (const auto& [pixel, expected] : { std::pair(image->bitmap()->image().pixel(0, 4), qRgb(0, 255, 255)),
             std::pair(image->bitmap()->image().pixel(8, 4), qRgb(127, 127, 0)),
             std::pair(thumbnail->image().pixel(0, 2), qRgb(0, 255, 255)) }) {
        EXPECT_EQ(qAlpha(pixel), 255);
        EXPECT_NEAR(qRed(pixel), qRed(expected), 12);
        EXPECT_NEAR(qGreen(pixel), qGreen(expected), 12);
        EXPECT_NEAR(qBlue(pixel), qBlue(expected), 12);
    }
}

// tests/data/images/cmyk-with-profile.jpg: 64 × 32, four bands of cyan, half black, no ink, and
// cyan with black, written by libjpeg as photo editors write CMYK (inverted samples, an Adobe
// marker), with a CMYK profile made with lcms2 in which every colour is a grey of lightness
// 100 - 20 C - 60 K, whatever its M and Y: a conversion through it is told at once from one that
// ignores it.
TEST(JpegDecoder, CmykJpegsGoThroughTheirCmykProfile)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/tests/data/images/cmyk-with-profile.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray profiled = file.readAll();
    const double lightness[] = { 80, 100 - 60 * 128 / 255.0, 100, 20 };

    auto created = ImageSource::create(profiled);
    ASSERT_TRUE(created);
    const auto& source = created.value();
    EXPECT_EQ(source->pixelSize(), QSize(64, 32));
    const auto whole = source->frame(0);
    // A thumbnail is decoded at a quarter by the DCT and goes through the profile the same way.
    const auto thumbnail = source->thumbnail(16);
    ASSERT_TRUE(whole && thumbnail);
    ASSERT_EQ(thumbnail->image().size(), QSize(16, 8));
    for (int band = 0; band < 4; ++band) {
        SCOPED_TRACE(band);
        const int expected = srgbLevelOfLightness(lightness[std::size_t(band)]);
        for (const auto& [image, x, y] : { std::tuple(whole->image(), 16 * band + 8, 16),
                 std::tuple(thumbnail->image(), 4 * band + 2, 4) }) {
            const QRgb pixel = image.pixel(x, y);
            EXPECT_EQ(qAlpha(pixel), 255);
            EXPECT_NEAR(qRed(pixel), expected, 3);
            EXPECT_NEAR(qGreen(pixel), expected, 3);
            EXPECT_NEAR(qBlue(pixel), expected, 3);
        }
    }

    // Without a profile, the plain conversion: cyan stays cyan.
    const auto plain = imageFromData(withoutProfile(profiled));
    ASSERT_TRUE(plain);
    const QRgb cyan = plain->bitmap()->image().pixel(8, 16);
    EXPECT_LT(qRed(cyan), 10);
    EXPECT_GT(qGreen(cyan), 245);
    EXPECT_GT(qBlue(cyan), 245);
}

TEST(JpegDecoder, FindsTheExifOrientationAfterAnXmpBlock)
{
    // Stored 400 × 200, marked as turned a quarter clockwise (orientation 6) in EXIF data alone or
    // after an XMP block.
    const QByteArray plain = testimages::encoded(testimages::pattern(400, 200), "jpeg", 90);
    const std::pair<const char*, QByteArray> cases[] = {
        { "EXIF", plain.left(2) + exifSegment(6) + plain.mid(2) },
        { "XMP then EXIF", plain.left(2) + xmpSegment() + exifSegment(6) + plain.mid(2) },
    };
    for (const auto& [name, jpeg] : cases) {
        SCOPED_TRACE(name);
        auto created = ImageSource::create(jpeg);
        ASSERT_TRUE(created);
        const auto& source = created.value();
        EXPECT_EQ(source->pixelSize(), QSize(200, 400));
        const auto whole = source->frame(0);
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->image().size(), QSize(200, 400));
        const auto thumbnail = source->thumbnail(100);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->image().size(), QSize(50, 100));
        // The stored top-right corner (red, no green) is shown at the bottom-right.
        const QRgb shown = thumbnail->image().pixel(49, 99);
        EXPECT_GT(qRed(shown), 220);
        EXPECT_LT(qGreen(shown), 40);
    }
}

// The decoder lays out the pixels of each image itself (rows placed for the faster stores, in the
// memory of an image of the same size freed a moment ago where there is one): every width, grey or
// colour, small or large, decoded once or again into recycled memory, must come out as Qt's own
// reader decodes the same file, and the pixels must belong to the image and its copies alone.
TEST(JpegDecoder, DecodedPixelsMatchQtsReaderAndOutliveTheirCopies)
{
    struct Case {
        int width, height;
        QImage::Format format;
    };
    // Odd widths give rows that are not a multiple of 4 bytes of grey; 1400 × 1200 is over the size
    // up to which rows are placed for cached stores.
    for (const Case& c :
        { Case { 333, 77, QImage::Format_RGB32 }, Case { 333, 77, QImage::Format_Grayscale8 },
            Case { 1, 1, QImage::Format_Grayscale8 }, Case { 1400, 1200, QImage::Format_RGB32 } }) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " format " << int(c.format));
        const QByteArray jpeg = testimages::encoded(
            testimages::pattern(c.width, c.height).convertToFormat(c.format), "jpeg", 90);
        const QImage expected = QImage::fromData(jpeg, "jpeg");
        ASSERT_FALSE(expected.isNull());
        // Decoded before, and dropped: the next decode may take its memory.
        ASSERT_TRUE(imageFromData(jpeg));
        QImage copy;
        {
            const auto decoded = imageFromData(jpeg);
            ASSERT_TRUE(decoded);
            const QImage image = decoded->bitmap()->image();
            EXPECT_EQ(image.format(), c.format);
            EXPECT_EQ(image.convertToFormat(expected.format()), expected);
            copy = image;
            // Writing to a copy leaves the decoded image alone.
            copy.setPixel(0, 0, c.format == QImage::Format_Grayscale8 ? 7 : qRgb(1, 2, 3));
            EXPECT_EQ(image.convertToFormat(expected.format()), expected);
        }
        // The copy still reads its pixels once the decoded image is gone.
        QImage reference = expected.convertToFormat(c.format);
        reference.setPixel(0, 0, c.format == QImage::Format_Grayscale8 ? 7 : qRgb(1, 2, 3));
        EXPECT_EQ(copy, reference);
    }
}

// Under 8 pixels a side, a reduced scale rounds back up to the whole size; decoding there with the
// reduced transform gave colours tens of levels off.
TEST(JpegDecoder, ImagesUnderEightPixelsDecodeWithExactPixels)
{
    for (const QSize size : { QSize(1, 1), QSize(3, 5), QSize(7, 7), QSize(2, 6) }) {
        SCOPED_TRACE(testing::Message() << size.width() << " x " << size.height());
        const QByteArray jpeg
            = testimages::encoded(testimages::pattern(size.width(), size.height()), "jpeg", 90);
        const QImage expected = QImage::fromData(jpeg, "jpeg");
        const auto decoded = platform::decodeScaledJpeg(jpeg, 0, {});
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded.value().convertToFormat(expected.format()), expected);
    }
}

// Metadata can hold the two bytes of a scan's start anywhere: in EXIF or ICC data, in XMP, in the
// whole JPEG of a thumbnail. Only the markers a decoder reads as scans are counted, also when the
// entropy-coded data holds stuffed bytes and restarts, and a damaged file is read no further than
// its end.
TEST(JpegDecoder, ScanCountFindsOnlyTheScansADecoderReads)
{
    const QByteArray baseline = progressivejpeg::encode(progressivejpeg::picture(64, 48), false);
    const QByteArray progressive = progressivejpeg::encode(progressivejpeg::picture(64, 48), true);
    const int progressiveScans = int(progressivejpeg::sosPositions(progressive).size());
    ASSERT_GT(progressiveScans, 2);
    const QByteArray markers = QByteArray("\xFF\xDA", 2).repeated(600);
    const QByteArray metadata = app1Segment(QByteArray("Exif\0\0", 6) + markers)
        + segment('\xE2', QByteArray("ICC_PROFILE\0\x01\x01", 14) + markers) + segment('\xFE', progressive)
        + app1Segment(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + markers);
    // Entropy-coded data: stuffed zeros, a fill byte, restarts; then a second scan after fill bytes.
    const QByteArray sos("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    const QByteArray entropy("\x12\xFF\x00\xDA\xFF\xD0\xDA\xFF\x00\xFF\xD7\x34", 12);
    const QByteArray hand = QByteArray("\xFF\xD8", 2) + sos + entropy + QByteArray("\xFF\xFF", 2) + sos
        + QByteArray("\xFF\xD9", 2);
    const struct {
        const char* name;
        QByteArray data;
        int scans;
    } cases[] = {
        { "baseline", baseline, 1 },
        { "progressive", progressive, progressiveScans },
        { "baseline after metadata", baseline.first(2) + metadata + baseline.sliced(2), 1 },
        { "progressive after metadata", progressive.first(2) + metadata + progressive.sliced(2),
            progressiveScans },
        { "entropy-coded data", hand, 2 },
        { "nothing after the end of the image", baseline + sos, 1 },
        // A decoder skips what is not a marker up to the next one.
        { "garbage between segments", QByteArray("\xFF\xD8", 2) + "garbage" + sos, 1 },
        { "length past the end", QByteArray("\xFF\xD8\xFF\xE1\xFF\xF0", 6) + sos, 0 },
        { "length under two", QByteArray("\xFF\xD8\xFF\xE1\x00\x01", 6) + sos, 1 },
        { "cut inside a length", QByteArray("\xFF\xD8\xFF\xDA\x00", 5), 0 },
        { "a lone 0xFF at the end", QByteArray("\xFF\xD8\xFF", 3), 0 },
        { "empty", QByteArray(), 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(jpegScanCount(c.data), c.scans) << c.name;

    // Counting stops one past the limit.
    const QByteArray manyScans = progressive.first(progressive.size() - 2) + sos.repeated(1000);
    EXPECT_EQ(jpegScanCount(manyScans, maxJpegScans), maxJpegScans + 1);
    // Every prefix of a file stays inside its data and counts no more than the whole.
    const QByteArray whole = progressive.first(2) + metadata + progressive.sliced(2);
    for (qsizetype length = 0; length <= whole.size(); length += 7) {
        const QByteArray prefix = whole.first(length);
        EXPECT_LE(jpegScanCount(prefix), progressiveScans) << length;
    }
}

// A CMYK photo without a profile goes to Qt's reader, whose scans are counted first: hundreds of
// scan-like byte pairs in its metadata do not make it refused.
TEST(JpegDecoder, ACmykPhotoWithScanLikeBytesInItsMetadataDecodes)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/tests/data/images/cmyk-progressive.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray cmyk = file.readAll();
    const QByteArray xmp = app1Segment(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29)
        + QByteArray("\xFF\xDA", 2).repeated(maxJpegScans + 100));
    auto source = ImageSource::create(cmyk.first(2) + xmp + cmyk.sliced(2));
    ASSERT_TRUE(source.isSuccess());
    const auto image = source.value()->frame(0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->image().size(), QSize(64, 32));
}
