#include "../LibraryTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/ObservationRegistrar.h"

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include <sys/mount.h>

using apptest::LibraryRoot;

namespace {

// A library with the project "Alpha" (folder on disk, one note "Draft" with a link) in its stores.
struct Library {
    LibraryRoot root;
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    TDLibrary library { stores };
    std::shared_ptr<TDProject> project;
    std::shared_ptr<TDNote> note;

    Library()
    {
        root.makeLibraryFolder();
        QDir().mkpath(root.library() + "/Alpha/notes/Draft");
        QFile text(root.library() + "/Alpha/notes/Draft/Draft.txt");
        EXPECT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("words");
        text.close();
        project = apptest::makeProject("Alpha");
        note = TDNote::make(platform::Uuid::random(), project->id(), "Draft",
            apptest::fileUrl(text.fileName()), platform::Date(800000000));
        project->setTdNote({ note });
        stores.projectStore->setTdProjects({ project });
        stores.linkStore->setTdLinks(
            { TDLink { {}, {}, "https://a.example", platform::Uuid::random(), note->id() } });
    }

    // Makes every library file unwritable: a folder stands where each must go.
    void blockSaves() const
    {
        for (const char* name : { "projects.library", "media.library", "links.library" })
            QDir(root.library()).mkdir(name);
    }
    // Creates the note "Next", answering as the other operations do.
    void createNote(TDLibrary::Done done)
    {
        library.createNote(project, "Next", [done = std::move(done)](auto created) {
            done(created ? platform::Result<platform::Success, TDLibraryFailure>::success({})
                         : platform::Result<platform::Success, TDLibraryFailure>::failure(created.error()));
        });
    }
    // Creates the project `name` and waits for the answer.
    platform::Result<platform::Success, TDLibraryFailure> createProject(const QString& name)
    {
        TDProject::Fields fields;
        fields.name = name;
        fields.id = platform::Uuid::random();
        std::optional<platform::Result<platform::Success, TDLibraryFailure>> outcome;
        library.createProject(fields, [&](auto done) { outcome = done; });
        EXPECT_TRUE(testsupport::waitUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(platform::Result<platform::Success, TDLibraryFailure>::failure({}));
    }
    QString image(const QString& name, QSize size) const
    {
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        const QString path = root.root() + "/" + name;
        EXPECT_TRUE(picture.save(path));
        return path;
    }
};

QString trash()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
}

} // namespace

// Every operation answers once, on a later turn when it saves, and counts as in flight exactly until
// that answer; a failed save answers the same way.
TEST(TDLibrary, EveryOperationAnswersOnceAndIsInFlightUntilItAnswers)
{
    using Run = std::function<void(Library&, TDLibrary::Done)>;
    const std::pair<const char*, Run> operations[] = {
        { "createNote", [](Library& f, TDLibrary::Done done) { f.createNote(std::move(done)); } },
        { "deleteNote",
            [](Library& f, TDLibrary::Done done) { f.library.deleteNote(f.project, f.note, done); } },
        { "renameNote",
            [](Library& f, TDLibrary::Done done) {
                f.library.renameNote(f.project, f.note, "Final", platform::Date(900000000), done);
            } },
        { "createProject",
            [](Library& f, TDLibrary::Done done) {
                TDProject::Fields fields;
                fields.name = "Beta";
                fields.id = platform::Uuid::random();
                f.library.createProject(fields, done);
            } },
        { "editProject",
            [](Library& f, TDLibrary::Done done) {
                f.library.editProject(f.project, { "Gamma", platform::Date(5), f.project->category() }, done);
            } },
        { "deleteProject",
            [](Library& f, TDLibrary::Done done) { f.library.deleteProject(f.project, done); } },
        { "toggleFavorite",
            [](Library& f, TDLibrary::Done done) { f.library.toggleFavorite(f.project, done); } },
        { "setCoverImage",
            [](Library& f, TDLibrary::Done done) {
                f.library.setCoverImage(f.project, f.image("c.png", QSize(8, 8)), done);
            } },
        { "removeCoverImage",
            [](Library& f, TDLibrary::Done done) {
                f.library.removeCoverImage(
                    f.project, apptest::fileUrl(f.root.library() + "/Alpha/x-cover-image.jpeg"), done);
            } },
        { "addQuickAccessURL",
            [](Library& f, TDLibrary::Done done) {
                f.library.addQuickAccessURL(f.project, apptest::fileUrl(f.root.root()), done);
            } },
        { "removeQuickAccessURL",
            [](Library& f, TDLibrary::Done done) {
                f.library.removeQuickAccessURL(f.project, f.project->quickAccessURL().front(), done);
            } },
        { "addMedia",
            [](Library& f, TDLibrary::Done done) {
                f.library.addMedia({ TDMedia::make(platform::Uuid::random(), apptest::fileUrl("/i"),
                                       apptest::fileUrl("/t"), f.project->id()) },
                    done);
            } },
        { "removeMedia",
            [](Library& f, TDLibrary::Done done) { f.library.removeMedia(platform::Uuid::random(), done); } },
        { "addLink",
            [](Library& f, TDLibrary::Done done) {
                f.library.addLink(
                    { {}, {}, "https://b.example", platform::Uuid::random(), f.note->id() }, done);
            } },
        { "removeLink",
            [](Library& f, TDLibrary::Done done) { f.library.removeLink(platform::Uuid::random(), done); } },
    };
    for (bool blocked : { false, true }) {
        for (const auto& [name, run] : operations) {
            SCOPED_TRACE(std::string(name) + (blocked ? " with failing saves" : ""));
            Library f;
            if (blocked)
                f.blockSaves();
            int answers = 0;
            int inFlightWhenAnswered = -1;
            std::optional<TDLibraryFailure::Kind> failure;
            run(f, [&](auto done) {
                ++answers;
                inFlightWhenAnswered = f.library.operationsInFlight();
                if (!done)
                    failure = done.error().kind;
            });
            EXPECT_EQ(answers, 0) << "the answer waits for the save";
            EXPECT_EQ(f.library.operationsInFlight(), 1);
            ASSERT_TRUE(testsupport::waitUntil([&] { return answers > 0; }));
            QCoreApplication::processEvents();
            EXPECT_EQ(answers, 1);
            EXPECT_EQ(inFlightWhenAnswered, 0);
            EXPECT_EQ(failure, blocked ? std::optional(TDLibraryFailure::Kind::saveFailed) : std::nullopt);
        }
    }
}

TEST(TDLibrary, DeletedNotesAndProjectsGoToTheTrashAndAreDeletedWhereThereIsNone)
{
    // The test binary's trash is shared by its tests: an earlier "Alpha" there would get this one
    // another name.
    QDir(trash()).removeRecursively();
    {
        Library f;
        bool done = false;
        f.library.deleteNote(f.project, f.note, [&](auto deleted) { done = bool(deleted); });
        ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
        EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha/notes/Draft"));
        QFile kept(trash() + "/files/Draft/Draft.txt");
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << "the note can be restored";
        EXPECT_EQ(kept.readAll(), "words");
        EXPECT_TRUE(QFile(trash() + "/info/Draft.trashinfo").exists());

        done = false;
        f.library.deleteProject(f.project, [&](auto deleted) { done = bool(deleted); });
        ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
        EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha"));
        EXPECT_TRUE(QFileInfo(trash() + "/files/Alpha/notes").isDir());
        EXPECT_EQ(
            f.root.libraryEntries(), (QStringList { "links.library", "media.library", "projects.library" }));
    }
    {
        // No trash can be made under a plain file: the project's folder is deleted as before.
        Library f;
        QFile blocker(f.root.root() + "/data");
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("XDG_DATA_HOME", blocker.fileName().toUtf8());
        bool done = false;
        f.library.deleteProject(f.project, [&](auto deleted) { done = bool(deleted); });
        ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
        qunsetenv("XDG_DATA_HOME");
        EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha"));
        EXPECT_FALSE(QFileInfo::exists("files/Alpha")) << "nothing lands in the working folder";
    }
}

// A trash that is there but cannot take the folder now (its disk full) is a failure: the folder stays,
// never deleted for good for a passing fault.
TEST(TDLibrary, AFolderTheTrashCannotTakeNowStaysWhereItWas)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    const QByteArray library = QFile::encodeName(root.library());
    if (::mount("tmpfs", library.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "needs a small disk of its own";
    const QString draft = root.library() + "/Alpha/notes/Draft/Draft.txt";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(draft).path()));
    QFile text(draft);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("words");
    text.close();
    QFile filler(root.library() + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) { }
    filler.close();

    const auto trashed = TDDirectoryPath::trashItemInsideLibrary(platform::Url::fileUrl(root.library() + "/Alpha"));
    EXPECT_FALSE(trashed);
    QFile kept(draft);
    EXPECT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "words");
    ::umount2(library.constData(), MNT_DETACH);
}

// A project of many notes leaves the link list in one write, not one per note (each copied the
// whole list: seconds for a project of thousands of notes); the other project's link stays.
TEST(TDLibrary, DeletingAProjectOfManyNotesWritesTheLinksOnce)
{
    Library f;
    auto big = apptest::makeProject("Big");
    std::vector<std::shared_ptr<TDNote>> notes;
    std::vector<TDLink> links = f.stores.linkStore->tdLinks();
    for (int i = 0; i < 50; ++i) {
        notes.push_back(TDNote::make(platform::Uuid::random(), big->id(), QString("N%1").arg(i),
            apptest::fileUrl("/n"), platform::Date(800000000)));
        links.push_back(TDLink { {}, {}, "https://a.example", platform::Uuid::random(), notes.back()->id() });
    }
    big->setTdNote(notes);
    f.stores.projectStore->setTdProjects({ f.project, big });
    f.stores.linkStore->setTdLinks(links);

    int writes = 0;
    platform::ObservationTracking tracking;
    std::function<void()> watch = [&] {
        tracking = platform::withObservationTracking([&] { f.stores.linkStore->tdLinks(); },
            [&] {
                ++writes;
                watch();
            });
    };
    watch();
    bool done = false;
    f.library.deleteProject(big, [&](auto deleted) { done = bool(deleted); });
    tracking.cancel();
    EXPECT_EQ(writes, 1);
    ASSERT_EQ(f.stores.linkStore->tdLinks().size(), 1u);
    EXPECT_EQ(f.stores.linkStore->tdLinks().front().tdNoteId, f.note->id());
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
}

// A hand-edited library may list one note id in two projects: deleting the note from one leaves the
// other's links, as deleting the whole project does.
TEST(TDLibrary, DeletingANoteWhoseIdAnotherProjectListsKeepsItsLinks)
{
    Library f;
    auto beta = apptest::makeProject("Beta");
    beta->setTdNote(
        { TDNote::make(f.note->id(), beta->id(), "Copy", apptest::fileUrl("/n"), platform::Date(8e8)) });
    f.stores.projectStore->setTdProjects({ f.project, beta });
    bool done = false;
    f.library.deleteNote(f.project, f.note, [&](auto deleted) { done = bool(deleted); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    EXPECT_TRUE(f.project->tdNote().empty());
    ASSERT_EQ(f.stores.linkStore->tdLinks().size(), 1u) << "Beta's note keeps its link";
    EXPECT_EQ(f.stores.linkStore->tdLinks().front().tdNoteId, f.note->id());

    done = false;
    f.library.deleteNote(beta, beta->tdNote().front(), [&](auto deleted) { done = bool(deleted); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    EXPECT_TRUE(f.stores.linkStore->tdLinks().empty()) << "the last note of that id takes its links along";
}

TEST(TDLibrary, MediaAndLinksChangeTheirRecordsAndSaveTheirFileOnce)
{
    Library f;
    auto image = TDMedia::make(platform::Uuid::random(),
        apptest::fileUrl(f.root.library() + "/Alpha/images/i/i.png"),
        apptest::fileUrl(f.root.library() + "/Alpha/images/i/thumbnail.jpg"), f.project->id());
    const int mediaSaves = f.stores.mediaStore->libraryFile()->writesRequested();
    int answers = 0;
    f.library.addMedia({ image }, [&](auto done) { answers += bool(done); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 1; }));
    EXPECT_EQ(f.stores.mediaStore->libraryFile()->writesRequested(), mediaSaves + 1);
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("media.library")).array().size(), 1);
    f.library.removeMedia(image->id(), [&](auto done) { answers += bool(done); });
    EXPECT_TRUE(f.stores.mediaStore->tdMedia().empty());
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 2; }));
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("media.library")).array().size(), 0);

    TDLink link { QString("Page"), {}, "https://b.example", platform::Uuid::random(), f.note->id() };
    f.library.addLink(link, [&](auto done) { answers += bool(done); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 3; }));
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("links.library")).array().size(), 2);
    f.library.removeLink(link.id, [&](auto done) { answers += bool(done); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 4; }));
    EXPECT_EQ(f.stores.linkStore->tdLinks().size(), 1u);
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("links.library")).array().size(), 1);
}

TEST(TDLibrary, ACoverKeepsThePicturesSizeAndOneWhoseFileIsGoneIsReportedAndCleared)
{
    Library f;
    bool done = false;
    f.library.setCoverImage(
        f.project, f.image("wide.png", QSize(5000, 12)), [&](auto set) { done = bool(set); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    ASSERT_TRUE(f.project->coverImageURL());
    QImageReader cover(f.project->coverImageURL()->path());
    EXPECT_EQ(cover.format(), "jpeg");
    EXPECT_EQ(cover.size(), QSize(5000, 12));

    QFile::remove(f.project->coverImageURL()->path());
    apptest::CapturedStream out(stdout);
    done = false;
    f.library.removeCoverImage(
        f.project, *f.project->coverImageURL(), [&](auto removed) { done = bool(removed); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    EXPECT_TRUE(out.take().contains("An error occurred: "));
    EXPECT_FALSE(f.project->coverImageURL());
}

// The picture is read, decoded and encoded away from the main thread, so the call returns before
// the cover changes; whatever the user does meanwhile, the last choice wins and no cover file is
// left that the library does not name.
TEST(TDLibrary, ACoverOnItsWayGivesWayToWhatTheUserDidMeanwhile)
{
    auto coverFiles = [](const QString& folder) {
        return QDir(folder).entryList({ "*-cover-image.jpeg" }, QDir::Files | QDir::Hidden);
    };
    auto coverSize = [](const TDProject& project) {
        return project.coverImageURL() ? QImageReader(project.coverImageURL()->path()).size() : QSize();
    };
    int answers = 0, failures = 0;
    auto count = [&](auto done) {
        ++answers;
        failures += !done;
    };

    {
        // Two choices in a row, and the program quitting before either is done.
        Library f;
        f.library.setCoverImage(f.project, f.image("a.png", QSize(30, 20)), count);
        f.library.setCoverImage(f.project, f.image("b.png", QSize(40, 10)), count);
        EXPECT_FALSE(f.project->coverImageURL()) << "the cover changes once it is made";
        ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(10)));
        EXPECT_EQ(answers, 2);
        EXPECT_EQ(coverSize(*f.project), QSize(40, 10));
        EXPECT_EQ(coverFiles(f.root.library() + "/Alpha").size(), 1);
        EXPECT_TRUE(f.root.read("projects.library")
                        .contains(f.project->coverImageURL()->lastPathComponent().toUtf8()));

        // The cover removed while another is on its way: the removal is the last choice.
        f.library.setCoverImage(f.project, f.image("c.png", QSize(8, 8)), count);
        f.library.removeCoverImage(f.project, *f.project->coverImageURL(), count);
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.library.operationsInFlight() == 0; }));
        EXPECT_FALSE(f.project->coverImageURL());
        EXPECT_TRUE(coverFiles(f.root.library() + "/Alpha").isEmpty());
        EXPECT_EQ(answers, 4);
    }
    {
        // The project renamed meanwhile: the cover is in the folder the project has now.
        Library f;
        f.library.setCoverImage(f.project, f.image("a.png", QSize(30, 20)), count);
        f.library.editProject(f.project, { "Renamed", f.project->startDate(), f.project->category() }, count);
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.library.operationsInFlight() == 0; }));
        ASSERT_TRUE(f.project->coverImageURL());
        EXPECT_EQ(
            f.project->coverImageURL()->deletingLastPathComponent().path(), f.root.library() + "/Renamed");
        EXPECT_EQ(coverSize(*f.project), QSize(30, 20));
        EXPECT_EQ(coverFiles(f.root.library() + "/Renamed").size(), 1);
        EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha")) << "the old folder is not made again";
    }
    {
        // The project deleted meanwhile: nothing of the cover stays in the library.
        Library f;
        f.library.setCoverImage(f.project, f.image("a.png", QSize(30, 20)), count);
        f.library.deleteProject(f.project, count);
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.library.operationsInFlight() == 0; }));
        EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha"));
        EXPECT_FALSE(f.root.read("projects.library").contains("cover"));
    }
    EXPECT_EQ(answers, 8);
    EXPECT_EQ(failures, 0);
}

// A cover replaced while the save failed: the library file still names the old one, which goes once
// a later save wrote the new one; until then both files stay.
TEST(TDLibrary, ACoverReplacedWhenItsSaveFailedLeavesTheOldFileOnlyUntilALaterSave)
{
    Library f;
    const QString folder = f.root.library() + "/Alpha";
    std::optional<bool> answer;
    f.library.setCoverImage(
        f.project, f.image("a.png", QSize(30, 20)), [&](auto set) { answer = bool(set); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return answer.has_value(); }) && *answer);
    const QString old = f.project->coverImageURL()->path();

    QFile::remove(f.root.file("projects.library"));
    f.blockSaves();
    answer.reset();
    f.library.setCoverImage(
        f.project, f.image("b.png", QSize(40, 10)), [&](auto set) { answer = bool(set); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return answer.has_value(); }));
    EXPECT_FALSE(*answer);
    EXPECT_TRUE(QFileInfo::exists(old)) << "the library file names it still";
    EXPECT_EQ(QDir(folder).entryList({ "*-cover-image.jpeg" }, QDir::Files).size(), 2);

    for (const char* name : { "projects.library", "media.library", "links.library" })
        QDir(f.root.library()).rmdir(name);
    f.library.saveProjectChange();
    f.stores.mediaStore->save(f.stores.mediaStore->tdMedia());
    f.stores.linkStore->save(f.stores.linkStore->tdLinks());
    ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(5)));
    EXPECT_EQ(QDir(folder).entryList({ "*-cover-image.jpeg" }, QDir::Files),
        QStringList { f.project->coverImageURL()->lastPathComponent() });
    EXPECT_FALSE(QFileInfo::exists(f.root.file(".unfinished-changes"))) << "struck off";
}

TEST(TDLibrary, QuickAccessEntriesAreAppendedRemovedByValueAndSaved)
{
    Library f;
    const auto a = apptest::fileUrl(f.root.root() + "/a b.txt");
    const auto b = apptest::fileUrl(f.root.root() + "/folder");
    const auto web = f.project->quickAccessURL().front();
    auto saved = [&] {
        QStringList urls;
        for (const auto& value : QJsonDocument::fromJson(f.root.read("projects.library"))
                                     .array()
                                     .first()["_quickAccessURL"]
                                     .toArray())
            urls.append(value.toString());
        return urls;
    };
    int answers = 0;
    for (const auto& url : { a, b, a })
        f.library.addQuickAccessURL(f.project, url, [&](auto done) { answers += bool(done); });
    EXPECT_EQ(f.project->quickAccessURL(), (std::vector { web, a, b, a }))
        << "appended at once, duplicates kept";
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 3; }));
    EXPECT_EQ(saved(),
        (QStringList { web.absoluteString(), a.absoluteString(), b.absoluteString(), a.absoluteString() }));

    f.library.removeQuickAccessURL(f.project, a, [&](auto done) { answers += bool(done); });
    EXPECT_EQ(f.project->quickAccessURL(), (std::vector { web, b }))
        << "every equal entry goes, the order stays";
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 4; }));
    EXPECT_EQ(saved(), (QStringList { web.absoluteString(), b.absoluteString() }));

    // An invalid URL is refused before anything changes or is saved.
    const int saves = f.stores.projectStore->libraryFile()->writesRequested();
    std::optional<TDLibraryFailure::Kind> refusal;
    f.library.addQuickAccessURL(f.project, platform::Url(), [&](auto done) {
        if (!done)
            refusal = done.error().kind;
    });
    EXPECT_EQ(refusal, TDLibraryFailure::Kind::refused);
    EXPECT_EQ(f.project->quickAccessURL().size(), 2u);
    EXPECT_EQ(f.stores.projectStore->libraryFile()->writesRequested(), saves);
}

TEST(TDLibrary, ARenameOntoAFolderOnDiskIsRefusedSilentlyAndAFailedOneIsPrintedOnce)
{
    Library f;
    QDir().mkpath(f.root.library() + "/Alpha/notes/Taken");
    apptest::CapturedStream out(stdout);
    std::optional<TDLibraryFailure> refused;
    f.library.renameNote(f.project, f.note, "Taken", platform::Date(900000000),
        [&](auto renamed) { refused = renamed.error(); });
    ASSERT_TRUE(refused) << "refused before anything changed";
    EXPECT_EQ(refused->kind, TDLibraryFailure::Kind::refused);
    EXPECT_EQ(refused->title, "The note already exists");
    EXPECT_EQ(f.library.operationsInFlight(), 0);

    f.blockSaves();
    std::optional<TDLibraryFailure> failed;
    f.library.renameNote(f.project, f.note, "Final", platform::Date(900000000),
        [&](auto renamed) { failed = renamed.error(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return failed.has_value(); }));
    EXPECT_EQ(failed->kind, TDLibraryFailure::Kind::saveFailed);
    EXPECT_EQ(f.note->title(), "Draft");
    EXPECT_TRUE(QFile::exists(f.root.library() + "/Alpha/notes/Draft/Draft.txt")) << "the files moved back";
    EXPECT_EQ(out.take().count("An error occurred: "), 1);
}

// Quick-access entries that name a renamed note's folder or a file in it, of any project, follow the
// files; a rename whose save failed moves the files back and the entries with them.
TEST(TDLibrary, QuickAccessEntriesInARenamedNotesFolderFollowIt)
{
    Library f;
    const QString notes = f.root.library() + "/Alpha/notes/";
    QDir().mkpath(notes + "Draft/links");
    const auto at = [&](const QString& rest) { return apptest::fileUrl(notes + rest); };
    const std::vector<platform::Url> before { at("Draft/Draft.txt"), at("Draft"), at("Draft/links"),
        at("Drafts/x.txt") };
    f.project->setQuickAccessURL(before);
    auto beta = apptest::makeProject("Beta");
    beta->setQuickAccessURL({ at("Draft/Draft.txt") });
    f.stores.projectStore->setTdProjects({ f.project, beta });

    std::optional<bool> renamed;
    f.library.renameNote(
        f.project, f.note, "Final", platform::Date(900000000), [&](auto done) { renamed = bool(done); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return renamed.has_value(); }));
    ASSERT_TRUE(*renamed);
    EXPECT_EQ(f.project->quickAccessURL(),
        (std::vector<platform::Url> {
            at("Final/Final.txt"), at("Final"), at("Final/links"), at("Drafts/x.txt") }));
    EXPECT_EQ(beta->quickAccessURL(), std::vector<platform::Url> { at("Final/Final.txt") });

    const auto renamedEntries = f.project->quickAccessURL();
    QFile::remove(f.root.file("projects.library"));
    f.blockSaves();
    renamed.reset();
    f.library.renameNote(
        f.project, f.note, "Later", platform::Date(900000000), [&](auto done) { renamed = bool(done); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return renamed.has_value(); }));
    EXPECT_FALSE(*renamed);
    EXPECT_EQ(f.note->title(), "Final");
    EXPECT_EQ(f.project->quickAccessURL(), renamedEntries) << "back with the files";
}

// A deletion whose save failed stays in memory, as every change does; its folder goes once later
// saves have written every library file (at the latest at quit), never before: kept for good, it
// would block its name.
TEST(TDLibrary, AFolderADeletionLeftWhenItsSaveFailedGoesOnceLaterSavesWroteTheLibrary)
{
    QDir(trash()).removeRecursively();
    Library f;
    auto unblockSaves = [&] {
        for (const char* name : { "projects.library", "media.library", "links.library" })
            QDir(f.root.library()).rmdir(name);
    };
    f.blockSaves();
    std::optional<TDLibraryFailure> failed;
    f.library.deleteNote(f.project, f.note, [&](auto deleted) { failed = deleted.error(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return failed.has_value(); }));
    EXPECT_EQ(failed->kind, TDLibraryFailure::Kind::saveFailed);
    unblockSaves();

    bool saved = false;
    f.library.toggleFavorite(f.project, [&](auto done) { saved = bool(done); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved; }));
    ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(5)));
    EXPECT_TRUE(QFileInfo::exists(f.root.library() + "/Alpha/notes/Draft/Draft.txt"))
        << "the links file still lists the note's link";
    f.stores.linkStore->save(f.stores.linkStore->tdLinks());
    ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(5)));
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha/notes/Draft"));
    EXPECT_TRUE(QFile::exists(trash() + "/files/Draft/Draft.txt"));

    // Projects and an image the same way; a project listed again by then keeps its folder.
    const platform::Uuid imageId = platform::Uuid::random();
    const QString imageFolder = f.root.library() + "/Alpha/images/" + imageId.lowercaseString();
    QDir().mkpath(imageFolder);
    f.stores.mediaStore->setTdMedia({ TDMedia::make(imageId, apptest::fileUrl(imageFolder + "/a.png"),
        apptest::fileUrl(imageFolder + "/thumbnail.jpeg"), f.project->id()) });
    auto beta = apptest::makeProject("Beta");
    auto gamma = apptest::makeProject("Gamma");
    QDir().mkpath(f.root.library() + "/Beta");
    QDir().mkpath(f.root.library() + "/Gamma");
    f.stores.projectStore->setTdProjects({ f.project, beta, gamma });
    f.blockSaves();
    int answers = 0;
    f.library.removeMedia(imageId, [&](auto) { ++answers; });
    f.library.deleteProject(beta, [&](auto) { ++answers; });
    f.library.deleteProject(gamma, [&](auto) { ++answers; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 3; }));
    unblockSaves();
    f.stores.projectStore->setTdProjects({ f.project, apptest::makeProject("Gamma") });
    f.stores.projectStore->save(f.stores.projectStore->tdProjects());
    f.stores.mediaStore->save(f.stores.mediaStore->tdMedia());
    f.stores.linkStore->save(f.stores.linkStore->tdLinks());
    ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(5)));
    EXPECT_FALSE(QFileInfo::exists(imageFolder));
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Beta"));
    EXPECT_TRUE(QFileInfo(f.root.library() + "/Gamma").isDir()) << "a project of that name is listed";
}

// Quitting stops the main loop, which would strand a chain of saves after its first step and drop
// writes still on their way: the program finishes the library's work first.
TEST(TDLibrary, WorkUnderWayWhenTheProgramQuitsIsFinishedBeforeItExits)
{
    EXPECT_TRUE(TDLibrary::finishPendingWork(std::chrono::milliseconds(0))) << "nothing under way";

    Library f;
    auto second = apptest::makeProject("Beta");
    QDir().mkpath(f.root.library() + "/Beta");
    f.stores.projectStore->setTdProjects({ f.project, second });
    bool answered = false;
    f.library.deleteProject(f.project, [&](auto) { answered = true; });
    TDLibrary::Done noAnswer;
    TDLibrary(f.stores).toggleFavorite(second, noAnswer);
    EXPECT_FALSE(TDLibrary::finishPendingWork(std::chrono::milliseconds(0)));

    ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(10)));
    EXPECT_TRUE(answered);
    EXPECT_EQ(f.library.operationsInFlight(), 0);
    EXPECT_EQ(f.root.read("links.library"), "[]");
    EXPECT_EQ(f.root.read("media.library"), "[]");
    const QJsonArray projects = QJsonDocument::fromJson(f.root.read("projects.library")).array();
    ASSERT_EQ(projects.size(), 1);
    EXPECT_EQ(projects[0]["_name"].toString(), "Beta");
    EXPECT_EQ(projects[0]["_isFavorite"].toBool(), !apptest::makeProject("x")->isFavorite());
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha"))
        << "the folder went once the saves were done";
}

// A library on a disk that was unplugged (the library folder a link to nowhere now) or moved away
// while the program runs: no note is made elsewhere, nothing is renamed only in the records (they
// would no longer find the files, still under their old names, once the library is back), and the
// user is told the library folder is missing rather than that a note of that name exists.
TEST(TDLibrary, NothingIsMadeOrRenamedWhileTheLibraryFolderIsGone)
{
    using Run = std::function<void(Library&, TDLibrary::Done)>;
    const std::pair<const char*, Run> operations[] = {
        { "createNote", [](Library& f, TDLibrary::Done done) { f.createNote(std::move(done)); } },
        { "renameNote",
            [](Library& f, TDLibrary::Done done) {
                f.library.renameNote(f.project, f.note, "Final", f.note->date(), done);
            } },
        { "renameProject",
            [](Library& f, TDLibrary::Done done) {
                f.library.editProject(
                    f.project, { "Gamma", f.project->startDate(), f.project->category() }, done);
            } },
    };
    for (bool link : { true, false }) {
        for (const auto& [name, run] : operations) {
            SCOPED_TRACE(std::string(name) + (link ? ", unplugged" : ", moved away"));
            Library f;
            const QString away = f.root.root() + "/away";
            ASSERT_TRUE(QDir().rename(f.root.library(), away));
            if (link) {
                ASSERT_TRUE(QFile::link(f.root.root() + "/unplugged", f.root.library()));
            }
            std::optional<platform::Result<platform::Success, TDLibraryFailure>> outcome;
            run(f, [&](auto done) { outcome = done; });
            ASSERT_TRUE(testsupport::waitUntil([&] { return outcome.has_value(); }));
            ASSERT_FALSE(*outcome);
            EXPECT_EQ(outcome->error().kind, TDLibraryFailure::Kind::fileFailed);
            EXPECT_TRUE(outcome->error().message.contains(f.root.library()))
                << outcome->error().message.toStdString();
            EXPECT_EQ(f.project->name(), "Alpha");
            ASSERT_EQ(f.project->tdNote().size(), 1u);
            EXPECT_EQ(f.note->title(), "Draft");
            EXPECT_EQ(f.note->contentURL().path(), f.root.library() + "/Alpha/notes/Draft/Draft.txt");
            EXPECT_FALSE(QFileInfo(f.root.library()).isDir()) << "no second library folder is started";
        }
    }
}

// The user deletes a note or an image and renames its project at once, before the library files
// are written: the deleted item's folder, moved along with the project's, still goes.
TEST(TDLibrary, ANoteOrImageDeletedJustBeforeItsProjectIsRenamedLeavesNoFolderBehind)
{
    Library f;
    auto image = TDMedia::make(platform::Uuid::random(),
        apptest::fileUrl(f.root.library() + "/Alpha/images/i/i.png"),
        apptest::fileUrl(f.root.library() + "/Alpha/images/i/thumbnail.jpg"), f.project->id());
    const QString imageFolder = f.root.library() + "/Alpha/images/" + image->id().lowercaseString();
    QDir().mkpath(imageFolder);
    for (const char* name : { "i.png", "thumbnail.jpg" }) {
        QFile file(imageFolder + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    image->setUrl(apptest::fileUrl(imageFolder + "/i.png"));
    image->setThumbnailURL(apptest::fileUrl(imageFolder + "/thumbnail.jpg"));
    f.stores.mediaStore->setTdMedia({ image });

    int answers = 0, failures = 0;
    auto count = [&](auto done) {
        ++answers;
        failures += !done;
    };
    f.library.deleteNote(f.project, f.note, count);
    f.library.removeMedia(image->id(), count);
    f.library.editProject(f.project, { "Renamed", f.project->startDate(), f.project->category() }, count);
    ASSERT_TRUE(testsupport::waitUntil([&] { return answers == 3; }));
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(QDir(f.root.library() + "/Renamed").exists());
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Renamed/notes/Draft"));
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Renamed/images/" + image->id().lowercaseString()));
}

// A project made while a file stands where the library folder should be: the alert keeps its title
// and says in plain words which file is in the way and what to do, not the system's text.
TEST(TDLibrary, AProjectFolderThatCannotBeMadeIsToldInPlainWords)
{
    Library f;
    const QString library = f.root.library();
    ASSERT_TRUE(QDir().rename(library, f.root.root() + "/away"));
    QFile inTheWay(library);
    ASSERT_TRUE(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();

    const auto outcome = f.createProject("Beta");
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error().kind, TDLibraryFailure::Kind::fileFailed);
    EXPECT_EQ(outcome.error().title, "The project folder could not be created.");
    const QString message = outcome.error().message;
    EXPECT_TRUE(message.startsWith(library + " is a file, not a folder")) << message.toStdString();
    EXPECT_TRUE(message.contains("Move or rename that file")) << message.toStdString();
    EXPECT_FALSE(message.contains("Not a directory")) << message.toStdString();
    EXPECT_EQ(f.stores.projectStore->tdProjects().size(), 1u);
}

// A Documents folder named in bytes that are not UTF-8 text reads as another path: the library is
// made nowhere (never in a folder beside the user's), and a new project is refused in words that say
// why, not as a bad name.
TEST(TDLibrary, WithNoUsableDocumentsFolderNothingIsMadeAndTheAlertSaysWhy)
{
    Library f;
    const QString lost = f.root.root() + "/J" + QFile::decodeName("\xf6") + "rg/Documents";
    platform::Environment::setRoots({ lost, f.root.root() + "/Caches", f.root.root() + "/settings.ini", {} });
    TDProjectStore::prepareLibraryFolder();
    const auto outcome = f.createProject("Beta");
    ASSERT_FALSE(outcome);
    EXPECT_TRUE(outcome.error().message.contains("not UTF-8 text"))
        << outcome.error().message.toStdString();
    EXPECT_EQ(QDir(f.root.root()).entryList({ "J*" }, QDir::AllEntries), QStringList {});
}

// A project whose folder is a link out of the library: its notes are neither made nor removed
// there, and the alert says why and what to do, not "Invalid argument" or a permission problem.
TEST(TDLibrary, NotesInAProjectFolderThatLeadsOutOfTheLibraryAreLeftWithAPlainReason)
{
    Library f;
    const QString outside = f.root.root() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside));
    ASSERT_TRUE(QDir().rename(f.root.library() + "/Alpha", outside + "/Alpha"));
    ASSERT_TRUE(QFile::link(outside + "/Alpha", f.root.library() + "/Alpha"));
    std::optional<QString> created, deleted;
    f.library.createNote(f.project, "Next", [&](auto done) { created = done ? "" : done.error().message; });
    f.library.deleteNote(f.project, f.note, [&](auto done) { deleted = done ? "" : done.error().message; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return created && deleted; }));
    for (const QString& message : { *created, *deleted })
        EXPECT_TRUE(message.contains("a symbolic link on the way leads out of it")) << message.toStdString();
    EXPECT_TRUE(QFile::exists(outside + "/Alpha/notes/Draft/Draft.txt"));
    EXPECT_FALSE(QFile::exists(outside + "/Alpha/notes/Next"));
}
