#include "../FocusTestSupport.h"
#include "../ScreenTestSupport.h"
#include "../UrlRecorder.h"
#include "app/model/TDMedia.h"
#include "app/model/TDNote.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDImageGrid.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/screens/workspace/TDQuickAccessBar.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// A project in a fresh library whose note windows record the notes they open.
struct KeyboardLibrary {
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    QStringList opened;

    KeyboardLibrary()
    {
        root.makeLibraryFolder();
        project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
        stores.projectStore->setTdProjects({ project });
        stores.noteWindows = std::make_shared<TDNoteWindows>(
            TDNoteWindows { [this](const auto& note) { opened.append(note->title()); }, {} });
    }

    // Notes a day apart, and a quick-access entry for the library folder.
    void addNotesAndQuickAccess(std::initializer_list<const char*> titles)
    {
        for (const char* title : titles) {
            auto notes = project->tdNote();
            notes.push_back(TDNote::make(platform::Uuid::random(), project->id(), title,
                apptest::fileUrl(root.library() + "/x.txt"), platform::Date(8e8 + 86400.0 * notes.size())));
            project->setTdNote(notes);
        }
        project->setQuickAccessURL({ apptest::fileUrl(root.library()) });
    }
};

// The workspace under the toolbar that carries its actions, as the main window shows it.
TDProjectDetailView* underToolbar(
    QWidget& window, KeyboardLibrary& library, TDToolbar*& toolbar, bool withBack)
{
    auto* layout = new QVBoxLayout(&window);
    toolbar = new TDToolbar(&window);
    layout->addWidget(toolbar);
    auto* view = new TDProjectDetailView(library.project, library.stores, &window);
    layout->addWidget(view);
    if (withBack)
        toolbar->setBackAction([] {});
    toolbar->setActions(view->toolbarActions());
    return view;
}

} // namespace

// The workspace under the toolbar that carries its actions, as the main window shows it, with two
// notes, a quick-access entry and an image; light and dark.
TEST(TDProjectDetailViewKeyboard, EveryStopRingsIsNamedAndNoteRowsWorkFromTheKeys)
{
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        KeyboardLibrary library;
        library.addNotesAndQuickAccess({ "Sketches", "Plot" });
        auto& [root, stores, project, opened] = library;
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(QColor(200, 30, 30));
        image.save(root.library() + "/a.png");
        const auto url = apptest::fileUrl(root.library() + "/a.png");
        stores.mediaStore->setTdMedia({ TDMedia::make(platform::Uuid::random(), url, url, project->id()) });

        QWidget window;
        TDToolbar* toolbar = nullptr;
        auto* view = underToolbar(window, library, toolbar, true);
        window.resize(1300, 700);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        // The thumbnail is read on another thread; the grid is grabbed once it shows.
        ASSERT_TRUE(testsupport::waitUntil([&] {
            const auto cells = view->referenceGrid()->cells();
            return !cells.empty() && cells.front()->imageView()->binder()->loadedImage;
        }));

        // In the order they stand, the toolbar's buttons after Back though they were made last.
        const std::vector<QWidget*> expected = { toolbar->findChild<QWidget*>("backButton"),
            toolbar->findChild<QComboBox*>("statusPicker"),
            toolbar->findChild<QWidget*>("favoriteActionButton"),
            toolbar->findChild<QWidget*>("photoActionButton"),
            toolbar->findChild<QWidget*>("settingsActionButton"), view->quickAccessBar()->entries().front(),
            view->quickAccessBar()->addButton(), view->noteItems()[0], view->noteItems()[1],
            view->addNoteButton(), view->imagesTitle()->button(), view->referenceGrid() };
        EXPECT_EQ(focustest::tabThrough(&window), expected);
        // The main window puts the focus on a workspace it opens; Tab goes on from there.
        view->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(view, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected[5]);

        // A row is read by its title and date; a click leaves no ring.
        TDNoteItem* row = view->noteItems()[0];
        const QDate day = QDateTime::fromSecsSinceEpoch(978307200 + 800000000).date();
        EXPECT_EQ(
            focustest::accessibleName(row), "Sketches, " + QLocale().toString(day, QLocale::LongFormat));
        row->setFocus(Qt::MouseFocusReason);
        const QImage clicked = row->grab().toImage();
        row->clearFocus();
        EXPECT_LT(focustest::changedPixels(clicked, row->grab().toImage()), focustest::visibleRing);

        row->setFocus(Qt::TabFocusReason);
        QTest::keyClick(row, Qt::Key_Return);
        QTest::keyClick(row, Qt::Key_Space);
        EXPECT_EQ(opened, QStringList({ "Sketches", "Sketches" }));
        QStringList offered;
        for (auto [key, modifier] :
            { std::pair { Qt::Key_Menu, Qt::NoModifier }, { Qt::Key_F10, Qt::ShiftModifier } }) {
            QTimer::singleShot(0, [&] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    offered.append(menu->actions().front()->text());
                    menu->close();
                }
            });
            QTest::keyClick(row, key, modifier);
        }
        EXPECT_EQ(offered, QStringList({ "Delete", "Delete" }));
        QTest::keyClick(view->addNoteButton(), Qt::Key_Space);
        ASSERT_TRUE(view->createNoteSheet());
        view->createNoteSheet()->reject();
        EXPECT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
    }
}

// The notes list puts its rows in the Tab order on each render, after the widgets below it when a
// workspace opens, and in a new order when a note is added or renamed. The rows are moved last first
// (front to back, Qt steps back over the children of every row already moved: seconds at thousands
// of notes), and rows already in order are left as they are.
TEST(TDProjectDetailViewKeyboard, NoteRowsTakeTheTabOrderGivenWhateverTheirOrderBefore)
{
    QWidget window;
    auto* list = new QWidget(&window);
    auto* below = new QPushButton(&window);
    std::vector<QWidget*> rows;
    for (int i = 0; i < 40; ++i) {
        rows.push_back(new QWidget(list));
        rows.back()->setFocusPolicy(Qt::TabFocus);
        new QLabel(rows.back());
        new QLabel(rows.back());
    }
    auto misplaced = [&] {
        int count = 0;
        QWidget* stop = list;
        for (QWidget* expected : rows) {
            do
                stop = stop->nextInFocusChain();
            while (stop->focusPolicy() == Qt::NoFocus);
            count += stop != expected;
        }
        return count;
    };
    // Made before the rows, the button comes first in the chain; then a new order, then the same again.
    tdfocusring::orderTabStops(list, rows);
    EXPECT_EQ(misplaced(), 0);
    std::rotate(rows.begin(), rows.begin() + 17, rows.end());
    std::swap(rows[3], rows[30]);
    tdfocusring::orderTabStops(list, rows);
    EXPECT_EQ(misplaced(), 0);
    tdfocusring::orderTabStops(list, rows);
    EXPECT_EQ(misplaced(), 0);
    // The widgets after the list still follow its last row.
    QWidget* after = rows.back()->nextInFocusChain();
    while (after->focusPolicy() == Qt::NoFocus && after != below)
        after = after->nextInFocusChain();
    EXPECT_EQ(after, below);
}

// What a screen reader hears of the workspace's stops: a note row and a quick-access entry are
// buttons it can press, the favourite button says whether it is on, and focus shows in the state.
TEST(TDProjectDetailViewKeyboard, AScreenReaderHearsButtonsItCanPressAndTheFavouriteState)
{
    KeyboardLibrary library;
    library.addNotesAndQuickAccess({ "Sketches" });
    auto& [root, stores, project, opened] = library;
    screentest::UrlRecorder desktop({ "file" });

    QWidget window;
    TDToolbar* toolbar = nullptr;
    auto* view = underToolbar(window, library, toolbar, false);
    window.resize(1000, 600);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    TDNoteItem* row = view->noteItems().front();
    QWidget* entry = view->quickAccessBar()->entries().front();
    for (QWidget* pressable : { static_cast<QWidget*>(row), entry }) {
        SCOPED_TRACE(pressable->objectName().toStdString());
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(pressable);
        ASSERT_TRUE(face);
        EXPECT_EQ(face->role(), QAccessible::Button);
        EXPECT_FALSE(face->text(QAccessible::Name).isEmpty());
        EXPECT_TRUE(face->state().focusable);
        pressable->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(face->state().focused);
        ASSERT_TRUE(face->actionInterface());
        EXPECT_TRUE(
            face->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        face->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    EXPECT_EQ(opened, QStringList({ "Sketches" }));
    EXPECT_EQ(desktop.opened.size(), 1);

    auto* favorite = toolbar->findChild<QWidget*>("favoriteActionButton");
    QAccessibleInterface* star = QAccessible::queryAccessibleInterface(favorite);
    ASSERT_TRUE(star);
    EXPECT_FALSE(star->text(QAccessible::Name).isEmpty());
    EXPECT_TRUE(star->state().checkable);
    EXPECT_EQ(bool(star->state().checked), project->isFavorite());
    QTest::keyClick(favorite, Qt::Key_Space);
    EXPECT_EQ(bool(star->state().checked), project->isFavorite());
    QAccessibleInterface* status
        = QAccessible::queryAccessibleInterface(toolbar->findChild<QComboBox*>("statusPicker"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->role(), QAccessible::ComboBox);
    EXPECT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
}
