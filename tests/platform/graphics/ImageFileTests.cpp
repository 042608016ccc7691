#include "platform/graphics/ImageFile.h"
#include "platform/graphics/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cerrno>
#include <optional>

using namespace platform;

namespace {

QByteArray sample(const char* name)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/tests/data/images/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

QString write(const QTemporaryDir& folder, const QString& name, const QByteArray& bytes)
{
    QFile file(folder.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return file.fileName();
}

} // namespace

TEST(ImageFile, OpensEveryImportableFormatAndThumbnailsIt)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QImage picture = testimages::pattern(64, 48);
    const std::pair<const char*, QByteArray> files[] = {
        { "png", testimages::encoded(picture, "png") },
        { "jpeg", testimages::encoded(picture, "jpeg") },
        { "gif", testimages::writeGif(64, 48, { { QRect(0, 0, 64, 48), 1 } }) },
        { "webp", testimages::encoded(picture, "webp") },
        { "tiff", testimages::encoded(picture, "tiff") },
        { "bmp", testimages::encoded(picture, "bmp") },
        { "heic", sample("quadrants.heic") },
        { "avif", sample("quadrants-alpha.avif") },
    };
    for (const auto& [format, bytes] : files) {
        SCOPED_TRACE(format);
        ASSERT_FALSE(bytes.isEmpty());
        // The name says nothing: the content decides.
        auto opened = openImageFile(write(folder, QStringLiteral("dropped"), bytes));
        ASSERT_TRUE(opened);
        const auto& source = opened.value();
        EXPECT_EQ(source->format(), QByteArray(format));
        EXPECT_EQ(source->data(), bytes);
        EXPECT_EQ(source->pixelSize(), QSize(64, 48));
        const auto thumbnail = source->thumbnail(32);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->image().size(), QSize(32, 24));
    }
}

TEST(ImageFile, RefusesWhatIsNoImageToImport)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString fifo = folder.filePath(QStringLiteral("pipe.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray hugePng = testimages::encoded(testimages::pattern(8, 8), "png");
    hugePng.replace(16, 8, QByteArray("\x00\x00\xea\x60\x00\x00\xea\x60", 8)); // 60000 × 60000
    QByteArray hugeHeic = sample("quadrants.heic");
    const qsizetype ispe = hugeHeic.indexOf("ispe");
    hugeHeic.replace(ispe + 8, 8, QByteArray("\x00\x00\xea\x60\x00\x00\xea\x60", 8));

    const std::pair<QString, ImageFileProblem> cases[] = {
        { folder.path(), ImageFileProblem::notARegularFile },
        { fifo, ImageFileProblem::notARegularFile },
        { folder.filePath(QStringLiteral("missing.png")), ImageFileProblem::unreadable },
        { write(folder, QStringLiteral("notes.png"), "just some text, not a picture"),
            ImageFileProblem::notAnImage },
        // Qt reads icons, but they are not what a user imports as a picture.
        { write(folder, QStringLiteral("icon.ico"), testimages::encoded(testimages::pattern(16, 16), "ico")),
            ImageFileProblem::notAnImage },
        { write(folder, QStringLiteral("huge.png"), hugePng), ImageFileProblem::tooLarge },
        { write(folder, QStringLiteral("huge.heic"), hugeHeic), ImageFileProblem::tooLarge },
        { write(folder, QStringLiteral("cut.heic"), sample("quadrants.heic").left(40)),
            ImageFileProblem::corrupt },
    };
    for (const auto& [path, problem] : cases) {
        SCOPED_TRACE(path.toStdString());
        auto opened = openImageFile(path);
        ASSERT_TRUE(opened.isFailure());
        EXPECT_EQ(opened.error().problem, problem);
        EXPECT_EQ(opened.error().cause.has_value(),
            problem == ImageFileProblem::unreadable || problem == ImageFileProblem::notARegularFile);
    }

    // A file larger than the limits allow is not read at all.
    const QString big = write(folder, QStringLiteral("big.png"), QByteArray(4096, 'x'));
    auto refused = openImageFile(big, { 100'000'000, 4000 });
    ASSERT_TRUE(refused.isFailure());
    EXPECT_EQ(refused.error().problem, ImageFileProblem::tooLarge);
}

// A file within the limits whose bytes do not fit in the memory left is a file that cannot be read,
// not an exception out of the import.
TEST(ImageFile, AFileBeyondTheMemoryLeftIsUnreadable)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile sparse(folder.filePath(QStringLiteral("large.png")));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    sparse.write("\x89PNG\r\n\x1a\n");
    ASSERT_TRUE(sparse.resize(qint64(768) << 20));
    sparse.close();
    std::optional<ImageFileError> failure;
    if (!testsupport::withAddressSpaceHeadroom(rlim_t(256) << 20, [&] {
            auto opened = openImageFile(sparse.fileName());
            if (opened.isFailure())
                failure = opened.error();
        }))
        GTEST_SKIP() << "no address-space limit under a sanitizer";
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->problem, ImageFileProblem::unreadable);
    ASSERT_TRUE(failure->cause);
    EXPECT_EQ(failure->cause->code, ENOMEM);
}
