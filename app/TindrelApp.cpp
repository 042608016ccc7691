#include "app/TindrelApp.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDNote.h"
#include "app/notes/TDLinkCapture.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDKeyRepeat.h"
#include "app/screens/common/TDWindowPlacement.h"
#include "app/screens/note/TDNoteWindow.h"
#include "app/screens/settings/SettingsView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDFileFailure.h"
#include "app/store/TDFolderIcon.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryLoader.h"
#include "app/store/TDLibraryLock.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/Print.h"
#include "platform/ui/ApplicationNotifications.h"
#include "platform/ui/TerminationSignals.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

#include <malloc.h>

namespace {

// Keeps the main window open while the library holds changes its files do not (their saves failed:
// a disk gone, full or read-only), until the user chooses to lose them: quitting would otherwise
// drop them with a line on standard error.
//
// Closing the main window ends the program, as Quit does: the note and settings windows close with
// it (each note saving its text), and a note window that cannot close keeps the main window too.
// Left open alone, they would have no menu to quit from and no way back to the library (a second
// launch only says that Tindrel is open).
class LibraryQuitGuard : public QObject {
public:
    LibraryQuitGuard(QMainWindow* window, TindrelApp* app)
        : QObject(window)
        , m_window(window)
        , m_app(app)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window || event->type() != QEvent::Close)
            return false;
        if (!m_quitWithoutSaving) {
            // A closed alert goes a little later; only one on screen counts.
            const bool asking = m_alert && m_alert->isVisible();
            if (asking || !m_app->isLibrarySavedAfterRetrying()) {
                event->ignore();
                if (!asking)
                    presentAlert();
                return true;
            }
        }
        if (m_app->closeOtherWindows())
            return false;
        // A note that could not be saved says so in its own window; the library is asked about again
        // at the next close.
        m_quitWithoutSaving = false;
        event->ignore();
        return true;
    }

private:
    void presentAlert()
    {
        m_alert = presentTDAlert(m_window, tdLocalized("The library could not be saved."),
            tdLocalized("Your latest changes to projects, images or links could not be written to %1 "
                        "and would be lost. Check that its disk is connected, writable and not full, "
                        "then quit again to save them.")
                .arg(QDir::toNativeSeparators(TDDirectoryPath::libraryFolderURL().path())));
        if (auto* keep = m_alert->findChild<QPushButton*>(QStringLiteral("alertCloseButton")))
            keep->setText(tdLocalized("Keep Open"));
        QPushButton* quit
            = m_alert->addButton(tdLocalized("Quit Without Saving"), QMessageBox::DestructiveRole);
        quit->setObjectName(QStringLiteral("quitWithoutSavingButton"));
        QObject::connect(quit, &QPushButton::clicked, this, [this] {
            m_quitWithoutSaving = true;
            // After the alert has gone: a window-modal box is still the window's child now.
            QMetaObject::invokeMethod(
                this, [this] { QApplication::closeAllWindows(); }, Qt::QueuedConnection);
        });
    }

    QMainWindow* const m_window;
    TindrelApp* const m_app;
    QPointer<QMessageBox> m_alert;
    bool m_quitWithoutSaving = false;
};

// Why a file could not be read, in words a user can act on; the system's own words for the rare
// rest (the path is dropped: the alert names the file and its folder already).
QString plainReason(const TDLibraryLoadProblem& problem)
{
    switch (problem.posixError) {
    case EACCES:
    case EPERM:
        return tdLocalized("Tindrel is not allowed to open it.");
    case EIO:
        return tdLocalized("its disk reported an error while it was read.");
    case EISDIR:
        return tdLocalized("it is a folder, not a file.");
    default:
        break;
    }
    const QString pathPrefix = problem.fileName + QStringLiteral(": ");
    const qsizetype cut = problem.reason.lastIndexOf(pathPrefix);
    return cut < 0 ? problem.reason : problem.reason.mid(cut + pathPrefix.size());
}

// Without this, a library file that did not load looks like an empty library, and the user may
// start over in it.
void presentLoadProblems(QWidget* window, const std::vector<TDLibraryLoadProblem>& problems)
{
    const QString folder = QDir::toNativeSeparators(TDDirectoryPath::libraryFolderURL().path());
    // There is no library file to keep, and nothing can be saved until that file is moved.
    if (const QString file = tdFileInTheWay(TDDirectoryPath::libraryFolderURL().path()); !file.isEmpty()) {
        presentTDAlert(window, tdLocalized("The library folder cannot be opened."),
            tdLocalized("%1 is a file, not a folder, so Tindrel can neither read its library nor save "
                        "there. Move or rename that file in the file manager, then start Tindrel again.")
                .arg(QDir::toNativeSeparators(file)));
        return;
    }
    QStringList lines;
    QStringList skipped;
    bool refused = false;
    for (const auto& problem : problems) {
        refused = refused || problem.posixError == EACCES || problem.posixError == EPERM;
        if (problem.read)
            lines << tdLocalized("“%1” could not be read: %2").arg(problem.fileName, plainReason(problem));
        else
            skipped << QStringLiteral("“%1”").arg(problem.fileName);
    }
    if (skipped.size() == 1)
        lines << tdLocalized("%1 was not read either, so it is not shown.").arg(skipped.front());
    else if (!skipped.isEmpty())
        lines << tdLocalized("%1 were not read either, so they are not shown.")
                     .arg(skipped.join(tdLocalized(" and ")));
    if (refused)
        lines << QString()
              << tdLocalized("Check in the file manager’s Properties that you may read and change %1 and "
                             "the files in it, then start Tindrel again.")
                     .arg(folder);
    // Each file is kept under its own name: one name given for several would send the user looking
    // for a copy that is not there.
    lines << QString()
          << (problems.size() == 1
                     ? tdLocalized("Nothing in this file is lost. Before Tindrel saves over it, it keeps the "
                                   "old file beside it, as “%1.damaged-” and the date, in %2.")
                           .arg(problems.front().fileName, folder)
                     : tdLocalized(
                         "Nothing in these files is lost. Before Tindrel saves over one of them, it "
                         "keeps the old file beside it, its name followed by “.damaged-” and the "
                         "date, in %1.")
                           .arg(folder));
    presentTDAlert(
        window, tdLocalized("The library could not be read completely."), lines.join(QLatin1Char('\n')));
}

} // namespace

QIcon TindrelApp::programIcon()
{
    std::optional<QImage> image = loadFolderIcon();
    if (!image)
        return {};
    // The sizes panels, title bars and task switchers ask for, each scaled smoothly once: left to
    // the window system, the one large picture would be cut down pixel by pixel or sent whole.
    QIcon icon;
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        icon.addPixmap(
            QPixmap::fromImage(image->scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    return icon;
}

TindrelApp::TindrelApp()
{
    initApplicationResources();
    // Every window of the program shows it, sheets and alerts included, rather than the toolkit's
    // generic one.
    if (QApplication::windowIcon().isNull())
        QApplication::setWindowIcon(programIcon());
    m_stores.projectStore = std::make_shared<TDProjectStore>();
    m_stores.mediaStore = std::make_shared<TDMediaStore>();
    m_stores.linkStore = std::make_shared<TDLinkStore>();
    m_stores.categoryStore = std::make_shared<TDCategoryStore>();
    m_stores.noteWindows = std::make_shared<TDNoteWindows>(
        TDNoteWindows { [this](const std::shared_ptr<TDNote>& note) { openNoteWindow(note); },
            [this](const std::shared_ptr<TDNote>& note) { dismissNoteWindow(note); } });
    m_keyRepeat = std::make_unique<TDKeyRepeat>();
}

TindrelApp::~TindrelApp()
{
    *m_stores.noteWindows = {};
    for (auto& [id, window] : m_noteWindows)
        delete window.data();
    delete m_settingsWindow.data();
    delete m_mainWindow.data();
}

void TindrelApp::configureAllocator()
{
    // Decoded images and downloads are large, short-lived blocks. Above 1 MiB they get pages of their
    // own, which go back to the system when freed; otherwise glibc's adaptive threshold lets them
    // pile up in the heap while a large image loads scan by scan.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

void TindrelApp::pinLibraryLocation()
{
    // The desktop names the documents folder anew at each ask, and a settings panel may change it
    // while the program runs: new folders would then go to a library other than the one whose files
    // the stores write, and notes there would no longer count as inside the library.
    platform::Environment::Roots roots = platform::Environment::roots();
    if (roots.documentsDirectory)
        return;
    roots.documentsDirectory = platform::Environment::documentsDirectory();
    platform::Environment::setRoots(std::move(roots));
}

int TindrelApp::main(int argc, char** argv)
{
    configureAllocator();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tindrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tindrel"));
    QApplication::setWindowIcon(programIcon());
    platform::installApplicationNotifications();
    pinLibraryLocation();
    TDLibraryLock::Outcome claim;
    const auto lock = TDLibraryLock::acquire(TDDirectoryPath::libraryFolderURL(), &claim);
    if (claim == TDLibraryLock::Outcome::heldElsewhere) {
        QMessageBox* alert = presentTDAlert(nullptr, tdLocalized("Tindrel is already open."),
            tdLocalized("Another Tindrel is using the library in %1. Please go on in its window: two "
                        "at once would save over each other’s changes.")
                .arg(QDir::toNativeSeparators(TDDirectoryPath::libraryFolderURL().path())));
        QObject::connect(alert, &QDialog::finished, qApp, &QApplication::quit, Qt::QueuedConnection);
        QApplication::exec();
        return 1;
    }
    TindrelApp tindrel;
    tindrel.showMainWindow();
    // A logout, a shutdown or Ctrl+C in a terminal closes the windows as Quit does, so the open notes
    // are saved on the way out.
    platform::onTerminationSignals([] { QApplication::closeAllWindows(); });
    const int status = QApplication::exec();
    // A link added just before is still waiting for its page: it is added as far as the page came.
    TDLinkCapture::finishAddsInFlight(std::chrono::seconds(2));
    // Quitting right after a change must not lose it: the saves under way run only through the main
    // loop, which has stopped.
    if (!tindrel.isLibrarySavedAfterRetrying())
        platform::printError(QStringLiteral("Tindrel quit before the library was saved."));
    return status;
}

QMainWindow* TindrelApp::showMainWindow()
{
    if (!m_mainWindow) {
        auto* window = new QMainWindow;
        window->setObjectName(QStringLiteral("mainWindow"));
        window->setWindowTitle(QStringLiteral("Tindrel"));
        window->resize(NavigationView::preferredWindowWidth(), 760);

        QMenu* menu = window->menuBar()->addMenu(QObject::tr("&Tindrel"));
        QAction* settings = menu->addAction(QObject::tr("&Settings…"));
        settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
        settings->setShortcutContext(Qt::ApplicationShortcut);
        QObject::connect(settings, &QAction::triggered, window, [this] { openSettings(); });
        menu->addSeparator();
        QAction* quit = menu->addAction(QObject::tr("&Quit Tindrel"));
        // Not the theme's Quit binding: some platform themes have none.
        quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        quit->setShortcutContext(Qt::ApplicationShortcut);
        QObject::connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

        auto* content = new NavigationView(m_stores, window);
        content->setOnAppear([this] { loadLibraries(); });
        window->setCentralWidget(content);
        new LibraryQuitGuard(window, this);
        tdCentreWindow(window, nullptr);
        m_mainWindow = window;
    }
    m_mainWindow->show();
    m_mainWindow->raise();
    return m_mainWindow;
}

NavigationView* TindrelApp::navigationView() const
{
    return m_mainWindow ? dynamic_cast<NavigationView*>(m_mainWindow->centralWidget()) : nullptr;
}

namespace {

// Open already, behind another window or minimised, a window asked for again comes back with the
// keys: raised alone it would stay out of their reach, and the command would seem to do nothing.
void bringForward(QWidget* window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

QWidget* TindrelApp::openSettings()
{
    if (!m_settingsWindow) {
        auto* window = new QWidget(nullptr, Qt::Window);
        window->setObjectName(QStringLiteral("settingsWindow"));
        window->setWindowTitle(QObject::tr("Settings"));
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new SettingsView(
            TDStores { m_stores.projectStore, nullptr, nullptr, m_stores.categoryStore }, window));
        window->setFixedWidth(settingsWidth);
        // Ctrl+W (and the desktop's Close keys) and Escape close it, as a desktop's preferences do.
        auto* close = new QAction(QObject::tr("Close"), window);
        QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Close);
        for (QKeySequence key : { QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape) }) {
            if (!keys.contains(key))
                keys.append(key);
        }
        close->setShortcuts(keys);
        close->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(close, &QAction::triggered, window, &QWidget::close);
        window->addAction(close);
        m_settingsWindow = window;
        tdCentreWindow(window, m_mainWindow);
    }
    bringForward(m_settingsWindow);
    return m_settingsWindow;
}

QMainWindow* TindrelApp::openNoteWindow(const std::shared_ptr<TDNote>& note)
{
    if (!note)
        return nullptr;
    auto& slot = m_noteWindows[note->id()];
    if (!slot) {
        const auto open = std::count_if(m_noteWindows.begin(), m_noteWindows.end(),
            [](const auto& entry) { return !entry.second.isNull(); });
        slot = TDNoteWindow::makeWindow(note,
            TDStores { m_stores.projectStore, nullptr, m_stores.linkStore, nullptr }, m_mainWindow,
            int(open));
    }
    bringForward(slot);
    return slot;
}

void TindrelApp::dismissNoteWindow(const std::shared_ptr<TDNote>& note)
{
    if (QMainWindow* window = note ? noteWindow(note->id()) : nullptr) {
        // Forgotten once closed: the closed window goes later, and a new one may be asked for first.
        // One that stays (its typing could not be kept) is still closed with the others at quit.
        if (window->close())
            m_noteWindows.erase(note->id());
    }
}

bool TindrelApp::closeOtherWindows()
{
    std::vector<QPointer<QMainWindow>> notes;
    for (const auto& [id, window] : m_noteWindows)
        notes.push_back(window);
    for (const auto& window : notes) {
        if (window && window->isVisible() && !window->close())
            return false;
    }
    if (m_settingsWindow)
        m_settingsWindow->close();
    return true;
}

QMainWindow* TindrelApp::noteWindow(const platform::Uuid& noteId) const
{
    auto it = m_noteWindows.find(noteId);
    return it == m_noteWindows.end() ? nullptr : it->second.data();
}

void TindrelApp::saveUnsavedLibraryFiles()
{
    // Nothing is written before the load: a file not read yet is not behind anything.
    if (!m_load->loaded)
        return;
    if (m_stores.projectStore->libraryFile()->isBehind())
        m_stores.projectStore->save(m_stores.projectStore->tdProjects());
    if (m_stores.mediaStore->libraryFile()->isBehind())
        m_stores.mediaStore->save(m_stores.mediaStore->tdMedia());
    if (m_stores.linkStore->libraryFile()->isBehind())
        m_stores.linkStore->save(m_stores.linkStore->tdLinks());
}

void TindrelApp::loadLibraries(std::function<void()> finished)
{
    auto state = m_load;
    if (finished) {
        if (state->loaded)
            platform::DispatchQueue::main()->async(std::move(finished));
        else
            state->waiting.push_back(std::move(finished));
    }
    if (state->started)
        return;
    state->started = true;
    // Until the files are in, the content takes no input: an edit made now would be replaced by
    // the loaded lists.
    if (auto* content = navigationView())
        content->setEnabled(false);
    QPointer<QMainWindow> window = m_mainWindow;
    loadLibraryFiles(m_stores.projectStore, m_stores.mediaStore, m_stores.linkStore,
        [state, window](std::vector<TDLibraryLoadProblem> problems) {
            state->loaded = true;
            if (window && window->centralWidget())
                window->centralWidget()->setEnabled(true);
            if (window && !problems.empty())
                presentLoadProblems(window, problems);
            auto waiting = std::move(state->waiting);
            state->waiting.clear();
            for (auto& work : waiting)
                work();
        });
}

bool TindrelApp::isLibrarySavedAfterRetrying()
{
    // The saves under way (and the ones they chain) end first; a file one of them left behind gets
    // one more try.
    TDLibrary::finishPendingWork(std::chrono::seconds(10));
    saveUnsavedLibraryFiles();
    const bool finished = TDLibrary::finishPendingWork(std::chrono::seconds(10));
    return finished && !m_stores.projectStore->libraryFile()->isBehind()
        && !m_stores.mediaStore->libraryFile()->isBehind() && !m_stores.linkStore->libraryFile()->isBehind();
}
