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

private:
    enum class Disposal {
        keep,
        restoreBackground,
        restorePrevious,
    };
    struct Frame {
        QRect rect;
        std::vector<QRgb> palette;
        std::vector<std::uint8_t> indices;
        int transparentIndex = -1;
        Disposal disposal = Disposal::keep;
        std::optional<int> delayCentiseconds;
        bool complete = false;
    };

    GifDecoder() = default;
    void resetCanvas();
    void dispose(int index);
    void draw(int index);

    std::vector<Frame> m_frames;
    QSize m_canvasSize;
    std::optional<int> m_loopCount;

    // The canvas after frame m_canvasIndex was drawn (its disposal not yet applied), and the canvas
    // as it was before that frame when its disposal restores it.
    QImage m_canvas;
    QImage m_previous;
    int m_canvasIndex = -1;
};

} // namespace platform
