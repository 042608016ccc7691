#include "platform/graphics/GifDecoder.h"
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>

#include <vector>

using namespace platform;

// fuzz/corpus/image-source/full-code-table.gif is a 96 × 64 frame with a 256-grey palette, coded
// the way encoders that defer the clear code write it: one clear code at the start; once the table
// holds all 4,096 codes it is kept as it is, and codes go on at 12 bits with no clear code. Its top
// three quarters are noise, enough to fill the table; the rest repeats the first 97 pixels, which
// the full table's long entries code.
TEST(GifDecoder, DecodesAFullCodeTableThatIsNeverCleared)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/image-source/full-code-table.gif"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const int width = 96, height = 64;
    std::vector<std::uint8_t> expected;
    std::uint32_t seed = 12345;
    for (int i = 0; i < width * height; ++i) {
        seed = seed * 1103515245 + 12345;
        expected.push_back(
            i < width * height * 3 / 4 ? std::uint8_t(seed >> 24) : expected[std::size_t(i % 97)]);
    }

    auto created = ImageSource::create(file.readAll());
    ASSERT_TRUE(created);
    const auto frame = created.value()->frame(0);
    ASSERT_TRUE(frame);
    const QImage pixels = frame->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(pixels.size(), QSize(width, height));
    int wrong = 0;
    for (int i = 0; i < width * height; ++i)
        wrong += qRed(pixels.pixel(i % width, i / width)) != expected[std::size_t(i)];
    EXPECT_EQ(wrong, 0);
}

// Two views playing one animation at different points share its decoder: each must go on from where
// it was rather than redraw from the first frame whenever the other moved, and each must still see
// the frames a lone player sees, whatever the frames' disposal.
TEST(GifDecoder, PlayersAtDifferentPointsEachGoOnFromTheirOwnFrame)
{
    constexpr int count = 60;
    const int disposals[] = { DISPOSE_DO_NOT, DISPOSE_BACKGROUND, DISPOSE_PREVIOUS };
    std::vector<testimages::GifFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back({ QRect(i % 6, (i / 6) % 6, 3, 3), i % 4, disposals[i % 3] });
    const QByteArray gif = testimages::writeGif(8, 8, frames);

    auto lone = GifDecoder::parse(gif, DecodingLimits());
    ASSERT_TRUE(lone);
    std::vector<QImage> expected;
    for (int i = 0; i < count; ++i)
        expected.push_back(*lone.value()->frame(i));

    auto shared = GifDecoder::parse(gif, DecodingLimits());
    ASSERT_TRUE(shared);
    GifDecoder& decoder = *shared.value();
    for (int loop = 0; loop < 2; ++loop) {
        for (int step = 0; step < count; ++step) {
            for (int index : { step, (step + count / 2) % count })
                ASSERT_EQ(*decoder.frame(index), expected[size_t(index)]) << "frame " << index;
        }
    }
    // Each of the two players draws each frame once a loop, plus one catch-up to its starting point
    // and one restart per loop.
    EXPECT_LE(decoder.drawnFrameCount(), 2 * 2 * count + 2 * count);

    // One player left, looping: it keeps one canvas, not one more per loop.
    for (int loop = 0; loop < 3; ++loop) {
        for (int index = 0; index < count; ++index)
            ASSERT_EQ(*decoder.frame(index), expected[size_t(index)]) << "frame " << index;
    }
    EXPECT_EQ(decoder.canvasCount(), 1);
}

// A GIF of thousands of one-pixel frames holds few pixels, but every frame costs a record and, once
// played, an image of its own: a file of a few megabytes could take gigabytes. Those costs count
// against the limits too.
TEST(GifDecoder, ManyTinyFramesCountWhatEachFrameCosts)
{
    auto tinyFrames = [](int count) {
        return testimages::writeGif(
            1, 1, std::vector<testimages::GifFrame>(std::size_t(count), { QRect(0, 0, 1, 1), 1 }));
    };
    DecodingLimits limits;
    limits.maxTotalBytes = 1 << 20;
    const auto many = ImageSource::create(tinyFrames(2000), limits);
    ASSERT_FALSE(many);
    EXPECT_EQ(many.error(), DecodeError::tooLarge);

    const auto fewer = ImageSource::create(tinyFrames(200), limits);
    ASSERT_TRUE(fewer);
    EXPECT_EQ(fewer.value()->frameCount(), 200);
    EXPECT_TRUE(fewer.value()->frame(199));
}

// A few hundred bytes may declare a screen of millions of pixels around a one-pixel frame. Its
// thumbnail is drawn on one canvas of that size, not on a canvas and a copy of it.
TEST(GifDecoder, AHugeScreenAroundATinyFrameCostsOneCanvas)
{
    const QByteArray gif = testimages::writeGif(4000, 4000, { { QRect(0, 0, 1, 1), 1 } });
    ASSERT_LT(gif.size(), 1000);
    DecodingLimits limits;
    limits.firstFrameOnly = true;
    testsupport::resetPeakResident();
    const long before = testsupport::statusKilobytes("VmHWM");
    const auto source = ImageSource::create(gif, limits);
    ASSERT_TRUE(source);
    const std::optional<Bitmap> thumbnail = source.value()->thumbnail(80);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->image().size(), QSize(80, 80));
    const long canvasKilobytes = 4000 * 4000 * 4 / 1024;
    EXPECT_LT(testsupport::statusKilobytes("VmHWM") - before, canvasKilobytes * 3 / 2) << "kilobytes";
}
