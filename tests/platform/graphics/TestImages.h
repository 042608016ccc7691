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

// One frame of a hand-made animated WebP: a whole canvas shown for `durationMilliseconds`.
struct WebpFrame {
    QImage image;
    int durationMilliseconds = 100;
};

// An animated WebP of opaque frames, each Qt's lossless still encoding of its picture moved into a
// frame chunk. Qt's writer makes only still pictures.
inline QByteArray animatedWebp(const std::vector<WebpFrame>& frames, int loopCount = 0)
{
    const auto appendLittleEndian = [](QByteArray& out, quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char(value >> (8 * i)));
    };
    const auto chunk = [&](const char* tag, const QByteArray& payload) {
        QByteArray bytes(tag, 4);
        appendLittleEndian(bytes, quint32(payload.size()), 4);
        bytes += payload;
        if (payload.size() % 2)
            bytes.append('\0');
        return bytes;
    };
    const QSize canvas = frames.front().image.size();
    QByteArray header;
    header.append(char(0x02)).append(3, '\0'); // animation
    appendLittleEndian(header, quint32(canvas.width() - 1), 3);
    appendLittleEndian(header, quint32(canvas.height() - 1), 3);
    QByteArray animation;
    appendLittleEndian(animation, 0xffffffff, 4); // background
    appendLittleEndian(animation, quint32(loopCount), 2);
    QByteArray body = QByteArray("WEBP") + chunk("VP8X", header) + chunk("ANIM", animation);
    for (const WebpFrame& frame : frames) {
        const QByteArray still = encoded(frame.image, "webp", 100);
        QByteArray payload;
        appendLittleEndian(payload, 0, 3); // x / 2
        appendLittleEndian(payload, 0, 3); // y / 2
        appendLittleEndian(payload, quint32(frame.image.width() - 1), 3);
        appendLittleEndian(payload, quint32(frame.image.height() - 1), 3);
        appendLittleEndian(payload, quint32(frame.durationMilliseconds), 3);
        payload.append(char(0x02)); // replace, no blending
        // The bitstream chunks of the still file, after its 12-byte header.
        for (qsizetype at = 12; at + 8 <= still.size();) {
            const quint32 size = quint8(still[at + 4]) | quint8(still[at + 5]) << 8
                | quint8(still[at + 6]) << 16 | quint32(quint8(still[at + 7])) << 24;
            const qsizetype whole = 8 + qsizetype(size) + qsizetype(size % 2);
            const QByteArray tag = still.mid(at, 4);
            if (tag == "VP8 " || tag == "VP8L" || tag == "ALPH")
                payload += still.mid(at, whole);
            at += whole;
        }
        body += chunk("ANMF", payload);
    }
    QByteArray riff("RIFF");
    appendLittleEndian(riff, quint32(body.size()), 4);
    return riff + body;
}

} // namespace testimages
