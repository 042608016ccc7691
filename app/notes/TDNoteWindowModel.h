#pragma once

#include "app/notes/TDNoteTextFile.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class TDNote;

// What one note window holds and does, without its widgets: the note it shows, the note's text, the
// saved marker, the rename sheet's fields, and the file work under them. Every property is
// observable (a read registers the reading screen, a write re-renders it). Main thread only.
//
// The note is found by id on every use: the `noteMap` position when the note there still has the
// id, else the note of that id wherever it is now (`note()`); when no project has it, the window
// shows "No progress" and nothing here touches a file.
//
// The text
//   `text()` is the one truth about the note's text. The window follows two rules:
//   1. Every edit in the text view is written into the model with `editText` (as edits, so that a
//      keystroke in a long note copies nothing but itself; `setText` takes a whole text): the
//      editor writes it back on the next turn of the event loop, and the window makes it write a
//      waiting edit at once before it saves or closes, so a save or a close always sees the last
//      keystroke.
//   2. An update of the window pushes `text()` into the text view only when
//      `textReplacementCount()` moved since the text view last took the model's text. Edits never
//      move it; only a load does. A re-render while typing therefore never puts older text over
//      newer text, whatever else changed.
//
// Loading and saving
//   `loadText` reads the file once (one read, one strict UTF-8 decode, at most
//   TDNoteTextFile::maximumTextBytes). A file gone from the note's folder loads as an empty
//   text, which the first save writes. A note whose file could not be read (its folder gone too,
//   unreadable, not UTF-8, too large, not inside the library folder) is never saved over:
//   `saveText` refuses and says why, and `loadProblem()` holds the reason for the window to show.
//   The window should make the text view read-only while `canEdit()` is false. `saveText` replaces
//   the file atomically; a failed save (a full disk included) leaves the old file and the marker as
//   they were and says why. A file that another program (or another Tindrel) changed since it was
//   read or written here is not overwritten: it is first kept beside itself (TDNoteTextFile::
//   keepAside), staying in place until the new file is whole, and `takeKeptNotice` then says where
//   it went. A note file made a symbolic link (or pointed elsewhere) since then is not written
//   through: the link is moved aside the same way, so the file it points at (another note's, say)
//   keeps its text.
//   A save spells the file as it was read (encoding, byte-order mark, line ends): a line end the
//   user typed is written as most of the file's line ends are, and every character the user did not
//   touch is written as it was read, a file of mixed line ends included.
//
// The marker
//   It starts as "Saved" with a red dot. A change of the text to a different string, a load
//   included, makes it "Not Saved", red; a successful save makes it "Saved", green; a failed save
//   leaves it.
//
// Closing
//   The window calls `prepareToClose` when the user closes it. Unsaved text (text that differs
//   from what was last read or written) is saved first; the window closes only when that worked.
//   Otherwise it stays open and shows the reason; it may then offer to close without saving, which
//   needs nothing more from the model. A note deleted while its window holds unsaved text (its
//   window closes with it) has that text written into its file first, while the folder waits to go
//   to the trash.
//
// Renaming
//   The sheet's "Save" calls `saveEdit`, which checks `newTitle` as a new note's title is checked
//   (TDNoteFiles: percent escapes decoded once, and the decoded title names the folder, the text
//   file and the note alike), then asks the library (TDLibrary::renameNote) to move the note's
//   folder and text file, update the note and save the projects, with the decoded title as it is.
//   A failed step undoes the earlier ones: the files are moved back and the note keeps its title,
//   date and URL. One rename runs at a time.
class TDNoteWindowModel : public std::enable_shared_from_this<TDNoteWindowModel> {
public:
    enum class DotColor { red, green };

    static constexpr const char* savedLabel = "Saved";
    static constexpr const char* notSavedLabel = "Not Saved";

    // Something the window shows in an alert: a title and a sentence or two.
    struct Message {
        QString title;
        QString text;
    };

    // Why the sheet's "Save" did not rename the note. The sheet stays open.
    struct EditFailure {
        enum class Reason {
            // The alert "The note already exists": another note of the project has the title, or
            // a folder of that name is already on disk.
            sameName,
            // The alert "The name is blank".
            blankName,
            // The title cannot name a folder (".", "..", "/", NUL) or is too long.
            unusableName,
            // The note is in no project any more.
            noteMissing,
            // A rename of this note is still running; the window disables "Save" meanwhile.
            busy,
            // Moving the files or saving the library failed; what was done is undone.
            renameFailed,
        };
        Reason reason;
        Message message;
    };
    using EditResult = platform::Result<platform::Success, EditFailure>;
    using EditCompletion = std::function<void(EditResult)>;

    struct CloseDecision {
        bool mayClose = true;
        // Why the window stays open.
        std::optional<Message> reason;
    };

    // The model of the window opened for `tdNote` (null: the window shows "No progress"). `newTitle`
    // and `newDate` start from it and are not refreshed when the note changes elsewhere.
    static std::shared_ptr<TDNoteWindowModel> make(
        std::shared_ptr<TDProjectStore> projectStore, const std::shared_ptr<TDNote>& tdNote);

    const std::optional<platform::Uuid>& noteId() const { return m_noteId; }
    // The note and its project now, or none ("No progress"). Reads the store under observation.
    std::optional<TDProjectStore::LocatedNote> note() const;

    QString text() const;
    // A whole text from the text view (rule 1 above). Marks the text unsaved when it differs.
    void setText(QString text);
    // One replacement of `length` characters at `location` of the text as the edits before it
    // left it (both clamped to the text).
    struct TextEdit {
        qsizetype location = 0;
        qsizetype length = 0;
        QString replacement;
    };
    // Edits from the text view (rule 1 above), oldest first: the same as `setText` with the text
    // they make, but the text changes in place and only the edited stretch is copied or compared.
    void editText(const std::vector<TextEdit>& edits);
    std::uint64_t textReplacementCount() const;

    DotColor dotColor() const;
    QString label() const;
    // Makes the marker "Not Saved", red, when the two texts differ.
    void markUnsaved(const QString& oldText, const QString& newText);

    // Reads the note's text file into `text`. Does nothing once a load succeeded, or while the text
    // holds edits, so showing the window again never throws away typing. On failure `text` stays,
    // "Error: " and the reason are printed, and the reason is returned and kept in `loadProblem`;
    // only a file gone from its folder is printed and then loaded as an empty text.
    std::optional<Message> loadText();
    std::optional<Message> loadProblem() const;
    bool canEdit() const;

    // Writes `text` to the note's file. On failure prints "Error: " and the reason and returns the
    // message the window shows; the marker stays as it was.
    std::optional<Message> saveText();
    // Whether `text` differs from what was last read from or written to the file.
    bool hasUnsavedText() const;
    // After a save that kept another program's version of the file aside: what to tell the user.
    std::optional<Message> takeKeptNotice();

    CloseDecision prepareToClose();

    // The rename sheet.
    bool openEditSheet() const;
    void setOpenEditSheet(bool open);
    QString newTitle() const;
    void setNewTitle(QString title);
    platform::Date newDate() const;
    void setNewDate(platform::Date date);
    bool isRenaming() const;

    // The sheet's "Save": checks `newTitle` and renames the note, giving it `newDate`. `completion`
    // runs once, on the main queue, after this returns. On success the sheet is closed
    // (`openEditSheet` false) and `newTitle` holds the note's new title.
    void saveEdit(EditCompletion completion = {});

private:
    enum class LoadState { notLoaded, loaded, failed };

    // Where the text differs from an earlier version of it: outside [from, end) the two agree, and
    // `earlier` holds what the earlier version had in between. Kept up edit by edit, so asking
    // whether the text still differs costs that stretch, not the whole text, and no copy of the
    // whole text is held that would make the next edit copy it.
    struct ChangedStretch {
        bool any = false;
        qsizetype from = 0;
        qsizetype end = 0;
        QString earlier;

        // Takes in the replacement of `length` characters at `at` of `text` by `inserted` ones,
        // before `text` changes.
        void include(const QString& text, qsizetype at, qsizetype length, qsizetype inserted);
        bool differs(const QString& text) const;
    };

    TDNoteWindowModel(std::shared_ptr<TDProjectStore> projectStore, const std::shared_ptr<TDNote>& tdNote);
    void replaceText(QString text);
    // Takes in the replacement of `length` characters at `at` by `replacement`, before `m_text`
    // changes.
    void noteTyped(qsizetype at, qsizetype length, QStringView replacement);
    // The text as a save writes it.
    QString spelledText() const;
    void setMarker(DotColor color, const char* label);
    void rememberDiskVersion(
        const platform::Url& url, std::optional<platform::FileVersion> version, const QString& text);
    // Renames the file aside when it is not the version last read or written here.
    std::optional<QString> keepVersionChangedElsewhere(const platform::Url& url);
    std::optional<Message> writeText(const platform::Url& url);
    std::optional<Message> saveTextOfDeletedNote();

    std::shared_ptr<TDProjectStore> m_projectStore;
    TDLibrary m_library;
    std::optional<platform::Uuid> m_noteId;
    // The note's record as the text was read, kept when the note leaves the library.
    std::shared_ptr<TDNote> m_shownNote;

    QString m_text;
    // How `m_text` differs from what the file held when last read or written.
    ChangedStretch m_unsaved;
    std::uint64_t m_textReplacementCount = 0;
    // How the file spelled the text when it was read, and where line ends may have been typed
    // since (the stretches of every insertion that held a CR or an LF, in `m_text`).
    TDNoteTextFile::Spelling m_spelling;
    TDNoteTextFile::Stretches m_typed;
    // Recent removals that held a line end, with which of their line ends were typed (relative to
    // `at`), kept at their place as later edits move it: an undo or redo that puts back exactly what
    // was removed there gives it back its spelling, so undoing a deletion restores the file's bytes.
    struct Removal {
        qsizetype at = 0;
        qsizetype length = 0;
        size_t digest = 0;
        TDNoteTextFile::Stretches typed;
    };
    std::vector<Removal> m_removals;
    DotColor m_dotColor = DotColor::red;
    QString m_label;
    LoadState m_loadState = LoadState::notLoaded;
    std::optional<Message> m_loadProblem;
    QString m_loadFailure;
    // The file as last read or written here (none: there was no file), and a digest of its text.
    std::optional<platform::FileVersion> m_diskVersion;
    QByteArray m_diskDigest;
    // Where the note's file pointed as a symbolic link then (empty: it was none).
    QString m_diskLinkTarget;
    std::optional<Message> m_keptNotice;

    bool m_openEditSheet = false;
    QString m_newTitle;
    platform::Date m_newDate;
    bool m_renaming = false;

    platform::ObservationRegistrar m_registrar;
};
