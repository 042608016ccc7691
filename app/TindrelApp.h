#pragma once

#include "app/TDStores.h"
#include "app/screens/common/TDOpeningClick.h"
#include "platform/foundation/Uuid.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class TDKeyRepeat;
class TDNote;
class NavigationView;

// The application: it owns the four stores for the life of the process and the three kinds of
// window (the main window, the settings window, one note window per note).
class TindrelApp {
public:
    static constexpr int settingsWidth = 480;

    // Creates the stores: projects, media, links (all empty), then categories (loaded).
    TindrelApp();
    ~TindrelApp();
    TindrelApp(const TindrelApp&) = delete;
    TindrelApp& operator=(const TindrelApp&) = delete;

    // The program: a QApplication running Tindrel's main window until it quits.
    static int main(int argc, char** argv);
    // The allocator settings `main` makes before anything else (benchmarks start the same way).
    static void configureAllocator();
    // Fixes the documents folder, and with it the library folder, for the rest of the process, as
    // `main` does before anything reads it.
    static void pinLibraryLocation();
    // The program's icon, the library folder's picture at the sizes desktops show; null when the
    // bundled picture does not load.
    static QIcon programIcon();

    const TDStores& stores() const { return m_stores; }

    // Shows the main window (made on first use); its first appearance loads the library.
    QMainWindow* showMainWindow();
    QMainWindow* mainWindow() const { return m_mainWindow; }
    NavigationView* navigationView() const;

    // Shows the settings window, 480 wide (made on first use).
    QWidget* openSettings();

    // Shows the window of `note`, one per note id; an open one is raised.
    QMainWindow* openNoteWindow(const std::shared_ptr<TDNote>& note);
    // Closes the window of `note`'s id, if one is open.
    void dismissNoteWindow(const std::shared_ptr<TDNote>& note);
    QMainWindow* noteWindow(const platform::Uuid& noteId) const;
    // Closes the note windows (each saves its text first) and the settings window; false, with the
    // rest left open, when a note window stays open because its text could not be saved.
    bool closeOtherWindows();

    // Starts reading the three library files into the stores; only the first call does anything,
    // so a window shown again never replaces what is in memory. `finished` runs on the main queue
    // when that load is over (at once when it already is).
    void loadLibraries(std::function<void()> finished = {});
    bool isLibraryLoaded() const { return m_load->loaded; }

    // Saves again each library file left behind its store by a failed save, from what the store
    // holds now; the program's end does this before it waits for the library's work.
    void saveUnsavedLibraryFiles();
    // Waits for the library's writes, saves again what a failed one left behind and waits again;
    // whether everything the stores hold is now on disk (the main window asks before a quit would
    // lose the rest, and the program's end says so).
    bool isLibrarySavedAfterRetrying();

private:
    TDStores m_stores;
    std::unique_ptr<TDKeyRepeat> m_keyRepeat;
    TDOpeningClick::Filter m_extraClicks;
    QPointer<QMainWindow> m_mainWindow;
    QPointer<QWidget> m_settingsWindow;
    std::map<platform::Uuid, QPointer<QMainWindow>> m_noteWindows;
    struct LoadState {
        bool started = false;
        bool loaded = false;
        std::vector<std::function<void()>> waiting;
    };
    // Shared with the load in flight, which may end after this object is gone.
    std::shared_ptr<LoadState> m_load = std::make_shared<LoadState>();
};
