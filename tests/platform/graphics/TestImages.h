#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QRect>

#include <gif_lib.h>

#include <optional>
#include <vector>

namespace testimages {

// A picture whose every pixel differs from its neighbours, so orientation and scaling show.
inline QImage pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1), 128));
    return image;
}

inline QByteArray encoded(const QImage& image, const char* format, int quality = -1,
    QImageIOHandler::Transformations transformation = QImageIOHandler::TransformationNone)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setTransformation(transformation);
    writer.write(image);
    return bytes;
}

// One frame of a hand-made GIF: a rectangle of one palette colour, with its control block.
struct GifFrame {
    QRect rect;
    int colorIndex = 0;
    int disposal = DISPOSAL_UNSPECIFIED;
    int delayCentiseconds = 10;
    int transparentIndex = NO_TRANSPARENT_COLOR;
};

// A small GIF writer of the tests' own: global palette red, green, blue, white.
inline QByteArray writeGif(
    int width, int height, const std::vector<GifFrame>& frames, std::optional<int> loopCount = std::nullopt)
{
    QByteArray bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &bytes,
        [](GifFileType* file, const GifByteType* data, int length) {
            static_cast<QByteArray*>(file->UserData)->append(reinterpret_cast<const char*>(data), length);
            return length;
        },
        &error);
    GifColorType colors[4] = { { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 }, { 255, 255, 255 } };
    ColorMapObject* map = GifMakeMapObject(4, colors);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 2, 0, map);
    if (loopCount) {
        GifByteType loop[3] = { 1, GifByteType(*loopCount & 0xff), GifByteType(*loopCount >> 8) };
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
    }
    for (const GifFrame& frame : frames) {
        GraphicsControlBlock control { frame.disposal, false, frame.delayCentiseconds,
            frame.transparentIndex };
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
        EGifPutImageDesc(
            gif, frame.rect.x(), frame.rect.y(), frame.rect.width(), frame.rect.height(), false, nullptr);
        std::vector<GifPixelType> line(size_t(frame.rect.width()), GifPixelType(frame.colorIndex));
        for (int y = 0; y < frame.rect.height(); ++y)
            EGifPutLine(gif, line.data(), frame.rect.width());
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes;
}

} // namespace testimages
