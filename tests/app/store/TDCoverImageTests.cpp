#include "../LibraryTestSupport.h"
#include "app/store/TDCoverImage.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>

// A cover takes every picture the decoders read, icons among them, and a refusal names what it
// takes, not the shorter list a drop of images takes.
TEST(TDCoverImage, ARefusalNamesTheFormatsACoverTakes)
{
    apptest::LibraryRoot root;
    QImage picture(QSize(16, 16), QImage::Format_ARGB32);
    picture.fill(Qt::darkCyan);
    for (const char* format : { "png", "jpeg", "bmp", "ico", "tiff", "webp", "icns" }) {
        SCOPED_TRACE(format);
        const QString path = root.root() + "/picture." + format;
        QImageWriter writer(path, format);
        ASSERT_TRUE(writer.write(picture)) << writer.errorString().toStdString();
        EXPECT_TRUE(tdcoverimage::jpegData(path));
    }

    QFile fake(root.root() + "/fake.ico");
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly) && fake.write("not a picture at all") > 0);
    fake.close();
    const auto refused = tdcoverimage::jpegData(fake.fileName());
    ASSERT_FALSE(refused);
    const QString reason = refused.error().description;
    EXPECT_TRUE(reason.contains(QString::fromUtf8("\u201Cfake.ico\u201D"))) << reason.toStdString();
    EXPECT_TRUE(reason.contains("as a cover")) << reason.toStdString();
    EXPECT_TRUE(reason.contains("ICO")) << reason.toStdString();
    EXPECT_FALSE(reason.contains("can add")) << reason.toStdString();
}
