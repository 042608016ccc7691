#pragma once

#include "platform/graphics/TestImages.h"

#include <QByteArray>
#include <QImage>

namespace iristest {

// A PNG that stops after its header chunk, declaring `width` × `height`.
inline QByteArray pngDeclaring(quint32 width, quint32 height)
{
    QByteArray chunk("IHDR");
    for (quint32 value : { width, height })
        chunk.append(char(value >> 24))
            .append(char(value >> 16))
            .append(char(value >> 8))
            .append(char(value));
    chunk.append("\x08\x06\x00\x00\x00", 5);
    quint32 crc = 0xffffffff;
    for (unsigned char byte : chunk) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    crc = ~crc;
    QByteArray png("\x89PNG\r\n\x1a\n\x00\x00\x00\x0d", 12);
    png.append(chunk);
    png.append(char(crc >> 24)).append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
    return png;
}

// A baseline JPEG's markers up to its scan, declaring `width` × `height`.
inline QByteArray jpegDeclaring(quint16 width, quint16 height)
{
    QByteArray jpeg("\xff\xd8\xff\xc0\x00\x11\x08", 7);
    jpeg.append(char(height >> 8)).append(char(height)).append(char(width >> 8)).append(char(width));
    jpeg.append("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
    jpeg.append("\xff\xda\x00\x0c\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00", 14);
    jpeg.append(QByteArray(64, '\0'));
    return jpeg;
}

// A GIF whose screen and only frame declare `width` × `height`, with a few bytes of pixels.
inline QByteArray gifDeclaring(quint16 width, quint16 height)
{
    QByteArray gif("GIF89a");
    gif.append(char(width)).append(char(width >> 8)).append(char(height)).append(char(height >> 8));
    gif.append("\x00\x00\x00", 3);
    gif.append("\x2c\x00\x00\x00\x00", 5).append(char(width)).append(char(width >> 8));
    gif.append(char(height)).append(char(height >> 8));
    gif.append("\x80\x00\x00\x00\xff\xff\xff\x02\x02\x44\x01\x00\x3b", 13);
    return gif;
}

// Two 8 × 8 frames, red then green, shown for `firstDelay` and `secondDelay` hundredths of a
// second.
inline QByteArray twoFrameGif(int firstDelay = 5, int secondDelay = 20)
{
    testimages::GifFrame first { QRect(0, 0, 8, 8), 0 };
    first.delayCentiseconds = firstDelay;
    testimages::GifFrame second { QRect(0, 0, 8, 8), 1 };
    second.delayCentiseconds = secondDelay;
    return testimages::writeGif(8, 8, { first, second });
}

// A screen recording: 200 frames on a 1920 × 1080 canvas, beyond the decoding bound on all frames
// together. Its first frame, which covers the canvas, is blue.
inline QByteArray longRecordingGif()
{
    std::vector<testimages::GifFrame> frames(200, { QRect(0, 0, 1, 1), 1 });
    frames.front() = { QRect(0, 0, 1920, 1080), 2 };
    return testimages::writeGif(1920, 1080, frames);
}

} // namespace iristest
