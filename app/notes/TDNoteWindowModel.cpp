#include "app/notes/TDNoteWindowModel.h"

#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/notes/TDNoteTextFile.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDNoteFiles.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QCoreApplication>

#include <cerrno>
#include <sys/stat.h>

using platform::FileManager;
using platform::Url;

namespace {

using Message = TDNoteWindowModel::Message;
using EditFailure = TDNoteWindowModel::EditFailure;
using EditResult = TDNoteWindowModel::EditResult;

QString localized(const char* key)
{
    return QCoreApplication::translate("Tindrel", key);
}

// Whether anything, a dangling symbolic link included, is at `url`.
bool itemExists(const Url& url)
{
    struct stat info;
    return url.isFileUrl() && ::lstat(url.path().toUtf8().constData(), &info) == 0;
}

EditResult editFailure(EditFailure::Reason reason, Message message)
{
    return EditResult::failure({ reason, std::move(message) });
}

EditResult renameFailure(const QString& text)
{
    return editFailure(
        EditFailure::Reason::renameFailed, { localized("The note could not be renamed."), text });
}

struct Move {
    Url from;
    Url to;
};

// Moves back what `done` moved, last first. When a move back fails, what was moved back is moved
// forward again, so the files stay together where the note's new fields point.
bool undoMoves(const std::vector<Move>& done)
{
    for (std::size_t undone = 0; undone < done.size(); ++undone) {
        const Move& move = done[done.size() - 1 - undone];
        if (FileManager::moveItem(move.to, move.from))
            continue;
        for (std::size_t redo = done.size() - undone; redo < done.size(); ++redo)
            FileManager::moveItem(done[redo].from, done[redo].to);
        return false;
    }
    return true;
}

void printMissing(const Url& url)
{
    platform::print(QStringLiteral("File does not exist at path: ") + url.path());
}

} // namespace

std::shared_ptr<TDNoteWindowModel> TDNoteWindowModel::make(
    std::shared_ptr<TDProjectStore> projectStore, const std::shared_ptr<TDNote>& tdNote)
{
    return std::shared_ptr<TDNoteWindowModel>(new TDNoteWindowModel(std::move(projectStore), tdNote));
}

TDNoteWindowModel::TDNoteWindowModel(
    std::shared_ptr<TDProjectStore> projectStore, const std::shared_ptr<TDNote>& tdNote)
    : m_projectStore(std::move(projectStore))
    , m_label(QString::fromLatin1(savedLabel))
    , m_newTitle(tdNote ? tdNote->title() : QString())
    , m_newDate(tdNote ? tdNote->date() : platform::Date::now())
{
    if (tdNote)
        m_noteId = tdNote->id();
}

std::optional<TDProjectStore::LocatedNote> TDNoteWindowModel::note() const
{
    if (!m_noteId || !m_projectStore)
        return std::nullopt;
    return m_projectStore->locateNote(*m_noteId);
}

QString TDNoteWindowModel::text() const
{
    m_registrar.access("text");
    return m_text;
}

void TDNoteWindowModel::setText(QString text)
{
    if (text == m_text)
        return;
    m_registrar.withMutation("text", [&] { m_text = std::move(text); });
    setMarker(DotColor::red, notSavedLabel);
}

void TDNoteWindowModel::replaceText(QString text)
{
    const QString old = m_text;
    m_registrar.withMutation("text", [&] { m_text = std::move(text); });
    m_registrar.withMutation("textReplacementCount", [&] { ++m_textReplacementCount; });
    markUnsaved(old, m_text);
}

std::uint64_t TDNoteWindowModel::textReplacementCount() const
{
    m_registrar.access("textReplacementCount");
    return m_textReplacementCount;
}

TDNoteWindowModel::DotColor TDNoteWindowModel::dotColor() const
{
    m_registrar.access("dotColor");
    return m_dotColor;
}

QString TDNoteWindowModel::label() const
{
    m_registrar.access("label");
    return m_label;
}

void TDNoteWindowModel::markUnsaved(const QString& oldText, const QString& newText)
{
    if (oldText != newText)
        setMarker(DotColor::red, notSavedLabel);
}

void TDNoteWindowModel::setMarker(DotColor color, const char* label)
{
    if (m_dotColor != color)
        m_registrar.withMutation("dotColor", [&] { m_dotColor = color; });
    if (m_label != QLatin1String(label))
        m_registrar.withMutation("label", [&] { m_label = QString::fromLatin1(label); });
}

std::optional<Message> TDNoteWindowModel::loadText()
{
    if (m_loadState == LoadState::loaded || hasUnsavedText())
        return std::nullopt;
    auto located = note();
    if (!located)
        return std::nullopt;
    auto read = TDNoteTextFile::read(located->note->contentURL());
    if (!read) {
        platform::print(QStringLiteral("Error: ") + read.error().description);
        Message problem { localized("The note's text could not be read"),
            read.error().description + QLatin1Char(' ')
                + localized("Saving is turned off, so the file stays as it is.") };
        m_registrar.withMutation("loadProblem", [&] {
            m_loadState = LoadState::failed;
            m_loadProblem = problem;
        });
        m_loadFailure = read.error().description;
        return problem;
    }
    m_registrar.withMutation("loadProblem", [&] {
        m_loadState = LoadState::loaded;
        m_loadProblem.reset();
    });
    m_savedText = read.value();
    replaceText(std::move(read).value());
    return std::nullopt;
}

std::optional<Message> TDNoteWindowModel::loadProblem() const
{
    m_registrar.access("loadProblem");
    return m_loadProblem;
}

bool TDNoteWindowModel::canEdit() const
{
    m_registrar.access("loadProblem");
    return m_loadState == LoadState::loaded;
}

std::optional<Message> TDNoteWindowModel::saveText()
{
    const QString title = localized("The note could not be saved");
    auto refuse = [&](const QString& reason) {
        platform::print(QStringLiteral("Error: ") + reason);
        return Message { title, reason };
    };
    auto located = note();
    if (!located)
        return refuse(localized("The note is no longer in the library."));
    if (m_loadState == LoadState::failed)
        // Whatever the file holds was never shown, so it must not be replaced.
        return refuse(localized("Its text file could not be read when the note was opened, and saving would "
                                "replace whatever the file holds.")
            + QLatin1Char(' ') + m_loadFailure);
    if (m_loadState == LoadState::notLoaded)
        return refuse(localized("Its text file has not been read yet."));
    const QString text = m_text;
    auto written = TDNoteTextFile::write(located->note->contentURL(), text);
    if (!written)
        return refuse(written.error().description);
    m_savedText = text;
    setMarker(DotColor::green, savedLabel);
    return std::nullopt;
}

bool TDNoteWindowModel::hasUnsavedText() const
{
    return m_text != m_savedText;
}

TDNoteWindowModel::CloseDecision TDNoteWindowModel::prepareToClose()
{
    if (!hasUnsavedText())
        return {};
    auto problem = saveText();
    if (!problem)
        return {};
    problem->text += QLatin1Char(' ') + localized("The window stays open so that the text is not lost.");
    return { false, std::move(problem) };
}

bool TDNoteWindowModel::openEditSheet() const
{
    m_registrar.access("openEditSheet");
    return m_openEditSheet;
}

void TDNoteWindowModel::setOpenEditSheet(bool open)
{
    if (open != m_openEditSheet)
        m_registrar.withMutation("openEditSheet", [&] { m_openEditSheet = open; });
}

QString TDNoteWindowModel::newTitle() const
{
    m_registrar.access("newTitle");
    return m_newTitle;
}

void TDNoteWindowModel::setNewTitle(QString title)
{
    if (title != m_newTitle)
        m_registrar.withMutation("newTitle", [&] { m_newTitle = std::move(title); });
}

platform::Date TDNoteWindowModel::newDate() const
{
    m_registrar.access("newDate");
    return m_newDate;
}

void TDNoteWindowModel::setNewDate(platform::Date date)
{
    if (date != m_newDate)
        m_registrar.withMutation("newDate", [&] { m_newDate = date; });
}

bool TDNoteWindowModel::isRenaming() const
{
    m_registrar.access("isRenaming");
    return m_renaming;
}

void TDNoteWindowModel::saveEdit(EditCompletion completion)
{
    auto later = [&](EditResult result) {
        platform::DispatchQueue::main()->async([completion, result] {
            if (completion)
                completion(result);
        });
    };
    if (m_renaming)
        return later(editFailure(EditFailure::Reason::busy, {}));
    auto located = note();
    if (!located)
        return later(editFailure(EditFailure::Reason::noteMissing,
            { localized("The note could not be renamed."),
                localized("The note is no longer in the library.") }));
    auto title = tdnotefiles::checkedTitle(
        m_newTitle, located->project->tdNote(), tdnotefiles::TitleUse::rename, located->note->id());
    if (!title) {
        using Kind = tdnotefiles::TitleProblem::Kind;
        const auto& problem = title.error();
        const auto reason = problem.kind == Kind::exists ? EditFailure::Reason::sameName
            : problem.kind == Kind::blank                ? EditFailure::Reason::blankName
                                                         : EditFailure::Reason::unusableName;
        return later(editFailure(reason, { problem.title, problem.message }));
    }
    renameNoteFiles(title.value(), std::move(completion));
}

void TDNoteWindowModel::renameNoteFiles(const QString& title, EditCompletion completion)
{
    auto later = [&](EditResult result) {
        platform::DispatchQueue::main()->async([completion, result] {
            if (completion)
                completion(result);
        });
    };
    if (m_renaming)
        return later(editFailure(EditFailure::Reason::busy, {}));
    auto located = note();
    if (!located)
        return later(editFailure(EditFailure::Reason::noteMissing,
            { localized("The note could not be renamed."),
                localized("The note is no longer in the library.") }));
    const std::shared_ptr<TDNote> tdNote = located->note;
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(located->project->name());
    const Url notesFolder = projectFolder.appendingPathComponent(QStringLiteral("notes"));

    // Where the files are now: the text file's own folder when it lies in the project's notes
    // folder (whatever the stored title says), else the folder the title names.
    const Url oldURL = tdNote->contentURL();
    Url oldFolder = oldURL.deletingLastPathComponent();
    QString oldFileName = oldURL.lastPathComponent();
    if (!oldURL.isFileUrl() || oldFolder.deletingLastPathComponent() != notesFolder) {
        oldFolder = TDDirectoryPath::noteDirectoryURL(projectFolder, tdNote->title());
        oldFileName = tdNote->title() + QStringLiteral(".txt");
    }
    const Url newFolder = TDDirectoryPath::noteDirectoryURL(projectFolder, title);
    const Url newTextFile = TDDirectoryPath::noteTextFileURL(projectFolder, title);
    const Url movedTextFile = newFolder.appendingPathComponent(oldFileName);
    for (const Url& url : { oldFolder, newFolder, newTextFile, movedTextFile }) {
        if (!url.isFileUrl() || !TDDirectoryPath::isInsideLibraryFolder(url))
            return later(renameFailure(localized("The note's files are not in its project's folder.")));
    }

    std::vector<Move> done;
    if (newFolder != oldFolder) {
        // Never moved onto: a folder of that name that no note lists is someone's, not this note's.
        if (itemExists(newFolder)) {
            const auto exists = tdnotefiles::existingTitleProblem();
            return later(editFailure(EditFailure::Reason::sameName, { exists.title, exists.message }));
        }
        if (itemExists(oldFolder)) {
            auto moved = FileManager::moveItem(oldFolder, newFolder);
            if (!moved)
                return later(renameFailure(moved.error().description));
            done.push_back({ oldFolder, newFolder });
        } else {
            printMissing(oldFolder);
        }
    }
    if (movedTextFile != newTextFile) {
        if (itemExists(movedTextFile)) {
            auto moved = FileManager::moveItem(movedTextFile, newTextFile);
            if (!moved) {
                const bool undone = undoMoves(done);
                return later(renameFailure(moved.error().description
                    + (undone ? QString()
                              : QLatin1Char(' ') + localized("Its folder could not be moved back: ")
                                + newFolder.path())));
            }
            done.push_back({ movedTextFile, newTextFile });
        } else {
            printMissing(movedTextFile);
        }
    }

    const QString oldTitle = tdNote->title();
    const platform::Date oldDate = tdNote->date();
    tdNote->setTitle(title);
    tdNote->setDate(m_newDate);
    tdNote->setContentURL(newTextFile);
    m_registrar.withMutation("isRenaming", [&] { m_renaming = true; });

    auto self = shared_from_this();
    m_projectStore->save(m_projectStore->tdProjects(),
        [self, tdNote, done, oldTitle, oldDate, oldURL, completion = std::move(completion)](auto saved) {
            if (saved) {
                self->setOpenEditSheet(false);
                self->setNewTitle(tdNote->title());
                return self->finishRename(completion, EditResult::success({}));
            }
            QString text = localized("The library could not be saved: ") + saved.error().description;
            if (undoMoves(done)) {
                tdNote->setTitle(oldTitle);
                tdNote->setDate(oldDate);
                tdNote->setContentURL(oldURL);
                text += QLatin1Char(' ') + localized("The note keeps its name.");
            } else {
                // The files stay where the note's new fields point; the next save of the library
                // writes them.
                text += QLatin1Char(' ')
                    + localized("Its files could not be moved back, so it keeps the new name.");
            }
            self->finishRename(completion, renameFailure(text));
        });
}

void TDNoteWindowModel::finishRename(EditCompletion completion, EditResult result)
{
    m_registrar.withMutation("isRenaming", [&] { m_renaming = false; });
    if (completion)
        completion(result);
}
