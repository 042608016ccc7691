#include "platform/graphics/GifDecoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

struct MemoryReader {
    const char* data = nullptr;
    qsizetype size = 0;
    qsizetype position = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const qsizetype count = std::clamp<qsizetype>(reader->size - reader->position, 0, length);
    std::memcpy(buffer, reader->data + reader->position, size_t(count));
    reader->position += count;
    return int(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// Row order of an interlaced frame: every 8th row from 0, every 8th from 4, every 4th from 2, every
// 2nd from 1.
std::vector<int> interlacedRowOrder(int height)
{
    std::vector<int> rows;
    rows.reserve(size_t(height));
    constexpr int starts[] = { 0, 4, 2, 1 };
    constexpr int steps[] = { 8, 8, 4, 2 };
    for (int pass = 0; pass < 4; ++pass)
        for (int row = starts[pass]; row < height; row += steps[pass])
            rows.push_back(row);
    return rows;
}

std::shared_ptr<const std::vector<QRgb>> paletteOf(const ColorMapObject* map)
{
    auto palette = std::make_shared<std::vector<QRgb>>();
    if (!map || !map->Colors)
        return palette;
    palette->reserve(size_t(map->ColorCount));
    for (int i = 0; i < map->ColorCount; ++i)
        palette->push_back(qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
    return palette;
}

// What a frame costs beside its pixels: its record here and the image a player makes of it. A file
// of many thousands of tiny frames is bounded by this, not by its few pixels.
constexpr qint64 frameOverheadBytes = 1024;

} // namespace

Result<std::unique_ptr<GifDecoder>, DecodeError> GifDecoder::parse(
    const QByteArray& data, const DecodingLimits& limits)
{
    using ParseResult = Result<std::unique_ptr<GifDecoder>, DecodeError>;
    MemoryReader reader { data.constData(), data.size(), 0 };
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&reader, readFromMemory, &error));
    if (!gif)
        return ParseResult::failure(DecodeError::corrupt);

    std::unique_ptr<GifDecoder> decoder(new GifDecoder);
    QSize canvas(gif->SWidth, gif->SHeight);
    if (qint64(canvas.width()) * canvas.height() > limits.maxPixelsPerFrame)
        return ParseResult::failure(DecodeError::tooLarge);
    // Shared by every frame without a palette of its own.
    const std::shared_ptr<const std::vector<QRgb>> globalPalette = paletteOf(gif->SColorMap);

    qint64 decodedBytes = 0;
    GraphicsControlBlock pendingControl {};
    bool hasPendingControl = false;
    bool expectLoopCount = false;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        // Many files in the wild end without their trailer; what was read stands.
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            break;
        if (type == TERMINATE_RECORD_TYPE)
            break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                break;
            bool first = true;
            expectLoopCount = false;
            while (block) {
                const int length = block[0];
                if (code == GRAPHICS_EXT_FUNC_CODE && first) {
                    if (DGifExtensionToGCB(size_t(length), block + 1, &pendingControl) == GIF_OK)
                        hasPendingControl = true;
                } else if (code == APPLICATION_EXT_FUNC_CODE && first) {
                    expectLoopCount = length == 11
                        && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0
                            || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
                } else if (code == APPLICATION_EXT_FUNC_CODE && expectLoopCount && length >= 3
                    && block[1] == 1) {
                    decoder->m_loopCount = block[2] | (block[3] << 8);
                    expectLoopCount = false;
                }
                first = false;
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    block = nullptr;
                    break;
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;

        if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
            break;
        const GifImageDesc& desc = gif->Image;
        Frame frame;
        frame.rect = QRect(desc.Left, desc.Top, desc.Width, desc.Height);
        if (canvas.isEmpty() && decoder->m_frames.empty())
            canvas = QSize(desc.Left + desc.Width, desc.Top + desc.Height);
        const qint64 framePixels = qint64(desc.Width) * desc.Height;
        const qint64 canvasBytes = qint64(canvas.width()) * canvas.height() * 4;
        if (framePixels > limits.maxPixelsPerFrame
            || qint64(canvas.width()) * canvas.height() > limits.maxPixelsPerFrame)
            return ParseResult::failure(DecodeError::tooLarge);
        frame.palette = desc.ColorMap ? paletteOf(desc.ColorMap) : globalPalette;
        const qint64 ownPaletteBytes = desc.ColorMap ? qint64(frame.palette->size() * sizeof(QRgb)) : 0;
        decodedBytes += canvasBytes + framePixels + ownPaletteBytes + frameOverheadBytes;
        if (decodedBytes > limits.maxTotalBytes)
            return ParseResult::failure(DecodeError::tooLarge);
        if (hasPendingControl) {
            frame.transparentIndex = pendingControl.TransparentColor;
            frame.delayCentiseconds = pendingControl.DelayTime;
            frame.disposal = pendingControl.DisposalMode == DISPOSE_BACKGROUND ? Disposal::restoreBackground
                : pendingControl.DisposalMode == DISPOSE_PREVIOUS              ? Disposal::restorePrevious
                                                                               : Disposal::keep;
        }
        hasPendingControl = false;

        frame.indices.assign(size_t(framePixels), 0);
        bool readOk = true;
        if (framePixels > 0) {
            std::vector<int> rows;
            if (desc.Interlace)
                rows = interlacedRowOrder(desc.Height);
            for (int i = 0; i < desc.Height; ++i) {
                const int row = desc.Interlace ? rows[size_t(i)] : i;
                if (DGifGetLine(gif.get(), frame.indices.data() + qint64(row) * desc.Width, desc.Width)
                    == GIF_ERROR) {
                    readOk = false;
                    break;
                }
            }
        }
        // A frame without any palette has no colours to show.
        frame.complete = readOk && !frame.palette->empty();
        decoder->m_frames.push_back(std::move(frame));
        // After a failed read the decoder's position in the stream is lost.
        if (!readOk || limits.firstFrameOnly)
            break;
    }

    if (decoder->m_frames.empty() || canvas.isEmpty())
        return ParseResult::failure(DecodeError::corrupt);
    decoder->m_canvasSize = canvas;
    while (decoder->m_showableFrames < decoder->frameCount()
        && decoder->m_frames[size_t(decoder->m_showableFrames)].complete)
        ++decoder->m_showableFrames;
    return ParseResult::success(std::move(decoder));
}

std::optional<int> GifDecoder::delayCentiseconds(int index) const
{
    if (index < 0 || index >= frameCount())
        return std::nullopt;
    return m_frames[size_t(index)].delayCentiseconds;
}

namespace {

// Canvases kept per animation: each costs the canvas's pixels, at most twice. A large animation
// keeps fewer, down to one: its players then take turns on it, as they did when there was one.
constexpr std::size_t maximumCanvases = 4;
constexpr qint64 canvasBudgetBytes = 64 * 1024 * 1024;
// A canvas no request has used for this many requests belongs to no player any more (a loop that
// started over, a view that went): its memory goes.
constexpr std::uint64_t idleUses = 32;

} // namespace

GifDecoder::Canvas& GifDecoder::canvasFor(int index)
{
    std::erase_if(m_canvases, [this](const Canvas& canvas) { return m_uses - canvas.lastUse > idleUses; });
    // The nearest canvas at or before the frame: drawing on from it costs least.
    Canvas* best = nullptr;
    for (Canvas& canvas : m_canvases) {
        if (canvas.index <= index && !canvas.image.isNull() && (!best || canvas.index > best->index))
            best = &canvas;
    }
    if (!best) {
        const qint64 canvasBytes
            = std::max<qint64>(1, qint64(m_canvasSize.width()) * m_canvasSize.height() * 4);
        const std::size_t allowed
            = std::clamp<std::size_t>(std::size_t(canvasBudgetBytes / canvasBytes), 1, maximumCanvases);
        if (m_canvases.size() < allowed) {
            best = &m_canvases.emplace_back();
        } else {
            best = &*std::min_element(m_canvases.begin(), m_canvases.end(),
                [](const Canvas& a, const Canvas& b) { return a.lastUse < b.lastUse; });
        }
        resetCanvas(*best);
    }
    best->lastUse = ++m_uses;
    return *best;
}

void GifDecoder::resetCanvas(Canvas& canvas)
{
    canvas.image = QImage(m_canvasSize, QImage::Format_ARGB32_Premultiplied);
    if (!canvas.image.isNull())
        canvas.image.fill(Qt::transparent);
    canvas.previous = QImage();
    canvas.index = -1;
}

void GifDecoder::dispose(Canvas& canvas)
{
    const Frame& frame = m_frames[size_t(canvas.index)];
    switch (frame.disposal) {
    case Disposal::keep:
        break;
    case Disposal::restoreBackground: {
        // The background shows through as transparency, as browsers render it.
        const QRect area = frame.rect.intersected(canvas.image.rect());
        for (int y = area.top(); y <= area.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(canvas.image.scanLine(y));
            std::fill(line + area.left(), line + area.left() + area.width(), QRgb(0));
        }
        break;
    }
    case Disposal::restorePrevious:
        if (!canvas.previous.isNull())
            canvas.image = canvas.previous;
        break;
    }
}

void GifDecoder::draw(Canvas& canvas, int index)
{
    ++m_drawnFrames;
    canvas.index = index;
    const Frame& frame = m_frames[size_t(index)];
    canvas.previous = frame.disposal == Disposal::restorePrevious ? canvas.image.copy() : QImage();
    const QRect area = frame.rect.intersected(canvas.image.rect());
    if (area.isEmpty() || frame.indices.empty())
        return;
    const std::vector<QRgb>& palette = *frame.palette;
    const int paletteSize = int(palette.size());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.image.scanLine(y));
        const std::uint8_t* row = frame.indices.data() + qint64(y - frame.rect.top()) * frame.rect.width();
        for (int x = area.left(); x <= area.right(); ++x) {
            const int colorIndex = row[x - frame.rect.left()];
            // Indices beyond the palette are left transparent, like the transparent index.
            if (colorIndex != frame.transparentIndex && colorIndex < paletteSize)
                line[x] = palette[size_t(colorIndex)];
        }
    }
}

std::optional<QImage> GifDecoder::frame(int index)
{
    if (index < 0 || index >= m_showableFrames)
        return std::nullopt;
    Canvas& canvas = canvasFor(index);
    if (canvas.image.isNull())
        return std::nullopt;
    while (canvas.index < index) {
        if (canvas.index >= 0)
            dispose(canvas);
        draw(canvas, canvas.index + 1);
    }
    // Shared with the canvas: drawing the next frame on it copies it then, so a picture of one
    // frame alone (a thumbnail of a huge screen) costs one canvas, not two.
    return canvas.image;
}

} // namespace platform
