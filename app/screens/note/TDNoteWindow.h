#pragma once

#include "app/TDStores.h"
#include "platform/foundation/Uuid.h"
#include "platform/ui/ObservedWidget.h"

#include <QPointer>

#include <memory>

class QAction;
class QKeyEvent;
class QLabel;
class QMainWindow;
class QMessageBox;
class QStackedWidget;
class TDNote;
class TDNoteEditSheet;
class TDNoteView;
class TDNoteWindowModel;
class TDToolbar;

// The content of one "Note" window, for the note of one id. The model (TDNoteWindowModel) finds the
// note by id on every render, never by a position remembered from earlier, so a note moved or
// deleted meanwhile is never mistaken for another; without it the window shows "No progress" (but
// typing it could not write when its note was deleted stays in view until the user lets it go).
//
// With its note, the window shows a toolbar (the note's title, its project's name, and "Toggle
// Inspector", which opens the rename sheet), a line under it saying why the text could not be read
// when it could not, and the note view: the text editor with its line numbers and the bottom bar
// with the saved marker. The text is read when the window first appears. Ctrl+S saves; Ctrl+W and
// Escape close the window, and closing saves unsaved text first: when that fails the window stays
// open and says why, offering to close without saving. Ctrl+S and Ctrl+W do the same from the
// links pane's add-link popover.
class TDNoteWindow : public platform::ObservedWidget {
public:
    static constexpr int defaultWidth = 760;
    static constexpr int defaultHeight = 560;
    // The editor's least width, the split's line and the links pane's least width.
    static constexpr int minimumWidth = 540;
    static constexpr int minimumHeight = 280;

    TDNoteWindow(std::shared_ptr<TDNote> note, TDStores stores, QWidget* parent = nullptr);
    ~TDNoteWindow() override;

    // The top-level window for `note`, deleted when closed, at its default size and placed whole on
    // the screen of `over` (centred on it, moved `cascade` steps down and right so that windows
    // opened one after another do not hide each other). Not shown yet.
    static QMainWindow* makeWindow(
        std::shared_ptr<TDNote> note, TDStores stores, const QWidget* over, int cascade = 0);

    const platform::Uuid& noteId() const { return m_noteId; }
    const std::shared_ptr<TDNoteWindowModel>& model() const { return m_model; }
    // The note's title as shown, or "No progress" when the store does not have the note.
    QString shownTitle() const;

    TDToolbar* toolbar() const { return m_toolbar; }
    // Null until the note has been found.
    TDNoteView* noteView() const { return m_noteView; }
    QLabel* loadProblemLabel() const { return m_problemText; }
    TDNoteEditSheet* editSheet() const;
    QAction* saveAction() const { return m_save; }
    QAction* inspectorAction() const { return m_inspector; }
    // The alert of a close that could not save, while it shows.
    QMessageBox* closeAlert() const;

    // Ctrl+S: writes the text to the note's file; an alert says why when it cannot.
    void saveText();

protected:
    void render() override;
    void appeared() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshIcons();
    void showEditSheet(bool open);
    // Whether the window may close now; when not, the reason is shown.
    bool mayClose();
    // Closes the window once the event under way is done.
    void closeWindowLater();
    // Return right after a CR: types a CR, which stays a line end of its own. Whether it did.
    bool typeLineEndAfterCr(const QKeyEvent* key);

    platform::Uuid m_noteId;
    TDStores m_stores;
    std::shared_ptr<TDNoteWindowModel> m_model;
    QStackedWidget* m_pages;
    QLabel* m_noProgress;
    QWidget* m_content;
    TDToolbar* m_toolbar;
    QWidget* m_problem;
    QLabel* m_problemText;
    TDNoteView* m_noteView = nullptr;
    QAction* m_save;
    QAction* m_inspector;
    QAction* m_close;
    // Ctrl+W from the add-link popover; Escape there closes only the popover.
    QAction* m_closeFromPopover;
    QPointer<TDNoteEditSheet> m_sheet;
    QPointer<QMessageBox> m_closeAlert;
    QPointer<QWidget> m_watchedWindow;
    bool m_closeWithoutSaving = false;
};
