#pragma once

#include "platform/foundation/Result.h"
#include "platform/graphics/ImageSource.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QRgb>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// A GIF parsed once into its frames' palette indices (one byte per pixel), composited onto the
// canvas on demand. Not thread-safe: ImageSource serialises access.
class GifDecoder {
public:
    static Result<std::unique_ptr<GifDecoder>, DecodeError> parse(
        const QByteArray& data, const DecodingLimits& limits);

    int frameCount() const { return int(m_frames.size()); }
    QSize canvasSize() const { return m_canvasSize; }
    std::optional<int> loopCount() const { return m_loopCount; }
    // Hundredths of a second, when the frame has a graphic control block.
    std::optional<int> delayCentiseconds(int index) const;

    // The full canvas as it shows while frame `index` is displayed.
    std::optional<QImage> frame(int index);
    // Frames composited so far, counting each time one is drawn again.
    std::int64_t drawnFrameCount() const { return m_drawnFrames; }
    // Canvases held, one per player at its own point.
    int canvasCount() const { return int(m_canvases.size()); }

private:
    enum class Disposal {
        keep,
        restoreBackground,
        restorePrevious,
    };
    struct Frame {
        QRect rect;
        std::shared_ptr<const std::vector<QRgb>> palette;
        std::vector<std::uint8_t> indices;
        int transparentIndex = -1;
        Disposal disposal = Disposal::keep;
        std::optional<int> delayCentiseconds;
        bool complete = false;
    };

    // The canvas after frame `index` was drawn (its disposal not yet applied), and the canvas as it
    // was before that frame when its disposal restores it.
    struct Canvas {
        QImage image;
        QImage previous;
        int index = -1;
        std::uint64_t lastUse = 0;
    };

    GifDecoder() = default;
    Canvas& canvasFor(int index);
    void resetCanvas(Canvas& canvas);
    void dispose(Canvas& canvas);
    void draw(Canvas& canvas, int index);

    std::vector<Frame> m_frames;
    // Frames from the first up to the first that cannot be shown.
    int m_showableFrames = 0;
    QSize m_canvasSize;
    std::optional<int> m_loopCount;

    // One canvas per animation playing at its own point (several views of one image), so that none
    // has to redraw from the first frame each time another one moves on.
    std::vector<Canvas> m_canvases;
    std::uint64_t m_uses = 0;
    std::int64_t m_drawnFrames = 0;
};

} // namespace platform
