#include "Comparison.h"

#include "bench/support/BareJpeg.h"
#include "platform/graphics/ImageSource.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int maxPixelSize = 200;

// A 6000 × 4000 (24 MP) photo-like JPEG: smooth gradients, shapes and a little noise, so the encoder
// does real work.
QByteArray photoJpeg()
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 6000, 4000);
    gradient.setColorAt(0, QColor(30, 80, 160));
    gradient.setColorAt(1, QColor(240, 190, 90));
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random(42);
    for (int i = 0; i < 400; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate() | 0xff000000));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(
            QPointF(random.bounded(6000), random.bounded(4000)), random.bounded(300), random.bounded(300));
    }
    painter.end();
    for (int y = 0; y < image.height(); y += 3) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); x += 3)
            line[x] ^= random.generate() & 0x0f0f0f;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    return bytes;
}

QByteArray jpeg;

void checkThumbnail(const QImage& image)
{
    if (image.width() != maxPixelSize)
        std::abort();
}

void ours()
{
    const auto thumbnail = platform::thumbnailFromData(jpeg, maxPixelSize);
    if (!thumbnail)
        std::abort();
    checkThumbnail(thumbnail->image());
}

// Both baselines decode at a reduced size too, as any program that knows libjpeg-turbo would.
bench::Registration againstReader({
    "200 px thumbnail of a 24 MP JPEG (vs QImageReader with setScaledSize, DCT-scaled)",
    [] { jpeg = photoJpeg(); },
    ours,
    [] {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setScaledSize(reader.size().scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio));
        checkThumbnail(reader.read());
    },
    11,
});

bench::Registration againstLibjpeg({
    "200 px thumbnail of a 24 MP JPEG (vs bare libjpeg-turbo at scale 1/8, fast DCT, + QImage::scaled)",
    [] {},
    ours,
    [] {
        const QImage eighth = bench::bareJpegDecode(jpeg, { 8, true });
        checkThumbnail(
            eighth.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    },
    11,
});

} // namespace
