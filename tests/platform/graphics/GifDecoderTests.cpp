#include "platform/graphics/ImageSource.h"

#include <gtest/gtest.h>

#include <vector>

using namespace platform;

namespace {

// LZW-codes `indices` (8-bit palette indices) the way encoders that defer the clear code do: one
// clear code at the start, then, once the table holds all 4,096 codes, the table is kept as it is
// and codes go on at 12 bits with no further clear code.
QByteArray lzwWithoutClearingAFullTable(const std::vector<std::uint8_t>& indices, int minCodeSize = 8)
{
    const int clearCode = 1 << minCodeSize, endCode = clearCode + 1;
    constexpr int maxCode = 4095;
    // The code of each string extended by one index, or 0 for none yet.
    std::vector<int> table(std::size_t(maxCode + 1) * 256, 0);
    int nextCode = endCode + 1, codeSize = minCodeSize + 1;
    QByteArray packed;
    std::uint32_t bits = 0;
    int bitCount = 0;
    const auto put = [&](int code) {
        bits |= std::uint32_t(code) << bitCount;
        for (bitCount += codeSize; bitCount >= 8; bitCount -= 8, bits >>= 8)
            packed.append(char(bits & 0xff));
    };
    put(clearCode);
    int prefix = indices.front();
    for (std::size_t i = 1; i < indices.size(); ++i) {
        int& extended = table[std::size_t(prefix) * 256 + indices[i]];
        if (extended) {
            prefix = extended;
            continue;
        }
        put(prefix);
        if (nextCode <= maxCode) {
            extended = nextCode;
            if (nextCode >= (1 << codeSize) && codeSize < 12)
                ++codeSize;
            ++nextCode;
        }
        prefix = indices[i];
    }
    put(prefix);
    put(endCode);
    if (bitCount > 0)
        packed.append(char(bits & 0xff));
    EXPECT_GT(nextCode, maxCode) << "the table never filled";
    return packed;
}

// A GIF of one frame, with a 256-grey palette, whose pixels are `indices`.
QByteArray greyGif(int width, int height, const std::vector<std::uint8_t>& indices, int minCodeSize = 8)
{
    QByteArray gif("GIF89a");
    gif.append(char(width)).append(char(width >> 8)).append(char(height)).append(char(height >> 8));
    gif.append("\xf7\x00\x00", 3);
    for (int i = 0; i < 256; ++i)
        gif.append(char(i)).append(char(i)).append(char(i));
    gif.append("\x2c\x00\x00\x00\x00", 5).append(char(width)).append(char(width >> 8));
    gif.append(char(height)).append(char(height >> 8)).append('\0');
    gif.append(char(minCodeSize));
    const QByteArray packed = lzwWithoutClearingAFullTable(indices, minCodeSize);
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const QByteArray block = packed.mid(at, 255);
        gif.append(char(block.size())).append(block);
    }
    gif.append('\0').append(';');
    return gif;
}

} // namespace

TEST(GifDecoder, DecodesAFullCodeTableThatIsNeverCleared)
{
    struct Case {
        const char* name;
        int width, height, minCodeSize;
        std::vector<std::uint8_t> indices;
    };
    std::vector<Case> cases;
    // Noise, then repeats of it that use the full table's long entries.
    Case noise { "noise", 160, 120, 8, {} };
    std::uint32_t seed = 12345;
    for (int i = 0; i < noise.width * noise.height; ++i) {
        seed = seed * 1103515245 + 12345;
        noise.indices.push_back(i < noise.width * noise.height / 2 ? std::uint8_t(seed >> 24)
                                                                   : noise.indices[std::size_t(i % 97)]);
    }
    cases.push_back(std::move(noise));
    // One colour at the smallest code size: every entry is one pixel longer than the last, so the
    // full table holds strings of over 4,000 pixels.
    cases.push_back({ "one colour", 2900, 2900, 2, std::vector<std::uint8_t>(2900 * 2900, 3) });

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto created = ImageSource::create(greyGif(c.width, c.height, c.indices, c.minCodeSize));
        ASSERT_TRUE(created);
        const auto frame = created.value()->frame(0);
        ASSERT_TRUE(frame);
        const QImage pixels = frame->image().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(pixels.size(), QSize(c.width, c.height));
        int wrong = 0;
        for (int y = 0; y < c.height; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
            for (int x = 0; x < c.width; ++x)
                wrong += qRed(row[x]) != c.indices[std::size_t(y * c.width + x)];
        }
        EXPECT_EQ(wrong, 0);
    }
}
