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
#include <utility>
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
// bitmap is taken over without a copy: nothing else can draw into it afterwards.
ImagePtr finish(std::shared_ptr<GraphicsContext> context)
{
    if (context.use_count() != 1)
        return context->makeImage();
    QImage pixels = context->takePixels();
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

// Rounded corners of an image up to this many pixels wide are cut with a mask rather than a clip.
constexpr int maxWidthMaskedNotClipped = 2;

// The path, filled by the even-odd rule.
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
    const double estimate = std::floor(clamped * 3.0 * 2.5066282746310002 * 0.25 + 0.5);
    if (!(estimate < maxBoxBlurKernel))
        return maxBoxBlurKernel;
    int size = int(estimate);
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
    if (!image || !image->bitmap() || !std::isfinite(radius.value))
        return image;
    return drawToSize(image, targetSize, [&](GraphicsContext& context) {
        const Rect rect = boundsOf(targetSize);
        const QRectF qrect(0, 0, targetSize.width, targetSize.height);
        const QPainterPath rounded = evenOdd(roundedRectPath(qrect, corners, radius.resolved(targetSize)));
        if (context.pixels().width() > maxWidthMaskedNotClipped) {
            if (backgroundColor) {
                context.setFillColor(*backgroundColor);
                context.fillRect(rect);
            }
            context.painter().setClipPath(rounded, Qt::IntersectClip);
            context.drawImage(*image, rect);
            return;
        }
        // Qt takes an antialiased clip whose every row is one run of equal coverage over the same
        // columns for a plain rectangle, and drops the coverage: an image this narrow would keep its
        // corners whole. It is drawn whole and masked instead, and the background goes under it.
        context.drawImage(*image, rect);
        QImage mask(context.pixels().size(), QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        {
            QPainter maskPainter(&mask);
            maskPainter.setRenderHint(QPainter::Antialiasing, true);
            maskPainter.setTransform(context.painter().transform());
            maskPainter.fillPath(rounded, Qt::black);
        }
        QPainter& painter = context.painter();
        painter.save();
        painter.resetTransform();
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(0, 0, mask);
        painter.restore();
        if (backgroundColor) {
            context.setFillColor(*backgroundColor);
            context.setCompositingOperation(platform::CompositingOperation::destinationOver);
            context.fillRect(rect);
        }
    });
}

ImagePtr roundedCornerImage(const ImagePtr& image, double radius, Size targetSize, RectCorner corners,
    std::optional<platform::Color> backgroundColor)
{
    return roundedCornerImage(image, Radius::point(radius), targetSize, corners, backgroundColor);
}

ImagePtr borderedImage(const ImagePtr& image, const Border& border)
{
    if (!image || !image->bitmap() || !std::isfinite(border.lineWidth) || !std::isfinite(border.radius.value))
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
    // Copying the stretched image over a whole bitmap of whole pixels leaves exactly the scaled
    // pixels, so they are made directly, at the same depth a context would have.
    const Bitmap& bitmap = *image->bitmap();
    const double width = targetSize.width, height = targetSize.height;
    if (std::isfinite(width) && std::isfinite(height) && width >= 1 && height >= 1
        && width <= GraphicsContext::maxPixelsPerSide && height <= GraphicsContext::maxPixelsPerSide
        && width * height <= double(GraphicsContext::maxPixels) && width == std::floor(width)
        && height == std::floor(height)) {
        const QImage::Format format = bitmap.bitsPerComponent() == 16 ? QImage::Format_RGBA64_Premultiplied
                                                                      : QImage::Format_ARGB32_Premultiplied;
        QImage scaled = platform::safelyScalable(bitmap.image())
                            .scaled(int(width), int(height), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (scaled.format() != format)
            scaled.convertTo(format);
        std::optional<Bitmap> result = Bitmap::fromImage(std::move(scaled));
        return result ? Image::create(std::move(*result)) : image;
    }
    return drawToSize(image, targetSize, [&](GraphicsContext& context) {
        context.drawImage(*image, boundsOf(targetSize), Rect(), platform::CompositingOperation::copy, 1.0);
    });
}

ImagePtr resizedImageForContentMode(const ImagePtr& image, Size targetSize, ContentMode mode)
{
    if (!image)
        return image;
    QSizeF size = resizedSize(toQSizeF(image->pixelSize()), toQSizeF(targetSize), mode);
    // Keeping the ratio of a very thin image can round its short side to nothing; it keeps one
    // pixel, whenever the target has one, rather than the resize failing.
    if (mode != ContentMode::none && targetSize.width >= 1 && targetSize.height >= 1)
        size = QSizeF(std::max(size.width(), 1.0), std::max(size.height(), 1.0));
    return resizedImage(image, toSize(size));
}

ImagePtr croppedImage(const ImagePtr& image, Size size, Point anchor)
{
    if (!image || !image->bitmap() || !isUsableLength(size.width) || !isUsableLength(size.height))
        return image;
    const QRectF rect
        = constrainedRect(toQSizeF(image->pixelSize()), toQSizeF(size), QPointF(anchor.x, anchor.y));
    if (rect.isEmpty() || !std::isfinite(rect.x()) || !std::isfinite(rect.y()))
        return image;
    // The cut has the size asked for: a rectangle between pixels moves to the nearest whole ones
    // rather than growing to take in every pixel it touches, which would make a 50-pixel crop of an
    // odd-sized image 51 pixels wide.
    const int width = std::max(1, qRound(rect.width())), height = std::max(1, qRound(rect.height()));
    const int x = std::clamp(qRound(rect.x()), 0, std::max(0, int(image->pixelSize().width) - width));
    const int y = std::clamp(qRound(rect.y()), 0, std::max(0, int(image->pixelSize().height) - height));
    std::optional<Bitmap> cut = image->bitmap()->cropped(QRect(x, y, width, height));
    if (!cut)
        return image;
    return Image::create(std::move(*cut));
}

// The blur's inner loops are plain array arithmetic that pays off only when vectorised, which the
// default optimisation level leaves out.
#pragma GCC push_options
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")

namespace {

// The horizontal box sums of one row of premultiplied 8-bit pixels (four samples each), with
// coordinates outside the row clamped to its ends. `RowSum` holds kernel × 255.
template<typename RowSum> void horizontalSums(const uchar* row, int width, int half, RowSum* sums)
{
    std::uint32_t running[4] = { 0, 0, 0, 0 };
    auto at = [&](int x) { return row + std::clamp(x, 0, width - 1) * 4; };
    // The first window, [-half, half], counted in closed form: the first pixel stands for the half
    // to its left, and the last for whatever reaches past the row's end. A kernel far wider than
    // the row then costs no more than the row.
    const int inside = std::min(half, width - 1);
    const std::uint32_t beyondEnd = std::uint32_t(half - inside);
    for (int c = 0; c < 4; ++c)
        running[c] = std::uint32_t(half) * row[c] + beyondEnd * row[(width - 1) * 4 + c];
    for (int x = 0; x <= inside; ++x)
        for (int c = 0; c < 4; ++c)
            running[c] += row[x * 4 + c];
    auto step = [&](int x, const uchar* entering, const uchar* leaving) {
        for (int c = 0; c < 4; ++c) {
            sums[x * 4 + c] = RowSum(running[c]);
            running[c] += entering[c] - leaving[c];
        }
    };
    // Away from the ends no coordinate needs clamping.
    const int interiorStart = std::min(half, width);
    const int interiorEnd = std::max(interiorStart, width - half - 1);
    int x = 0;
    for (; x < interiorStart; ++x)
        step(x, at(x + half + 1), at(x - half));
    for (; x < interiorEnd; ++x)
        step(x, row + (x + half + 1) * 4, row + (x - half) * 4);
    for (; x < width; ++x)
        step(x, at(x + half + 1), at(x - half));
}

// The rounded quotient of every column sum by the kernel area. Odd areas never give an exact half,
// so rounding the product with the inverse is exact while its error stays below 1 / (2 × area): in
// single precision for areas up to 61², in double precision beyond.
template<typename Sum> void writeAverages(const Sum* columns, std::size_t count, int kernel, uchar* out)
{
    if (kernel <= 61) {
        const float inverse = 1.0f / float(kernel * kernel);
        for (std::size_t i = 0; i < count; ++i)
            out[i] = uchar(float(std::int32_t(columns[i])) * inverse + 0.5f);
        return;
    }
    if (kernel <= 1 << 20) {
        const double inverse = 1.0 / (double(kernel) * double(kernel));
        for (std::size_t i = 0; i < count; ++i)
            out[i] = uchar(double(columns[i]) * inverse + 0.5);
        return;
    }
    // Beyond, the product's error can pass 1 / (2 × area): an exact division.
    const std::uint64_t area = std::uint64_t(kernel) * std::uint64_t(kernel);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = uchar((std::uint64_t(columns[i]) + area / 2) / area);
}

// One box pass, edges extended: every output sample is the rounded mean of the kernel × kernel
// samples around it, with coordinates outside the image clamped to its edge. Horizontal sums stay
// exact until the vertical pass has added them up, so the result equals a two-dimensional box
// average. Only the rows the vertical window spans are kept, in a ring of `RowSum`s, which hold
// kernel × 255 (16 bits suffice up to a kernel of 257, and halve the memory the ring takes and the
// bandwidth the vertical window needs). `Sum` holds kernel² × 255: 32 bits suffice up to a kernel
// of 4103.
template<typename RowSum, typename Sum>
void boxPass(const QImage& input, QImage& output, int kernel, std::vector<RowSum>& ring)
{
    const int width = input.width(), height = input.height();
    const int half = kernel / 2;
    const std::size_t rowLength = std::size_t(width) * 4;
    const int ringRows = std::min(kernel + 1, height);
    // A ring of the window's rows that would pass the budget, as a kernel near the size of a large
    // image needs, gives way to two rows whose sums are made again as the window reaches them: a
    // second horizontal pass instead of memory in proportion to the image. A window that always
    // reaches past both edges needs only the first and last rows after the first window, so it
    // never keeps a ring.
    const bool spansImage = half >= height - 1;
    const bool keepRing
        = !spansImage && std::size_t(ringRows) * rowLength * sizeof(RowSum) <= maxBoxBlurRingBytes;
    ring.resize(rowLength * (keepRing ? ringRows : 2));
    int computed = -1; // the last row whose sums are in the ring
    int held[2] = { -1, -1 }; // the rows in the two rows without a ring
    auto rowAt = [&](int y, int slot) {
        y = std::clamp(y, 0, height - 1);
        if (!keepRing) {
            RowSum* row = ring.data() + rowLength * slot;
            if (held[slot] != y)
                horizontalSums(input.constScanLine(y), width, half, row);
            held[slot] = y;
            return row;
        }
        while (computed < y) {
            ++computed;
            horizontalSums(
                input.constScanLine(computed), width, half, ring.data() + rowLength * (computed % ringRows));
        }
        return ring.data() + rowLength * (y % ringRows);
    };

    // The first window in closed form, as in horizontalSums: row 0 stands for the rows above it and
    // the last row for whatever reaches below the image.
    std::vector<Sum> columns(rowLength, 0);
    const int inside = std::min(half, height - 1);
    for (int y = 0; y <= inside; ++y) {
        const RowSum* sums = rowAt(y, 0);
        const Sum weight = Sum(1) + (y == 0 ? Sum(half) : 0) + (y == height - 1 ? Sum(half - inside) : 0);
        for (std::size_t i = 0; i < rowLength; ++i)
            columns[i] += weight * sums[i];
    }
    for (int y = 0; y < height; ++y) {
        writeAverages(columns.data(), rowLength, kernel, output.scanLine(y));
        if (y + 1 == height)
            break;
        // The ring holds one row more than the window, so the entering row never takes the
        // leaving row's slot.
        const RowSum* leaving = rowAt(y - half, 0);
        const RowSum* entering = rowAt(y + half + 1, 1);
        Sum* sums = columns.data();
        for (std::size_t i = 0; i < rowLength; ++i)
            sums[i] += Sum(entering[i]) - Sum(leaving[i]);
    }
}

} // namespace

#pragma GCC pop_options

ImagePtr boxBlur(const ImagePtr& image, double radius)
{
    if (!image || !image->bitmap() || !std::isfinite(radius))
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

    std::vector<std::uint16_t> narrowRing;
    std::vector<std::uint32_t> ring;
    int source = 0;
    for (int pass = 0; pass < passes; ++pass) {
        QImage& target = buffers[1 - source];
        // The first buffer may still share the image's own pixels; a later pass writes a fresh one.
        if (!target.isDetached())
            target = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        if (target.isNull())
            return image;
        if (kernel <= 257)
            boxPass<std::uint16_t, std::uint32_t>(buffers[source], target, kernel, narrowRing);
        else if (kernel <= 4103)
            boxPass<std::uint32_t, std::uint32_t>(buffers[source], target, kernel, ring);
        else
            boxPass<std::uint32_t, std::uint64_t>(buffers[source], target, kernel, ring);
        source = 1 - source;
    }
    std::optional<Bitmap> blurred = Bitmap::fromImage(std::move(buffers[source]));
    if (!blurred)
        return image;
    // Redrawing an 8-bit premultiplied bitmap of the same size by copying changes no pixel.
    if (bitmap.image().format() == QImage::Format_ARGB32_Premultiplied && bitmap.width() == width
        && bitmap.height() == height)
        return Image::create(std::move(*blurred));
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

ImagePtr redrawAtPixelSize(Bitmap&& bitmap, const ImagePtr& reference, Size size)
{
    if (reference && size == reference->pixelSize() && bitmap.pixelSize() == size
        && bitmap.image().format() == GraphicsContext::pixelFormat(reference->bitmap()))
        return Image::create(std::move(bitmap));
    return redrawAtPixelSize(std::as_const(bitmap), reference, size);
}

} // namespace iris
