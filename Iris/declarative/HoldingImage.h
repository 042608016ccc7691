#pragma once

#include "Iris/declarative/AnyView.h"

#include <QColor>
#include <QImage>
#include <QRectF>

#include <memory>
#include <optional>

class QPainter;

namespace platform {
class Image;
}

namespace iris {

template<typename HoldingView> class IRImageContext;

// Cap insets in points: top, leading, bottom, trailing.
struct EdgeInsets {
    double top = 0;
    double leading = 0;
    double bottom = 0;
    double trailing = 0;
    bool operator==(const EdgeInsets&) const = default;
};

// The image a declarative image view finally shows, with how to draw it: made resizable (with cap
// insets and a resizing mode), as a template, with an interpolation quality, antialiased or not.
// A value; each modifier returns a changed copy.
class HoldingImage {
public:
    using RenderingView = HoldingImage;

    using EdgeInsets = iris::EdgeInsets;
    enum class ResizingMode { tile, stretch };
    enum class TemplateRenderingMode { original, template_ };
    enum class Interpolation { none, low, medium, high };

    HoldingImage() = default;
    explicit HoldingImage(std::shared_ptr<platform::Image> image);

    // The view for `image`, or for an empty image when there is none.
    static HoldingImage makeHoldingView(
        std::shared_ptr<platform::Image> image, const std::shared_ptr<IRImageContext<HoldingImage>>& context);

    HoldingImage resizable(
        EdgeInsets capInsets = {}, ResizingMode resizingMode = ResizingMode::stretch) const;
    HoldingImage renderingMode(std::optional<TemplateRenderingMode> mode) const;
    HoldingImage interpolation(Interpolation interpolation) const;
    HoldingImage antialiased(bool on) const;

    const std::shared_ptr<platform::Image>& image() const { return m_image; }
    bool isResizable() const { return m_resizable; }
    EdgeInsets capInsets() const { return m_capInsets; }
    ResizingMode resizingMode() const { return m_resizingMode; }
    std::optional<TemplateRenderingMode> templateRenderingMode() const { return m_renderingMode; }
    Interpolation interpolationQuality() const { return m_interpolation; }
    bool isAntialiased() const { return m_antialiased; }

    // Its size in points: the image's, or (0, 0) without pixels.
    QSizeF size() const;

    // Draws into `frame`: a resizable image fills it (nine-slice by the cap insets, stretching or
    // tiling the parts); any other is drawn at its own size, centred, and may overflow the frame.
    // A template image is drawn as its alpha in `foreground`.
    void paint(QPainter& painter, const QRectF& frame, const QColor& foreground) const;

    // A widget that paints this view, updated to each later value in place.
    AnyView asView() const;

    bool operator==(const HoldingImage& other) const;

private:
    struct ShrunkCopy;
    // The image averaged down to the device pixels it was last drawn at, when that is far fewer.
    QImage shrunkFor(const QImage& image, const QSizeF& devicePixels) const;

    std::shared_ptr<platform::Image> m_image;
    bool m_resizable = false;
    EdgeInsets m_capInsets;
    ResizingMode m_resizingMode = ResizingMode::stretch;
    std::optional<TemplateRenderingMode> m_renderingMode;
    Interpolation m_interpolation = Interpolation::high;
    bool m_antialiased = true;
    mutable std::shared_ptr<ShrunkCopy> m_shrunk;
};

} // namespace iris
