#include "Iris/image/ImageFormat.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <gtest/gtest.h>

using iris::ImageFormat;
using iris::JPEGMarker;

namespace {

QImage sampleImage()
{
    QImage image(64, 48, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), Qt::white);
    painter.setBrush(Qt::red);
    painter.drawEllipse(8, 8, 40, 30);
    return image;
}

QByteArray encoded(const char* format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(sampleImage())) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

// A complete 1 x 1 GIF89a (Qt cannot write GIF).
QByteArray gifData()
{
    static const unsigned char bytes[] = {
        'G',
        'I',
        'F',
        '8',
        '9',
        'a',
        1,
        0,
        1,
        0,
        0x80,
        0,
        0,
        0,
        0,
        0,
        0xFF,
        0xFF,
        0xFF,
        0x2C,
        0,
        0,
        0,
        0,
        1,
        0,
        1,
        0,
        0,
        0x02,
        0x02,
        0x44,
        0x01,
        0x00,
        0x3B,
    };
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

QByteArray webpData()
{
    if (QImageWriter::supportedImageFormats().contains("webp"))
        return encoded("webp");
    return QByteArray("RIFF\x24\x00\x00\x00WEBPVP8 ", 16) + QByteArray(24, '\0');
}

// The start of an ISO base media file whose brand is HEIC.
QByteArray heicData()
{
    return QByteArray("\x00\x00\x00\x18"
                      "ftypheic\x00\x00\x00\x00mif1heic",
               24)
        + QByteArray(32, '\0');
}

} // namespace

TEST(ImageFormat, DetectsRealData)
{
    const std::pair<QByteArray, ImageFormat> cases[] = {
        { encoded("png"), ImageFormat::PNG },
        { encoded("jpeg"), ImageFormat::JPEG },
        { encoded("jpeg", true), ImageFormat::JPEG },
        { gifData(), ImageFormat::GIF },
        { webpData(), ImageFormat::unknown },
        { heicData(), ImageFormat::unknown },
        { QByteArray("not an image at all"), ImageFormat::unknown },
    };
    int index = 0;
    for (const auto& [data, format] : cases) {
        EXPECT_EQ(iris::detectImageFormat(data), format) << index;
        // Nine bytes are enough to tell; eight never are.
        EXPECT_EQ(iris::detectImageFormat(data.left(9)), format) << index;
        EXPECT_EQ(iris::detectImageFormat(data.left(8)), ImageFormat::unknown) << index;
        ++index;
    }
}

TEST(ImageFormat, TruncatedAndShortData)
{
    const QByteArray png = encoded("png");
    for (int size = 0; size <= 8; ++size)
        EXPECT_EQ(iris::detectImageFormat(png.left(size)), ImageFormat::unknown) << size;
    EXPECT_EQ(iris::detectImageFormat(QByteArray("\xFF\xD8\xFF", 3) + QByteArray(6, 'x')), ImageFormat::JPEG);
    EXPECT_EQ(
        iris::detectImageFormat(QByteArray("\xFF\xD8\x00", 3) + QByteArray(6, 'x')), ImageFormat::unknown);
    EXPECT_EQ(iris::detectImageFormat(QByteArray("GIF87a...")), ImageFormat::GIF);
    EXPECT_EQ(iris::detectImageFormat(QByteArray("GIFxyz...")), ImageFormat::GIF);
    EXPECT_EQ(iris::detectImageFormat(QByteArray()), ImageFormat::unknown);
}

TEST(ImageFormat, ProgressiveJPEGHasTheStartOfAProgressiveFrame)
{
    const QByteArray baseline = encoded("jpeg");
    const QByteArray progressive = encoded("jpeg", true);
    EXPECT_TRUE(iris::containsJPEGMarker(baseline, JPEGMarker::SOF0()));
    EXPECT_FALSE(iris::containsJPEGMarker(baseline, JPEGMarker::SOF2()));
    EXPECT_TRUE(iris::containsJPEGMarker(progressive, JPEGMarker::SOF2()));
    EXPECT_TRUE(iris::containsJPEGMarker(progressive, JPEGMarker::EOI()));
    // A stream cut before its frame header does not hold the marker yet.
    EXPECT_FALSE(iris::containsJPEGMarker(progressive.left(20), JPEGMarker::SOF2()));
}

TEST(ImageFormat, MarkerSearch)
{
    const QByteArray jpegHead("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
    EXPECT_TRUE(iris::containsJPEGMarker(jpegHead + QByteArray("\xFF\xC2", 2), JPEGMarker::SOF2()));
    EXPECT_FALSE(iris::containsJPEGMarker(jpegHead + QByteArray("\xFF\xC0", 2), JPEGMarker::SOF2()));
    EXPECT_FALSE(iris::containsJPEGMarker(jpegHead + QByteArray("\xFF", 1), JPEGMarker::SOF2()));
    // The search ignores what is not JPEG, whatever it holds.
    EXPECT_FALSE(iris::containsJPEGMarker(encoded("png") + QByteArray("\xFF\xC2", 2), JPEGMarker::SOF2()));
    EXPECT_FALSE(iris::containsJPEGMarker(gifData() + QByteArray("\xFF\xC2", 2), JPEGMarker::SOF2()));

    EXPECT_EQ(JPEGMarker::RSTn(3).bytes(), (std::array<std::uint8_t, 2> { 0xFF, 0xD3 }));
    EXPECT_EQ(JPEGMarker::APPn().bytes(), (std::array<std::uint8_t, 2> { 0xFF, 0xE0 }));
    EXPECT_EQ(JPEGMarker::SOS().bytes(), (std::array<std::uint8_t, 2> { 0xFF, 0xDA }));
    EXPECT_TRUE(iris::containsJPEGMarker(jpegHead, JPEGMarker::APPn()));
}
