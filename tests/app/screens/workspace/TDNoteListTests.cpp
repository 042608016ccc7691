#include "../ScreenTestSupport.h"
#include "WorkspaceTestSupport.h"
#include "app/model/TDNote.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDNoteList.h"
#include "app/screens/workspace/TDProjectDetailView.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

namespace {

constexpr double day = 86400;

// A workspace of `count` notes a day apart ("Note 0" the oldest), in an active window; `date`
// gives a note another date.
struct LongWorkspace {
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    QWidget window;
    TDProjectDetailView* view = nullptr;

    explicit LongWorkspace(int count, std::function<double(int)> date = {})
    {
        root.makeLibraryFolder();
        project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
        stores.projectStore->setTdProjects({ project });
        std::vector<std::shared_ptr<TDNote>> notes;
        for (int i = 0; i < count; ++i)
            notes.push_back(note(QStringLiteral("Note %1").arg(i), date ? date(i) : 8e8 + i * day));
        project->setTdNote(notes);
        view = screentest::showWorkspace(window, project, stores, true);
    }

    std::shared_ptr<TDNote> note(const QString& title, double date) const
    {
        return TDNote::make(platform::Uuid::random(), project->id(), title,
            apptest::fileUrl(root.library() + "/x.txt"), platform::Date(date));
    }
    TDNoteList* list() const { return view->noteList(); }
    QStringList titles() const
    {
        QCoreApplication::processEvents();
        QStringList titles;
        for (TDNoteItem* row : view->noteItems())
            titles.append(row->titleText());
        return titles;
    }
    // Whether the row lies wholly inside the list's view.
    bool inView(QWidget* row) const { return list()->viewport()->rect().contains(row->geometry()); }
};

} // namespace

// Thousands of notes: only the rows in or near view exist, each where a column of rows would put
// it, and scrolling builds the rows it brings into view.
TEST(TDNoteList, BuildsOnlyTheRowsNearTheViewWhereAColumnWouldPutThem)
{
    LongWorkspace f(2000);
    const auto rows = f.view->noteItems();
    ASSERT_FALSE(rows.empty());
    EXPECT_LT(rows.size(), 20u);
    EXPECT_EQ(rows.front()->titleText(), "Note 0");
    const int height = rows.front()->height();
    EXPECT_EQ(height, rows.front()->sizeHint().height());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]->titleText(), QStringLiteral("Note %1").arg(i));
        EXPECT_EQ(rows[i]->geometry(),
            QRect(TDNoteList::padding, TDNoteList::padding + int(i) * (height + TDNoteList::rowSpacing),
                TDProjectDetailView::notesColumnWidth - 2 * TDNoteList::padding, height));
    }

    QScrollBar* bar = f.list()->verticalScrollBar();
    EXPECT_EQ(bar->maximum() + f.list()->viewport()->height(),
        2 * TDNoteList::padding + 2000 * (height + TDNoteList::rowSpacing) - TDNoteList::rowSpacing);
    bar->setValue(f.list()->rowRect(1000).top());
    QStringList middle = f.titles();
    ASSERT_LT(middle.size(), 20);
    EXPECT_EQ(middle.front(), "Note 999") << "one row above the view";
    EXPECT_TRUE(middle.contains("Note 1000"));
    bar->setValue(bar->maximum());
    const auto last = f.view->noteItems();
    EXPECT_EQ(last.back()->titleText(), "Note 1999");
    EXPECT_EQ(last.back()->geometry().bottom() + 1 + TDNoteList::padding, f.list()->viewport()->height());
}

// Tab walks the rows in date order, past the fold, each scrolled into view, and goes on to "Add a
// note" after the last; a row built later still comes in its place.
TEST(TDNoteList, TabReachesEveryRowInOrderAndScrollsItIntoView)
{
    LongWorkspace f(30);
    f.list()->verticalScrollBar()->setValue(f.list()->rowRect(20).top());
    QCoreApplication::processEvents();
    f.list()->verticalScrollBar()->setValue(0);
    QCoreApplication::processEvents();
    TDNoteItem* first = f.view->noteItems().front();
    first->setFocus(Qt::TabFocusReason);
    for (int i = 1; i < 30; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* row = dynamic_cast<TDNoteItem*>(QApplication::focusWidget());
        ASSERT_TRUE(row) << i;
        EXPECT_EQ(row->titleText(), QStringLiteral("Note %1").arg(i));
        EXPECT_TRUE(f.inView(row)) << i;
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(f.view->addNoteButton()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    auto* last = static_cast<TDNoteItem*>(QApplication::focusWidget());
    EXPECT_EQ(last->titleText(), "Note 29");

    // The arrows scroll the list a step at a time under the focused row, which keeps the focus.
    QScrollBar* bar = f.list()->verticalScrollBar();
    const int end = bar->value();
    QTest::keyClick(last, Qt::Key_Up);
    EXPECT_EQ(bar->value(), end - TDNoteList::scrollStep);
    QTest::keyClick(last, Qt::Key_Down);
    EXPECT_EQ(bar->value(), end);
    EXPECT_TRUE(last->hasFocus());
}

// A change of the notes keeps the rows of the notes that stay, the focused one with its focus even
// when scrolled far away; a note listed twice under one id (a hand-edited library) shows once.
TEST(TDNoteList, AChangeKeepsTheRowsOfTheNotesThatStayAndTheFocus)
{
    LongWorkspace f(500);
    TDNoteItem* focused = f.view->noteItems()[2];
    focused->setFocus(Qt::TabFocusReason);
    auto notes = f.project->tdNote();
    notes.insert(notes.begin(), f.note("Earliest", 1e8));
    f.project->setTdNote(notes);
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.titles().front() == "Earliest"; }));
    const auto kept = f.view->noteItems();
    EXPECT_NE(std::find(kept.begin(), kept.end(), focused), kept.end());
    EXPECT_TRUE(focused->hasFocus());
    EXPECT_EQ(focused->y(), f.list()->rowRect(3).top());

    f.list()->verticalScrollBar()->setValue(f.list()->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    EXPECT_TRUE(focused->hasFocus()) << "scrolled away, the focused row stays";
    EXPECT_EQ(f.titles().back(), "Note 499");

    notes.push_back(TDNote::make(notes[10]->id(), f.project->id(), "Twin",
        apptest::fileUrl(f.root.library() + "/x.txt"), platform::Date(9e8 + 600 * day)));
    f.project->setTdNote(notes);
    QCoreApplication::processEvents();
    f.list()->verticalScrollBar()->setValue(f.list()->verticalScrollBar()->maximum());
    EXPECT_FALSE(f.titles().contains("Twin"));
    EXPECT_EQ(f.list()->count(), 501);
}

// A note dated too far off shows no day, and its row is lower than the others: each row stands at
// its own height, and the rows after it follow on from it.
TEST(TDNoteList, RowsWithoutADayStandAtTheirOwnHeight)
{
    LongWorkspace f(8, [](int i) { return i % 4 == 1 ? -1e300 : 8e8 + i * day; });
    const auto rows = f.view->noteItems();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0]->dayText(), "");
    EXPECT_NE(rows[3]->dayText(), "");
    EXPECT_NE(rows[0]->sizeHint().height(), rows[3]->sizeHint().height());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]->height(), rows[i]->sizeHint().height()) << i;
        if (i > 0) {
            EXPECT_EQ(rows[i]->y(), rows[i - 1]->geometry().bottom() + 1 + TDNoteList::rowSpacing) << i;
        }
    }
}

// A row in the list is drawn as the same row on a plain parent: its month and divider keep their
// colours in the list's viewport, light and dark.
TEST(TDNoteList, ARowLooksInTheListAsItDoesOnItsOwn)
{
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        LongWorkspace f(3);
        TDNoteItem* row = f.view->noteItems()[1];
        QWidget plain;
        plain.resize(row->size());
        TDNoteItem alone(row->note(), f.project, f.stores, &plain);
        alone.setGeometry(row->rect());
        plain.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(row->grab().toImage(), alone.grab().toImage());
    }
}

// The focused row's note deleted, the keys go to the row that takes its place (the one before it for
// the last note), keeping the ring they had, and to "Add a note" once no note is left.
TEST(TDNoteList, DeletingTheFocusedNoteHandsTheKeysToTheRowInItsPlace)
{
    LongWorkspace f(3);
    auto focusedTitle = [&] {
        auto* row = dynamic_cast<TDNoteItem*>(QApplication::focusWidget());
        return row ? row->titleText() : QString();
    };
    auto remove = [&](const QString& title) {
        auto notes = f.project->tdNote();
        std::erase_if(notes, [&](const auto& note) { return note->title() == title; });
        f.project->setTdNote(notes);
        QCoreApplication::processEvents();
    };
    f.view->noteItems()[1]->setFocus(Qt::TabFocusReason);
    remove("Note 1");
    EXPECT_EQ(focusedTitle(), "Note 2");
    EXPECT_TRUE(tdfocusring::isShown(QApplication::focusWidget()));
    remove("Note 2");
    EXPECT_EQ(focusedTitle(), "Note 0");
    f.view->noteItems()[0]->clearFocus();
    f.view->noteItems()[0]->setFocus(Qt::MouseFocusReason);
    remove("Note 0");
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(f.view->addNoteButton()));
    EXPECT_FALSE(tdfocusring::isShown(QApplication::focusWidget())) << "a click's focus shows no ring";
}
