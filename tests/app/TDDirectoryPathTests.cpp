#include "LibraryTestSupport.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDFolderIcon.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectStore.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#include <functional>
#include <thread>

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

namespace {

// Runs `work` on a thread of its own where making a folder fails with EINVAL, as on a FAT or exFAT
// disk for a name with a character it refuses. False when the filter cannot be installed.
bool whereFoldersAreRefused(const std::function<void()>& work)
{
    bool installed = false;
    std::thread thread([&] {
        const sock_filter program[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_mkdirat, 1, 0),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_mkdir, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog filter { static_cast<unsigned short>(std::size(program)),
            const_cast<sock_filter*>(program) };
        installed = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
        if (installed)
            work();
    });
    thread.join();
    return installed;
}

} // namespace

// A memory card refuses names with : * ? " < > | \ with a bare "Invalid argument": the user is told
// which name and why; a refusal of a name without such characters is left as the system says it.
TEST(TDDirectoryPath, ANameTheDiskRefusesIsExplained)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    QDir().mkpath(root.library() + "/Trip/notes");
    std::vector<QString> messages;
    const bool filtered = whereFoldersAreRefused([&] {
        for (const QString name : { "Ideas: 2026", "Plain" }) {
            auto project = TDProjectStore::createProjectDirectory(name);
            auto note
                = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL("Trip"), name + "?");
            messages.push_back(project ? QString() : project.error().description);
            messages.push_back(note ? QString() : note.error().description);
        }
    });
    if (!filtered)
        GTEST_SKIP() << "no system-call filter here";
    ASSERT_EQ(messages.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(messages[i].toStdString());
        EXPECT_TRUE(messages[i].contains("Invalid argument"));
        EXPECT_EQ(messages[i].contains("does not accept some of the characters"), i != 2);
    }
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
