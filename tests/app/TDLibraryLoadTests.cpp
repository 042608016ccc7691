#include "FileSizeLimit.h"
#include "LibraryTestSupport.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryLoader.h"
#include "app/store/TDLibraryLock.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

using apptest::CapturedStream;
using apptest::LibraryRoot;
using apptest::makeProject;
using platform::Uuid;

namespace {

struct Stores {
    std::shared_ptr<TDProjectStore> projects = std::make_shared<TDProjectStore>();
    std::shared_ptr<TDMediaStore> media = std::make_shared<TDMediaStore>();
    std::shared_ptr<TDLinkStore> links = std::make_shared<TDLinkStore>();

    void load()
    {
        bool done = false;
        loadLibraryFiles(projects, media, links, [&] { done = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    }

    // Loads, and answers the problems the load reported.
    std::vector<TDLibraryLoadProblem> loadProblems()
    {
        std::vector<TDLibraryLoadProblem> problems;
        bool done = false;
        loadLibraryFiles(projects, media, links,
            [&](std::vector<TDLibraryLoadProblem> found) { problems = std::move(found), done = true; });
        EXPECT_TRUE(testsupport::waitUntil([&] { return done; }));
        return problems;
    }
};

QByteArray projectsBytes(int count)
{
    std::vector<std::shared_ptr<TDProject>> projects;
    for (int i = 0; i < count; ++i)
        projects.push_back(makeProject(QStringLiteral("Project %1").arg(i), 2));
    return tdlibrary::encodeProjects(projects).value();
}

QByteArray mediaBytes(int count)
{
    std::vector<std::shared_ptr<TDMedia>> media;
    for (int i = 0; i < count; ++i)
        media.push_back(
            TDMedia::make(Uuid::random(), apptest::fileUrl("/m.png"), apptest::fileUrl("/t.jpg"), {}));
    return tdlibrary::encodeMedia(media).value();
}

QByteArray linksBytes(int count)
{
    std::vector<TDLink> links;
    for (int i = 0; i < count; ++i)
        links.push_back(TDLink { "t", {}, "https://example.com", Uuid::random(), Uuid::random() });
    return tdlibrary::encodeLinks(links).value();
}

QStringList damagedCopies(const LibraryRoot& root, const QString& name)
{
    return root.libraryEntries().filter(
        QRegularExpression("^" + QRegularExpression::escape(name) + R"(\.damaged-\d{8}T\d{6}Z$)"));
}

} // namespace

TEST(TDLibraryLoad, FirstLaunchLoadsNothingPrintsNothingCreatesNothing)
{
    LibraryRoot root;
    auto before = root.snapshot();
    Stores stores;
    CapturedStream out(stdout);
    stores.load();
    EXPECT_EQ(out.take(), QByteArray());
    EXPECT_TRUE(stores.projects->tdProjects().empty());
    EXPECT_TRUE(stores.media->tdMedia().empty());
    EXPECT_TRUE(stores.links->tdLinks().empty());
    EXPECT_EQ(root.snapshot(), before);
}

TEST(TDLibraryLoad, MissingMediaPrintsOnceAndTheLinksStillLoad)
{
    LibraryRoot root;
    root.write("projects.library", projectsBytes(3));
    root.write("links.library", linksBytes(2));
    auto before = root.snapshot();
    Stores stores;
    CapturedStream out(stdout);
    stores.load();
    EXPECT_EQ(out.take(), QByteArray("there is no media\n"));
    EXPECT_EQ(stores.projects->tdProjects().size(), 3u);
    EXPECT_EQ(stores.projects->tdProjects()[1]->name(), "Project 1");
    EXPECT_TRUE(stores.media->tdMedia().empty());
    EXPECT_EQ(stores.links->tdLinks().size(), 2u);
    EXPECT_EQ(root.snapshot(), before);
}

TEST(TDLibraryLoad, AllFilesPresentLoadSilently)
{
    LibraryRoot root;
    root.write("projects.library", projectsBytes(2));
    root.write("media.library", mediaBytes(4));
    root.write("links.library", "[]");
    Stores stores;
    stores.links->setTdLinks({ TDLink {} });
    CapturedStream out(stdout);
    stores.load();
    EXPECT_EQ(out.take(), QByteArray());
    EXPECT_EQ(stores.media->tdMedia().size(), 4u);
    EXPECT_TRUE(stores.links->tdLinks().empty());
}

TEST(TDLibraryLoad, ABadProjectLoadsNothingAndEveryUnreadFileIsKeptBeforeItsFirstSave)
{
    LibraryRoot root;
    QByteArray projects = projectsBytes(2).replace("\"Archived\"", "\"archived\"");
    root.write("projects.library", projects);
    root.write("media.library", mediaBytes(1));
    QByteArray links = linksBytes(1);
    root.write("links.library", links);
    Stores stores;
    CapturedStream out(stdout);
    stores.load();
    EXPECT_EQ(out.take(), QByteArray());
    EXPECT_TRUE(stores.projects->tdProjects().empty());
    EXPECT_TRUE(stores.media->tdMedia().empty());
    EXPECT_TRUE(stores.links->tdLinks().empty());

    CapturedStream err(stderr);
    int saved = 0;
    stores.projects->save({ makeProject("New") }, [&](auto result) { saved += result.isSuccess(); });
    stores.links->save({}, [&](auto result) { saved += result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved == 2; }));
    stores.projects->save({ makeProject("Newer") }, [&](auto result) { saved += result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved == 3; }));
    QByteArray errors = err.take();

    QStringList keptProjects = damagedCopies(root, "projects.library");
    ASSERT_EQ(keptProjects.size(), 1) << "kept once, before the first overwrite only";
    EXPECT_EQ(root.read(keptProjects[0]), projects);
    QStringList keptLinks = damagedCopies(root, "links.library");
    ASSERT_EQ(keptLinks.size(), 1);
    EXPECT_EQ(root.read(keptLinks[0]), links);
    EXPECT_TRUE(damagedCopies(root, "media.library").isEmpty()) << "not saved, so not touched";
    EXPECT_TRUE(errors.contains(keptProjects[0].toUtf8()));
    EXPECT_EQ(tdlibrary::decodeProjects(root.read("projects.library")).value()[0]->name(), "Newer");
}

TEST(TDLibraryLoad, TruncatedAndUnreadableFilesAreKeptToo)
{
    LibraryRoot root;
    root.write("projects.library", projectsBytes(1));
    QByteArray truncated = mediaBytes(3).left(40);
    root.write("media.library", truncated);
    QDir().mkpath(root.file("links.library"));
    Stores stores;
    CapturedStream out(stdout);
    stores.load();
    EXPECT_EQ(out.take(), QByteArray("there is no media\n"));
    EXPECT_EQ(stores.projects->tdProjects().size(), 1u);

    bool done = false;
    stores.media->save({}, [&](auto result) { done = result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    QStringList kept = damagedCopies(root, "media.library");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(root.read(kept[0]), truncated);
    EXPECT_EQ(root.read("media.library"), QByteArray("[]"));
}

// A large file is read in pieces on several threads; one bad record still loads nothing, and the
// file is kept before its first save.
TEST(TDLibraryLoad, ALargeFileWithOneBadRecordIsKeptLikeASmallOne)
{
    LibraryRoot root;
    QByteArray projects = projectsBytes(600);
    ASSERT_GT(projects.size(), 256 * 1024);
    const qsizetype late = projects.indexOf("\"Archived\"", projects.size() * 2 / 3);
    projects.replace(late, 10, "\"Paused\"");
    root.write("projects.library", projects);
    Stores stores;
    stores.load();
    EXPECT_TRUE(stores.projects->tdProjects().empty());

    bool done = false;
    stores.projects->save({ makeProject("New") }, [&](auto result) { done = result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    const QStringList kept = damagedCopies(root, "projects.library");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(root.read(kept[0]), projects);
}

TEST(TDLibraryLoad, NoSaveWritesAFileBeforeItsLoadHasFinished)
{
    LibraryRoot root;
    QByteArray original = projectsBytes(5);
    root.write("projects.library", original);
    root.write("media.library", mediaBytes(1));
    root.write("links.library", linksBytes(1));
    Stores stores;
    bool loaded = false;
    std::optional<std::size_t> loadedCount;
    loadLibraryFiles(stores.projects, stores.media, stores.links, [&] { loaded = true; });
    // Asked for before the load has even read the file (this thread has not returned to its loop).
    bool saved = false;
    stores.projects->save({ makeProject("Only") }, [&](auto result) { saved = result.isSuccess(); });
    stores.media->save({}, {});
    ASSERT_TRUE(testsupport::waitUntil([&] {
        if (!loadedCount && !stores.projects->tdProjects().empty())
            loadedCount = stores.projects->tdProjects().size();
        return loaded && saved;
    }));
    EXPECT_EQ(loadedCount, 5u) << "the load read the file as it was before the save";
    EXPECT_EQ(tdlibrary::decodeProjects(root.read("projects.library")).value().size(), 1u);
    EXPECT_TRUE(damagedCopies(root, "projects.library").isEmpty()) << "a loaded file needs no copy";
}

// The screens tell the user which file did not load and why; a file that is simply missing (a first
// launch) is no problem.
TEST(TDLibraryLoad, FilesThatArePresentButDoNotLoadAreReportedWithTheirReason)
{
    LibraryRoot root;
    Stores stores;
    std::vector<TDLibraryLoadProblem> problems;
    auto load = [&] {
        bool done = false;
        loadLibraryFiles(stores.projects, stores.media, stores.links,
            [&](std::vector<TDLibraryLoadProblem> found) { problems = std::move(found), done = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    };
    root.write("projects.library", projectsBytes(1));
    root.write("media.library", mediaBytes(3).left(40));
    root.write("links.library", "{\"not\":\"a list\"}");
    CapturedStream err(stderr);
    load();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].fileName, "media.library");
    EXPECT_EQ(problems[1].fileName, "links.library");
    EXPECT_TRUE(problems[1].read && !problems[1].reason.isEmpty());
    EXPECT_TRUE(err.take().contains("links.library"));

    // A damaged projects file stops the load: the other two are named as not read.
    root.write("projects.library", projectsBytes(2).left(100));
    load();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_TRUE(problems[0].read);
    EXPECT_FALSE(problems[1].read || problems[2].read);
}

// A library copied in part, its projects file left behind: the images and links beside it are not
// shown, and the user is told so rather than shown what looks like a new, empty library.
TEST(TDLibraryLoad, AMissingProjectsFileBesideTheOtherFilesIsReported)
{
    LibraryRoot root;
    root.write("media.library", mediaBytes(2));
    root.write("links.library", linksBytes(1));
    Stores stores;
    const std::vector<TDLibraryLoadProblem> problems = stores.loadProblems();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].fileName, "projects.library");
    EXPECT_TRUE(problems[0].read && !problems[0].reason.isEmpty());
    EXPECT_FALSE(problems[1].read || problems[2].read) << "media and links are named as not read";
}

// A library folder that is a link to another disk, started while that disk is not connected, is
// not an empty library: it is reported, and once the disk is back its files are kept before any
// save replaces them.
TEST(TDLibraryLoad, ALibraryOnADiskNotConnectedIsReportedAndItsFilesAreKept)
{
    LibraryRoot root;
    const QString disk = root.root() + "/stick/Tindrel.folder";
    QDir().mkpath(root.documents());
    ASSERT_TRUE(QFile::link(disk, root.library()));
    Stores stores;
    CapturedStream err(stderr);
    const std::vector<TDLibraryLoadProblem> problems = stores.loadProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].fileName, "projects.library");
    EXPECT_TRUE(problems[0].reason.contains(disk)) << problems[0].reason.toStdString();

    // The disk is connected again; the first save keeps the file that is there.
    QDir().mkpath(disk);
    root.write("projects.library", projectsBytes(3));
    bool saved = false;
    stores.projects->save({}, [&](auto result) { saved = result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved; }));
    const QStringList kept = damagedCopies(root, "projects.library");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(tdlibrary::decodeProjects(root.read(kept[0])).value().size(), 3u);
}

// Another program (a sync client, a hand edit) may change a library file while Tindrel runs: its
// version is kept beside the file before Tindrel's list replaces it, and only then.
TEST(TDLibraryLoad, AFileChangedElsewhereSinceItWasReadIsKeptBeforeItIsReplaced)
{
    LibraryRoot root;
    root.write("projects.library", projectsBytes(2));
    Stores stores;
    stores.load();
    ASSERT_EQ(stores.projects->tdProjects().size(), 2u);
    auto save = [&](auto& store, auto list) {
        bool saved = false;
        store->save(list, [&](auto result) { saved = result.isSuccess(); });
        EXPECT_TRUE(testsupport::waitUntil([&] { return saved; }));
    };
    auto changedCopies = [&](const QString& name) {
        return root.libraryEntries().filter(QRegularExpression(
            "^" + QRegularExpression::escape(name) + R"(\.changed-elsewhere-\d{8}T\d{6}Z(-\d+)?$)"));
    };
    save(stores.projects, stores.projects->tdProjects());
    save(stores.projects, stores.projects->tdProjects());
    EXPECT_TRUE(changedCopies("projects.library").isEmpty()) << "only Tindrel wrote it";

    // Written again with the same content, as a sync client may do: nothing to keep either.
    const QByteArray same = root.read("projects.library");
    QFile::remove(root.file("projects.library"));
    root.write("projects.library", same);
    save(stores.projects, stores.projects->tdProjects());
    EXPECT_TRUE(changedCopies("projects.library").isEmpty());

    const QByteArray theirs = projectsBytes(5);
    root.write("projects.library", theirs);
    CapturedStream err(stderr);
    save(stores.projects, stores.projects->tdProjects());
    QStringList kept = changedCopies("projects.library");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(root.read(kept[0]), theirs);
    EXPECT_EQ(tdlibrary::decodeProjects(root.read("projects.library")).value().size(), 2u);
    EXPECT_TRUE(err.take().contains(kept[0].toUtf8()));
    save(stores.projects, stores.projects->tdProjects());
    EXPECT_EQ(changedCopies("projects.library").size(), 1) << "Tindrel's own file needs no copy";

    // A file kept elsewhere behind a symbolic link stays there: the copy is made beside the link.
    const QString target = root.root() + "/synced-media.library";
    QFile synced(target);
    ASSERT_TRUE(synced.open(QIODevice::WriteOnly));
    synced.write("[]");
    synced.close();
    ASSERT_TRUE(QFile::link(target, root.file("media.library")));
    save(stores.media, tdlibrary::MediaList {});
    ASSERT_TRUE(synced.open(QIODevice::WriteOnly));
    synced.write(mediaBytes(2));
    synced.close();
    save(stores.media, tdlibrary::MediaList {});
    EXPECT_TRUE(QFileInfo(root.file("media.library")).isSymLink());
    kept = changedCopies("media.library");
    ASSERT_EQ(kept.size(), 2) << "the file the link brought, then the change made through it";
    EXPECT_EQ(tdlibrary::decodeMedia(root.read(kept.back())).value().size(), 2u);
    EXPECT_EQ(root.read("media.library"), "[]");
}

// A library that a later version wrote holds keys this one does not know: they are still in the
// file once this version has loaded it, moved its paths into the folder it is in and saved a change.
TEST(TDLibraryLoad, KeysALaterVersionWroteOutliveALoadAndASave)
{
    LibraryRoot root;
    QByteArray projects = projectsBytes(2);
    projects.replace("file:///notes/", "file:///home/alice/Documents/Tindrel.folder/P/notes/");
    projects.replace("\"id\":", "\"laterKey\":{\"v\":[2]},\"id\":");
    root.write("projects.library", projects);
    Stores stores;
    stores.load();
    ASSERT_EQ(stores.projects->tdProjects().size(), 2u);

    stores.projects->tdProjects()[1]->tdNote()[0]->setTitle("Renamed");
    bool saved = false;
    stores.projects->save(stores.projects->tdProjects(), [&](auto result) { saved = result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved; }));
    const QByteArray written = root.read("projects.library");
    EXPECT_TRUE(written.contains("Renamed"));
    EXPECT_TRUE(written.contains(QUrl::fromLocalFile(root.library()).toEncoded()));
    EXPECT_EQ(written.count("\"laterKey\":{\"v\":[2]}"), projects.count("\"laterKey\""));
}

// A library copied to another home (or machine, or restored to another place) names its files where
// they were. They are found in the library they were read from, and the files stay as they are.
TEST(TDLibraryLoad, ALibraryCopiedFromElsewhereFindsItsFilesWhereItNowIs)
{
    LibraryRoot root;
    const QString old = "/home/alice/Documents/Tindrel.folder", image = "/Alpha/images/1/pic é.png";
    auto project = makeProject("Alpha", 1, true);
    project->tdNote()[0]->setContentURL(apptest::fileUrl(old + "/Alpha/notes/N/N.txt"));
    project->setQuickAccessURL(
        { apptest::fileUrl(old + "/Alpha/notes"), apptest::fileUrl("/home/alice/Sketches") });
    auto outside = makeProject("Beta");
    outside->setCoverImageURL(apptest::fileUrl("/home/alice/Pictures/c.jpeg"));
    root.write("projects.library", tdlibrary::encodeProjects({ project, outside }).value());
    root.write("media.library",
        mediaBytes(1).replace(
            "file:///m.png", "file://" + old.toUtf8() + "/Alpha/images/1/pic%20%C3%A9.png"));
    const auto before = root.snapshot();
    Stores stores;
    stores.load();
    ASSERT_EQ(stores.projects->tdProjects().size(), 2u);
    const auto loaded = stores.projects->tdProjects()[0];
    EXPECT_EQ(loaded->tdNote()[0]->contentURL().path(), root.library() + "/Alpha/notes/N/N.txt");
    EXPECT_EQ(loaded->coverImageURL()->path(), root.library() + "/Alpha/c-cover-image.jpeg");
    ASSERT_EQ(loaded->quickAccessURL().size(), 2u);
    EXPECT_EQ(loaded->quickAccessURL()[0].path(), root.library() + "/Alpha/notes");
    EXPECT_EQ(loaded->quickAccessURL()[1].path(), "/home/alice/Sketches") << "chosen elsewhere";
    EXPECT_EQ(stores.projects->tdProjects()[1]->coverImageURL()->path(), "/home/alice/Pictures/c.jpeg")
        << "a file that was never in a library stays where it is";
    ASSERT_EQ(stores.media->tdMedia().size(), 1u);
    EXPECT_EQ(stores.media->tdMedia()[0]->url().path(), root.library() + image);
    EXPECT_EQ(root.snapshot(), before) << "opening writes nothing";
}

// A library folder copied from elsewhere may hold a link from a library file to any file of the
// user's ("../../.bashrc"): what does not load as a library file is never written through the link.
// The link is kept aside, still pointing there, and the library gets a file of its own.
TEST(TDLibraryLoad, ALinkOutOfTheLibraryToWhatIsNoLibraryFileIsNeverWrittenThrough)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    const QString outside = root.root() + "/.bashrc";
    QFile file(outside);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("export PATH=$HOME/bin:$PATH\n");
    file.close();
    ASSERT_TRUE(QFile::link("../../.bashrc", root.file("projects.library")));
    Stores stores;
    stores.load();
    EXPECT_TRUE(stores.projects->tdProjects().empty());

    bool saved = false;
    stores.projects->save({ makeProject("New") }, [&](auto result) { saved = result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved; }));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "export PATH=$HOME/bin:$PATH\n");
    EXPECT_FALSE(QFileInfo(root.file("projects.library")).isSymLink());
    EXPECT_EQ(tdlibrary::decodeProjects(root.read("projects.library")).value()[0]->name(), "New");
    const QStringList kept = damagedCopies(root, "projects.library");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(QFileInfo(root.file(kept[0])).symLinkTarget(), outside) << "the link is kept, as it was";
}

// A second program on one library would save its lists over the first one's: it must not get in.
TEST(TDLibraryLock, OneHolderPerLibraryUntilItLetsGo)
{
    LibraryRoot root;
    const platform::Url library = platform::Url::fileUrl(root.library());
    TDLibraryLock::Outcome outcome;
    auto first = TDLibraryLock::acquire(library, &outcome);
    ASSERT_EQ(outcome, TDLibraryLock::Outcome::acquired) << "also before the library folder exists";
    ASSERT_TRUE(first);

    EXPECT_FALSE(TDLibraryLock::acquire(library, &outcome));
    EXPECT_EQ(outcome, TDLibraryLock::Outcome::heldElsewhere);
    // The same folder reached through a symbolic link to the documents folder.
    ASSERT_TRUE(QFile::link(root.documents(), root.root() + "/Linked"));
    EXPECT_FALSE(
        TDLibraryLock::acquire(platform::Url::fileUrl(root.root() + "/Linked/Tindrel.folder"), &outcome));
    EXPECT_EQ(outcome, TDLibraryLock::Outcome::heldElsewhere);
    // A library folder that is itself a link, reached from two documents folders.
    ASSERT_TRUE(QDir().mkpath(root.root() + "/disk/Tindrel.folder") && QDir().mkpath(root.root() + "/A"));
    ASSERT_TRUE(QFile::link(root.root() + "/disk/Tindrel.folder", root.root() + "/A/Tindrel.folder"));
    auto linked = TDLibraryLock::acquire(platform::Url::fileUrl(root.root() + "/A/Tindrel.folder"), &outcome);
    EXPECT_TRUE(linked);
    EXPECT_FALSE(
        TDLibraryLock::acquire(platform::Url::fileUrl(root.root() + "/disk/Tindrel.folder"), &outcome));
    EXPECT_EQ(outcome, TDLibraryLock::Outcome::heldElsewhere);

    LibraryRoot other;
    EXPECT_TRUE(TDLibraryLock::acquire(platform::Url::fileUrl(other.library()), &outcome))
        << "another library is not held";

    first.reset();
    EXPECT_TRUE(TDLibraryLock::acquire(library, &outcome)) << "free again once the holder is gone";
    EXPECT_EQ(outcome, TDLibraryLock::Outcome::acquired);
}

// A file kept aside before a save replaces it stays the library file until the new one is whole: a
// save that fails on a full disk (or a crash before it ends) must not leave a library without it.
TEST(TDLibraryLoad, AFileKeptAsideStaysInPlaceWhenTheSaveThatReplacesItFails)
{
    LibraryRoot root;
    root.write("projects.library", projectsBytes(2));
    const QByteArray damaged = mediaBytes(2).left(60);
    root.write("media.library", damaged);
    Stores stores;
    {
        CapturedStream out(stdout);
        stores.load();
    }
    const QByteArray theirs = projectsBytes(40);
    root.write("projects.library", theirs);
    auto saveBoth = [&] {
        int ended = 0, saved = 0;
        for (auto* file : { stores.projects->libraryFile().get(), stores.media->libraryFile().get() })
            file->write(
                [list = projectsBytes(1)] {
                    return platform::Result<QByteArray, platform::PlatformError>::success(list);
                },
                [&](auto result) { ++ended, saved += bool(result); });
        EXPECT_TRUE(testsupport::waitUntil([&] { return ended == 2; }));
        return saved;
    };
    {
        apptest::FileSizeLimit full(16);
        ASSERT_EQ(saveBoth(), 0);
    }
    EXPECT_EQ(root.read("projects.library"), theirs) << "the other program's version is still there";
    EXPECT_EQ(root.read("media.library"), damaged) << "the file that did not load is still there";

    ASSERT_EQ(saveBoth(), 2);
    const QStringList kept
        = root.libraryEntries().filter(QRegularExpression(R"(^projects\.library\.changed-)"));
    ASSERT_EQ(kept.size(), 1) << "kept once, although the first save that kept it failed";
    EXPECT_EQ(root.read(kept[0]), theirs);
    ASSERT_EQ(damagedCopies(root, "media.library").size(), 1);
    EXPECT_EQ(root.read(damagedCopies(root, "media.library")[0]), damaged);
    EXPECT_TRUE(root.libraryEntries().filter(".keeping").isEmpty());

    // The new file takes the mode of the one it replaces: one its owner cannot read is moved aside.
    root.write("projects.library", "[{");
    ASSERT_TRUE(QFile::setPermissions(root.file("projects.library"), QFileDevice::Permissions {}));
    ASSERT_EQ(saveBoth(), 2);
    EXPECT_TRUE(QFileInfo(root.file("projects.library")).permission(QFileDevice::ReadOwner));
}

// The same as a library folder on a disk not connected, for a link further up: the documents folder.
TEST(TDLibraryLoad, ADocumentsFolderOnADiskNotConnectedIsReported)
{
    LibraryRoot root;
    const QString disk = root.root() + "/stick/Documents";
    ASSERT_TRUE(QDir(root.documents()).removeRecursively());
    ASSERT_TRUE(QFile::link(disk, root.documents()));
    Stores stores;
    CapturedStream err(stderr);
    const std::vector<TDLibraryLoadProblem> problems = stores.loadProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems[0].reason.contains(disk)) << problems[0].reason.toStdString();
}
