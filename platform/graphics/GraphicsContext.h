#pragma once

#include "platform/graphics/Color.h"
#include "platform/graphics/CompositingOperation.h"
#include "platform/graphics/Geometry.h"

#include <QImage>
#include <QPainter>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class Bitmap;
class Image;

enum class LineCap {
    butt,
    round,
    square,
};

// A drawing surface: a QPainter on a premultiplied QImage, with y-up geometry (the origin is the
// bottom-left corner of the bitmap) in which the size asked for covers the whole bitmap: the unit is
// one pixel for a size of whole pixels, and a little more when the size was cut to whole pixels, so
// that a drawing of 100.5 × 50 fills a bitmap of 100 × 50 without losing its last half pixel.
// Colours, line settings, alpha and the compositing operation are graphics state, saved and
// restored with the painter's clip and transform. A context belongs to one thread at a time;
// different threads draw on different contexts at once.
class GraphicsContext {
public:
    // Bounds on a context's bitmap: no more than 100 million pixels, the decoding bound on a frame,
    // and no side above 2^20 pixels, well inside the lengths Qt's rasteriser places exactly (it
    // loses pixels from about 2^23 on). A strip of one pixel by 100,000 is an ordinary image.
    static constexpr qint64 maxPixelsPerSide = qint64(1) << 20;
    static constexpr qint64 maxPixels = 100'000'000;

    // A transparent bitmap of `size` truncated to whole pixels, 16 bits per component when
    // `bitsPerComponent` is 16 and 8 otherwise. Nothing for a size that is not finite, truncates to
    // less than one pixel, or passes the bounds above, or when the bitmap cannot be allocated.
    static std::shared_ptr<GraphicsContext> create(Size size, int bitsPerComponent = 8);
    // As above with the bits per component of `reference`, or 8 without one.
    static std::shared_ptr<GraphicsContext> create(Size size, const Bitmap* reference);
    // The pixel format of the bitmap such a context draws into.
    static QImage::Format pixelFormat(int bitsPerComponent);
    static QImage::Format pixelFormat(const Bitmap* reference);

    ~GraphicsContext();
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    // The size asked for, before truncation.
    Size size() const { return m_size; }
    int pixelWidth() const { return m_image.width(); }
    int pixelHeight() const { return m_image.height(); }
    int bitsPerComponent() const { return m_bitsPerComponent; }
    // The whole bitmap in the context's units: the size asked for.
    Rect bounds() const { return Rect(0, 0, m_size.width, m_size.height); }

    void saveState();
    // Does nothing when no state is saved.
    void restoreState();
    int savedStateCount() const { return int(m_savedStates.size()); }

    void setFillColor(const Color& color) { m_state.fill = color; }
    Color fillColor() const { return m_state.fill; }
    void setStrokeColor(const Color& color) { m_state.stroke = color; }
    Color strokeColor() const { return m_state.stroke; }
    void setLineWidth(double width) { m_state.lineWidth = width; }
    double lineWidth() const { return m_state.lineWidth; }
    void setLineCap(LineCap cap) { m_state.lineCap = cap; }
    LineCap lineCap() const { return m_state.lineCap; }
    // Multiplies everything drawn afterwards, 0...1.
    void setAlpha(double alpha);
    double alpha() const { return m_state.alpha; }
    void setCompositingOperation(CompositingOperation operation) { m_state.operation = operation; }
    CompositingOperation compositingOperation() const { return m_state.operation; }

    void fillRect(const Rect& rect);
    // By the path's fill rule.
    void fill(const Path& path);
    void stroke(const Path& path);
    // Narrows the clip to the inside of the path (by its fill rule).
    void clip(const Path& path);
    void clipToRect(const Rect& rect);

    // The whole bitmap stretched into `destination`, with the current compositing operation and
    // alpha; its top row lands at the top (maxY) of the rectangle.
    void drawBitmap(const Bitmap& bitmap, const Rect& destination);
    // The part `source` of the image (in the image's points, y-up; an empty rectangle means the
    // whole image) stretched into `destination` with `operation`, at the current alpha times
    // `fraction`. An image without a bitmap draws nothing.
    void drawImage(const Image& image, const Rect& destination, const Rect& source,
        CompositingOperation operation, double fraction);
    // The whole image, source-over, fully opaque.
    void drawImage(const Image& image, const Rect& destination);

    // A copy of the pixels drawn so far, as an image whose point size is its pixel size divided by
    // `scale`. The context stays usable.
    std::shared_ptr<Image> makeImage(double scale = 1.0) const;
    // Ends the drawing and hands over the bitmap itself. Taking it while the painter is still active
    // would copy it (QImage copies an image being painted on); afterwards the context draws nothing.
    QImage takePixels();

    // The bitmap itself, for per-pixel work (y-down, as stored). Writes through `pixels()` are seen
    // by later drawing.
    const QImage& pixels() const { return m_image; }
    QImage& pixels() { return m_image; }
    // The painter, with the y-up transform and the current clip applied, for drawing this class does
    // not offer; the graphics state above is not applied to it.
    QPainter& painter() { return m_painter; }

    // The calling thread's current context, or null.
    static std::shared_ptr<GraphicsContext> current();
    static void setCurrent(std::shared_ptr<GraphicsContext> context);
    // Pushes the current context on the calling thread's stack and saves its state.
    static void saveGraphicsState();
    // Pops the stack, restores that context's state and makes it current again; does nothing when the
    // stack is empty.
    static void restoreGraphicsState();
    static int graphicsStateDepth();

private:
    struct State {
        Color fill = Color::black();
        Color stroke = Color::black();
        double lineWidth = 1;
        LineCap lineCap = LineCap::butt;
        double alpha = 1;
        CompositingOperation operation = CompositingOperation::sourceOver;
    };

    GraphicsContext(Size size, QImage image, int bitsPerComponent);

    // Runs `draw` with the operation and opacity applied, through a blend layer when QPainter has no
    // mode for the operation.
    void composite(
        CompositingOperation operation, double opacity, const std::function<void(QPainter&)>& draw);

    Size m_size;
    QImage m_image;
    int m_bitsPerComponent = 8;
    QPainter m_painter;
    State m_state;
    std::vector<State> m_savedStates;
};

// Saves the calling thread's graphics state on creation and restores it on destruction.
class GraphicsStateScope {
public:
    GraphicsStateScope() { GraphicsContext::saveGraphicsState(); }
    ~GraphicsStateScope() { GraphicsContext::restoreGraphicsState(); }
    GraphicsStateScope(const GraphicsStateScope&) = delete;
    GraphicsStateScope& operator=(const GraphicsStateScope&) = delete;
};

} // namespace platform
