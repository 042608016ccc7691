#include "DrawingTestSupport.h"

#include "Iris/image/Image.h"
#include "Iris/image/ImageDrawing.h"

#include "platform/graphics/ImageSource.h"

#include <QBuffer>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using namespace drawingtest;

namespace {

// The reference: each pass averages the full kernel × kernel square around every sample, edges
// extended, rounded to the nearest value.
QImage naiveBoxBlur(QImage image, int kernel, int passes)
{
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = image.width(), height = image.height(), half = kernel / 2;
    const long area = long(kernel) * kernel;
    for (int pass = 0; pass < passes; ++pass) {
        QImage out(image.size(), image.format());
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 4; ++c) {
                    long sum = 0;
                    for (int dy = -half; dy <= half; ++dy) {
                        const uchar* row = image.constScanLine(std::clamp(y + dy, 0, height - 1));
                        for (int dx = -half; dx <= half; ++dx)
                            sum += row[std::clamp(x + dx, 0, width - 1) * 4 + c];
                    }
                    out.scanLine(y)[x * 4 + c] = uchar((sum + area / 2) / area);
                }
            }
        }
        image = out;
    }
    return image;
}

// The same average, separably: a clamped window's sum along a line is the sum of the samples it
// covers plus each end sample times how far the window reaches past it, so any kernel costs the
// same.
QImage separableBoxBlur(QImage image, int kernel, int passes)
{
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = image.width(), height = image.height();
    const long long half = kernel / 2;
    const auto windowSums = [half](int length, auto at) {
        std::vector<std::uint64_t> prefix(length + 1, 0), sums(length);
        for (int i = 0; i < length; ++i)
            prefix[i + 1] = prefix[i] + at(i);
        for (long long i = 0; i < length; ++i) {
            const long long first = std::max(0LL, i - half), last = std::min<long long>(length - 1, i + half);
            sums[i] = prefix[last + 1] - prefix[first] + std::uint64_t(std::max(0LL, half - i)) * at(0)
                + std::uint64_t(std::max(0LL, i + half - (length - 1))) * at(length - 1);
        }
        return sums;
    };
    const std::uint64_t area = std::uint64_t(kernel) * std::uint64_t(kernel);
    for (int pass = 0; pass < passes; ++pass) {
        QImage out(image.size(), image.format());
        const uchar* in = image.constBits();
        uchar* written = out.bits();
        const qsizetype stride = image.bytesPerLine();
        for (int c = 0; c < 4; ++c) {
            std::vector<std::vector<std::uint64_t>> rows(height);
            for (int y = 0; y < height; ++y)
                rows[y] = windowSums(width, [&](int x) { return std::uint64_t(in[y * stride + x * 4 + c]); });
            for (int x = 0; x < width; ++x) {
                const auto columns = windowSums(height, [&](int y) { return rows[y][x]; });
                for (int y = 0; y < height; ++y)
                    written[y * stride + x * 4 + c] = uchar((columns[y] + area / 2) / area);
            }
        }
        image = out;
    }
    return image;
}

QImage randomPremultiplied(int width, int height, std::mt19937& random)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int alpha = byte(random);
            auto component = [&] { return alpha == 0 ? 0 : byte(random) % (alpha + 1); };
            const int r = component(), g = component(), b = component();
            image.setPixel(x, y, qRgba(r, g, b, alpha));
        }
    }
    return image;
}

} // namespace

TEST(BoxBlur, KernelSizeAndPassesFollowTheRadius)
{
    struct Row {
        double radius;
        int kernel;
        int passes;
    };
    const Row rows[] = {
        { -3, 5, 1 },
        { 0, 5, 1 },
        { 0.3, 5, 1 },
        { 0.5, 5, 2 },
        { 1.0, 5, 2 },
        { 1.5, 5, 3 },
        { 2.0, 5, 3 },
        { 4.0, 9, 3 },
        { 10, 19, 3 },
        { 20, 39, 3 },
    };
    for (const Row& row : rows) {
        EXPECT_EQ(iris::boxBlurKernelSize(row.radius), row.kernel) << row.radius;
        EXPECT_EQ(iris::boxBlurPassCount(row.radius), row.passes) << row.radius;
    }
}

TEST(BoxBlur, EqualsTheNaiveBoxAverageOnRandomImages)
{
    std::mt19937 random(20261206);
    struct Row {
        int width;
        int height;
        double radius;
    };
    const Row rows[] = {
        { 1, 1, 2 },
        { 7, 3, 0.3 },
        { 9, 11, 1 },
        { 16, 5, 2.5 },
        { 13, 13, 4 },
        { 6, 20, 10 },
        { 31, 17, 3 },
    };
    for (const Row& row : rows) {
        const QImage input = randomPremultiplied(row.width, row.height, random);
        const auto blurred = iris::ir(imageFrom(input)).boxBlur(row.radius);
        const QImage expected
            = naiveBoxBlur(input, iris::boxBlurKernelSize(row.radius), iris::boxBlurPassCount(row.radius));
        EXPECT_EQ(blurred->bitmap()->image().convertToFormat(QImage::Format_ARGB32_Premultiplied), expected)
            << row.width << " x " << row.height << " radius " << row.radius;
    }
}

TEST(BoxBlur, TwoPassesGiveTheSecondPassOutput)
{
    std::mt19937 random(7);
    const QImage input = randomPremultiplied(12, 12, random);
    const QImage output = iris::boxBlur(imageFrom(input), 1.0)->bitmap()->image();
    EXPECT_EQ(output, naiveBoxBlur(input, 5, 2));
    EXPECT_NE(output, naiveBoxBlur(input, 5, 1));
}

TEST(BoxBlur, SixteenBitImagesBlurSanely)
{
    // Left half black, right half white, opaque, 16 bits per sample, through PNG.
    QImage deep(40, 20, QImage::Format_RGBA64);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            deep.setPixelColor(x, y, x < 20 ? QColor(Qt::black) : QColor(Qt::white));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&buffer, "png").write(deep));
    const auto image = platform::imageFromData(png);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->bitmap()->bitsPerComponent(), 16);

    const auto blurred = iris::boxBlur(image, 2);
    ASSERT_NE(blurred, image);
    EXPECT_EQ(blurred->pixelSize(), image->pixelSize());
    for (int y = 0; y < 20; ++y) {
        int previous = -1;
        for (int x = 0; x < 40; ++x) {
            const QColor c = pixelAt(blurred, x, y);
            ASSERT_EQ(c.alpha(), 255) << x << ", " << y;
            ASSERT_EQ(c.red(), c.green());
            ASSERT_EQ(c.red(), c.blue());
            // Grey rises monotonically across the edge and the far sides keep their values.
            ASSERT_GE(c.red(), previous) << x << ", " << y;
            previous = c.red();
        }
        EXPECT_EQ(pixelAt(blurred, 0, y).red(), 0);
        EXPECT_EQ(pixelAt(blurred, 39, y).red(), 255);
        EXPECT_TRUE(near(pixelAt(blurred, 19, y).red(), 128, 40));
    }
}

TEST(BoxBlur, UniformImagesStayUniformWhateverTheKernel)
{
    const auto image = solidImage(5, 3, QColor(10, 200, 30));
    for (double radius : { 0.0, 3.0, 50.0, 2000.0 }) {
        const auto blurred = iris::boxBlur(image, radius);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(pixelAt(blurred, x, y), QColor(10, 200, 30)) << radius;
    }
}

TEST(BoxBlur, HugeRadiiBlurWithTheWidestKernel)
{
    EXPECT_EQ(iris::boxBlurKernelSize(3e6), 5639915);
    EXPECT_EQ(iris::boxBlurKernelSize(1e7), iris::maxBoxBlurKernel);
    EXPECT_EQ(iris::boxBlurKernelSize(1e300), iris::maxBoxBlurKernel);
    EXPECT_EQ(iris::maxBoxBlurKernel % 2, 1);

    std::mt19937 random(20261208);
    const QImage input = randomPremultiplied(7, 5, random);
    ASSERT_EQ(separableBoxBlur(input, 19, 2), naiveBoxBlur(input, 19, 2));
    // Kernels for each way the sums are kept and divided: 32-bit and 64-bit window sums, averages
    // by a product and by an exact division.
    for (const double radius : { 1000.0, 1e4, 3e6, 1e300 }) {
        const auto blurred = iris::boxBlur(imageFrom(input), radius);
        const QImage expected
            = separableBoxBlur(input, iris::boxBlurKernelSize(radius), iris::boxBlurPassCount(radius));
        ASSERT_NE(expected, input);
        EXPECT_EQ(blurred->bitmap()->image().convertToFormat(QImage::Format_ARGB32_Premultiplied), expected)
            << "radius " << radius;
    }
}

TEST(BoxBlur, AKernelNearTheSizeOfALargeImageKeepsItsRowSumsWithinBounds)
{
    // The window's rows of sums would pass the blur's budget here: each is made again as the
    // window reaches it, with the same result.
    std::mt19937 random(11);
    const QImage input = randomPremultiplied(2100, 2100, random);
    const int kernel = iris::boxBlurKernelSize(1112);
    ASSERT_LT(kernel / 2, 2100 - 1);
    ASSERT_GT(std::size_t(kernel + 1) * 2100 * 4 * sizeof(std::uint32_t), iris::maxBoxBlurRingBytes);
    EXPECT_EQ(iris::boxBlur(imageFrom(input), 1112)->bitmap()->image(),
        separableBoxBlur(input, kernel, iris::boxBlurPassCount(1112)));
}
