// Drawing operations against baselines in the same run: the box blur against a plain separable
// sliding-window box filter with the same output and a huge radius against an ordinary one, resizing against
// QImage::scaled, and round corners against a bare QPainter clip. Then the colour filters on a 24 MP
// picture, a tile at a time against the same filter over a float copy of the whole picture: time, and
// the peak memory of each, measured in a fresh process per filter and path. Prints the median times
// and their ratios. `bench_processors filters` runs the colour filters alone.

#include "Iris/image/Filter.h"
#include "Iris/image/ImageDrawing.h"
#include "Iris/image/ImageProcessors.h"
#include "bench/support/Compare.h"
#include "bench/support/Memory.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
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

// The baseline: the same filter as two sliding windows, a horizontal one into exact row sums and a
// vertical one over those, rounded once per sample as the naive filter rounds. O(1) per sample
// whatever the radius. It is built with the options ours is built with (the vectorising pragma
// below) and in its strongest plain form: only the rows the vertical window spans are kept, in a
// ring, the ends of each row are clamped apart from its interior, and the division by the area is a
// multiplication. `RowSum` is the type of a row sum (16 bits hold them up to a kernel of 257) and
// `floatDivision` picks the single-precision reciprocal (exact up to a kernel of 61) over the exact
// 32.32 fixed-point one.
#pragma GCC push_options
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")

template<typename RowSum> void rowSums(const uchar* in, int width, int half, RowSum* sums)
{
    std::uint32_t window[4] = { 0, 0, 0, 0 };
    for (int dx = -half; dx <= half; ++dx) {
        const uchar* p = in + std::clamp(dx, 0, width - 1) * 4;
        for (int c = 0; c < 4; ++c)
            window[c] += p[c];
    }
    const int interiorStart = std::min(half, width);
    const int interiorEnd = std::max(interiorStart, width - half - 1);
    auto step = [&](int x, const uchar* enter, const uchar* leave) {
        for (int c = 0; c < 4; ++c) {
            sums[x * 4 + c] = RowSum(window[c]);
            window[c] += std::uint32_t(enter[c]) - leave[c];
        }
    };
    int x = 0;
    for (; x < interiorStart; ++x)
        step(x, in + std::min(x + half + 1, width - 1) * 4, in + std::max(x - half, 0) * 4);
    for (; x < interiorEnd; ++x)
        step(x, in + (x + half + 1) * 4, in + (x - half) * 4);
    for (; x < width; ++x)
        step(x, in + std::min(x + half + 1, width - 1) * 4, in + std::max(x - half, 0) * 4);
}

template<typename RowSum, bool floatDivision> QImage separableBoxBlur(QImage image, int kernel, int passes)
{
    const int width = image.width(), height = image.height(), half = kernel / 2;
    const std::size_t stride = std::size_t(width) * 4;
    const std::uint32_t area = std::uint32_t(kernel) * std::uint32_t(kernel);
    const float inverse = 1.0f / float(area);
    // Exact for sums below 2^23, and a sum is at most 255 × area.
    const std::uint64_t reciprocal = ((std::uint64_t(1) << 32) + area - 1) / area;
    const int ringRows = std::min(kernel + 1, height);
    std::vector<RowSum> ring(stride * std::size_t(ringRows));
    std::vector<std::uint32_t> columnSums(stride);
    for (int pass = 0; pass < passes; ++pass) {
        int computed = -1;
        auto rowAt = [&](int y) {
            y = std::clamp(y, 0, height - 1);
            while (computed < y) {
                ++computed;
                rowSums(image.constScanLine(computed), width, half,
                    &ring[std::size_t(computed % ringRows) * stride]);
            }
            return &ring[std::size_t(y % ringRows) * stride];
        };
        QImage out(image.size(), image.format());
        std::fill(columnSums.begin(), columnSums.end(), 0);
        for (int dy = -half; dy <= half; ++dy) {
            const RowSum* sums = rowAt(dy);
            for (std::size_t i = 0; i < stride; ++i)
                columnSums[i] += sums[i];
        }
        for (int y = 0; y < height; ++y) {
            uchar* target = out.scanLine(y);
            std::uint32_t* columns = columnSums.data();
            if constexpr (floatDivision) {
                for (std::size_t i = 0; i < stride; ++i)
                    target[i] = uchar(float(std::int32_t(columns[i])) * inverse + 0.5f);
            } else {
                for (std::size_t i = 0; i < stride; ++i)
                    target[i] = uchar((std::uint64_t(columns[i] + area / 2) * reciprocal) >> 32);
            }
            if (y + 1 == height)
                break;
            // The ring holds one row more than the window: the entering row never takes the slot
            // of the leaving one.
            const RowSum* leave = rowAt(y - half);
            const RowSum* enter = rowAt(y + half + 1);
            for (std::size_t i = 0; i < stride; ++i)
                columns[i] += std::uint32_t(enter[i]) - leave[i];
        }
        image = out;
    }
    return image;
}

#pragma GCC pop_options

using BlurFunction = QImage (*)(QImage, int, int);

struct BlurVariant {
    const char* name;
    BlurFunction blur;
};

const BlurVariant blurVariants[] = {
    { "16-bit row sums, float division", &separableBoxBlur<std::uint16_t, true> },
    { "16-bit row sums, fixed-point division", &separableBoxBlur<std::uint16_t, false> },
    { "32-bit row sums, float division", &separableBoxBlur<std::uint32_t, true> },
    { "32-bit row sums, fixed-point division", &separableBoxBlur<std::uint32_t, false> },
};

volatile qsizetype sink = 0;

void keep(const std::shared_ptr<platform::Image>& image)
{
    sink = sink + image->bitmap()->byteCount();
}

void keep(const QImage& image)
{
    sink = sink + image.sizeInBytes();
}

// A decoded 24 MP photograph with no alpha: 8 bits per sample as a JPEG decodes, or 16 as a deep PNG.
constexpr int photoWidth = 6000, photoHeight = 4000;

std::shared_ptr<platform::Image> photograph(bool deep)
{
    return platform::Image::create(*platform::Bitmap::fromImage(
        photoLike(photoWidth, photoHeight)
            .convertToFormat(deep ? QImage::Format_RGBX64 : QImage::Format_RGB32)));
}

struct NamedFilter {
    const char* name;
    iris::Filter filter;
};

std::vector<NamedFilter> colourFilters()
{
    return { { "tint", iris::Filter::tintFactory()(platform::Color { 0.9, 0.4, 0.1, 0.35 }) },
        { "colour controls", iris::Filter::colorControlsFactory()(0.1, 1.1, 0.8, 0.3) },
        { "black and white", iris::BlackWhiteProcessor().coreImageFilter() } };
}

// The same transform over a float copy of the whole picture at once.
iris::Filter wholeImage(const iris::Filter& filter)
{
    return { filter.transform, iris::Filter::Reach::wholeImage };
}

// The child's side: filters the photograph once and prints the growth of the resident set's peak
// over what the process held before, in kilobytes.
int measureFilterPeak(const QString& name, const QString& path, const QString& depth)
{
    const auto photo = photograph(depth == QLatin1String("16"));
    for (const NamedFilter& candidate : colourFilters()) {
        if (name != QLatin1String(candidate.name))
            continue;
        const iris::Filter filter
            = path == QLatin1String("whole") ? wholeImage(candidate.filter) : candidate.filter;
        const long residentBefore = bench::statusKilobytes("VmRSS");
        bench::resetPeak();
        const auto result = iris::applyFilter(photo, filter);
        const long peak = bench::statusKilobytes("VmHWM") - residentBefore;
        std::printf("%ld %d\n", peak, result != photo ? 1 : 0);
        return 0;
    }
    return 1;
}

std::optional<double> filterPeakMegabytes(const char* name, const char* path, int depth)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("filter-peak"), QString::fromUtf8(name), QString::fromUtf8(path),
            QString::number(depth) });
    if (!child.waitForFinished(300'000) || child.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 2 || fields[1] != "1")
        return std::nullopt;
    return fields[0].toDouble() / 1024;
}

void compareColourFilters()
{
    for (const int depth : { 8, 16 }) {
        const auto photo = photograph(depth == 16);
        for (const NamedFilter& candidate : colourFilters()) {
            const std::string name
                = std::string(candidate.name) + " 6000x4000 " + std::to_string(depth) + "-bit";
            const bool same = iris::applyFilter(photo, candidate.filter)->bitmap()->image()
                == iris::applyFilter(photo, wholeImage(candidate.filter))->bitmap()->image();
            const std::optional<double> tiledPeak = filterPeakMegabytes(candidate.name, "tiled", depth);
            const std::optional<double> wholePeak = filterPeakMegabytes(candidate.name, "whole", depth);
            std::printf("%s: same pixels as the whole-image path: %s; peak memory %.0f MB against %.0f MB "
                        "(ratio %.3f)\n",
                name.c_str(), same ? "yes" : "NO", tiledPeak.value_or(-1), wholePeak.value_or(-1),
                tiledPeak && wholePeak ? *tiledPeak / *wholePeak : -1.0);
            bench::compare(
                name + " in tiles vs a float copy of the whole image",
                [&] { keep(iris::applyFilter(photo, candidate.filter)); },
                [&] { keep(iris::applyFilter(photo, wholeImage(candidate.filter))); }, 5);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 5 && arguments[1] == QLatin1String("filter-peak"))
        return measureFilterPeak(arguments[2], arguments[3], arguments[4]);
    if (arguments.size() == 2 && arguments[1] == QLatin1String("filters")) {
        compareColourFilters();
        return 0;
    }

    const QImage large = photoLike(2000, 2000);
    const auto largeImage = platform::Image::create(*platform::Bitmap::fromImage(large));
    const QImage medium = photoLike(1000, 1000);
    const auto mediumImage = platform::Image::create(*platform::Bitmap::fromImage(medium));

    // The baseline must be the same filter: equal to the naive one on a small picture, and to ours
    // on the large one. Of its plain forms the fastest here is the baseline.
    const int kernel = iris::boxBlurKernelSize(10), passes = iris::boxBlurPassCount(10);
    const QImage small = photoLike(300, 200);
    const QImage naive = naiveBoxBlur(small, kernel, passes);
    const QImage ours = iris::boxBlur(largeImage, 10)->bitmap()->image().convertToFormat(large.format());
    BlurFunction baselineBlur = nullptr;
    double fastest = 1e300;
    for (const BlurVariant& variant : blurVariants) {
        const bool sameAsNaive = variant.blur(small, kernel, passes) == naive;
        const bool sameAsOurs = variant.blur(large, kernel, passes) == ours;
        std::vector<double> times;
        for (int run = 0; run < 5; ++run)
            times.push_back(bench::milliseconds([&] { keep(variant.blur(large, kernel, passes)); }));
        const double time = bench::median(times);
        std::printf("separable baseline, %s: %.2f ms; equals the naive filter: %s; equals ours: %s\n",
            variant.name, time, sameAsNaive ? "yes" : "NO", sameAsOurs ? "yes" : "NO");
        if (sameAsNaive && sameAsOurs && time < fastest) {
            fastest = time;
            baselineBlur = variant.blur;
        }
    }
    if (!baselineBlur) {
        std::fprintf(stderr, "no baseline blur gives the same output\n");
        return 1;
    }

    std::vector<Comparison> comparisons;
    comparisons.push_back({ "box blur 2000x2000 radius 10 vs separable sliding-window box filter",
        [&] { keep(iris::boxBlur(largeImage, 10)); }, [&] { keep(baselineBlur(large, kernel, passes)); },
        7 });
    // A radius far wider than the image costs what an ordinary one does.
    comparisons.push_back({ "box blur 2000x2000 radius 100000 vs radius 10",
        [&] { keep(iris::boxBlur(largeImage, 100000)); }, [&] { keep(iris::boxBlur(largeImage, 10)); }, 7 });
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
    compareColourFilters();
    return 0;
}
