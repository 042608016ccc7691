// Drawing operations against baselines in the same run: the box blur against a plain separable
// sliding-window box filter with the same output, resizing against QImage::scaled, and round
// corners against a bare QPainter clip. Prints the median times and their ratios.

#include "Iris/image/ImageDrawing.h"
#include "bench/support/Compare.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

struct Comparison {
    std::string name;
    std::function<void()> ours;
    std::function<void()> baseline;
    int runs = 7;
};

QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(0, 31);
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb((x * 255 / width + noise(random)) % 256, (y * 255 / height + noise(random)) % 256,
                ((x + y) % 256 + noise(random)) % 256);
    }
    return image;
}

// The reference the blur must equal: each pass averages the whole kernel square around every
// sample, edges extended. Only run on a small image, to check the baseline against.
QImage naiveBoxBlur(QImage image, int kernel, int passes)
{
    const int width = image.width(), height = image.height(), half = kernel / 2;
    const long area = long(kernel) * kernel;
    for (int pass = 0; pass < passes; ++pass) {
        QImage out(image.size(), image.format());
        for (int y = 0; y < height; ++y) {
            uchar* target = out.scanLine(y);
            for (int x = 0; x < width; ++x) {
                long sums[4] = { 0, 0, 0, 0 };
                for (int dy = -half; dy <= half; ++dy) {
                    const uchar* row = image.constScanLine(std::clamp(y + dy, 0, height - 1));
                    for (int dx = -half; dx <= half; ++dx) {
                        const uchar* p = row + std::clamp(x + dx, 0, width - 1) * 4;
                        sums[0] += p[0], sums[1] += p[1], sums[2] += p[2], sums[3] += p[3];
                    }
                }
                for (int c = 0; c < 4; ++c)
                    target[x * 4 + c] = uchar((sums[c] + area / 2) / area);
            }
        }
        image = out;
    }
    return image;
}

// The baseline: the same filter as two sliding windows, a horizontal one into exact row sums and
// a vertical one over those, rounded once per sample as the naive filter rounds. O(1) per sample
// whatever the radius, and the inner loops vectorise. Row sums fit 16 bits up to a kernel of 257.
QImage separableBoxBlur(QImage image, int kernel, int passes)
{
    const int width = image.width(), height = image.height(), half = kernel / 2;
    const std::size_t stride = std::size_t(width) * 4;
    const std::uint32_t area = std::uint32_t(kernel) * std::uint32_t(kernel);
    // Division by the area as a multiplication: exact for sums below 2^23, and a sum is at most
    // 255 × area.
    const std::uint64_t reciprocal = ((std::uint64_t(1) << 32) + area - 1) / area;
    std::vector<std::uint16_t> rowSums(stride * std::size_t(height));
    std::vector<std::uint32_t> columnSums(stride);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            const uchar* in = image.constScanLine(y);
            std::uint16_t* sums = &rowSums[std::size_t(y) * stride];
            std::uint32_t window[4] = { 0, 0, 0, 0 };
            for (int dx = -half; dx <= half; ++dx) {
                const uchar* p = in + std::clamp(dx, 0, width - 1) * 4;
                for (int c = 0; c < 4; ++c)
                    window[c] += p[c];
            }
            for (int x = 0; x < width; ++x) {
                const uchar* enter = in + std::min(x + half + 1, width - 1) * 4;
                const uchar* leave = in + std::max(x - half, 0) * 4;
                for (int c = 0; c < 4; ++c) {
                    sums[x * 4 + c] = std::uint16_t(window[c]);
                    window[c] += std::uint32_t(enter[c]) - leave[c];
                }
            }
        }
        QImage out(image.size(), image.format());
        std::fill(columnSums.begin(), columnSums.end(), 0);
        for (int dy = -half; dy <= half; ++dy) {
            const std::uint16_t* sums = &rowSums[std::size_t(std::clamp(dy, 0, height - 1)) * stride];
            for (std::size_t i = 0; i < stride; ++i)
                columnSums[i] += sums[i];
        }
        for (int y = 0; y < height; ++y) {
            uchar* target = out.scanLine(y);
            const std::uint16_t* enter = &rowSums[std::size_t(std::min(y + half + 1, height - 1)) * stride];
            const std::uint16_t* leave = &rowSums[std::size_t(std::max(y - half, 0)) * stride];
            for (std::size_t i = 0; i < stride; ++i) {
                target[i] = uchar((std::uint64_t(columnSums[i] + area / 2) * reciprocal) >> 32);
                columnSums[i] += std::uint32_t(enter[i]) - leave[i];
            }
        }
        image = out;
    }
    return image;
}

volatile qsizetype sink = 0;

void keep(const std::shared_ptr<platform::Image>& image)
{
    sink = sink + image->bitmap()->byteCount();
}

void keep(const QImage& image)
{
    sink = sink + image.sizeInBytes();
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QImage large = photoLike(2000, 2000);
    const auto largeImage = platform::Image::create(*platform::Bitmap::fromImage(large));
    const QImage medium = photoLike(1000, 1000);
    const auto mediumImage = platform::Image::create(*platform::Bitmap::fromImage(medium));

    // The baseline must be the same filter: equal to the naive one on a small picture, and to ours
    // on the large one.
    const int kernel = iris::boxBlurKernelSize(10), passes = iris::boxBlurPassCount(10);
    const QImage small = photoLike(300, 200);
    const QImage largeBlurred = separableBoxBlur(large, kernel, passes);
    const bool sameAsNaive = separableBoxBlur(small, kernel, passes) == naiveBoxBlur(small, kernel, passes);
    const bool sameAsOurs
        = iris::boxBlur(largeImage, 10)->bitmap()->image().convertToFormat(largeBlurred.format())
        == largeBlurred;
    std::printf("separable baseline equals the naive filter: %s; equals ours: %s\n",
        sameAsNaive ? "yes" : "NO", sameAsOurs ? "yes" : "NO");

    std::vector<Comparison> comparisons;
    comparisons.push_back({ "box blur 2000x2000 radius 10 vs separable sliding-window box filter",
        [&] { keep(iris::boxBlur(largeImage, 10)); }, [&] { keep(separableBoxBlur(large, kernel, passes)); },
        7 });
    for (const QSize target : { QSize(1000, 1000), QSize(700, 450), QSize(500, 500), QSize(2600, 2300) }) {
        comparisons.push_back({ "resize 2000x2000 to " + std::to_string(target.width()) + "x"
                + std::to_string(target.height()) + " vs QImage::scaled smooth",
            [&, target] {
                keep(iris::resizedImage(largeImage, { double(target.width()), double(target.height()) }));
            },
            [&, target] { keep(large.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)); } });
    }
    comparisons.push_back({ "round corners 1000x1000 radius 100 vs QPainter clip",
        [&] {
            keep(iris::roundedCornerImage(mediumImage, 100, { 1000, 1000 }));
        },
        [&] {
            QImage out(1000, 1000, QImage::Format_ARGB32_Premultiplied);
            out.fill(Qt::transparent);
            QPainter painter(&out);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
            QPainterPath path;
            path.addRoundedRect(QRectF(0, 0, 1000, 1000), 100, 100);
            painter.setClipPath(path);
            painter.drawImage(QPointF(0, 0), medium);
            painter.end();
            keep(out);
        },
        25 });

    for (const Comparison& comparison : comparisons)
        bench::compare(
            comparison.name, comparison.ours, comparison.baseline, comparison.runs, comparison.runs > 1);
    return 0;
}
