#include "platform/graphics/HeifDecoder.h"
#include "platform/graphics/ImageSource.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace platform;

namespace {

// Made by tests/data/images/make-heif-samples.sh: 64 × 48, red, green, blue and white quadrants
// (the AVIF's fourth quadrant is transparent); the 8-bit HEIC holds a 32 × 24 thumbnail.
QByteArray sample(const char* name)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/tests/data/images/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

constexpr QRgb red = 0xffff0000, green = 0xff00ff00, blue = 0xff0000ff, white = 0xffffffff;

// The quadrants' centres, at any size.
void expectQuadrants(const QImage& image, QRgb fourth)
{
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32);
    const int w = pixels.width(), h = pixels.height();
    const std::pair<QPoint, QRgb> centres[] = { { { w / 4, h / 4 }, red }, { { 3 * w / 4, h / 4 }, green },
        { { w / 4, 3 * h / 4 }, blue }, { { 3 * w / 4, 3 * h / 4 }, fourth } };
    for (const auto& [at, expected] : centres) {
        const QRgb pixel = pixels.pixel(at);
        SCOPED_TRACE(testing::Message() << "at " << at.x() << "," << at.y() << ": " << std::hex << pixel);
        EXPECT_NEAR(qAlpha(pixel), qAlpha(expected), 2);
        if (qAlpha(expected) == 0)
            continue;
        EXPECT_NEAR(qRed(pixel), qRed(expected), 12);
        EXPECT_NEAR(qGreen(pixel), qGreen(expected), 12);
        EXPECT_NEAR(qBlue(pixel), qBlue(expected), 12);
    }
}

} // namespace

TEST(HeifDecoder, DecodesHeicAndAvifWithTheirColoursAndThumbnails)
{
    struct Case {
        const char* file;
        const char* format;
        QRgb fourth;
    };
    const Case cases[] = {
        { "quadrants.heic", "heic", white },
        { "quadrants-10bit.heic", "heic", white },
        { "quadrants-alpha.avif", "avif", 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto created = ImageSource::create(sample(c.file));
        ASSERT_TRUE(created);
        const auto& source = created.value();
        EXPECT_EQ(source->format(), QByteArray(c.format));
        EXPECT_EQ(source->frameCount(), 1);
        EXPECT_EQ(source->pixelSize(), QSize(64, 48));
        EXPECT_FALSE(source->frame(1));

        const auto whole = source->frame(0);
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->image().size(), QSize(64, 48));
        EXPECT_EQ(whole->hasAlpha(), qAlpha(c.fourth) == 0);
        expectQuadrants(whole->image(), c.fourth);

        // Smaller than the embedded thumbnail, larger than it, and larger than the picture.
        for (const auto& [maxPixelSize, expected] :
            { std::pair(16, QSize(16, 12)), std::pair(48, QSize(48, 36)), std::pair(100, QSize(64, 48)) }) {
            SCOPED_TRACE(maxPixelSize);
            const auto thumbnail = thumbnailFromData(source->data(), maxPixelSize);
            ASSERT_TRUE(thumbnail);
            EXPECT_EQ(thumbnail->image().size(), expected);
            expectQuadrants(thumbnail->image(), c.fourth);
        }
    }
}

TEST(HeifDecoder, DeclaredSizesBeyondTheLimitsFailAtTheHeader)
{
    // Every image size the file declares is checked: the primary image's and its thumbnail's, coded
    // and cropped.
    const QByteArray heic = sample("quadrants.heic");
    std::vector<qsizetype> sizes;
    for (qsizetype at = heic.indexOf("ispe"); at >= 0; at = heic.indexOf("ispe", at + 4))
        sizes.push_back(at + 8);
    ASSERT_GE(sizes.size(), 2u);
    for (const qsizetype at : sizes) {
        QByteArray huge = heic;
        huge.replace(at, 8, QByteArray("\x00\x00\xea\x60\x00\x00\xea\x60", 8)); // 60000 × 60000
        auto created = ImageSource::create(huge);
        ASSERT_TRUE(created.isFailure());
        EXPECT_EQ(created.error(), DecodeError::tooLarge);
        EXPECT_FALSE(thumbnailFromData(huge, 100));
        // Sizes whose product does not fit a signed 64-bit number.
        huge.replace(at, 8, QByteArray("\xb5\xb5\xb5\xb5\xb5\x00\x00\x00", 8));
        EXPECT_EQ(ImageSource::create(huge).error(), DecodeError::tooLarge);
    }
    // A grid's picture is as large as its own data says, whatever its 'ispe' claims: a file of two
    // kilobytes must not have a grid of 12288 × 16384 made. Here the primary image and its thumbnail
    // are grids, their data in 'idat'.
    const qsizetype idat = heic.indexOf("idat");
    ASSERT_GT(idat, 0);
    for (const qsizetype grid : { idat + 4, idat + 12 }) {
        QByteArray huge = heic;
        huge.replace(grid + 4, 4, QByteArray("\x30\x00\x40\x00", 4));
        auto created = ImageSource::create(huge);
        ASSERT_TRUE(created.isFailure());
        EXPECT_EQ(created.error(), DecodeError::tooLarge);
        EXPECT_FALSE(thumbnailFromData(huge, 100));
    }
    // A grid whose data runs past the end of 'idat' (libheif reads on into the next box, here for a
    // picture of 29289 × 12288) is refused as damaged, before anything is decoded.
    QFile pastIdat(
        QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/image-source/grid-data-past-its-idat.heic"));
    ASSERT_TRUE(pastIdat.open(QIODevice::ReadOnly));
    const QByteArray damaged = pastIdat.readAll();
    auto refused = ImageSource::create(damaged);
    ASSERT_TRUE(refused.isFailure());
    EXPECT_EQ(refused.error(), DecodeError::corrupt);
    EXPECT_FALSE(thumbnailFromData(damaged, 100));
    // The limits are the caller's. The largest size declared here is the 64 × 64 coded picture.
    EXPECT_EQ(ImageSource::create(heic, { 64 * 64 - 1, qint64(1) << 30 }).error(), DecodeError::tooLarge);
    EXPECT_TRUE(ImageSource::create(heic, { 64 * 64, qint64(1) << 30 }));
}

TEST(HeifDecoder, CutShortFilesFailCleanly)
{
    for (const char* name : { "quadrants.heic", "quadrants-alpha.avif" }) {
        const QByteArray whole = sample(name);
        for (const qsizetype length : { qsizetype(16), qsizetype(40), whole.size() / 2, whole.size() - 20 }) {
            SCOPED_TRACE(testing::Message() << name << " cut to " << length);
            const QByteArray cut = whole.left(length);
            auto created = ImageSource::create(cut);
            // The boxes may all be there with the coded picture cut short: then decoding fails.
            if (created) {
                EXPECT_FALSE(created.value()->frame(0));
                EXPECT_FALSE(created.value()->thumbnail(16));
            }
            EXPECT_FALSE(imageFromData(cut));
        }
    }
}
