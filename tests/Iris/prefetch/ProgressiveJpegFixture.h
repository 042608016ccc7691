#pragma once

// Progressive and baseline JPEG test material, made with libjpeg-turbo's encoder.

#include <QByteArray>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <random>

#include <jpeglib.h>

namespace progressivejpeg {

// A picture with detail at every scale, so that each scan changes it: gradients, stripes and
// (optionally) noise, which makes the file large.
inline QImage picture(int width, int height, bool noisy = false, unsigned seed = 7)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-40, 40);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            int r = x * 255 / std::max(1, width - 1);
            int g = y * 255 / std::max(1, height - 1);
            int b = ((x / 7 + y / 5) % 2) ? 220 : 30;
            if (noisy) {
                r = std::clamp(r + noise(random), 0, 255);
                g = std::clamp(g + noise(random), 0, 255);
                b = std::clamp(b + noise(random), 0, 255);
            }
            line[x] = qRgb(r, g, b);
        }
    }
    return image;
}

// The luma's sampling factors are `horizontal` and `vertical` (2, 2: 4:2:0; 1, 1: 4:4:4); a restart
// marker follows every `restartRows` rows of blocks (0: none).
inline QByteArray encode(const QImage& source, bool progressive, int quality = 90, int horizontal = 2,
    int vertical = 2, int restartRows = 0)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.comp_info[0].h_samp_factor = horizontal;
    info.comp_info[0].v_samp_factor = vertical;
    info.restart_in_rows = restartRows;
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return bytes;
}

// Positions of every FF DA pair.
inline std::vector<qsizetype> sosPositions(const QByteArray& data)
{
    std::vector<qsizetype> positions;
    for (qsizetype i = 0; i + 1 < data.size(); ++i) {
        if (uchar(data[i]) == 0xFF && uchar(data[i + 1]) == 0xDA)
            positions.push_back(i);
    }
    return positions;
}

// The largest difference of any channel between two images of one size; -1 when the sizes differ.
inline int maxChannelDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    const QImage left = a.convertToFormat(QImage::Format_RGB32);
    const QImage right = b.convertToFormat(QImage::Format_RGB32);
    int most = 0;
    for (int y = 0; y < left.height(); ++y) {
        const auto* l = reinterpret_cast<const QRgb*>(left.constScanLine(y));
        const auto* r = reinterpret_cast<const QRgb*>(right.constScanLine(y));
        for (int x = 0; x < left.width(); ++x) {
            most = std::max({ most, std::abs(qRed(l[x]) - qRed(r[x])), std::abs(qGreen(l[x]) - qGreen(r[x])),
                std::abs(qBlue(l[x]) - qBlue(r[x])) });
        }
    }
    return most;
}

} // namespace progressivejpeg
