#include "EDTextView/EDTextView.h"
#include "LibraryTestSupport.h"
#include "app/TindrelApp.h"
#include "app/model/TDNote.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

#include "app/notes/TDNoteWindowModel.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDWindowPlacement.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "screens/ScreenTestSupport.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

using apptest::LibraryRoot;
using apptest::makeProject;

namespace {

void writeLibrary(const LibraryRoot& root, int projects, int media)
{
    TDProjectStore::ProjectList projectList;
    for (int i = 0; i < projects; ++i)
        projectList.push_back(makeProject(QStringLiteral("P%1").arg(i), 1));
    root.write("projects.library", tdlibrary::encodeProjects(projectList).value());
    TDMediaStore::MediaList mediaList;
    for (int i = 0; i < media; ++i)
        mediaList.push_back(
            TDMedia::make(platform::Uuid::random(), apptest::fileUrl("/m"), apptest::fileUrl("/t"), {}));
    root.write("media.library", tdlibrary::encodeMedia(mediaList).value());
    root.write("links.library", "[]");
}

QString barCount(NavigationView* content)
{
    auto* count = content->bottomBar()->findChild<QLabel*>("barCount");
    return count ? count->text() : QString();
}

// The alert the main window shows, once it is on screen; null if none comes.
QMessageBox* shownAlert(TindrelApp& app)
{
    QMessageBox* alert = nullptr;
    const bool shown = testsupport::waitUntil([&] {
        alert = app.mainWindow()->findChild<QMessageBox*>("tdAlert");
        return alert && alert->isVisible();
    });
    return shown ? alert : nullptr;
}

} // namespace

TEST(TindrelApp, StartsWithEmptyLibraryStoresAndTheCategoryList)
{
    LibraryRoot root;
    writeLibrary(root, 2, 1);
    TindrelApp app;
    EXPECT_TRUE(app.stores().projectStore->tdProjects().empty()) << "nothing is read before the window shows";
    EXPECT_TRUE(app.stores().projectStore->noteMap().empty());
    EXPECT_EQ(app.stores().categoryStore->tdCategories().size(), 5u);
    EXPECT_FALSE(app.mainWindow());
}

TEST(TindrelApp, TheMainWindowLoadsTheLibraryOnceAndShowsItsCounts)
{
    LibraryRoot root;
    writeLibrary(root, 2, 3);
    TindrelApp app;
    app.showMainWindow();
    NavigationView* content = app.navigationView();
    ASSERT_TRUE(content);
    EXPECT_FALSE(content->isEnabled()) << "no input until the library is in";
    ASSERT_TRUE(testsupport::waitUntil([&] { return app.isLibraryLoaded(); }));
    EXPECT_TRUE(content->isEnabled());
    EXPECT_FALSE(app.mainWindow()->findChild<QMessageBox*>("tdAlert"))
        << "a library that loads raises no alert";
    ASSERT_TRUE(testsupport::waitUntil([&] { return barCount(content) == "2"; }))
        << barCount(content).toStdString();
    content->select(NavigationType::media);
    EXPECT_EQ(barCount(content), "3");
    content->select(NavigationType::links);
    EXPECT_EQ(barCount(content), "0");
    content->select(NavigationType::projects);

    // A change to a store re-renders the view.
    auto projects = app.stores().projectStore->tdProjects();
    projects.push_back(makeProject("Unsaved"));
    app.stores().projectStore->setTdProjects(projects);
    ASSERT_TRUE(testsupport::waitUntil([&] { return barCount(content) == "3"; }));

    // Showing the window again, or asking again, does not replace what is in memory.
    writeLibrary(root, 7, 7);
    app.mainWindow()->hide();
    app.showMainWindow();
    bool again = false;
    app.loadLibraries([&] { again = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return again; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(app.stores().projectStore->tdProjects().size(), 3u);
    EXPECT_EQ(barCount(content), "3");
}

// A library file that is there but cannot be read must not look like an empty library: the main
// window says which file and that it is kept.
TEST(TindrelApp, ADamagedLibraryFileIsNamedInAnAlertNotShownAsAnEmptyLibrary)
{
    LibraryRoot root;
    writeLibrary(root, 3, 0);
    root.write("projects.library", root.read("projects.library").left(120));
    TindrelApp app;
    app.showMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return app.isLibraryLoaded(); }));
    QMessageBox* alert = shownAlert(app);
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->text().contains("could not be read")) << alert->text().toStdString();
    const QString message = alert->informativeText();
    EXPECT_TRUE(message.contains("projects.library")) << message.toStdString();
    EXPECT_TRUE(message.contains("“.damaged-”")) << message.toStdString();
    EXPECT_FALSE(message.contains("links.library.damaged-"))
        << "the copies keep each file's own name: " << message.toStdString();
}

// A file where the library folder (or the documents folder above it) should be holds no library
// file to keep: the alert names that file and says what to do, and promises no kept copy.
TEST(TindrelApp, AFileInPlaceOfTheLibraryFolderIsNamedWithWhatToDo)
{
    for (const bool documents : { false, true }) {
        LibraryRoot root;
        const QString inTheWay = documents ? root.documents() : root.library();
        QDir(root.documents()).removeRecursively();
        if (!documents)
            QDir().mkpath(root.documents());
        QFile file(inTheWay);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a folder");
        file.close();

        TindrelApp app;
        app.showMainWindow();
        QMessageBox* alert = shownAlert(app);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text(), "The library folder cannot be opened.");
        // Paths in alerts carry zero-width spaces where they may wrap.
        const QString message = alert->informativeText().remove(QChar(0x200B));
        EXPECT_TRUE(message.startsWith(inTheWay + " is a file, not a folder")) << message.toStdString();
        EXPECT_TRUE(message.contains("Move or rename that file")) << message.toStdString();
        EXPECT_FALSE(message.contains(".damaged-")) << message.toStdString();
        EXPECT_FALSE(message.contains("Not a directory")) << message.toStdString();
    }
}

// A folder where a library file should be is told as such, not as the system's error text.
TEST(TindrelApp, AFolderInPlaceOfALibraryFileIsToldInPlainWords)
{
    LibraryRoot root;
    QDir().mkpath(root.file("projects.library"));
    TindrelApp app;
    app.showMainWindow();
    QMessageBox* alert = shownAlert(app);
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->informativeText().startsWith(
        "“projects.library” could not be read: it is a folder, not a file."))
        << alert->informativeText().toStdString();
}

// A desktop's switch of colours or style reaches every widget from a list made before it (the
// toolkit's own style change and desktop themes alike): a widget that deleted another on the way
// would have the next one reached after it is gone, and the program would crash.
TEST(TindrelApp, ASwitchOfAppearanceDeletesNoWidgetWhileItIsSent)
{
    LibraryRoot root;
    // Enough notes that the workspace's list holds rows only around what shows.
    root.write("projects.library",
        tdlibrary::encodeProjects({ makeProject("Many", 60), makeProject("Few", 1) }).value());
    TindrelApp app;
    app.showMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return app.isLibraryLoaded(); }));
    auto* grid = dynamic_cast<TDProjectMasterView*>(app.navigationView()->destinationView());
    ASSERT_TRUE(grid);
    grid->push(app.stores().projectStore->tdProjects().front());
    ASSERT_TRUE(testsupport::waitUntil([&] { return app.mainWindow()->findChild<TDProjectDetailView*>(); }));
    app.openSettings();
    app.openNoteWindow(TDNote::make(
        platform::Uuid::random(), platform::Uuid::random(), "Idea", apptest::fileUrl("/a.txt"), {}));
    QCoreApplication::processEvents();

    // What `change` deletes of the widgets there before it.
    auto deletedDuring = [](const std::function<void()>& change) {
        QStringList deleted;
        QObject listening; // ends the connections with the call
        for (QWidget* widget : QApplication::allWidgets()) {
            const QString name
                = QString::fromLatin1(widget->metaObject()->className()) + " " + widget->objectName();
            QObject::connect(widget, &QObject::destroyed, &listening, [&deleted, name] { deleted << name; });
        }
        change();
        return deleted.join(", ").toStdString();
    };
    for (const QEvent::Type type : { QEvent::PaletteChange, QEvent::StyleChange, QEvent::FontChange }) {
        EXPECT_EQ(deletedDuring([type] {
            std::vector<QPointer<QWidget>> widgets;
            for (QWidget* widget : QApplication::allWidgets())
                widgets.emplace_back(widget);
            for (const auto& widget : widgets) {
                QEvent change(type);
                if (widget)
                    QCoreApplication::sendEvent(widget, &change);
            }
        }),
            "")
            << "change of type " << type;
    }

    // The sequence a desktop theme runs: a font, new colours, then the style again.
    const QString style = QApplication::style()->name();
    const QFont font = QApplication::font();
    {
        screentest::ScopedPalette dark(true);
        EXPECT_EQ(deletedDuring([&] {
            QFont larger = font;
            larger.setPointSizeF(font.pointSizeF() * 2);
            QApplication::setFont(larger);
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        }),
            "");
        QCoreApplication::processEvents();
        EXPECT_EQ(barCount(app.navigationView()), "2");
    }
    QApplication::setFont(font);
    QApplication::setStyle(QStyleFactory::create(style));
}

// A change whose save failed stays in memory until the next save of its file, and a failed save
// ends its chain before the other files are written; when the program quits before those files are
// saved again, it tries once more rather than leave them behind what was shown.
TEST(TindrelApp, AtTheEndTheFilesLeftBehindByAFailedSaveAreSavedAgain)
{
    LibraryRoot root;
    writeLibrary(root, 2, 0);
    root.write("links.library", "[]");
    TindrelApp app;
    app.showMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return app.isLibraryLoaded(); }));
    QFile::remove(root.file("links.library"));
    QDir(root.library()).mkdir("links.library");
    auto deleted = app.stores().projectStore->tdProjects().front();
    std::optional<bool> saved;
    TDLibrary(app.stores()).deleteProject(deleted, [&](auto done) { saved = bool(done); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved.has_value(); }));
    ASSERT_FALSE(*saved) << "the links failed first, so the media and the projects were not written";
    QDir(root.file("links.library")).removeRecursively();
    const int mediaWrites = app.stores().mediaStore->libraryFile()->writesRequested();

    app.saveUnsavedLibraryFiles();
    ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(10)));
    auto written = tdlibrary::decodeProjects(root.read("projects.library"));
    ASSERT_TRUE(written);
    ASSERT_EQ(written.value().size(), 1u);
    EXPECT_NE(written.value().front()->id(), deleted->id());
    EXPECT_EQ(root.read("links.library"), "[]");
    EXPECT_EQ(app.stores().mediaStore->libraryFile()->writesRequested(), mediaWrites + 1);

    // Once saved, nothing is left to save.
    const int writes = app.stores().projectStore->libraryFile()->writesRequested();
    app.saveUnsavedLibraryFiles();
    EXPECT_EQ(app.stores().projectStore->libraryFile()->writesRequested(), writes);
}

namespace {

// Shows the main window on a library of two projects, then deletes one while the links file cannot
// be replaced, so that every save of the library fails from there on.
QMainWindow* showWithAFailedSave(const LibraryRoot& root, TindrelApp& app)
{
    writeLibrary(root, 2, 0);
    QMainWindow* main = app.showMainWindow();
    EXPECT_TRUE(testsupport::waitUntil([&] { return app.isLibraryLoaded(); }));
    QFile::remove(root.file("links.library"));
    QDir(root.library()).mkdir("links.library");
    std::optional<bool> saved;
    TDLibrary(app.stores()).deleteProject(app.stores().projectStore->tdProjects().front(), [&](auto done) {
        saved = bool(done);
    });
    EXPECT_TRUE(testsupport::waitUntil([&] { return saved.has_value(); }));
    EXPECT_FALSE(saved.value_or(true));
    return main;
}

} // namespace

TEST(TindrelApp, QuittingAsksBeforeLosingChangesTheLibraryFilesCouldNotTake)
{
    LibraryRoot root;
    TindrelApp app;
    QMainWindow* main = showWithAFailedSave(root, app);

    QTest::keyClick(main, Qt::Key_Q, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_TRUE(main->isVisible()) << "the window stays while its changes are only in memory";
    auto* alert = main->findChild<QMessageBox*>("tdAlert");
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "The library could not be saved.");
    ASSERT_TRUE(alert->findChild<QPushButton*>("quitWithoutSavingButton"));
    alert->findChild<QPushButton*>("alertCloseButton")->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(main->isVisible()) << "Keep Open keeps it";

    // Once the disk takes the files again, quitting saves them and goes.
    QDir(root.file("links.library")).removeRecursively();
    main->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(main->isVisible());
    auto written = tdlibrary::decodeProjects(root.read("projects.library"));
    ASSERT_TRUE(written);
    EXPECT_EQ(written.value().size(), 1u);
}

TEST(TindrelApp, QuitWithoutSavingLetsTheUnsavedChangesGo)
{
    LibraryRoot root;
    TindrelApp app;
    QMainWindow* main = showWithAFailedSave(root, app);

    main->close();
    QCoreApplication::processEvents();
    auto* alert = main->findChild<QMessageBox*>("tdAlert");
    ASSERT_TRUE(alert);
    alert->findChild<QPushButton*>("quitWithoutSavingButton")->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !main->isVisible(); }));
}

TEST(TindrelApp, SettingsOpenFromTheMenuShortcutAt480Wide)
{
    LibraryRoot root;
    TindrelApp app;
    app.showMainWindow();
    QAction* settings = nullptr;
    for (QAction* action : app.mainWindow()->menuBar()->findChildren<QAction*>()) {
        if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Comma))
            settings = action;
    }
    ASSERT_TRUE(settings);
    settings->trigger();
    QWidget* window = app.openSettings();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->width(), TindrelApp::settingsWidth);
    EXPECT_EQ(window->minimumWidth(), 480);
    EXPECT_EQ(window->maximumWidth(), 480);
    window->resize(900, 300);
    EXPECT_EQ(window->width(), 480);
    EXPECT_EQ(app.openSettings(), window) << "one settings window";
}

// The program's own icon, not the toolkit's generic one, at the sizes a panel and a title bar ask
// for; and a letter for Alt to reach each menu item by.
TEST(TindrelApp, TheWindowsShowTheProgramsIconAndTheMenuItemsHaveMnemonics)
{
    LibraryRoot root;
    TindrelApp app;
    for (QWidget* window : { static_cast<QWidget*>(app.showMainWindow()), app.openSettings() }) {
        const QList<QSize> sizes = window->windowIcon().availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(48, 48)));
        EXPECT_GT(qAlpha(window->windowIcon().pixmap(QSize(48, 48)).toImage().pixel(24, 30)), 200);
    }
    for (QAction* action : app.mainWindow()->menuBar()->findChild<QMenu*>()->actions())
        EXPECT_TRUE(action->isSeparator() || action->text().contains(QRegularExpression("&\\w")))
            << action->text().toStdString();
}

TEST(TindrelApp, OneNoteWindowPerNoteTitledNote)
{
    LibraryRoot root;
    TindrelApp app;
    auto id = platform::Uuid::random();
    auto note = TDNote::make(id, platform::Uuid::random(), "First", apptest::fileUrl("/a.txt"), {});
    auto sameId = TDNote::make(id, platform::Uuid::random(), "Copy", apptest::fileUrl("/b.txt"), {});
    auto other = TDNote::make(
        platform::Uuid::random(), platform::Uuid::random(), "Other", apptest::fileUrl("/c.txt"), {});
    QMainWindow* window = app.openNoteWindow(note);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), "Note");
    EXPECT_EQ(app.openNoteWindow(sameId), window) << "keyed by the note's id";
    QMainWindow* second = app.openNoteWindow(other);
    EXPECT_NE(second, window);
    EXPECT_EQ(app.noteWindow(other->id()), second);

    QPointer<QMainWindow> closed = window;
    window->close();
    ASSERT_TRUE(testsupport::waitUntil([&] { return closed.isNull(); }));
    EXPECT_FALSE(app.noteWindow(id));
    QMainWindow* reopened = app.openNoteWindow(note);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(app.noteWindow(id), reopened);
}

TEST(TindrelApp, SettingsOpenCentredOnTheMainWindowAndCtrlQQuitsFromThem)
{
    LibraryRoot root;
    TindrelApp app;
    QMainWindow* main = app.showMainWindow();
    main->setGeometry(40, 30, 700, 500);
    QCoreApplication::processEvents();
    QWidget* settings = app.openSettings();
    QCoreApplication::processEvents();
    EXPECT_LE((settings->frameGeometry().center() - main->frameGeometry().center()).manhattanLength(), 4);

    settings->activateWindow();
    QTest::keyClick(settings, Qt::Key_Q, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_FALSE(main->isVisible()) << "Ctrl+Q is the application's, whichever window has focus";
    EXPECT_FALSE(settings->isVisible());
}

// "Settings…" on a settings window left behind the main window, or minimised, brings it back with
// the keys, and so does opening the note of a minimised note window: raised alone, it would stay out
// of reach of the keyboard and the command would seem to do nothing.
TEST(TindrelApp, SettingsOrANoteAgainBringsItsOpenWindowForwardWithTheKeys)
{
    LibraryRoot root;
    TindrelApp app;
    QMainWindow* main = app.showMainWindow();
    QWidget* settings = app.openSettings();
    ASSERT_TRUE(QTest::qWaitForWindowActive(settings));
    for (bool minimised : { false, true }) {
        if (minimised)
            settings->showMinimized();
        main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main));
        EXPECT_EQ(app.openSettings(), settings);
        EXPECT_TRUE(QTest::qWaitForWindowActive(settings)) << "minimised " << minimised;
        EXPECT_FALSE(settings->isMinimized());
    }

    // So does a note's window when its note is opened again.
    auto note = TDNote::make(
        platform::Uuid::random(), platform::Uuid::random(), "First", apptest::fileUrl("/a.txt"), {});
    QMainWindow* window = app.openNoteWindow(note);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    window->showMinimized();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    EXPECT_EQ(app.openNoteWindow(note), window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_FALSE(window->isMinimized());
}

TEST(TindrelApp, CtrlWAndEscapeCloseTheSettingsWindow)
{
    LibraryRoot root;
    TindrelApp app;
    app.showMainWindow();
    for (QKeyCombination key :
        { QKeyCombination(Qt::ControlModifier, Qt::Key_W), QKeyCombination(Qt::Key_Escape) }) {
        QWidget* settings = app.openSettings();
        settings->activateWindow();
        QCoreApplication::processEvents();
        ASSERT_TRUE(settings->isVisible());
        QTest::keyClick(settings, key.key(), key.keyboardModifiers());
        QCoreApplication::processEvents();
        EXPECT_FALSE(settings->isVisible()) << QKeySequence(key).toString().toStdString();
        EXPECT_TRUE(app.mainWindow()->isVisible());
    }
}

// A window opened from a main window near the screen's bottom right corner comes out whole on the
// screen, as near to centred on the main window as fits.
TEST(TindrelApp, NewWindowsOpenWholeOnTheScreenOfTheMainWindow)
{
    LibraryRoot root;
    TindrelApp app;
    QMainWindow* main = app.showMainWindow();
    const QRect area = main->screen()->availableGeometry();
    main->setMinimumSize(0, 0);
    main->setGeometry(area.right() - 400, area.bottom() - 300, 300, 200);
    QCoreApplication::processEvents();
    const QPoint centre = main->frameGeometry().center();

    auto note = TDNote::make(
        platform::Uuid::random(), platform::Uuid::random(), "Far", apptest::fileUrl("/far.txt"), {});
    for (QWidget* window : { static_cast<QWidget*>(app.openNoteWindow(note)), app.openSettings() }) {
        QCoreApplication::processEvents();
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(area.contains(frame)) << window->objectName().toStdString();
        QRect wanted(QPoint(), frame.size());
        wanted.moveCenter(centre);
        EXPECT_NEAR(frame.left(), std::min(wanted.left(), area.right() + 1 - frame.width()), 1);
        EXPECT_NEAR(frame.top(), std::min(wanted.top(), area.bottom() + 1 - frame.height()), 1);
    }
}

// A window taller than the screen's area opened with no window to take the frame from: the window
// manager's title bar, not known before the first show, still leaves its bottom on the screen.
TEST(TindrelApp, AWindowTallerThanTheScreenLeavesRoomForATitleBar)
{
    QWidget window;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    window.resize(area.width() / 2, area.height() + 100);
    tdCentreWindow(&window, nullptr);
    EXPECT_LE(window.height() + 38, area.height());
    EXPECT_EQ(window.pos().y(), area.top());
}

// Closing the main window ends the program as Quit does: left alone, the note windows would have
// neither Quit nor a way back to the library.
TEST(TindrelApp, ClosingTheMainWindowClosesTheNoteWindowsWhichSaveFirst)
{
    LibraryRoot root;
    writeLibrary(root, 1, 0);
    TindrelApp app;
    QMainWindow* main = app.showMainWindow();
    ASSERT_TRUE(testsupport::waitUntil([&] { return app.isLibraryLoaded(); }));
    auto project = app.stores().projectStore->tdProjects().front();
    std::vector<std::shared_ptr<TDNote>> notes;
    for (QString title : { "Kept", "Gone" }) {
        TDLibrary(app.stores()).createNote(project, title, [&](auto created) {
            notes.push_back(created.value());
        });
        ASSERT_TRUE(testsupport::waitUntil([&] { return notes.size() == (title == "Kept" ? 1u : 2u); }));
    }
    auto typeInto = [&](const std::shared_ptr<TDNote>& note, const QString& text) {
        QMainWindow* window = app.openNoteWindow(note);
        auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
        EXPECT_TRUE(testsupport::waitUntil(
            [&] { return content->noteView() && content->noteView()->editor()->textView()->isEditable(); }));
        screentest::typeText(content->noteView()->editor()->textView(), text);
        QCoreApplication::processEvents();
        return QPointer<QMainWindow>(window);
    };
    QPointer<QMainWindow> kept = typeInto(notes[0], "typed");
    QPointer<QMainWindow> gone = typeInto(notes[1], "lost?");
    // This one cannot be saved: its folder went behind the program's back, then the note was
    // deleted, and its window stays to say that the typing cannot be kept.
    QDir(QFileInfo(notes[1]->contentURL().path()).path()).removeRecursively();
    project->setTdNote({ notes[0] });
    app.stores().noteWindows->dismissWindow(notes[1]);
    QCoreApplication::processEvents();
    ASSERT_TRUE(gone && gone->isVisible());

    main->close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(main->isVisible()) << "the note window that could not save keeps the program open";
    ASSERT_TRUE(gone && gone->isVisible());
    auto* alert = gone->findChild<QMessageBox*>("tdAlert");
    ASSERT_TRUE(alert);
    alert->findChild<QPushButton*>("closeWithoutSavingButton")->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return gone.isNull(); }));

    main->close();
    ASSERT_TRUE(testsupport::waitUntil([&] { return kept.isNull(); }));
    EXPECT_FALSE(main->isVisible());
    QFile file(notes[0]->contentURL().path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "typed");
}

// The desktop may name another documents folder while the program runs (a settings panel rewriting
// the user's folders): the library, its files and its folders, stays where it was at the start.
TEST(TindrelApp, TheLibraryStaysWhereItWasWhenTheDesktopNamesAnotherDocumentsFolder)
{
    platform::Environment::resetRoots();
    QDir().mkpath(QDir::homePath() + "/.config");
    QFile userFolders(QDir::homePath() + "/.config/user-dirs.dirs");
    auto nameDocuments = [&](const QByteArray& folder) {
        ASSERT_TRUE(userFolders.open(QIODevice::WriteOnly));
        userFolders.write("XDG_DOCUMENTS_DIR=\"$HOME/" + folder + "\"\n");
        userFolders.close();
    };
    nameDocuments("Before");
    TindrelApp::pinLibraryLocation();
    nameDocuments("After");
    EXPECT_EQ(TDDirectoryPath::libraryFolderURL().path(), QDir::homePath() + "/Before/Tindrel.folder");
    EXPECT_EQ(
        TDDirectoryPath::projectDirectoryURL("P").path(), QDir::homePath() + "/Before/Tindrel.folder/P");
    platform::Environment::resetRoots();
    userFolders.remove();
}
