#include "LibraryTestSupport.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

#include <QJsonArray>
#include <QJsonDocument>

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
