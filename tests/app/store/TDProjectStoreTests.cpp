#include "../LibraryTestSupport.h"
#include "app/model/TDNote.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/ObservationRegistrar.h"

using apptest::LibraryRoot;
using apptest::makeProject;

namespace {

// Three projects of two notes each; the note looked for is the second of "B".
struct Store {
    LibraryRoot root;
    TDProjectStore store;
    std::shared_ptr<TDProject> a = makeProject("A", 2);
    std::shared_ptr<TDProject> b = makeProject("B", 2);
    std::shared_ptr<TDProject> c = makeProject("C", 2);
    std::shared_ptr<TDNote> note = b->tdNote()[1];

    Store() { store.setTdProjects({ a, b, c }); }

    // Whether a lookup of the note depends on the notes of `project`: a change of them tells the
    // lookup's observation scope.
    bool lookupObserves(const std::shared_ptr<TDProject>& project)
    {
        bool told = false;
        auto tracking
            = platform::withObservationTracking([&] { store.locateNote(note->id()); }, [&] { told = true; });
        project->setTdNote(project->tdNote());
        tracking.cancel();
        return told;
    }
};

} // namespace

TEST(TDProjectStore, LocatesANoteWhereverTheMapLeftIt)
{
    struct Case {
        const char* what;
        TDProjectStore::NoteMap map;
    };
    Store f;
    const std::vector<Case> cases {
        { "no entry", {} },
        { "an entry at another note", { { f.note->id(), { 0, 1 } } } },
        { "an entry out of range", { { f.note->id(), { 5, 0 } } } },
        { "a right entry", { { f.note->id(), { 1, 1 } } } },
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        f.store.setNoteMap(each.map);
        auto found = f.store.locateNote(f.note->id());
        ASSERT_TRUE(found);
        EXPECT_EQ(found->note, f.note);
        EXPECT_EQ(found->project, f.b);
        EXPECT_EQ(found->location, (TDProjectStore::NoteLocation { 1, 1 }));
    }

    // Moved to another project, then deleted: what was remembered is not trusted.
    f.store.setNoteMap({});
    f.b->setTdNote({ f.b->tdNote()[0] });
    f.c->setTdNote({ f.c->tdNote()[0], f.c->tdNote()[1], f.note });
    auto moved = f.store.locateNote(f.note->id());
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->project, f.c);
    EXPECT_EQ(moved->location, (TDProjectStore::NoteLocation { 2, 2 }));
    f.c->setTdNote({ f.c->tdNote()[0] });
    EXPECT_FALSE(f.store.locateNote(f.note->id()));
    EXPECT_FALSE(f.store.locateNote(platform::Uuid::random()));
}

// A note window whose map entry went stale (projects before its own were deleted) asks on every
// render; once found, its note is looked up in its own project only, so edits of other projects
// neither cost a search of the library nor re-render the window.
TEST(TDProjectStore, ANoteFoundOnceIsNotSearchedForAgain)
{
    Store f;
    f.store.setNoteMap({ { f.note->id(), { 7, 1 } } });
    ASSERT_TRUE(f.store.locateNote(f.note->id()));
    EXPECT_FALSE(f.lookupObserves(f.a));
    EXPECT_TRUE(f.lookupObserves(f.b));
    auto found = f.store.locateNote(f.note->id());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->note, f.note);
}
