#include "platform/graphics/ImageEncoding.h"

#include <QBuffer>
#include <QImageWriter>

#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>

namespace platform {

namespace {

std::optional<QByteArray> encodeWithQt(const QImage& image, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    QImageWriter writer(&buffer, format);
    if (quality >= 0)
        writer.setQuality(quality);
    if (!writer.write(image))
        return std::nullopt;
    return bytes;
}

int writeToBytes(GifFileType* gif, const GifByteType* data, int length)
{
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

struct EncoderCloser {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};

struct MapFreer {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

constexpr int transparentIndex = 255;
constexpr bool isTransparent(QRgb pixel)
{
    return qAlpha(pixel) < 128;
}

// The uniform palette: 6 levels of red, 7 of green, 6 of blue.
int uniformIndex(QRgb pixel)
{
    const int r = (qRed(pixel) * 5 + 127) / 255;
    const int g = (qGreen(pixel) * 6 + 127) / 255;
    const int b = (qBlue(pixel) * 5 + 127) / 255;
    return (r * 7 + g) * 6 + b;
}

struct IndexedFrame {
    std::vector<GifColorType> palette; // 256 entries
    std::vector<GifPixelType> indices;
    bool hasTransparency = false;
};

IndexedFrame indexFrame(const QImage& image)
{
    IndexedFrame frame;
    frame.palette.assign(256, GifColorType { 0, 0, 0 });
    frame.indices.resize(size_t(image.width()) * size_t(image.height()));
    std::unordered_map<QRgb, int> exact;
    bool fitsExactly = true;
    for (int y = 0; y < image.height() && fitsExactly; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (isTransparent(line[x]))
                continue;
            const QRgb color = line[x] | 0xff000000;
            if (!exact.contains(color)) {
                if (exact.size() == transparentIndex) {
                    fitsExactly = false;
                    break;
                }
                const int index = int(exact.size());
                exact.emplace(color, index);
                frame.palette[size_t(index)] = GifColorType { GifByteType(qRed(color)),
                    GifByteType(qGreen(color)), GifByteType(qBlue(color)) };
            }
        }
    }
    if (!fitsExactly) {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 7; ++g)
                for (int b = 0; b < 6; ++b)
                    frame.palette[size_t((r * 7 + g) * 6 + b)]
                        = GifColorType { GifByteType(r * 51), GifByteType(g * 255 / 6), GifByteType(b * 51) };
    }
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        GifPixelType* out = frame.indices.data() + size_t(y) * size_t(image.width());
        for (int x = 0; x < image.width(); ++x) {
            if (isTransparent(line[x])) {
                out[x] = transparentIndex;
                frame.hasTransparency = true;
            } else {
                out[x] = GifPixelType(fitsExactly ? exact.at(line[x] | 0xff000000) : uniformIndex(line[x]));
            }
        }
    }
    return frame;
}

} // namespace

std::optional<QByteArray> encodePng(const Bitmap& bitmap)
{
    return encodeWithQt(bitmap.image(), "png", -1);
}

std::optional<QByteArray> encodeJpeg(const Bitmap& bitmap, double quality)
{
    const double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 1.0;
    // Qt's writer drops the alpha of premultiplied 8-bit pixels as stored, which lays them over
    // black; of every other format it keeps the straight colour, hidden or not. Every picture with
    // alpha goes the first way.
    if (bitmap.hasAlpha() && bitmap.image().format() != QImage::Format_ARGB32_Premultiplied) {
        const QImage flattened
            = safelyScalable(bitmap.image()).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (flattened.isNull())
            return std::nullopt;
        return encodeWithQt(flattened, "jpeg", int(std::lround(q * 100)));
    }
    return encodeWithQt(bitmap.image(), "jpeg", int(std::lround(q * 100)));
}

std::optional<QByteArray> encodeGif(const std::vector<ImageFrame>& frames, int loopCount)
{
    if (frames.empty())
        return std::nullopt;
    int width = 0, height = 0;
    for (const ImageFrame& frame : frames) {
        width = std::max(width, frame.bitmap.width());
        height = std::max(height, frame.bitmap.height());
    }
    if (width > 65535 || height > 65535)
        return std::nullopt;

    QByteArray bytes;
    int error = 0;
    std::unique_ptr<GifFileType, EncoderCloser> gif(EGifOpen(&bytes, writeToBytes, &error));
    if (!gif)
        return std::nullopt;
    EGifSetGifVersion(gif.get(), true);
    if (EGifPutScreenDesc(gif.get(), width, height, 8, 0, nullptr) == GIF_ERROR)
        return std::nullopt;
    if (frames.size() > 1) {
        const unsigned count = unsigned(std::clamp(loopCount, 0, 65535));
        GifByteType loop[3] = { 1, GifByteType(count & 0xff), GifByteType(count >> 8) };
        if (EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE) == GIF_ERROR
            || EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0") == GIF_ERROR
            || EGifPutExtensionBlock(gif.get(), 3, loop) == GIF_ERROR
            || EGifPutExtensionTrailer(gif.get()) == GIF_ERROR)
            return std::nullopt;
    }

    for (const ImageFrame& frame : frames) {
        // Every frame covers the canvas; smaller ones are placed at the top-left over transparency.
        QImage canvas(width, height, QImage::Format_ARGB32);
        canvas.fill(Qt::transparent);
        const QImage source = frame.bitmap.image().convertToFormat(QImage::Format_ARGB32);
        // A frame memory could not be found for would be written blank: no file rather than a
        // wrong one.
        if (canvas.isNull() || source.isNull())
            return std::nullopt;
        for (int y = 0; y < source.height(); ++y)
            std::copy_n(reinterpret_cast<const QRgb*>(source.constScanLine(y)), source.width(),
                reinterpret_cast<QRgb*>(canvas.scanLine(y)));
        IndexedFrame indexed = indexFrame(canvas);

        GraphicsControlBlock control {};
        // Each frame is a whole picture: its transparent pixels must not show the previous frame.
        control.DisposalMode = DISPOSE_BACKGROUND;
        const double delay = std::isfinite(frame.duration) ? frame.duration : 0.0;
        control.DelayTime = int(std::clamp(std::lround(delay * 100), 0L, 65535L));
        control.TransparentColor = indexed.hasTransparency ? transparentIndex : NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_ERROR)
            return std::nullopt;

        std::unique_ptr<ColorMapObject, MapFreer> map(GifMakeMapObject(256, indexed.palette.data()));
        if (!map || EGifPutImageDesc(gif.get(), 0, 0, width, height, false, map.get()) == GIF_ERROR)
            return std::nullopt;
        for (int y = 0; y < height; ++y)
            if (EGifPutLine(gif.get(), indexed.indices.data() + size_t(y) * size_t(width), width)
                == GIF_ERROR)
                return std::nullopt;
    }
    GifFileType* finished = gif.release();
    if (EGifCloseFile(finished, &error) == GIF_ERROR)
        return std::nullopt;
    return bytes;
}

} // namespace platform
