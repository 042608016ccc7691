#include "Iris/image/ImageDrawing.h"

#include "Iris/image/Image.h"
#include "Iris/image/ProcessorText.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/BlendModes.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/Image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace iris {

using platform::Bitmap;
using platform::GraphicsContext;
using platform::Image;
using platform::Point;
using platform::Rect;
using platform::Size;

namespace {

QSizeF toQSizeF(Size size)
{
    return QSizeF(size.width, size.height);
}

Size toSize(QSizeF size)
{
    return { size.width(), size.height() };
}

Rect boundsOf(Size size)
{
    return Rect(Point { 0, 0 }, size);
}

bool isUsableLength(double value)
{
    return std::isfinite(value) && value > 0;
}

// Ends the drawing and hands back its pixels. When nothing but the caller holds the context its
// bitmap is taken over without a copy: the painter ends with the context, so nothing can write into
// the shared pixels afterwards.
ImagePtr finish(std::shared_ptr<GraphicsContext> context)
{
    if (context.use_count() != 1)
        return context->makeImage();
    QImage pixels = context->pixels();
    context.reset();
    std::optional<Bitmap> bitmap = Bitmap::fromImage(std::move(pixels));
    return bitmap ? Image::create(std::move(*bitmap)) : nullptr;
}

// The drawing core with an explicit reference for the bits per component.
ImagePtr drawWithReference(
    const ImagePtr& fallback, const Bitmap* reference, Size size, const DrawingCallback& draw)
{
    platform::installBlendModes();
    ImagePtr result;
    {
        platform::GraphicsStateScope scope;
        std::shared_ptr<GraphicsContext> context
            = ImageWrapper::makeBitmapDrawingContext(reference, size.width, size.height);
        if (!context)
            return fallback;
        draw(*context);
        // Ours leaves the thread's current slot before its pixels are taken; the scope then makes
        // the previous context current again.
        GraphicsContext::setCurrent(nullptr);
        result = finish(std::move(context));
    }
    return result ? result : fallback;
}

// The rounded path as our geometry's path type, with a fill rule.
QPainterPath evenOdd(QPainterPath path)
{
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

} // namespace

double Radius::resolved(Size size) const
{
    switch (kind) {
    case Kind::widthFraction:
        return value * size.width;
    case Kind::heightFraction:
        return value * size.height;
    case Kind::point:
        break;
    }
    return value;
}

QString Border::description() const
{
    QString radiusText;
    switch (radius.kind) {
    case Radius::Kind::widthFraction:
        radiusText = QStringLiteral("widthFraction(") + numberText(radius.value) + ')';
        break;
    case Radius::Kind::heightFraction:
        radiusText = QStringLiteral("heightFraction(") + numberText(radius.value) + ')';
        break;
    case Radius::Kind::point:
        radiusText = QStringLiteral("point(") + numberText(radius.value) + ')';
        break;
    }
    return QStringLiteral("Border(color: ") + color.description() + QStringLiteral(", lineWidth: ")
        + numberText(lineWidth) + QStringLiteral(", radius: ") + radiusText
        + QStringLiteral(", roundingCorners: ") + QString::number(unsigned(roundingCorners)) + ')';
}

int boxBlurKernelSize(double radius)
{
    const double clamped = std::max(radius, 2.0);
    int size = int(std::floor(clamped * 3.0 * 2.5066282746310002 * 0.25 + 0.5));
    if (size % 2 == 0)
        size += 1;
    return size;
}

int boxBlurPassCount(double radius)
{
    if (radius < 0.5)
        return 1;
    if (radius < 1.5)
        return 2;
    return 3;
}

ImagePtr drawToSize(const ImagePtr& image, Size size, const DrawingCallback& draw)
{
    if (!image)
        return image;
    return drawWithReference(image, image->bitmap(), size, draw);
}

ImagePtr compositedImage(const ImagePtr& image, platform::CompositingOperation operation, double alpha,
    std::optional<platform::Color> backgroundColor)
{
    if (!image || !image->bitmap())
        return image;
    const Size size = image->pixelSize();
    return drawToSize(image, size, [&](GraphicsContext& context) {
        const Rect rect = boundsOf(size);
        if (backgroundColor) {
            context.setFillColor(*backgroundColor);
            context.fillRect(rect);
        }
        context.drawImage(*image, rect, Rect(), operation, alpha);
    });
}

ImagePtr roundedCornerImage(const ImagePtr& image, Radius radius, Size targetSize, RectCorner corners,
    std::optional<platform::Color> backgroundColor)
{
    if (!image || !image->bitmap())
        return image;
    return drawToSize(image, targetSize, [&](GraphicsContext& context) {
        const Rect rect = boundsOf(targetSize);
        if (backgroundColor) {
            context.setFillColor(*backgroundColor);
            context.fillRect(rect);
        }
        const double resolved = radius.resolved(targetSize);
        const QRectF qrect(0, 0, targetSize.width, targetSize.height);
        context.painter().setClipPath(evenOdd(roundedRectPath(qrect, corners, resolved)), Qt::IntersectClip);
        context.drawImage(*image, rect);
    });
}

ImagePtr roundedCornerImage(const ImagePtr& image, double radius, Size targetSize, RectCorner corners,
    std::optional<platform::Color> backgroundColor)
{
    return roundedCornerImage(image, Radius::point(radius), targetSize, corners, backgroundColor);
}

ImagePtr borderedImage(const ImagePtr& image, const Border& border)
{
    if (!image || !image->bitmap() || !std::isfinite(border.lineWidth))
        return image;
    const Size size = image->pixelSize();
    return drawToSize(image, size, [&](GraphicsContext& context) {
        const Rect rect = boundsOf(size);
        context.drawImage(*image, rect);
        const double half = border.lineWidth / 2;
        const Rect inset = rect.insetBy(half, half);
        if (inset.isNull())
            return;
        const double radius = border.radius.resolved(inset.size) - half;
        const QPainterPath path
            = evenOdd(roundedRectPath(QRectF(inset.minX(), inset.minY(), inset.width(), inset.height()),
                border.roundingCorners, radius));
        // The colour's own alpha and the context's alpha both apply.
        QPen pen(border.color.toQColor());
        pen.setWidthF(std::max(0.0, border.lineWidth));
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        context.setAlpha(border.color.alpha);
        QPainter& painter = context.painter();
        painter.save();
        painter.setOpacity(context.alpha());
        painter.strokePath(path, pen);
        painter.restore();
    });
}

ImagePtr resizedImage(const ImagePtr& image, Size targetSize)
{
    if (!image || !image->bitmap())
        return image;
    return drawToSize(image, targetSize, [&](GraphicsContext& context) {
        context.drawImage(*image, boundsOf(targetSize), Rect(), platform::CompositingOperation::copy, 1.0);
    });
}

ImagePtr resizedImageForContentMode(const ImagePtr& image, Size targetSize, ContentMode mode)
{
    if (!image)
        return image;
    return resizedImage(image, toSize(resizedSize(toQSizeF(image->pixelSize()), toQSizeF(targetSize), mode)));
}

ImagePtr croppedImage(const ImagePtr& image, Size size, Point anchor)
{
    if (!image || !image->bitmap() || !isUsableLength(size.width) || !isUsableLength(size.height))
        return image;
    const QRectF rect
        = constrainedRect(toQSizeF(image->pixelSize()), toQSizeF(size), QPointF(anchor.x, anchor.y));
    if (rect.isEmpty() || !std::isfinite(rect.x()) || !std::isfinite(rect.y()))
        return image;
    std::optional<Bitmap> cut = image->bitmap()->cropped(rect.toAlignedRect());
    if (!cut)
        return image;
    return Image::create(std::move(*cut));
}

namespace {

// One box pass over premultiplied 8-bit pixels (four samples each), edges extended: every output
// sample is the rounded mean of the `kernel` × `kernel` samples around it, with coordinates outside
// the image clamped to its edge. The horizontal sums stay exact in `rowSums`, so the result equals a
// two-dimensional box average. Sum is the column accumulator: 32 bits hold kernel² × 255 up to a
// kernel of 4103.
template<typename Sum>
void boxPass(const QImage& input, QImage& output, int kernel, std::vector<std::uint32_t>& rowSums)
{
    const int width = input.width(), height = input.height();
    const int half = kernel / 2;
    const std::size_t rowLength = std::size_t(width) * 4;
    rowSums.resize(rowLength * height);

    for (int y = 0; y < height; ++y) {
        const uchar* row = input.constScanLine(y);
        std::uint32_t* sums = rowSums.data() + rowLength * y;
        for (int c = 0; c < 4; ++c) {
            auto sample = [&](int x) -> std::uint32_t { return row[std::clamp(x, 0, width - 1) * 4 + c]; };
            std::uint32_t sum = 0;
            for (int x = -half; x <= half; ++x)
                sum += sample(x);
            for (int x = 0; x < width; ++x) {
                sums[x * 4 + c] = sum;
                sum += sample(x + half + 1);
                sum -= sample(x - half);
            }
        }
    }

    // Odd areas never give an exact half, so rounding the double quotient is exact.
    const double inverseArea = 1.0 / (double(kernel) * double(kernel));
    std::vector<Sum> columns(rowLength, 0);
    auto rowAt = [&](int y) { return rowSums.data() + rowLength * std::clamp(y, 0, height - 1); };
    for (int y = -half; y <= half; ++y) {
        const std::uint32_t* sums = rowAt(y);
        for (std::size_t i = 0; i < rowLength; ++i)
            columns[i] += sums[i];
    }
    for (int y = 0; y < height; ++y) {
        uchar* out = output.scanLine(y);
        for (std::size_t i = 0; i < rowLength; ++i)
            out[i] = uchar(double(columns[i]) * inverseArea + 0.5);
        const std::uint32_t* entering = rowAt(y + half + 1);
        const std::uint32_t* leaving = rowAt(y - half);
        for (std::size_t i = 0; i < rowLength; ++i)
            columns[i] += Sum(entering[i]) - Sum(leaving[i]);
    }
}

// Kernels beyond this stop being a blur of the picture and only cost time and memory.
constexpr double maxBlurKernel = 1 << 20;

} // namespace

ImagePtr boxBlur(const ImagePtr& image, double radius)
{
    if (!image || !image->bitmap() || std::isnan(radius))
        return image;
    const double kernelEstimate = std::max(radius, 2.0) * 3.0 * 2.5066282746310002 * 0.25 + 0.5;
    if (!(kernelEstimate < maxBlurKernel))
        return image;
    const int kernel = boxBlurKernelSize(radius);
    const int passes = boxBlurPassCount(radius);

    const Size pixelSize = image->pixelSize();
    const Bitmap& bitmap = *image->bitmap();
    const int width = int(pixelSize.width), height = int(pixelSize.height);
    if (width < 1 || height < 1)
        return image;

    // The box filter works on 8-bit samples, so every image, 16-bit ones included, is first drawn
    // into an 8-bit buffer.
    QImage buffers[2];
    if (bitmap.width() == width && bitmap.height() == height) {
        buffers[0] = bitmap.image().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    } else {
        platform::GraphicsStateScope scope;
        std::shared_ptr<GraphicsContext> input = GraphicsContext::create(pixelSize, 8);
        if (!input)
            return image;
        input->drawBitmap(bitmap, Rect(0, 0, width, height));
        buffers[0] = input->pixels().copy();
    }
    buffers[1] = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (buffers[0].isNull() || buffers[1].isNull())
        return image;

    std::vector<std::uint32_t> rowSums;
    int source = 0;
    for (int pass = 0; pass < passes; ++pass) {
        if (kernel <= 4103)
            boxPass<std::uint32_t>(buffers[source], buffers[1 - source], kernel, rowSums);
        else
            boxPass<std::uint64_t>(buffers[source], buffers[1 - source], kernel, rowSums);
        source = 1 - source;
    }
    std::optional<Bitmap> blurred = Bitmap::fromImage(std::move(buffers[source]));
    if (!blurred)
        return image;
    return redrawAtPixelSize(*blurred, image, pixelSize);
}

ImagePtr overlaidImage(const ImagePtr& image, const platform::Color& color, double fraction)
{
    if (!image || !image->bitmap())
        return image;
    const Size size = image->pixelSize();
    return drawToSize(image, size, [&](GraphicsContext& context) {
        const Rect rect = boundsOf(size);
        context.drawImage(*image, rect);
        if (fraction > 0) {
            context.setFillColor(color.withAlpha(1 - fraction));
            context.setCompositingOperation(platform::CompositingOperation::sourceAtop);
            context.fillRect(rect);
        }
    });
}

ImagePtr scaledImage(const ImagePtr& image, double scale)
{
    if (scale == 1.0 || !image || !image->bitmap())
        return image;
    return Image::create(*image->bitmap());
}

ImagePtr decodedImage(const ImagePtr& image, double scale)
{
    if (!image || ir(image).images() || image->isAnimated() || !image->bitmap())
        return image;
    const Bitmap& bitmap = *image->bitmap();
    const Size size { bitmap.width() / scale, bitmap.height() / scale };
    return redrawInBitmapContext(image, bitmap, size, size);
}

ImagePtr decodedImageInContext(const ImagePtr& image, GraphicsContext& context)
{
    if (!image || ir(image).frameSource() || !image->bitmap())
        return image;
    const Bitmap& bitmap = *image->bitmap();
    context.drawBitmap(bitmap, Rect(0, 0, bitmap.width(), bitmap.height()));
    ImagePtr result = context.makeImage();
    return result ? result : image;
}

ImagePtr redrawInBitmapContext(
    const ImagePtr& reference, const Bitmap& bitmap, Size bitmapSize, Size drawingSize)
{
    if (!reference)
        return reference;
    return drawWithReference(reference, reference->bitmap(), bitmapSize,
        [&](GraphicsContext& context) { context.drawBitmap(bitmap, boundsOf(drawingSize)); });
}

ImagePtr redrawAtPixelSize(const Bitmap& bitmap, const ImagePtr& reference, Size size)
{
    if (!reference)
        return reference;
    const ImagePtr drawn = Image::createWithPointSize({ bitmap }, reference->size());
    return drawWithReference(
        reference, reference->bitmap(), reference->pixelSize(), [&](GraphicsContext& context) {
            context.drawImage(*drawn, boundsOf(size), Rect(), platform::CompositingOperation::copy, 1.0);
        });
}

} // namespace iris
