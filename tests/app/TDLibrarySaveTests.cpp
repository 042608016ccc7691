#include "LibraryTestSupport.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <condition_variable>
#include <mutex>

using apptest::CapturedStream;
using apptest::LibraryRoot;
using apptest::makeProject;

namespace {

platform::Result<platform::Success, platform::PlatformError> saveAndWait(
    TDProjectStore& store, const TDProjectStore::ProjectList& list)
{
    std::optional<platform::Result<platform::Success, platform::PlatformError>> outcome;
    store.save(list, [&](auto result) {
        EXPECT_TRUE(testsupport::isMainThread());
        outcome = result;
    });
    EXPECT_TRUE(testsupport::waitUntil([&] { return outcome.has_value(); }));
    return *outcome;
}

} // namespace

TEST(TDLibrarySave, WritesOneArrayInStoreOrderWithNotesNested)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    TDProjectStore store;
    TDProjectStore::ProjectList projects { makeProject("B", 2), makeProject("A", 0), makeProject("C", 1) };
    ASSERT_TRUE(saveAndWait(store, projects));
    QJsonArray array = QJsonDocument::fromJson(root.read("projects.library")).array();
    ASSERT_EQ(array.size(), 3);
    EXPECT_EQ(array[0].toObject()["_name"].toString(), "B");
    EXPECT_EQ(array[1].toObject()["_name"].toString(), "A");
    EXPECT_EQ(array[0].toObject()["_tdNote"].toArray().size(), 2);
    EXPECT_EQ(root.libraryEntries(), QStringList { "projects.library" });
}

TEST(TDLibrarySave, WithoutTheLibraryFolderItFailsCreatesNothingAndSaysSo)
{
    LibraryRoot root;
    auto before = root.snapshot();
    TDProjectStore store;
    CapturedStream err(stderr);
    auto outcome = saveAndWait(store, { makeProject("P") });
    QByteArray errors = err.take();
    EXPECT_FALSE(outcome);
    EXPECT_EQ(root.snapshot(), before);
    EXPECT_TRUE(errors.contains("Could not save " + root.file("projects.library").toUtf8()))
        << errors.constData();
    EXPECT_EQ(errors.count("Could not save"), 1);
}

TEST(TDLibrarySave, FiftySavesInARowLeaveTheLastList)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    TDMediaStore store;
    int done = 0;
    TDMediaStore::MediaList media;
    for (int i = 1; i <= 50; ++i) {
        media.push_back(TDMedia::make(
            platform::Uuid::random(), apptest::fileUrl("/m.png"), apptest::fileUrl("/t.jpg"), {}));
        store.save(media, [&, i](auto result) {
            EXPECT_TRUE(result.isSuccess());
            EXPECT_EQ(done + 1, i) << "completions arrive in order";
            ++done;
        });
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return done == 50; }));
    auto back = tdlibrary::decodeMedia(root.read("media.library"));
    ASSERT_TRUE(back);
    ASSERT_EQ(back.value().size(), 50u);
    EXPECT_EQ(back.value().back()->id(), media.back()->id());
}

TEST(TDLibrarySave, TheListIsEncodedWhenTheSaveIsAskedFor)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    TDProjectStore store;
    auto project = makeProject("Before", 1);
    bool done = false;
    store.save({ project }, [&](auto) { done = true; });
    project->setName("After");
    project->tdNote().front()->setTitle("After");
    project->category()->setName("After");
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    const auto saved = tdlibrary::decodeProjects(root.read("projects.library")).value()[0];
    EXPECT_EQ(saved->name(), "Before");
    EXPECT_EQ(saved->tdNote().front()->title(), "Note 0");
    EXPECT_EQ(saved->category()->name(), "Music");
}

TEST(TDLibrarySave, LinksSaveToTheirOwnFile)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    TDLinkStore store;
    bool done = false;
    store.save({ TDLink { "Title", "Desc", "https://example.com", platform::Uuid::random(),
                   platform::Uuid::random() } },
        [&](auto result) { done = result.isSuccess(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
    auto links = tdlibrary::decodeLinks(root.read("links.library"));
    ASSERT_TRUE(links);
    EXPECT_EQ(links.value()[0].title, QString("Title"));
}

namespace {

// A file whose first write is held inside its encoder until `release`, so that later writes queue.
struct HeldFirstWrite {
    std::shared_ptr<TDLibraryFile> file;
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool released = false;

    explicit HeldFirstWrite(const QString& path)
        : file(TDLibraryFile::forLocation(platform::Url::fileUrl(path)))
    {
    }
    TDLibraryFile::Encoder heldEncoder(QByteArray bytes)
    {
        return [this, bytes] {
            std::unique_lock lock(mutex);
            started = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
            return platform::Result<QByteArray, platform::PlatformError>::success(bytes);
        };
    }
    void waitUntilStarted()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return started; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

} // namespace

TEST(TDLibrarySave, WritesQueuedBehindAnotherBecomeOneWriteOfTheLatestAndAllAreAnswered)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    HeldFirstWrite held(root.file("projects.library"));
    const int made = held.file->writesMade();
    std::vector<int> answered;
    std::vector<int> encoded;
    held.file->write(held.heldEncoder("first"), [&](auto result) {
        EXPECT_TRUE(result.isSuccess());
        answered.push_back(1);
    });
    held.waitUntilStarted();
    for (int i = 2; i <= 4; ++i) {
        held.file->write(
            [&encoded, i] {
                encoded.push_back(i);
                return platform::Result<QByteArray, platform::PlatformError>::success(
                    QByteArray("write ") + QByteArray::number(i));
            },
            [&answered, i](auto result) {
                EXPECT_TRUE(result.isSuccess());
                answered.push_back(i);
            });
    }
    held.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return answered.size() == 4; }));
    EXPECT_EQ(answered, (std::vector<int> { 1, 2, 3, 4 }));
    EXPECT_EQ(encoded, std::vector<int> { 4 });
    EXPECT_EQ(held.file->writesMade(), made + 2);
    EXPECT_EQ(root.read("projects.library"), QByteArray("write 4"));
}

TEST(TDLibrarySave, AWriteAfterAReloadIsNotFoldedIntoOneQueuedBeforeIt)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    HeldFirstWrite held(root.file("projects.library"));
    int answered = 0;
    auto count = [&](auto) { ++answered; };
    held.file->write(held.heldEncoder("first"), count);
    held.waitUntilStarted();
    held.file->write(
        [] { return platform::Result<QByteArray, platform::PlatformError>::success("second"); }, count);
    // A load that finds the file unreadable keeps it aside before the next write replaces it; the
    // write queued before that load must not carry the next one's list past it.
    held.file->beginLoad();
    held.file->write(
        [] { return platform::Result<QByteArray, platform::PlatformError>::success("third"); }, count);
    held.file->finishLoad(TDLibraryFile::LoadOutcome::notLoaded);
    CapturedStream err(stderr);
    held.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return answered == 3; }));
    err.take();
    EXPECT_EQ(root.read("projects.library"), QByteArray("third"));
    const QStringList kept = root.libraryEntries().filter(".damaged-");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(root.read(kept.front()), QByteArray("second"));
}
