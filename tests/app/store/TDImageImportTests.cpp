#include "../FatDisk.h"
#include "../FileSizeLimit.h"
#include "../LibraryTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDImageImport.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/graphics/ImageEncoding.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <latch>

#include <sys/stat.h>
#include <sys/statfs.h>

using apptest::LibraryRoot;

namespace {

// A library with the project "Alpha" (its folder on disk), and a folder outside it to drop from.
struct Import {
    LibraryRoot root;
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    TDLibrary library { stores };
    std::shared_ptr<TDProject> project;

    Import()
    {
        root.makeLibraryFolder();
        QDir().mkpath(root.library() + "/Alpha");
        QDir().mkpath(drop());
        project = apptest::makeProject("Alpha");
        stores.projectStore->setTdProjects({ project });
    }

    QString drop() const { return root.root() + "/drop"; }
    QString images() const { return root.library() + "/Alpha/images"; }
    int mediaSaves() const { return stores.mediaStore->libraryFile()->writesRequested(); }

    QString write(const QString& name, const QByteArray& bytes) const
    {
        const QString path = drop() + "/" + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    }

    // Starts a drop of three pictures for each import lane, whose answer lands in `report`.
    std::vector<QUrl> startLaneFillingDrop(std::optional<TDImageImportReport>& report);

    // Imports `paths` and waits for the one answer.
    TDImageImportReport run(const QStringList& paths, std::vector<QUrl> extra = {})
    {
        std::vector<QUrl> urls = std::move(extra);
        for (const QString& path : paths)
            urls.push_back(QUrl::fromLocalFile(path));
        std::optional<platform::Result<TDImageImportReport, TDLibraryFailure>> answer;
        library.importImages(project, urls, [&](auto done) {
            EXPECT_FALSE(answer) << "one answer";
            answer = std::move(done);
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return answer.has_value(); }));
        QCoreApplication::processEvents();
        return answer && *answer ? answer->value() : TDImageImportReport {};
    }

    QStringList imageFolders() const
    {
        return QDir(images()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
};

QImage picture(QSize size, QColor color = QColor(40, 120, 200))
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(QImageWriter(&buffer, format).write(image)) << format;
    return bytes;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSize thumbnailSizeAt(const platform::Url& url)
{
    QImageReader reader(url.path());
    return reader.format() == "jpeg" ? reader.size() : QSize();
}

// Leaves the shared pool `threads` threads for as long as it lives, as on a machine of few cores:
// each of the others runs work that waits for the end of the scope.
class PoolSqueeze {
public:
    explicit PoolSqueeze(unsigned threads)
    {
        const unsigned taken = std::max(platform::sharedPoolSize(), threads) - threads;
        auto started = std::make_shared<std::latch>(taken);
        for (unsigned i = 0; i < taken; ++i) {
            platform::DispatchQueue::global()->async([started, released = m_released] {
                started->count_down();
                released->wait();
            });
        }
        started->wait();
    }
    ~PoolSqueeze() { m_released->count_down(); }

private:
    std::shared_ptr<std::latch> m_released = std::make_shared<std::latch>(1);
};

std::vector<QUrl> Import::startLaneFillingDrop(std::optional<TDImageImportReport>& report)
{
    const QByteArray bytes = encoded(picture(QSize(900, 700)), "bmp");
    std::vector<QUrl> urls;
    for (int i = 0; i < 3 * tdimageimport::laneCount; ++i)
        urls.push_back(QUrl::fromLocalFile(write(QStringLiteral("p%1.bmp").arg(i), bytes)));
    library.importImages(
        project, urls, [&report](auto done) { report = done ? done.value() : TDImageImportReport {}; });
    return urls;
}

} // namespace

// Every format a user drops gets a folder named by its record's id, holding a byte copy under the
// dropped name and a JPEG thumbnail of 80 on its longer side; the records follow the drop's order
// and the media are saved once. A file that is no image is refused by its content, whatever its name.
TEST(TDImageImport, EveryImportableFormatGetsACopyAThumbnailAndARecordSavedOnce)
{
    Import f;
    const QImage wide = picture(QSize(400, 200));
    std::vector<platform::ImageFrame> frames { { *platform::Bitmap::fromImage(picture(QSize(120, 60))),
        0.1 } };
    const QStringList paths {
        f.write("photo one.png", encoded(wide, "png")),
        f.write("photo.jpg", encoded(wide, "jpeg")),
        f.write("anim.gif", *platform::encodeGif(frames)),
        f.write("web.webp", encoded(wide, "webp")),
        f.write("scan.tiff", encoded(wide, "tiff")),
        f.write("old.bmp", encoded(wide, "bmp")),
        f.write("phone.heic", contentOf(TINDREL_SOURCE_DIR "/tests/data/images/quadrants.heic")),
        f.write("web.avif", contentOf(TINDREL_SOURCE_DIR "/tests/data/images/quadrants-alpha.avif")),
        f.write("notes.txt", "just words"),
        f.write("fake.jpg", "not a jpeg at all"),
    };
    const int saves = f.mediaSaves();
    TDImageImportReport report = f.run(paths);

    EXPECT_EQ(report.imported, 8);
    ASSERT_EQ(report.failures.size(), 2u);
    EXPECT_EQ(report.failures[0].fileName, "notes.txt");
    EXPECT_EQ(report.failures[1].fileName, "fake.jpg");
    EXPECT_TRUE(report.failures[1].reason.contains("not an image"));
    EXPECT_EQ(f.mediaSaves(), saves + 1);

    const auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), 8u);
    QStringList folders;
    for (int i = 0; i < 8; ++i) {
        const auto& record = media[std::size_t(i)];
        const QString folder = record->url().deletingLastPathComponent().lastPathComponent();
        folders.append(folder);
        EXPECT_EQ(folder, record->id().lowercaseString());
        EXPECT_EQ(record->tdProjectId(), f.project->id());
        EXPECT_EQ(record->url().path(), f.images() + "/" + folder + "/" + QFileInfo(paths[i]).fileName());
        EXPECT_EQ(contentOf(record->url().path()), contentOf(paths[i])) << paths[i].toStdString();
        EXPECT_EQ(record->thumbnailURL().path(), f.images() + "/" + folder + "/thumbnail.jpg");
        const QSize thumbnail = thumbnailSizeAt(record->thumbnailURL());
        EXPECT_EQ(std::max(thumbnail.width(), thumbnail.height()), tdimageimport::thumbnailLongSide)
            << paths[i].toStdString();
    }
    EXPECT_EQ(thumbnailSizeAt(media[0]->thumbnailURL()), QSize(80, 40));
    folders.sort();
    EXPECT_EQ(f.imageFolders(), folders) << "the refused files leave no folder";
    const QJsonArray stored = QJsonDocument::fromJson(f.root.read("media.library")).array();
    ASSERT_EQ(stored.size(), 8);
    EXPECT_EQ(stored[0].toObject()["id"].toString(), media[0]->id().uuidString());
}

TEST(TDImageImport, ThumbnailsKeepTheAspectRatioNeverLoseASideAndTurnTransparencyWhite)
{
    const std::pair<QSize, QSize> sizes[] = {
        { QSize(400, 200), QSize(80, 40) },
        { QSize(200, 400), QSize(40, 80) },
        { QSize(300, 300), QSize(80, 80) },
        { QSize(10000, 1), QSize(80, 1) },
        { QSize(1, 10000), QSize(1, 80) },
        { QSize(20, 10), QSize(80, 40) },
    };
    for (const auto& [size, thumbnail] : sizes)
        EXPECT_EQ(tdimageimport::thumbnailSize(size), thumbnail) << size.width() << "x" << size.height();
    // On a screen of 2 or 1.5 device pixels per pixel, 80 pixels would be stretched and blurred.
    EXPECT_EQ(tdimageimport::thumbnailSize(QSize(400, 200), 2), QSize(160, 80));
    EXPECT_EQ(tdimageimport::thumbnailSize(QSize(200, 400), 1.5), QSize(60, 120));
    EXPECT_EQ(tdimageimport::thumbnailSize(QSize(10000, 1), 2), QSize(160, 1));

    QImage halfClear(200, 100, QImage::Format_ARGB32);
    halfClear.fill(Qt::transparent);
    QPainter(&halfClear).fillRect(QRect(0, 0, 100, 100), Qt::black);
    auto source = platform::ImageSource::create(encoded(halfClear, "png"));
    ASSERT_TRUE(source);
    auto jpeg = tdimageimport::thumbnailJpeg(*source.value());
    ASSERT_TRUE(jpeg);
    QImage thumbnail = QImage::fromData(*jpeg, "jpeg");
    ASSERT_EQ(thumbnail.size(), QSize(80, 40));
    EXPECT_GT(qGray(thumbnail.pixel(70, 20)), 240) << "transparent becomes white";
    EXPECT_LT(qGray(thumbnail.pixel(10, 20)), 15);
    auto sharp = tdimageimport::thumbnailJpeg(*source.value(), 2);
    ASSERT_TRUE(sharp);
    EXPECT_EQ(QImage::fromData(*sharp, "jpeg").size(), QSize(160, 80));
}

// A pipe is never opened for reading (which would wait for ever), a folder is never walked, and a
// picture that declares 60000 x 60000 pixels is refused from its header: each is reported at once,
// nothing is made for it, and the drop still ends in its one save.
TEST(TDImageImport, RefusesPipesFoldersHugeHeadersAndRemoteFilesAtOnce)
{
    Import f;
    const QString pipe = f.drop() + "/pipe.png";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QDir().mkpath(f.drop() + "/folder.png");
    QByteArray huge = encoded(picture(QSize(8, 8)), "png");
    huge.replace(16, 8, QByteArray("\x00\x00\xea\x60\x00\x00\xea\x60", 8));
    const QString hugePath = f.write("huge.png", huge);
    const QString good = f.write("good.png", encoded(picture(QSize(30, 30)), "png"));
    const int saves = f.mediaSaves();

    TDImageImportReport report = f.run(
        { pipe, f.drop() + "/folder.png", hugePath, good }, { QUrl("https://example.com/picture.png") });

    EXPECT_EQ(report.imported, 1);
    std::map<QString, QString> reasons;
    for (const auto& failure : report.failures)
        reasons[failure.fileName] = failure.reason;
    EXPECT_EQ(reasons.size(), 4u);
    EXPECT_TRUE(reasons["pipe.png"].contains("not a regular file")) << reasons["pipe.png"].toStdString();
    EXPECT_TRUE(reasons["folder.png"].contains("folder")) << reasons["folder.png"].toStdString();
    EXPECT_TRUE(reasons["huge.png"].contains("too large")) << reasons["huge.png"].toStdString();
    EXPECT_TRUE(reasons["https://example.com/picture.png"].contains("not a file on this computer"));
    EXPECT_EQ(f.imageFolders().size(), 1);
    EXPECT_EQ(f.mediaSaves(), saves + 1);

    // A drop with nothing to import answers too, with its save.
    EXPECT_EQ(f.run({}).imported, 0);
    EXPECT_EQ(f.mediaSaves(), saves + 2);
}

// A file refused as a cover is told as a drop of it is: by its name in quotes, never its path, and
// for the same cause in the same words, except that a file that is no picture is told the formats a
// cover takes. Among the causes, a picture too large to open: one whose headers declare too many
// pixels, and a file larger than any picture the bounds allow (sparse, so it costs no disk).
TEST(TDImageImport, ARefusedFileIsToldAlikeAsACover)
{
    Import f;
    QByteArray huge = encoded(picture(QSize(8, 8)), "png");
    huge.replace(16, 8, QByteArray("\x00\x00\xea\x60\x00\x00\xea\x60", 8));
    const QString vast = f.write("vast.png", encoded(picture(QSize(8, 8)), "png"));
    ASSERT_TRUE(QFile(vast).resize(platform::DecodingLimits().maxTotalBytes + 1));
    const QString pipe = f.drop() + "/pipe.png";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QDir().mkpath(f.drop() + "/folder.png");
    const QStringList paths
        = { f.write("huge.png", huge), vast, f.write("notes.png", "just some text, not a picture"),
              f.write("cut.png", encoded(picture(QSize(30, 30)), "png").left(40)), pipe,
              f.drop() + "/folder.png", f.drop() + "/missing.png" };

    std::map<QString, QString> reasons;
    for (const auto& failure : f.run(paths).failures)
        reasons[failure.fileName] = failure.reason;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        SCOPED_TRACE(name.toStdString());
        ASSERT_FALSE(reasons[name].isEmpty());
        std::optional<TDLibraryFailure> refused;
        f.library.setCoverImage(
            f.project, path, [&](auto set) { refused = set ? TDLibraryFailure {} : set.error(); });
        ASSERT_TRUE(testsupport::waitUntil([&] { return refused.has_value(); }));
        EXPECT_EQ(refused->title, "The image cannot be used as a cover.");
        if (name == "notes.png") {
            EXPECT_TRUE(refused->message.startsWith(QString::fromUtf8("\u201Cnotes.png\u201D: ")));
            EXPECT_TRUE(refused->message.contains("as a cover") && refused->message.contains("ICO"))
                << refused->message.toStdString();
            continue;
        }
        EXPECT_EQ(refused->message, QString::fromUtf8("\u201C%1\u201D: %2").arg(name, reasons[name]));
    }
    EXPECT_TRUE(reasons["huge.png"].contains("too large"));
    EXPECT_TRUE(reasons["vast.png"].contains("too large"));
}

// File managers percent-encode the names they drop; some programs name this machine, or
// "localhost", as the file URL's host. Each of these reaches its file; another machine's host is
// refused as remote, not looked for on this one.
TEST(TDImageImport, FileUrlsAsOtherProgramsWriteThemReachTheirFiles)
{
    Import f;
    const QByteArray png = encoded(picture(QSize(30, 20)), "png");
    const QString spaced = f.write(QString::fromUtf8("caf\u00e9 photo.png"), png);
    const QString local = f.write("local.png", png);
    const QString named = f.write("named.png", png);
    QMimeData data;
    data.setData("text/uri-list",
        QUrl::fromLocalFile(spaced).toEncoded() + "\r\nfile://localhost" + QUrl::toPercentEncoding(local, "/")
            + "\r\nfile://" + QSysInfo::machineHostName().toUtf8() + QUrl::toPercentEncoding(named, "/")
            + "\r\nfile://elsewhere.example" + QUrl::toPercentEncoding(local, "/") + "\r\n");
    const QList<QUrl> urls = data.urls();
    ASSERT_EQ(urls.size(), 4);
    EXPECT_EQ(tdimageimport::localPath(urls[0]), spaced);
    EXPECT_EQ(tdimageimport::localPath(urls[1]), local);
    EXPECT_EQ(tdimageimport::localPath(urls[2]), named);
    EXPECT_FALSE(tdimageimport::localPath(urls[3]));

    TDImageImportReport report = f.run({}, std::vector<QUrl>(urls.begin(), urls.end()));
    EXPECT_EQ(report.imported, 3);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_TRUE(report.failures[0].reason.contains("not a file on this computer"));
    const auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), 3u);
    EXPECT_EQ(media[0]->url().lastPathComponent(), QString::fromUtf8("caf\u00e9 photo.png"));
    EXPECT_EQ(media[2]->url().lastPathComponent(), "named.png");
}

// Each file has a folder of its own, so two files of one name never overwrite each other; a name
// that could not be a file name is made safe, and a file named like the thumbnail keeps its own bytes.
TEST(TDImageImport, FilesOfOneNameAndUnsafeNamesKeepTheirOwnBytes)
{
    Import f;
    const QByteArray red = encoded(picture(QSize(50, 50), Qt::red), "png");
    const QByteArray blue = encoded(picture(QSize(60, 30), Qt::blue), "png");
    const QByteArray jpeg = encoded(picture(QSize(90, 30)), "jpeg");
    TDImageImportReport report = f.run({ f.write("one/a.png", red), f.write("two/a.png", blue),
        f.write("thumbnail.jpg", jpeg), f.write(QString::fromUtf8("line\nbreak.png"), red) });
    ASSERT_EQ(report.imported, 4);
    const auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), 4u);
    EXPECT_NE(media[0]->url().deletingLastPathComponent(), media[1]->url().deletingLastPathComponent());
    EXPECT_EQ(media[0]->url().lastPathComponent(), "a.png");
    EXPECT_EQ(contentOf(media[0]->url().path()), red);
    EXPECT_EQ(contentOf(media[1]->url().path()), blue);
    EXPECT_EQ(media[2]->url().lastPathComponent(), "thumbnail-original.jpg");
    EXPECT_EQ(contentOf(media[2]->url().path()), jpeg);
    EXPECT_EQ(thumbnailSizeAt(media[2]->thumbnailURL()), QSize(80, 27));
    EXPECT_EQ(media[3]->url().lastPathComponent(), "line-break.png");
    EXPECT_EQ(tdimageimport::copyName("../.."), "..-..");
    EXPECT_EQ(tdimageimport::copyName(".."), "Untitled");
    // A name cut to fit keeps its extension, by which other programs tell the file's kind.
    for (const QString& longName :
        { QString(251, QChar('a')) + ".png", QString(83, QChar(0x97F3)) + ".jpeg" }) {
        const QString copy = tdimageimport::copyName(longName);
        EXPECT_TRUE(copy.endsWith("." + QFileInfo(longName).suffix())) << copy.toStdString();
        EXPECT_TRUE(copy.startsWith(longName.first(20))) << copy.toStdString();
        EXPECT_LE(copy.toUtf8().size(), TDDirectoryPath::maximumOutsideNameBytes);
    }
}

// A name that fits is copied as it is, whatever follows its last dot: only a name cut to fit gets
// its extension back.
TEST(TDImageImport, ANameThatFitsIsCopiedAsItIs)
{
    const QStringList kept { "Fig. 3", "photo. png", "Notes .jpg", QString::fromUtf8("scan.\u200Fpng"),
        "v2.\tfinal" };
    for (const QString& name : kept)
        EXPECT_EQ(tdimageimport::copyName(name), TDDirectoryPath::safeName(name)) << name.toStdString();

    Import f;
    const QString dropped = f.write("Fig. 3", encoded(picture(QSize(40, 30)), "png"));
    ASSERT_EQ(f.run({ dropped }).imported, 1);
    EXPECT_EQ(f.stores.mediaStore->tdMedia()[0]->url().lastPathComponent(), "Fig. 3");
}

// Only a file URL naming a whole path reaches a file: one with a relative path would be looked for
// wherever the program happened to start.
TEST(TDImageImport, AFileUrlWithARelativePathIsNoFileOfThisComputer)
{
    Import f;
    const QString name = "relative.png";
    f.write(name, encoded(picture(QSize(20, 20)), "png"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(f.drop()));
    for (const QByteArray& text : { QByteArray("file:relative.png"), QByteArray("file:./relative.png") }) {
        const QUrl url = QUrl::fromEncoded(text);
        ASSERT_TRUE(url.isLocalFile()) << text.constData();
        EXPECT_FALSE(tdimageimport::localPath(url)) << text.constData();
    }
    const TDImageImportReport report = f.run({}, { QUrl::fromEncoded("file:relative.png") });
    QDir::setCurrent(previous);
    EXPECT_EQ(report.imported, 0);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_TRUE(report.failures[0].reason.contains("not a file on this computer"));
    EXPECT_TRUE(f.imageFolders().isEmpty());
}

// A library on a memory card: its disk refuses : * ? " < > | \ in a name, so the copy of such a
// file lands under the name with those characters made "-", keeping its extension. Other disks keep
// the name as it is.
TEST(TDImageImport, ANameAMemoryCardRefusesLandsWithThoseCharactersReplaced)
{
    Import f;
    const QByteArray red = encoded(picture(QSize(50, 50), Qt::red), "png");
    const QStringList names { "shot: 1.png", "what?.png", "plain.png", "Thumbnail.JPG" };
    QStringList paths;
    for (const QString& name : names)
        paths.append(f.write(name, red));
    ASSERT_EQ(f.run({ paths[0] }).imported, 1);
    EXPECT_EQ(f.stores.mediaStore->tdMedia()[0]->url().lastPathComponent(), "shot: 1.png");
    f.stores.mediaStore->setTdMedia({});
    ASSERT_TRUE(QDir(f.images()).removeRecursively());

    apptest::FatDisk card(f.root.library() + "/Alpha");
    if (!card.mounted())
        GTEST_SKIP() << "no FAT disk can be mounted here";
    const TDImageImportReport report = f.run(paths);
    EXPECT_TRUE(report.failures.empty()) << report.failures[0].reason.toStdString();
    ASSERT_EQ(report.imported, 4);
    const auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), 4u);
    // Such a disk does not tell upper from lower case either: the thumbnail's name in any case is
    // the thumbnail's file.
    const QStringList landed { "shot- 1.png", "what-.png", "plain.png", "Thumbnail-original.JPG" };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(media[std::size_t(i)]->url().lastPathComponent(), landed[i]);
        EXPECT_EQ(contentOf(media[std::size_t(i)]->url().path()), red);
        EXPECT_EQ(thumbnailSizeAt(media[std::size_t(i)]->thumbnailURL()), QSize(80, 80));
    }
    EXPECT_EQ(tdimageimport::copyNameForAnyDisk("a<b>|c\\d*.jpeg"), "a-b--c-d-.jpeg");
    EXPECT_EQ(tdimageimport::copyNameForAnyDisk("notes. . "), "notes");
    EXPECT_EQ(tdimageimport::copyNameForAnyDisk("..."), "Untitled");
    EXPECT_EQ(tdimageimport::copyNameForAnyDisk("thumbnail.jpg."), "thumbnail-original.jpg");
}

// The copy that cannot be written (a full disk) is reported; no record names a missing file and
// the file's folder goes again.
TEST(TDImageImport, AFailedCopyIsReportedAndLeavesNoRecordOrFolder)
{
    Import f;
    const QString large = f.write("large.bmp", encoded(picture(QSize(200, 200)), "bmp"));
    ASSERT_GT(QFileInfo(large).size(), 64 * 1024);
    TDImageImportReport report;
    {
        apptest::FileSizeLimit limit(32 * 1024);
        report = f.run({ large });
    }
    EXPECT_EQ(report.imported, 0);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_TRUE(report.failures[0].reason.contains("could not be copied"))
        << report.failures[0].reason.toStdString();
    EXPECT_TRUE(f.stores.mediaStore->tdMedia().empty());
    EXPECT_TRUE(f.imageFolders().isEmpty());
}

// Whatever the order in which a drop and the deletion of its project meet, no record is made for
// the deleted project, nothing of the drop stays in the library, and no file of it is reported as
// failed: the project went, not the files.
TEST(TDImageImport, ADropRacingTheProjectsDeletionLeavesNoOrphanFiles)
{
    enum class Race {
        removedBeforeTheRecords,
        deletedMeanwhile,
        folderGoneBeforeTheCopies,
        deletedBeforeTheCopies
    };
    for (Race race : { Race::removedBeforeTheRecords, Race::deletedMeanwhile, Race::folderGoneBeforeTheCopies,
             Race::deletedBeforeTheCopies }) {
        Import f;
        QStringList paths;
        for (int i = 0; i < 6; ++i)
            paths.append(
                f.write(QStringLiteral("p%1.png").arg(i), encoded(picture(QSize(40 + i, 30)), "png")));
        if (race == Race::folderGoneBeforeTheCopies || race == Race::deletedBeforeTheCopies)
            QDir(f.root.library() + "/Alpha").removeRecursively();
        int answers = 0;
        TDImageImportReport report;
        f.library.importImages(f.project,
            { QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1]), QUrl::fromLocalFile(paths[2]),
                QUrl::fromLocalFile(paths[3]), QUrl::fromLocalFile(paths[4]), QUrl::fromLocalFile(paths[5]) },
            [&](auto done) {
                ++answers;
                if (done)
                    report = done.value();
            });
        if (race == Race::removedBeforeTheRecords || race == Race::deletedBeforeTheCopies)
            f.stores.projectStore->setTdProjects({});
        if (race == Race::deletedMeanwhile)
            f.library.deleteProject(f.project, [&](auto) { ++answers; });
        const int expected = race == Race::deletedMeanwhile ? 2 : 1;
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return answers == expected && f.library.operationsInFlight() == 0; }));
        EXPECT_TRUE(f.stores.mediaStore->tdMedia().empty()) << int(race);
        EXPECT_TRUE(f.imageFolders().isEmpty()) << int(race);
        if (race != Race::removedBeforeTheRecords) {
            EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha")) << "never made again";
        }
        if (race != Race::folderGoneBeforeTheCopies) {
            EXPECT_TRUE(report.failures.empty())
                << int(race) << ": " << report.failures.front().reason.toStdString();
            EXPECT_EQ(report.discarded, 6) << int(race);
        }
    }
}

// The project renamed while its drop is under way: every file still lands, in the renamed folder,
// whether it was written before, during or after the folder moved, and nothing is left behind.
TEST(TDImageImport, RenamingTheProjectDuringADropLandsEveryFileInItsNewFolder)
{
    for (const bool afterTheFirst : { false, true }) {
        Import f;
        std::optional<TDImageImportReport> report;
        const std::vector<QUrl> urls = f.startLaneFillingDrop(report);
        if (afterTheFirst) {
            ASSERT_TRUE(testsupport::waitUntil([&] { return !f.stores.mediaStore->tdMedia().empty(); }));
        }
        f.library.editProject(f.project, { "Beta", f.project->startDate(), f.project->category() });
        ASSERT_TRUE(
            testsupport::waitUntil([&] { return report && f.library.operationsInFlight() == 0; }, 30000));

        EXPECT_EQ(report->imported, int(urls.size()));
        EXPECT_TRUE(report->failures.empty()) << report->failures.front().reason.toStdString();
        EXPECT_FALSE(QFileInfo::exists(f.images()));
        QStringList named;
        for (const auto& media : f.stores.mediaStore->tdMedia()) {
            EXPECT_TRUE(QFileInfo(media->url().path()).isFile()) << media->url().path().toStdString();
            EXPECT_TRUE(media->url().path().startsWith(f.root.library() + "/Beta/images/"));
            named.append(media->id().lowercaseString());
        }
        named.sort();
        EXPECT_EQ(QDir(f.root.library() + "/Beta/images").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            named);
    }
}

// A project renamed during its drop while a new folder of its old name is made at once (another
// project taking that name): the files written into that folder still go to the renamed project,
// and the other folder keeps nothing of them.
TEST(TDImageImport, FilesWrittenIntoAFolderOfTheOldNameLandInTheRenamedProject)
{
    Import f;
    std::optional<TDImageImportReport> report;
    const std::vector<QUrl> urls = f.startLaneFillingDrop(report);
    f.library.editProject(f.project, { "Beta", f.project->startDate(), f.project->category() });
    ASSERT_TRUE(QDir().mkdir(f.root.library() + "/Alpha"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return report && f.library.operationsInFlight() == 0; }, 30000));

    EXPECT_EQ(report->imported, int(urls.size()));
    EXPECT_EQ(report->discarded, 0);
    EXPECT_TRUE(report->failures.empty()) << report->failures.front().reason.toStdString();
    ASSERT_EQ(f.stores.mediaStore->tdMedia().size(), urls.size());
    for (const auto& media : f.stores.mediaStore->tdMedia())
        EXPECT_TRUE(QFileInfo(media->url().path()).isFile()) << media->url().path().toStdString();
    EXPECT_TRUE(f.imageFolders().isEmpty()) << f.imageFolders().join(", ").toStdString();
}

// Quitting in the middle of a drop: the files under way are finished and recorded, the ones not yet
// begun are left out with nothing made for them, and before the quit goes on the library file names
// every image folder the project holds.
TEST(TDImageImport, QuittingDuringADropLeavesEveryImageOnDiskNamedInTheLibrary)
{
    Import f;
    QStringList paths;
    const QByteArray bytes = encoded(picture(QSize(900, 700)), "bmp");
    for (int i = 0; i < 3 * tdimageimport::laneCount; ++i)
        paths.append(f.write(QStringLiteral("p%1.bmp").arg(i), bytes));
    std::vector<QUrl> urls;
    for (const QString& path : paths)
        urls.push_back(QUrl::fromLocalFile(path));
    std::optional<TDImageImportReport> report;
    f.library.importImages(f.project, urls, [&](const auto& done) {
        ASSERT_TRUE(done);
        report = done.value();
    });

    // The program quits the way it does when its last window closes.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();

    ASSERT_TRUE(report) << "the drop has ended before the quit went on";
    EXPECT_EQ(report->imported + report->leftOut, paths.size());
    QStringList named;
    for (const auto& media : f.stores.mediaStore->tdMedia())
        named.append(media->id().lowercaseString());
    named.sort();
    EXPECT_EQ(f.imageFolders(), named);
    QStringList saved;
    for (const auto& value : QJsonDocument::fromJson(f.root.read("media.library")).array())
        saved.append(value.toObject()["id"].toString().toLower());
    saved.sort();
    EXPECT_EQ(saved, named);

    // A drop after a quit that ended in time imports as before.
    EXPECT_EQ(f.run({ paths[0] }).imported, 1);
}

// With as many pool threads as the import has lanes (a machine of four cores), a drop of many files
// still leaves the pool to other work: a save asked as the drop begins lands long before it ends.
TEST(TDImageImport, ASaveAskedDuringALargeDropLandsBeforeTheDropEnds)
{
    Import f;
    PoolSqueeze squeeze(tdimageimport::laneCount);
    const QByteArray bytes = encoded(picture(QSize(600, 400)), "png");
    std::vector<QUrl> urls;
    for (int i = 0; i < 16 * tdimageimport::laneCount; ++i)
        urls.push_back(QUrl::fromLocalFile(f.write(QStringLiteral("p%1.png").arg(i), bytes)));
    std::optional<int> importedAtTheSave;
    int imported = 0;
    bool answered = false;
    f.library.importImages(f.project, urls, [&](auto done) {
        imported = done ? done.value().imported : -1;
        answered = true;
    });
    f.stores.linkStore->save({}, [&](auto done) {
        EXPECT_TRUE(done);
        importedAtTheSave = int(f.stores.mediaStore->tdMedia().size());
    });

    ASSERT_TRUE(testsupport::waitUntil([&] { return answered; }, 120000));
    ASSERT_TRUE(importedAtTheSave);
    EXPECT_LT(*importedAtTheSave, int(urls.size()) / 2);
    EXPECT_EQ(imported, int(urls.size()));
}

namespace {

// Counts the writes of the media store's list, each of which copies the whole list.
struct MediaListWrites {
    explicit MediaListWrites(std::shared_ptr<TDMediaStore> store)
        : store(std::move(store))
    {
        arm();
    }
    ~MediaListWrites() { tracking.cancel(); }

    void arm()
    {
        tracking = platform::withObservationTracking([this] { store->tdMedia(); },
            [this] {
                ++count;
                arm();
            });
    }

    std::shared_ptr<TDMediaStore> store;
    platform::ObservationTracking tracking;
    int count = 0;
};

} // namespace

// Files that finish while the window is busy all go into the library in one append, in the drop's
// order, and the media file is saved once: a drop of hundreds in a large library copies its list of
// images once, not once for each file.
TEST(TDImageImport, FilesThatFinishTogetherGoIntoTheLibraryInOneAppend)
{
    Import f;
    constexpr int count = 500;
    std::vector<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("p%1.png").arg(i);
        urls.push_back(QUrl::fromLocalFile(
            f.write(name, encoded(picture(QSize(8, 6), QColor::fromHsv(i % 360, 200, 200)), "png"))));
    }
    const int saves = f.mediaSaves();
    MediaListWrites writes(f.stores.mediaStore);
    std::optional<TDImageImportReport> report;
    f.library.importImages(f.project, urls, [&](const auto& done) {
        ASSERT_TRUE(done);
        report = done.value();
    });
    // The main thread stays busy until every copy is on disk: all the answers wait for one turn,
    // except those of the lanes still handing theirs over.
    auto copiesOnDisk = [&] {
        int copies = 0;
        for (const QString& folder : f.imageFolders())
            copies += int(QDir(f.images() + "/" + folder).entryList({ "p*.png" }, QDir::Files).size());
        return copies;
    };
    const QDeadlineTimer deadline(60000);
    while (copiesOnDisk() < count && !deadline.hasExpired())
        QThread::yieldCurrentThread();
    ASSERT_TRUE(testsupport::waitUntil([&] { return report.has_value(); }, 60000));

    EXPECT_EQ(report->imported, count);
    EXPECT_LE(writes.count, 1 + tdimageimport::laneCount);
    EXPECT_EQ(f.mediaSaves(), saves + 1);
    const auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), std::size_t(count));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(media[std::size_t(i)]->url().lastPathComponent(), QStringLiteral("p%1.png").arg(i));
}
