// Drawing operations against baselines in the same run: the box blur against the naive
// two-dimensional box filter it must equal, resizing against QImage::scaled, and round corners
// against a bare QPainter clip. Prints the median times and their ratios.

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
// sample, edges extended.
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

    std::vector<Comparison> comparisons;
    comparisons.push_back(
        { "box blur 2000x2000 radius 10 vs naive box filter", [&] { keep(iris::boxBlur(largeImage, 10)); },
            [&] { keep(naiveBoxBlur(large, iris::boxBlurKernelSize(10), iris::boxBlurPassCount(10))); }, 1 });
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
        bench::compare(comparison.name, comparison.ours, comparison.baseline, comparison.runs, comparison.runs > 1);
    return 0;
}
