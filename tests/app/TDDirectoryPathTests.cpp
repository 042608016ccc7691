#include "LibraryTestSupport.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDFolderIcon.h"
#include "app/store/TDProjectStore.h"

#include <cstring>

using apptest::CapturedStream;
using apptest::LibraryRoot;
using platform::Url;

TEST(TDDirectoryPath, BuildsEveryLocationOneComponentAtATime)
{
    LibraryRoot root;
    EXPECT_EQ(TDDirectoryPath::libraryFolderURL().path(), root.library());
    EXPECT_EQ(TDDirectoryPath::projectsLibraryURL().path(), root.library() + "/projects.library");
    EXPECT_EQ(TDDirectoryPath::mediaLibraryURL().path(), root.library() + "/media.library");
    EXPECT_EQ(TDDirectoryPath::linksLibraryURL().path(), root.library() + "/links.library");

    Url project = TDDirectoryPath::projectDirectoryURL("My #1 Project?");
    EXPECT_EQ(project.path(), root.library() + "/My #1 Project?");
    QStringList base = TDDirectoryPath::documentsDirectoryURL().pathComponents();
    EXPECT_EQ(TDDirectoryPath::noteTextFileURL(project, "Ideas").pathComponents().sliced(base.size()),
        (QStringList { "Tindrel.folder", "My #1 Project?", "notes", "Ideas", "Ideas.txt" }));
    EXPECT_EQ(
        TDDirectoryPath::noteTextFileURL(project, "Ideas").path(), project.path() + "/notes/Ideas/Ideas.txt");
    EXPECT_EQ(TDDirectoryPath::noteLinksDirectoryURL(project, "Ideas").path(),
        project.path() + "/notes/Ideas/links");
    EXPECT_EQ(TDDirectoryPath::weblocFileURL(project, "Ideas", "L").pathComponents().sliced(base.size() + 4),
        (QStringList { "links", "L.webloc" }));
    EXPECT_EQ(TDDirectoryPath::coverImageFileURL(project, "abc").lastPathComponent(), "abc-cover-image.jpeg");

    auto id = *platform::Uuid::fromString(u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    Url media = TDDirectoryPath::mediaFileURL(project, id, "photo one.png");
    EXPECT_EQ(media.path(), project.path() + "/images/0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0/photo one.png");
    EXPECT_EQ(TDDirectoryPath::mediaThumbnailURL(project, id).deletingLastPathComponent(),
        media.deletingLastPathComponent());
    EXPECT_EQ(TDDirectoryPath::mediaThumbnailURL(project, id).lastPathComponent(), "thumbnail.jpg");
}

TEST(TDDirectoryPath, HostileNamesCreateAndDeleteNothingOutsideTheLibrary)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    root.write("projects.library", "[]");
    QDir().mkpath(root.library() + "/Real/notes");
    QFile canary(root.documents() + "/canary.txt");
    ASSERT_TRUE(canary.open(QIODevice::WriteOnly));
    canary.write("do not touch");
    canary.close();
    auto before = root.snapshot();

    const QString hostile[] = {
        "",
        " ",
        ".",
        "..",
        "a/b",
        "../..",
        "/",
        "x/../..",
        QString("a") + QChar(0) + "b",
        QString(300, 'x'),
        QString(130, QChar(0x00e9)),
    };
    Url real = TDDirectoryPath::projectDirectoryURL("Real");
    for (const QString& name : hostile) {
        SCOPED_TRACE(name.left(20).toStdString());
        EXPECT_TRUE(TDDirectoryPath::nameProblem(name));
        EXPECT_TRUE(TDProjectStore::newProjectNameProblem(name));
        EXPECT_FALSE(TDProjectStore::createProjectDirectory(name));
        if (name.toUtf8().size() <= TDDirectoryPath::maximumNameBytes && !name.trimmed().isEmpty()) {
            EXPECT_FALSE(TDDirectoryPath::projectDirectoryURL(name).isValid());
            EXPECT_FALSE(TDDirectoryPath::noteDirectoryURL(real, name).isValid());
            EXPECT_FALSE(TDDirectoryPath::noteTextFileURL(real, name).isValid());
            EXPECT_FALSE(TDDirectoryPath::weblocFileURL(real, "n", name).isValid());
            EXPECT_FALSE(TDDirectoryPath::coverImageFileURL(real, name).isValid());
        }
        EXPECT_FALSE(TDDirectoryPath::removeItemInsideLibrary(TDDirectoryPath::projectDirectoryURL(name)));
        EXPECT_FALSE(TDDirectoryPath::removeItemInsideLibrary(TDDirectoryPath::noteDirectoryURL(real, name)));
    }
    EXPECT_EQ(root.snapshot(), before);

    EXPECT_FALSE(TDDirectoryPath::removeItemInsideLibrary(TDDirectoryPath::libraryFolderURL()));
    EXPECT_FALSE(TDDirectoryPath::removeItemInsideLibrary(Url::fileUrl(root.documents())));
    EXPECT_FALSE(TDDirectoryPath::removeItemInsideLibrary(Url::fileUrl(root.library() + "/../canary.txt")));
    ASSERT_EQ(
        ::symlink(root.documents().toUtf8().constData(), (root.library() + "/escape").toUtf8().constData()),
        0);
    EXPECT_FALSE(
        TDDirectoryPath::removeItemInsideLibrary(Url::fileUrl(root.library() + "/escape/canary.txt")));
    EXPECT_TRUE(QFile::exists(root.documents() + "/canary.txt"));
    EXPECT_TRUE(TDDirectoryPath::removeItemInsideLibrary(Url::fileUrl(root.library() + "/escape")));
    EXPECT_TRUE(QFile::exists(root.documents() + "/canary.txt")) << "the link goes, not what it points at";
    EXPECT_TRUE(TDDirectoryPath::removeItemInsideLibrary(real));
    EXPECT_FALSE(QFile::exists(real.path()));
}

TEST(TDDirectoryPath, OutsideNamesAreMadeSafe)
{
    struct Case {
        QString input;
        QString expected;
    };
    const Case cases[] = {
        { "A page / title", "A page - title" },
        { "  padded  ", "padded" },
        { "", "Untitled" },
        { ".", "Untitled" },
        { " .. ", "Untitled" },
        { QString("tab\there") + QChar(0) + "nul\n", "tab-here-nul-" },
        // Shown as "photoexe.png" in a file manager if the override stayed.
        { u"photo\u202Egnp.exe"_qs, "photo-gnp.exe" },
        { u"\u202A\u202B\u202C\u202D\u2066\u2067\u2068\u2069\u200E\u200Fx"_qs, "----------x" },
        { u"\u05E9\u05DC\u05D5\u05DD.png"_qs, u"\u05E9\u05DC\u05D5\u05DD.png"_qs },
    };
    for (const Case& c : cases)
        EXPECT_EQ(TDDirectoryPath::safeName(c.input), c.expected) << c.input.toStdString();
    QString longName = QString(150, QChar(0x00e9));
    QString safe = TDDirectoryPath::safeName(longName);
    EXPECT_EQ(safe.toUtf8().size(), 200);
    EXPECT_FALSE(TDDirectoryPath::nameProblem(safe));
    QString emoji = QString("a") + QString::fromUtf8("\U0001F600").repeated(60);
    EXPECT_FALSE(TDDirectoryPath::safeName(emoji).back().isHighSurrogate()) << "cut on a character boundary";
    EXPECT_EQ(
        TDDirectoryPath::safeName(u"a\u202Eb"_qs, TDDirectoryPath::DirectionControls::keep), u"a\u202Eb"_qs);
}

TEST(TDDirectoryPath, ProjectFolderCreationRefusesAnExistingFolder)
{
    LibraryRoot root;
    EXPECT_FALSE(TDProjectStore::createProjectDirectory("P")) << "no library folder, no parents made";
    EXPECT_FALSE(QFile::exists(root.library()));
    root.makeLibraryFolder();
    EXPECT_FALSE(TDProjectStore::newProjectNameProblem("P"));
    EXPECT_TRUE(TDProjectStore::createProjectDirectory("P"));
    root.write("P/keep.txt", "mine");
    auto problem = TDProjectStore::newProjectNameProblem("P");
    ASSERT_TRUE(problem);
    EXPECT_FALSE(problem->title.isEmpty());
    EXPECT_FALSE(TDProjectStore::createProjectDirectory("P"));
    EXPECT_EQ(root.read("P/keep.txt"), QByteArray("mine"));
}

// A memory card refuses names with : * ? " < > | \ with a bare "Invalid argument" (or, through some
// drivers, "Operation not permitted"): the user is told which name and why; other failures, and
// refusals of names without such characters, stay as the system words them.
TEST(TDDirectoryPath, ANameTheDiskRefusesIsExplained)
{
    auto explained = [](int code, const QString& name) {
        return TDDirectoryPath::explainedNameRefusal(
            platform::PlatformError::fromErrno(code, "/lib/" + name), name)
            .description;
    };
    for (const QString name : { "Ideas: 2026", "What?", "a|b", "back\\slash" }) {
        EXPECT_TRUE(explained(EINVAL, name).contains("does not accept some of the characters in \"" + name))
            << name.toStdString();
        EXPECT_TRUE(explained(EPERM, name).startsWith("/lib/" + name + ": "));
    }
    EXPECT_EQ(explained(EINVAL, "Plain"), "/lib/Plain: " + QString::fromLocal8Bit(std::strerror(EINVAL)));
    EXPECT_FALSE(explained(ENOSPC, "Ideas: 2026").contains("does not accept"));
}

TEST(TDDirectoryPath, PreparingTheLibraryFolderCreatesItOnceEvenWithoutAnIcon)
{
    QTemporaryDir noResources;
    LibraryRoot root(noResources.path());
    EXPECT_FALSE(loadFolderIcon());
    CapturedStream out(stdout);
    TDProjectStore::prepareLibraryFolder();
    EXPECT_TRUE(QFileInfo(root.library()).isDir());
    root.write("projects.library", "[]");
    TDProjectStore::prepareLibraryFolder();
    EXPECT_EQ(root.libraryEntries(), QStringList { "projects.library" });
    EXPECT_EQ(out.take(), QByteArray());
}

TEST(TDDirectoryPath, AFileInTheWayOfTheLibraryFolderIsReported)
{
    LibraryRoot root;
    QFile blocker(root.library());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CapturedStream err(stderr);
    TDProjectStore::prepareLibraryFolder();
    EXPECT_TRUE(err.take().contains("not a folder"));
    EXPECT_TRUE(QFileInfo(root.library()).isFile());
}

TEST(TDDirectoryPath, TheFolderIconResourceLoadsFromTheApplicationLibrary)
{
    LibraryRoot root;
    auto icon = loadFolderIcon();
    ASSERT_TRUE(icon);
    EXPECT_GE(icon->width(), 128);
    EXPECT_EQ(icon->width(), icon->height());
}
