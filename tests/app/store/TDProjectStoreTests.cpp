#include "../LibraryTestSupport.h"
#include "app/model/TDNote.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/ObservationRegistrar.h"

using apptest::makeProject;

// A note window whose map entry went stale (projects before its own were deleted) asks on every
// render. Once found, its note is looked up in its own project only, so edits of other projects
// neither cost a search of the library nor re-render the window; what was remembered is checked,
// so a note moved again or deleted is not found where it was.
TEST(TDProjectStore, ANoteFoundOnceIsNotSearchedForAgain)
{
    apptest::LibraryRoot root;
    TDProjectStore store;
    auto a = makeProject("A", 2), b = makeProject("B", 2), c = makeProject("C", 2);
    const auto note = b->tdNote()[1];
    store.setTdProjects({ a, b, c });
    store.setNoteMap({ { note->id(), { 7, 1 } } });
    auto observes = [&](const std::shared_ptr<TDProject>& project) {
        bool told = false;
        auto tracking
            = platform::withObservationTracking([&] { store.locateNote(note->id()); }, [&] { told = true; });
        project->setTdNote(project->tdNote());
        tracking.cancel();
        return told;
    };
    ASSERT_TRUE(store.locateNote(note->id()));
    EXPECT_FALSE(observes(a));
    EXPECT_TRUE(observes(b));

    b->setTdNote({ b->tdNote()[0] });
    c->setTdNote({ c->tdNote()[0], c->tdNote()[1], note });
    auto moved = store.locateNote(note->id());
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->note, note);
    EXPECT_EQ(moved->project, c);
    EXPECT_EQ(moved->location, (TDProjectStore::NoteLocation { 2, 2 }));
    c->setTdNote({ c->tdNote()[0] });
    EXPECT_FALSE(store.locateNote(note->id()));
}
