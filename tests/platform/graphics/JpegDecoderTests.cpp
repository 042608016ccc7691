#include "platform/graphics/ImageSource.h"
#include "platform/graphics/TestImages.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

QByteArray app1Segment(const QByteArray& payload)
{
    QByteArray segment("\xff\xe1", 2);
    const int length = 2 + int(payload.size());
    segment.append(char(length >> 8)).append(char(length));
    return segment + payload;
}

// An XMP packet, as photo editors write it.
QByteArray xmpSegment()
{
    return app1Segment(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29)
        + "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>");
}

// EXIF data whose only tag is the orientation.
QByteArray exifSegment(int orientation)
{
    QByteArray tiff("MM\0*\0\0\0\x08", 8);
    tiff.append("\0\x01", 2); // one entry
    tiff.append("\x01\x12\0\x03\0\0\0\x01\0", 9).append(char(orientation)).append("\0\0", 2);
    tiff.append("\0\0\0\0", 4); // no next directory
    return app1Segment(QByteArray("Exif\0\0", 6) + tiff);
}

} // namespace

TEST(JpegDecoder, FindsTheExifOrientationAfterAnXmpBlock)
{
    // Stored 400 × 200, marked as turned a quarter clockwise (orientation 6) in EXIF data alone or
    // after an XMP block.
    const QByteArray plain = testimages::encoded(testimages::pattern(400, 200), "jpeg", 90);
    const std::pair<const char*, QByteArray> cases[] = {
        { "EXIF", plain.left(2) + exifSegment(6) + plain.mid(2) },
        { "XMP then EXIF", plain.left(2) + xmpSegment() + exifSegment(6) + plain.mid(2) },
    };
    for (const auto& [name, jpeg] : cases) {
        SCOPED_TRACE(name);
        auto created = ImageSource::create(jpeg);
        ASSERT_TRUE(created);
        const auto& source = created.value();
        EXPECT_EQ(source->pixelSize(), QSize(200, 400));
        const auto whole = source->frame(0);
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->image().size(), QSize(200, 400));
        const auto thumbnail = source->thumbnail(100);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->image().size(), QSize(50, 100));
        // The stored top-right corner (red, no green) is shown at the bottom-right.
        const QRgb shown = thumbnail->image().pixel(49, 99);
        EXPECT_GT(qRed(shown), 220);
        EXPECT_LT(qGreen(shown), 40);
    }
}
