#include "../FocusTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/model/TDNote.h"
#include "app/screens/common/TDImageGrid.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/screens/workspace/TDQuickAccessBar.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using apptest::LibraryRoot;

namespace {

// A workspace under the toolbar that carries its actions, as the main window shows it, with two
// notes, a quick-access entry and an image.
struct KeyboardWorkspace {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    std::vector<std::pair<QString, QString>> windows;
    QWidget window;
    TDToolbar* toolbar = nullptr;
    TDProjectDetailView* view = nullptr;

    KeyboardWorkspace()
    {
        root.makeLibraryFolder();
        QDir(root.library()).mkpath("Alpha/notes");
        project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
        stores.projectStore->setTdProjects({ project });
        stores.noteWindows
            = std::make_shared<TDNoteWindows>(TDNoteWindows { [this](const auto& note) {
                                                                 windows.push_back({ "open", note->title() });
                                                             },
                [this](const auto& note) {
                    windows.push_back({ "dismiss", note->title() });
                } });
        for (const QString& title : { QStringLiteral("Sketches"), QStringLiteral("Plot") }) {
            const QString folder = root.library() + "/Alpha/notes/" + title;
            QDir().mkpath(folder);
            QFile(folder + "/" + title + ".txt").open(QIODevice::WriteOnly);
            auto notes = project->tdNote();
            notes.push_back(TDNote::make(platform::Uuid::random(), project->id(), title,
                apptest::fileUrl(folder + "/" + title + ".txt"),
                platform::Date(800000000 + 86400.0 * double(notes.size()))));
            project->setTdNote(notes);
        }
        project->setQuickAccessURL({ apptest::fileUrl(root.library()) });
        const QString image = root.library() + "/Alpha/a.png";
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(QColor(200, 30, 30));
        picture.save(image);
        stores.mediaStore->setTdMedia({ TDMedia::make(
            platform::Uuid::random(), apptest::fileUrl(image), apptest::fileUrl(image), project->id()) });

        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        toolbar = new TDToolbar(&window);
        layout->addWidget(toolbar);
        view = new TDProjectDetailView(project, stores, &window);
        layout->addWidget(view);
        toolbar->setBackAction([] {});
        toolbar->setActions(view->toolbarActions());
        window.resize(1300, 700);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    ~KeyboardWorkspace()
    {
        EXPECT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
    }
};

} // namespace

// Tab reaches every control of the toolbar and the workspace, in the order they stand, and each
// shows a ring while it has the keys, light and dark; none shows one when a click put the focus
// there.
TEST(TDProjectDetailViewKeyboard, EveryTabStopShowsWhereTheFocusIs)
{
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        KeyboardWorkspace f;
        const auto stops = focustest::tabThrough(&f.window);
        const std::vector<QWidget*> expected = { f.toolbar->findChild<QToolButton*>("backButton"),
            f.toolbar->findChild<QComboBox*>("statusPicker"),
            f.toolbar->findChild<QToolButton*>("favoriteActionButton"),
            f.toolbar->findChild<QToolButton*>("photoActionButton"),
            f.toolbar->findChild<QToolButton*>("settingsActionButton"),
            f.view->quickAccessBar()->entries().front(), f.view->quickAccessBar()->addButton(),
            f.view->noteItems()[0], f.view->noteItems()[1], f.view->addNoteButton(),
            f.view->imagesTitle()->button(), f.view->referenceGrid() };
        std::vector<QWidget*> reached;
        for (const auto& stop : stops)
            reached.push_back(stop.widget);
        EXPECT_EQ(reached, expected);
        for (const auto& stop : stops)
            EXPECT_TRUE(stop.ringed) << stop.widget->metaObject()->className() << " "
                                     << stop.widget->objectName().toStdString();

        f.view->addNoteButton()->setFocus(Qt::MouseFocusReason);
        EXPECT_FALSE(focustest::showsRing(f.view->addNoteButton()));
    }
}

// A note row opens with Return or Space and its "Delete" is reached with the menu key or
// Shift+F10; "Add a note" opens its sheet with Space.
TEST(TDProjectDetailViewKeyboard, NoteRowsAndAddANoteWorkFromTheKeys)
{
    KeyboardWorkspace f;
    TDNoteItem* sketches = f.view->noteItems()[0];
    sketches->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sketches, Qt::Key_Return);
    QTest::keyClick(sketches, Qt::Key_Space);
    ASSERT_EQ(f.windows.size(), 2u);
    EXPECT_EQ(f.windows[1], std::make_pair(QString("open"), QString("Sketches")));

    QStringList offered;
    auto chooseDelete = [&] {
        QTimer::singleShot(0, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions())
                    offered.append(action->text());
                menu->close();
            }
        });
    };
    chooseDelete();
    QTest::keyClick(sketches, Qt::Key_Menu);
    chooseDelete();
    QTest::keyClick(sketches, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(offered, QStringList({ "Delete", "Delete" }));

    f.view->addNoteButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.view->addNoteButton(), Qt::Key_Space);
    ASSERT_TRUE(f.view->createNoteSheet());
    f.view->createNoteSheet()->reject();
}

// A screen reader names every stop: the symbol-only buttons by what they do (with a tooltip
// saying so), a note row by its title and date.
TEST(TDProjectDetailViewKeyboard, EveryTabStopHasANameAndSymbolButtonsATooltip)
{
    KeyboardWorkspace f;
    for (const auto& stop : focustest::tabThrough(&f.window)) {
        const QString what
            = stop.widget->metaObject()->className() + QString(" ") + stop.widget->objectName();
        EXPECT_FALSE(focustest::accessibleName(stop.widget).isEmpty()) << what.toStdString();
        if (focustest::showsOnlyASymbol(stop.widget))
            EXPECT_FALSE(stop.widget->toolTip().isEmpty()) << what.toStdString();
    }
    const QString rowName = focustest::accessibleName(f.view->noteItems()[0]);
    EXPECT_TRUE(rowName.startsWith("Sketches, ")) << rowName.toStdString();
    // The first note's date, seconds after 1 January 2001.
    const QDate day = QDateTime::fromSecsSinceEpoch(978307200 + 800000000).date();
    EXPECT_TRUE(rowName.contains(QLocale().toString(day, QLocale::LongFormat))) << rowName.toStdString();

    auto* favorite = f.toolbar->findChild<QToolButton*>("favoriteActionButton");
    EXPECT_EQ(favorite->toolTip(), "Add to Favorite");
    favorite->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return favorite->toolTip() == "Remove from Favorite"; }));
}
