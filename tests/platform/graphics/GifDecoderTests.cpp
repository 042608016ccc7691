#include "platform/graphics/ImageSource.h"

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
