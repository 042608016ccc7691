#include "../LibraryTestSupport.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDProjectRename.h"

using apptest::fileUrl;
using apptest::LibraryRoot;
using platform::Url;
using platform::Uuid;

// A record whose place cannot be rebuilt under the new name (a note title no folder can have, an
// image address with no file name, as a hand-edited or other program's library may hold) keeps the
// place it had: an empty address would make the whole projects file unreadable at the next start.
TEST(TDProjectRename, APlaceThatCannotBeRebuiltIsKeptSoTheLibraryStillLoads)
{
    LibraryRoot root;
    QDir().mkpath(root.library() + "/P");
    TDProject::Fields fields;
    fields.name = "P";
    fields.id = Uuid::random();
    fields.coverImageURL = *Url::fromString("https://example.com/");
    const Url elsewhere = fileUrl(root.root() + "/elsewhere/a.txt");
    for (const QString& title : { QStringLiteral("a/b"), QStringLiteral(".."), QString() })
        fields.tdNote.push_back(
            TDNote::make(Uuid::random(), fields.id, title, elsewhere, platform::Date(1.0)));
    auto project = TDProject::make(std::move(fields));
    const Url page = *Url::fromString("https://example.com/");
    auto media = TDMedia::make(Uuid::random(), page, page, project->id());

    ASSERT_TRUE(renameTDProject(*project, "Q", { media }));
    EXPECT_EQ(project->name(), "Q");
    for (const auto& note : project->tdNote())
        EXPECT_EQ(note->contentURL(), elsewhere) << note->title().toStdString();
    EXPECT_EQ(media->url(), page);
    EXPECT_TRUE(project->coverImageURL()->isValid());

    auto projects = tdlibrary::decodeProjects(tdlibrary::encodeProjects({ project }).value());
    ASSERT_TRUE(projects) << projects.error().description.toStdString();
    EXPECT_EQ(projects.value()[0]->tdNote().size(), 3u);
    EXPECT_TRUE(tdlibrary::decodeMedia(tdlibrary::encodeMedia({ media }).value()));
}
