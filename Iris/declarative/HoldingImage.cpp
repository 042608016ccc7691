#include "Iris/declarative/HoldingImage.h"

#include "platform/graphics/Image.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <qdrawutil.h>

#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

namespace iris {

namespace {

// Paints one holding image over its whole rectangle. The pixmap is converted once per image, not
// per paint: a grid repaints its covers far more often than they change.
class HoldingImageWidget final : public QWidget {
public:
    explicit HoldingImageWidget(HoldingImage view, QWidget* parent)
        : QWidget(parent)
        , m_view(std::move(view))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }

    void setView(HoldingImage view)
    {
        if (view == m_view)
            return;
        const bool sizeChanged = view.size() != m_view.size();
        m_view = std::move(view);
        if (sizeChanged)
            updateGeometry();
        update();
    }

    QSize sizeHint() const override { return m_view.size().toSize(); }
    // A resizable image may shrink to nothing; a fixed one asks for its size.
    QSize minimumSizeHint() const override { return m_view.isResizable() ? QSize(0, 0) : sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_view.paint(painter, QRectF(rect()), palette().color(QPalette::WindowText));
    }

private:
    HoldingImage m_view;
};

} // namespace

struct HoldingImage::ShrunkCopy {
    qint64 sourceKey = 0;
    QSize size;
    std::shared_ptr<const QImage> image;
};

namespace {

// One copy for every view that draws one image at one size: a grid shows a cover many times.
std::shared_ptr<const QImage> sharedShrunkCopy(const QImage& image, QSize size)
{
    static std::mutex mutex;
    static std::map<std::tuple<qint64, int, int>, std::weak_ptr<const QImage>> copies;
    static std::size_t nextSweep = 64;
    std::lock_guard lock(mutex);
    std::weak_ptr<const QImage>& slot = copies[{ image.cacheKey(), size.width(), size.height() }];
    if (auto copy = slot.lock())
        return copy;
    auto copy
        = std::make_shared<const QImage>(image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    slot = copy;
    if (copies.size() >= nextSweep) {
        std::erase_if(copies, [](const auto& entry) { return entry.second.expired(); });
        nextSweep = std::max<std::size_t>(64, 2 * copies.size());
    }
    return copy;
}

// A length rounded up to an eighth of the power of two below it, so that a resize makes a new copy
// only every eighth or so.
int roundedUp(double length)
{
    const double step = std::exp2(std::max(0.0, std::floor(std::log2(length)) - 3));
    return int(std::ceil(length / step) * step);
}

} // namespace

QImage HoldingImage::shrunkFor(const QImage& image, const QSizeF& devicePixels) const
{
    // Within a factor of two the painter's own filtering is sharp; beyond it, it samples a few
    // pixels of many and fine detail turns to noise. So the image is averaged down to about the
    // size it is drawn at.
    const double factor
        = std::min(image.width() / devicePixels.width(), image.height() / devicePixels.height());
    if (!std::isfinite(factor) || factor < 2)
        return image;
    const QSize size(std::min(image.width(), roundedUp(devicePixels.width())),
        std::min(image.height(), roundedUp(devicePixels.height())));
    if (!m_shrunk)
        m_shrunk = std::make_shared<ShrunkCopy>();
    if (!m_shrunk->image || m_shrunk->sourceKey != image.cacheKey() || m_shrunk->size != size) {
        m_shrunk->image = sharedShrunkCopy(image, size);
        m_shrunk->sourceKey = image.cacheKey();
        m_shrunk->size = size;
    }
    return *m_shrunk->image;
}

HoldingImage::HoldingImage(std::shared_ptr<platform::Image> image)
    : m_image(std::move(image))
{
}

HoldingImage HoldingImage::makeHoldingView(
    std::shared_ptr<platform::Image> image, const std::shared_ptr<IRImageContext<HoldingImage>>&)
{
    if (!image)
        image = platform::Image::createEmpty({});
    return HoldingImage(std::move(image));
}

HoldingImage HoldingImage::resizable(EdgeInsets capInsets, ResizingMode resizingMode) const
{
    HoldingImage copy = *this;
    copy.m_resizable = true;
    copy.m_capInsets = capInsets;
    copy.m_resizingMode = resizingMode;
    return copy;
}

HoldingImage HoldingImage::renderingMode(std::optional<TemplateRenderingMode> mode) const
{
    HoldingImage copy = *this;
    copy.m_renderingMode = mode;
    return copy;
}

HoldingImage HoldingImage::interpolation(Interpolation interpolation) const
{
    HoldingImage copy = *this;
    copy.m_interpolation = interpolation;
    return copy;
}

HoldingImage HoldingImage::antialiased(bool on) const
{
    HoldingImage copy = *this;
    copy.m_antialiased = on;
    return copy;
}

QSizeF HoldingImage::size() const
{
    if (!m_image)
        return {};
    return { m_image->size().width, m_image->size().height };
}

bool HoldingImage::operator==(const HoldingImage& other) const
{
    return m_image == other.m_image && m_resizable == other.m_resizable && m_capInsets == other.m_capInsets
        && m_resizingMode == other.m_resizingMode && m_renderingMode == other.m_renderingMode
        && m_interpolation == other.m_interpolation && m_antialiased == other.m_antialiased;
}

void HoldingImage::paint(QPainter& painter, const QRectF& frame, const QColor& foreground) const
{
    if (!m_image || !m_image->bitmap() || frame.isEmpty())
        return;
    // Drawn straight from the decoded image: a pixmap copy would double what every cover costs.
    QImage image = m_image->bitmap()->image();
    if (image.isNull())
        return;
    const bool smooth = m_interpolation == Interpolation::medium || m_interpolation == Interpolation::high;
    if (smooth
        && (!m_resizable || (m_capInsets == EdgeInsets {} && m_resizingMode == ResizingMode::stretch))) {
        const QTransform world = painter.worldTransform();
        const double ratio = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
        const QSizeF drawn = m_resizable ? frame.size() : size();
        image = shrunkFor(image,
            QSizeF(drawn.width() * std::hypot(world.m11(), world.m12()) * ratio,
                drawn.height() * std::hypot(world.m21(), world.m22()) * ratio));
    }
    if (m_renderingMode == TemplateRenderingMode::template_) {
        QImage tinted(image.size(), QImage::Format_ARGB32_Premultiplied);
        tinted.fill(Qt::transparent);
        QPainter tint(&tinted);
        tint.drawImage(0, 0, image);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(tinted.rect(), foreground);
        tint.end();
        image = tinted;
    }

    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.setRenderHint(QPainter::Antialiasing, m_antialiased);

    const QRectF source(image.rect());
    if (!m_resizable) {
        QRectF target(QPointF(), size());
        target.moveCenter(frame.center());
        painter.drawImage(target, image, source);
    } else if (m_capInsets == EdgeInsets {} && m_resizingMode == ResizingMode::stretch) {
        painter.drawImage(frame, image, source);
    } else {
        const double scale = m_image->scale() > 0 ? m_image->scale() : 1.0;
        auto toInt = [](double value) { return static_cast<int>(std::lround(std::max(0.0, value))); };
        const QMargins targetMargins(toInt(m_capInsets.leading), toInt(m_capInsets.top),
            toInt(m_capInsets.trailing), toInt(m_capInsets.bottom));
        const QMargins sourceMargins(toInt(m_capInsets.leading * scale), toInt(m_capInsets.top * scale),
            toInt(m_capInsets.trailing * scale), toInt(m_capInsets.bottom * scale));
        const Qt::TileRule rule = m_resizingMode == ResizingMode::tile ? Qt::RepeatTile : Qt::StretchTile;
        const QPixmap pixmap = QPixmap::fromImage(image);
        qDrawBorderPixmap(&painter, frame.toAlignedRect(), targetMargins, pixmap, pixmap.rect(),
            sourceMargins, QTileRules(rule, rule));
    }
    painter.restore();
}

AnyView HoldingImage::asView() const
{
    HoldingImage view = *this;
    return AnyView {
        [view](QWidget* parent) -> QWidget* { return new HoldingImageWidget(view, parent); },
        [view](QWidget* widget) {
            if (auto* painter = dynamic_cast<HoldingImageWidget*>(widget))
                painter->setView(view);
        },
    };
}

} // namespace iris
