#include "../LibraryTestSupport.h"
#include "app/store/TDFileFailure.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDProjectRename.h"

using platform::Url;
using platform::Uuid;

// A record whose place cannot be rebuilt under the new name (a title no folder can have, an address
// with no file name, as a hand-edited library may hold) keeps its place: an empty address would make
// the whole projects file unreadable at the next start.
TEST(TDProjectRename, APlaceThatCannotBeRebuiltIsKeptSoTheLibraryStillLoads)
{
    apptest::LibraryRoot root;
    QDir().mkpath(root.library() + "/P");
    const Url page = *Url::fromString("https://example.com/");
    const Url elsewhere = apptest::fileUrl(root.root() + "/elsewhere/a.txt");
    TDProject::Fields fields { .name = "P", .id = Uuid::random(), .coverImageURL = page };
    for (const QString& title : { QStringLiteral("a/b"), QStringLiteral(".."), QString() })
        fields.tdNote.push_back(
            TDNote::make(Uuid::random(), fields.id, title, elsewhere, platform::Date(1.0)));
    auto project = TDProject::make(std::move(fields));
    auto media = TDMedia::make(Uuid::random(), page, page, project->id());

    ASSERT_TRUE(renameTDProject(*project, "Q", { media }));
    for (const auto& note : project->tdNote())
        EXPECT_EQ(note->contentURL(), elsewhere);
    EXPECT_EQ(media->url(), page);
    EXPECT_EQ(project->coverImageURL(), page);
    EXPECT_TRUE(tdlibrary::decodeProjects(tdlibrary::encodeProjects({ project }).value()));
    EXPECT_TRUE(tdlibrary::decodeMedia(tdlibrary::encodeMedia({ media }).value()));
}

// A rename onto a folder that is there already, or with nowhere to keep the library, is told in
// words that read as a sentence; the project keeps its name.
TEST(TDProjectRename, ARefusedRenameIsToldInPlainWords)
{
    apptest::LibraryRoot root;
    QDir().mkpath(root.library() + "/P");
    QDir().mkpath(root.library() + "/Q");
    auto project = TDProject::make({ .name = "P", .id = Uuid::random() });
    auto taken = renameTDProject(*project, "Q", {});
    ASSERT_FALSE(taken);
    EXPECT_EQ(tdPlainFileFailure(taken.error()),
        "Something named " + root.library()
            + "/Q is there already. Choose another name, or move that "
              "item away, then try again.");
    platform::Environment::setRoots({ QString(), {}, {}, {} });
    auto nowhere = renameTDProject(*project, "R", {});
    ASSERT_FALSE(nowhere);
    EXPECT_TRUE(tdPlainFileFailure(nowhere.error()).startsWith("There is no Documents folder"));
    EXPECT_EQ(project->name(), "P");
}
