#include "platform/graphics/GraphicsContext.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>

namespace platform {

namespace {

thread_local std::shared_ptr<GraphicsContext> currentContext;
thread_local std::vector<std::shared_ptr<GraphicsContext>> savedContexts;

Qt::PenCapStyle penCap(LineCap cap)
{
    switch (cap) {
    case LineCap::round:
        return Qt::RoundCap;
    case LineCap::square:
        return Qt::SquareCap;
    case LineCap::butt:
        break;
    }
    return Qt::FlatCap;
}

// A size the bitmap can have, or nothing.
std::optional<QSize> pixelSizeFor(Size size)
{
    if (!std::isfinite(size.width) || !std::isfinite(size.height))
        return std::nullopt;
    if (size.width < 1 || size.height < 1)
        return std::nullopt;
    if (size.width > GraphicsContext::maxPixelsPerSide || size.height > GraphicsContext::maxPixelsPerSide)
        return std::nullopt;
    const qint64 width = qint64(size.width), height = qint64(size.height);
    if (width * height > GraphicsContext::maxPixels)
        return std::nullopt;
    return QSize(int(width), int(height));
}

} // namespace

std::shared_ptr<GraphicsContext> GraphicsContext::create(Size size, int bitsPerComponent)
{
    const std::optional<QSize> pixels = pixelSizeFor(size);
    if (!pixels)
        return nullptr;
    const int bits = bitsPerComponent == 16 ? 16 : 8;
    QImage image(*pixels, pixelFormat(bits));
    if (image.isNull())
        return nullptr;
    image.fill(Qt::transparent);
    return std::shared_ptr<GraphicsContext>(new GraphicsContext(size, std::move(image), bits));
}

std::shared_ptr<GraphicsContext> GraphicsContext::create(Size size, const Bitmap* reference)
{
    return create(size, reference ? reference->bitsPerComponent() : 8);
}

QImage::Format GraphicsContext::pixelFormat(int bitsPerComponent)
{
    return bitsPerComponent == 16 ? QImage::Format_RGBA64_Premultiplied : QImage::Format_ARGB32_Premultiplied;
}

QImage::Format GraphicsContext::pixelFormat(const Bitmap* reference)
{
    return pixelFormat(reference ? reference->bitsPerComponent() : 8);
}

GraphicsContext::GraphicsContext(Size size, QImage image, int bitsPerComponent)
    : m_size(size)
    , m_image(std::move(image))
    , m_bitsPerComponent(bitsPerComponent)
{
    m_painter.begin(&m_image);
    m_painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    // The one place where y-up points become Qt's y-down pixels. The scale is exactly 1 for a size
    // of whole pixels.
    m_painter.setTransform(
        QTransform(m_image.width() / size.width, 0, 0, -m_image.height() / size.height, 0, m_image.height()));
}

GraphicsContext::~GraphicsContext()
{
    if (m_painter.isActive())
        m_painter.end();
}

void GraphicsContext::saveState()
{
    m_savedStates.push_back(m_state);
    m_painter.save();
}

void GraphicsContext::restoreState()
{
    if (m_savedStates.empty())
        return;
    m_state = m_savedStates.back();
    m_savedStates.pop_back();
    m_painter.restore();
}

void GraphicsContext::setAlpha(double alpha)
{
    m_state.alpha = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
}

void GraphicsContext::composite(
    CompositingOperation operation, double opacity, const std::function<void(QPainter&)>& draw)
{
    std::optional<QPainter::CompositionMode> mode = painterCompositionMode(operation);
    CompositingFallback blend;
    if (!mode) {
        blend = compositingFallback(operation);
        if (!blend)
            mode = QPainter::CompositionMode_SourceOver;
    }
    if (mode) {
        m_painter.save();
        m_painter.setCompositionMode(*mode);
        m_painter.setOpacity(opacity);
        draw(m_painter);
        m_painter.restore();
        return;
    }
    // What is drawn goes over transparency first, with the same transform, clip and opacity; the
    // blend then combines it with the bitmap.
    QImage layer(m_image.size(), m_image.format());
    if (layer.isNull())
        return;
    layer.fill(Qt::transparent);
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHints(m_painter.renderHints());
        layerPainter.setTransform(m_painter.transform());
        if (m_painter.hasClipping())
            layerPainter.setClipPath(m_painter.clipPath());
        layerPainter.setOpacity(opacity);
        draw(layerPainter);
    }
    blend(m_image, layer);
}

void GraphicsContext::fillRect(const Rect& rect)
{
    fill(Path::rectangle(rect));
}

void GraphicsContext::fill(const Path& path)
{
    const QColor color = m_state.fill.toQColor();
    composite(m_state.operation, m_state.alpha,
        [&](QPainter& painter) { painter.fillPath(path.painterPath(), color); });
}

void GraphicsContext::stroke(const Path& path)
{
    QPen pen(m_state.stroke.toQColor());
    pen.setWidthF(std::max(0.0, m_state.lineWidth));
    pen.setCapStyle(penCap(m_state.lineCap));
    pen.setJoinStyle(Qt::MiterJoin);
    composite(m_state.operation, m_state.alpha,
        [&](QPainter& painter) { painter.strokePath(path.painterPath(), pen); });
}

void GraphicsContext::clip(const Path& path)
{
    m_painter.setClipPath(path.painterPath(), Qt::IntersectClip);
}

void GraphicsContext::clipToRect(const Rect& rect)
{
    clip(Path::rectangle(rect));
}

namespace {

// Draws `source` (a part of `image`, in its pixels) with its top row at the top of `destination`.
void drawFlipped(QPainter& painter, const QImage& given, const QRectF& source, const Rect& destination)
{
    const Rect target = destination.standardized();
    if (target.isEmpty() || source.isEmpty())
        return;
    // Without memory for a converted copy the given pixels are drawn as they are.
    const QImage converted = safelyScalable(given);
    const QImage& image = converted.isNull() ? given : converted;
    painter.save();
    painter.translate(target.origin.x, target.origin.y + target.size.height);
    painter.scale(1, -1);
    const QRectF targetRect(0, 0, target.size.width, target.size.height);
    // QPainter scales by bilinear filtering, which aliases when shrinking by more than half;
    // QImage::scaled averages instead.
    const QRectF onDevice = painter.transform().mapRect(targetRect);
    QImage shrunk;
    if (painter.transform().type() <= QTransform::TxScale
        && (onDevice.width() * 2 < source.width() || onDevice.height() * 2 < source.height())
        && onDevice.width() >= 1 && onDevice.height() >= 1) {
        const QImage part = image.copy(source.toAlignedRect());
        shrunk = part.scaled(qRound(onDevice.width()), qRound(onDevice.height()), Qt::IgnoreAspectRatio,
            Qt::SmoothTransformation);
    }
    // Without memory for the averaged copy the picture is still drawn, filtered as QPainter does,
    // rather than left out of the result.
    if (!shrunk.isNull())
        painter.drawImage(targetRect, shrunk, QRectF(shrunk.rect()));
    else
        painter.drawImage(targetRect, image, source);
    painter.restore();
}

} // namespace

void GraphicsContext::drawBitmap(const Bitmap& bitmap, const Rect& destination)
{
    composite(m_state.operation, m_state.alpha, [&](QPainter& painter) {
        drawFlipped(painter, bitmap.image(), QRectF(bitmap.image().rect()), destination);
    });
}

void GraphicsContext::drawImage(const Image& image, const Rect& destination, const Rect& source,
    CompositingOperation operation, double fraction)
{
    const Bitmap* bitmap = image.bitmap();
    if (!bitmap)
        return;
    QRectF sourcePixels(bitmap->image().rect());
    if (!source.isEmpty() && image.size().width > 0 && image.size().height > 0) {
        // Points to this bitmap's pixels, y-up to y-down.
        const double kx = bitmap->width() / image.size().width;
        const double ky = bitmap->height() / image.size().height;
        const Rect s = source.standardized();
        sourcePixels
            = QRectF(s.minX() * kx, (image.size().height - s.maxY()) * ky, s.width() * kx, s.height() * ky)
                  .intersected(QRectF(bitmap->image().rect()));
    }
    const double opacity = m_state.alpha * (std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 1.0);
    if (opacity < 1 && operation != CompositingOperation::sourceOver) {
        // The opacity belongs to the image: its pixels are scaled by it before the operation
        // combines them with the bitmap. QPainter's opacity instead mixes the operation's result with
        // what was there, so a copy at half opacity would keep half of the old pixels.
        const bool deep = bitmap->bitsPerComponent() > 8;
        // Through safelyScalable: Qt's own conversion ruins straight 16-bit pixels.
        QImage faded = safelyScalable(bitmap->image())
                           .convertToFormat(deep ? QImage::Format_RGBA64_Premultiplied
                                                 : QImage::Format_ARGB32_Premultiplied);
        if (!faded.isNull()) {
            const auto scaled
                = [opacity](unsigned sample) { return unsigned(std::lround(sample * opacity)); };
            for (int y = 0; y < faded.height(); ++y) {
                if (deep) {
                    auto* row = reinterpret_cast<QRgba64*>(faded.scanLine(y));
                    for (int x = 0; x < faded.width(); ++x)
                        row[x] = QRgba64::fromRgba64(scaled(row[x].red()), scaled(row[x].green()),
                            scaled(row[x].blue()), scaled(row[x].alpha()));
                } else {
                    auto* row = reinterpret_cast<QRgb*>(faded.scanLine(y));
                    for (int x = 0; x < faded.width(); ++x)
                        row[x] = qRgba(int(scaled(qRed(row[x]))), int(scaled(qGreen(row[x]))),
                            int(scaled(qBlue(row[x]))), int(scaled(qAlpha(row[x]))));
                }
            }
            composite(operation, 1.0,
                [&](QPainter& painter) { drawFlipped(painter, faded, sourcePixels, destination); });
            return;
        }
    }
    composite(operation, opacity,
        [&](QPainter& painter) { drawFlipped(painter, bitmap->image(), sourcePixels, destination); });
}

void GraphicsContext::drawImage(const Image& image, const Rect& destination)
{
    drawImage(image, destination, Rect(), CompositingOperation::sourceOver, 1.0);
}

std::shared_ptr<Image> GraphicsContext::makeImage(double scale) const
{
    // A deep copy: the painter keeps writing into m_image, and an Image's pixels never change.
    std::optional<Bitmap> bitmap = Bitmap::fromImage(m_image.copy());
    if (!bitmap)
        return nullptr;
    return Image::create(std::move(*bitmap), scale);
}

QImage GraphicsContext::takePixels()
{
    if (m_painter.isActive())
        m_painter.end();
    return std::exchange(m_image, QImage());
}

std::shared_ptr<GraphicsContext> GraphicsContext::current()
{
    return currentContext;
}

void GraphicsContext::setCurrent(std::shared_ptr<GraphicsContext> context)
{
    currentContext = std::move(context);
}

void GraphicsContext::saveGraphicsState()
{
    if (currentContext)
        currentContext->saveState();
    savedContexts.push_back(currentContext);
}

void GraphicsContext::restoreGraphicsState()
{
    if (savedContexts.empty())
        return;
    std::shared_ptr<GraphicsContext> context = std::move(savedContexts.back());
    savedContexts.pop_back();
    if (context)
        context->restoreState();
    currentContext = std::move(context);
}

int GraphicsContext::graphicsStateDepth()
{
    return int(savedContexts.size());
}

} // namespace platform
