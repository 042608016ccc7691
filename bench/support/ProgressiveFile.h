#pragma once

// Progressive JPEGs of a given size for the download benchmarks: noise, so that the encoder cannot
// shrink them and every scan carries real data.

#include "tests/Iris/prefetch/ProgressiveJpegFixture.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <cmath>
#include <random>

namespace bench {

inline QImage noisyPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(11);
    std::uniform_int_distribution<int> noise(0, 255);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb((x + noise(random)) / 2, (y + noise(random)) / 2 & 255, noise(random));
    }
    return image;
}

// A progressive JPEG of about `megabytes` at quality 95; `size` is set to its pixel size.
inline QByteArray progressiveFileOfAbout(double megabytes, QSize& size)
{
    int width = 3600, height = 2700;
    QByteArray file = progressivejpeg::encode(noisyPicture(width, height), true, 95);
    const double scale = std::sqrt(megabytes * 1024 * 1024 / double(file.size()));
    width = int(width * scale) / 16 * 16;
    height = int(height * scale) / 16 * 16;
    size = QSize(width, height);
    return progressivejpeg::encode(noisyPicture(width, height), true, 95);
}

} // namespace bench
