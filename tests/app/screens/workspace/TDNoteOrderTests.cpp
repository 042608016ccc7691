#include "../ScreenTestSupport.h"
#include "WorkspaceTestSupport.h"
#include "app/model/TDNote.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDNoteList.h"
#include "app/screens/workspace/TDProjectDetailView.h"

#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <random>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr double day = 86400;
constexpr double firstDay = 8e8;
// Too far off to show a day: its row is of the other height.
constexpr double farOff = -1e300;

// A project's workspace in an active window, its notes made by the test.
struct Workspace {
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    QWidget window;
    TDProjectDetailView* view = nullptr;
    int made = 0;

    explicit Workspace(const std::vector<double>& dates)
    {
        root.makeLibraryFolder();
        project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
        stores.projectStore->setTdProjects({ project });
        std::vector<std::shared_ptr<TDNote>> notes;
        for (double date : dates)
            notes.push_back(note(date));
        project->setTdNote(notes);
        view = screentest::showWorkspace(window, project, stores, true);
    }

    std::shared_ptr<TDNote> note(double date, std::optional<platform::Uuid> id = {})
    {
        return TDNote::make(id.value_or(platform::Uuid::random()), project->id(),
            QStringLiteral("Note %1").arg(made++), apptest::fileUrl(root.library() + "/x.txt"),
            platform::Date(date));
    }
    TDNoteList* list() const { return view->noteList(); }
};

// What the column shows: the stored notes sorted by date with a stable sort, a note that repeats
// the id of one before it left out.
std::vector<TDNoteList::Entry> expectedOrder(const std::vector<std::shared_ptr<TDNote>>& stored)
{
    std::vector<std::shared_ptr<TDNote>> sorted = stored;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return a->date().timeIntervalSinceReferenceDate() < b->date().timeIntervalSinceReferenceDate();
    });
    std::vector<TDNoteList::Entry> entries;
    std::unordered_set<platform::Uuid> listed;
    for (const auto& note : sorted) {
        if (listed.insert(note->id()).second)
            entries.push_back({ note, TDNoteItem::showsDay(note->date()) });
    }
    return entries;
}

QStringList titlesOf(const std::vector<TDNoteList::Entry>& entries)
{
    QStringList titles;
    for (const auto& entry : entries)
        titles.append(entry.note->title() + (entry.showsDay ? "" : " (no day)"));
    return titles;
}

// Every row built shows the note of its place and stands where a column of the rows' heights
// puts it.
void expectRowsInPlace(const Workspace& f)
{
    const auto& entries = f.list()->entries();
    std::unordered_map<const TDNote*, int> places;
    std::vector<int> tops { TDNoteList::padding };
    for (int i = 0; i < int(entries.size()); ++i) {
        places.emplace(entries[std::size_t(i)].note.get(), i);
        tops.push_back(tops.back() + f.list()->rowRect(i).height() + TDNoteList::rowSpacing);
    }
    const QScrollBar* bar = f.list()->verticalScrollBar();
    const int content = tops.back() - TDNoteList::rowSpacing + TDNoteList::padding;
    EXPECT_EQ(bar->maximum(), std::max(0, content - f.list()->viewport()->height()));
    int previous = -1;
    for (TDNoteItem* row : f.view->noteItems()) {
        const auto place = places.find(row->note().get());
        ASSERT_NE(place, places.end()) << row->titleText().toStdString();
        EXPECT_GT(place->second, previous) << "rows in the order of their notes";
        previous = place->second;
        EXPECT_EQ(row->y(), tops[std::size_t(place->second)] - bar->value())
            << row->titleText().toStdString();
        EXPECT_EQ(row->height(), f.list()->rowRect(place->second).height());
    }
}

} // namespace

// Random sequences of adds (after the others and before them), removals, date changes and
// renames, some followed one by one and some several to a render, keep the column in the order of
// a sort of the project's notes, each row in its place.
TEST(TDNoteOrder, TheColumnKeepsTheOrderOfASortThroughRandomChanges)
{
    for (unsigned seed : { 1u, 2u, 3u, 4u, 5u, 6u }) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto pick = [&](int below) { return int(random() % unsigned(std::max(1, below))); };
        // Few days, so that many notes share one; now and then one that shows no day.
        auto someDate = [&] { return pick(12) == 0 ? farOff : firstDay + pick(8) * day; };
        std::vector<double> dates;
        for (int i = 0; i < 40; ++i)
            dates.push_back(someDate());
        Workspace f(dates);

        for (int step = 0; step < 160; ++step) {
            auto notes = f.project->tdNote();
            const int count = int(notes.size());
            const int kind = pick(20);
            if (kind < 4) {
                notes.push_back(f.note(someDate()));
                f.project->setTdNote(notes);
            } else if (kind < 5) {
                notes.insert(notes.begin() + pick(count + 1), f.note(someDate()));
                f.project->setTdNote(notes);
            } else if (kind < 8 && count > 0) {
                notes.erase(notes.begin() + pick(count));
                f.project->setTdNote(notes);
            } else if (kind < 9 && count > 4) {
                // Several notes at once: the last ones, or a run from the middle.
                const int first = pick(2) ? count - 3 : pick(count - 3);
                notes.erase(notes.begin() + first, notes.begin() + first + 3);
                f.project->setTdNote(notes);
            } else if (kind < 15 && count > 0) {
                notes[std::size_t(pick(count))]->setDate(platform::Date(someDate()));
            } else if (kind < 18 && count > 0) {
                // A rename sets the title and then the date, as the library does.
                auto& note = notes[std::size_t(pick(count))];
                note->setTitle(note->title() + "'");
                note->setDate(platform::Date(someDate()));
            } else if (kind < 19 && count > 0 && pick(4) == 0) {
                // A note listed twice under one id, as a hand-edited library can hold.
                notes.push_back(f.note(someDate(), notes[std::size_t(pick(count))]->id()));
                f.project->setTdNote(notes);
            } else {
                QScrollBar* bar = f.list()->verticalScrollBar();
                bar->setValue(pick(bar->maximum() + 1));
            }
            if (pick(3) == 0)
                continue;
            QCoreApplication::processEvents();
            ASSERT_EQ(titlesOf(f.list()->entries()), titlesOf(expectedOrder(f.project->tdNote())))
                << "step " << step;
            ASSERT_NO_FATAL_FAILURE(expectRowsInPlace(f)) << "step " << step;
        }
    }
}

// A note added far below the view moves no row; a focused row whose date sends it far below keeps
// its focus, and the rows after it move up a place with theirs.
TEST(TDNoteOrder, AChangeOfOneNoteKeepsTheOtherRowsAndTheFocus)
{
    std::vector<double> dates;
    for (int i = 0; i < 300; ++i)
        dates.push_back(firstDay + i * day);
    Workspace f(dates);
    const auto before = f.view->noteItems();
    auto notes = f.project->tdNote();
    notes.push_back(f.note(firstDay + 1000 * day));
    f.project->setTdNote(notes);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.view->noteItems(), before);

    before[1]->setFocus(Qt::TabFocusReason);
    notes[1]->setDate(platform::Date(firstDay + 2000 * day));
    QCoreApplication::processEvents();
    EXPECT_TRUE(before[1]->hasFocus());
    EXPECT_EQ(f.list()->entries().back().note, notes[1]);
    const auto after = f.view->noteItems();
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after[1], before[2]);
    EXPECT_EQ(after[1]->y(), f.list()->rowRect(1).top());
    EXPECT_EQ(after.back(), before[1]);
}

// A date change that reorders rows already built: Tab walks them in their new order.
TEST(TDNoteOrder, TabFollowsTheOrderADateChangeMade)
{
    Workspace f({ firstDay, firstDay + day, firstDay + 2 * day, firstDay + 3 * day });
    const auto notes = f.project->tdNote();
    notes[2]->setDate(platform::Date(firstDay - day));
    QCoreApplication::processEvents();
    TDNoteItem* first = f.view->noteItems().front();
    ASSERT_EQ(first->titleText(), "Note 2");
    first->setFocus(Qt::TabFocusReason);
    QStringList walked;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* row = dynamic_cast<TDNoteItem*>(QApplication::focusWidget());
        ASSERT_TRUE(row) << i;
        walked.append(row->titleText());
    }
    EXPECT_EQ(walked, (QStringList { "Note 0", "Note 1", "Note 3" }));
}
