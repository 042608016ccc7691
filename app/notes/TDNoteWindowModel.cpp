#include "app/notes/TDNoteWindowModel.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/notes/TDNoteTextFile.h"
#include "app/store/TDNoteFiles.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Print.h"

#include <QFileInfo>

#include <algorithm>

namespace {

using Message = TDNoteWindowModel::Message;
using EditFailure = TDNoteWindowModel::EditFailure;
using EditResult = TDNoteWindowModel::EditResult;

EditResult editFailure(EditFailure::Reason reason, Message message)
{
    return EditResult::failure({ reason, std::move(message) });
}

// Tells one text from another within this window's life; nothing stores it.
QByteArray digestOf(const QString& text)
{
    // One pass of 64 bits: a save and a load each take one, and it only has to tell a text from
    // the one last written or read.
    const std::size_t hash = qHashBits(text.constData(), std::size_t(text.size()) * sizeof(QChar), 0x5a17);
    return QByteArray(reinterpret_cast<const char*>(&hash), sizeof hash);
}

EditResult renameFailure(const QString& text)
{
    return editFailure(
        EditFailure::Reason::renameFailed, { tdLocalized("The note could not be renamed."), text });
}

} // namespace

std::shared_ptr<TDNoteWindowModel> TDNoteWindowModel::make(
    std::shared_ptr<TDProjectStore> projectStore, const std::shared_ptr<TDNote>& tdNote)
{
    return std::shared_ptr<TDNoteWindowModel>(new TDNoteWindowModel(std::move(projectStore), tdNote));
}

TDNoteWindowModel::TDNoteWindowModel(
    std::shared_ptr<TDProjectStore> projectStore, const std::shared_ptr<TDNote>& tdNote)
    : m_projectStore(projectStore)
    , m_library(TDStores { std::move(projectStore), nullptr, nullptr, nullptr })
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
    // Only what differs counts as typed, so the line ends around it keep their spelling.
    const qsizetype common = std::min(text.size(), m_text.size());
    qsizetype head = 0;
    while (head < common && text.at(head) == m_text.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < common - head && text.at(text.size() - 1 - tail) == m_text.at(m_text.size() - 1 - tail))
        ++tail;
    noteTyped(head, m_text.size() - head - tail, QStringView(text).sliced(head, text.size() - head - tail));
    m_unsaved.include(m_text, 0, m_text.size(), text.size());
    m_registrar.withMutation("text", [&] { m_text = std::move(text); });
    setMarker(DotColor::red, notSavedLabel);
}

void TDNoteWindowModel::editText(const std::vector<TextEdit>& edits)
{
    if (edits.empty())
        return;
    ChangedStretch edited;
    m_registrar.withMutation("text", [&] {
        for (const TextEdit& edit : edits) {
            const qsizetype at = std::clamp<qsizetype>(edit.location, 0, m_text.size());
            const qsizetype length = std::clamp<qsizetype>(edit.length, 0, m_text.size() - at);
            edited.include(m_text, at, length, edit.replacement.size());
            noteTyped(at, length, edit.replacement);
            m_unsaved.include(m_text, at, length, edit.replacement.size());
            m_text.replace(at, length, edit.replacement);
        }
    });
    // Typing and taking it back within one write-back changes nothing.
    if (edited.differs(m_text))
        setMarker(DotColor::red, notSavedLabel);
}

void TDNoteWindowModel::noteTyped(qsizetype at, qsizetype length, QStringView replacement)
{
    // Removals are told apart by a digest, so a deleted page of text is not kept twice over; two
    // texts of one length at one place sharing it would only share a line end's spelling.
    constexpr size_t removalSeed = 0x7d1e5a3bu;
    const auto holdsLineEnd = [](QStringView text) { return text.contains(u'\n') || text.contains(u'\r'); };
    const bool lineEnds = holdsLineEnd(replacement);
    const qsizetype removedEnd = at + length;
    const qsizetype shift = replacement.size() - length;

    // What goes back where it was removed takes back the spelling it had; anything else inserted
    // with a line end counts as typed.
    TDNoteTextFile::Stretches inserted;
    if (lineEnds) {
        const auto restored
            = std::find_if(m_removals.rbegin(), m_removals.rend(), [&](const Removal& removal) {
                  return removal.at == at && removal.length == replacement.size()
                      && removal.digest == qHash(replacement, removalSeed);
              });
        if (restored != m_removals.rend()) {
            for (const auto& [from, end] : restored->typed)
                inserted.emplace_back(at + from, at + end);
            m_removals.erase(std::next(restored).base());
        } else {
            inserted.emplace_back(at, at + replacement.size());
        }
    }
    std::optional<Removal> removal;
    if (length > 0 && holdsLineEnd(QStringView(m_text).sliced(at, length))) {
        removal.emplace(
            Removal { at, length, qHash(QStringView(m_text).sliced(at, length), removalSeed), {} });
        for (const auto& [from, end] : m_typed)
            if (from < removedEnd && end > at)
                removal->typed.emplace_back(std::max(from, at) - at, std::min(end, removedEnd) - at);
    }
    // Removals this edit overlaps can no longer come back as they were; the others move with it.
    std::erase_if(m_removals, [&](const Removal& kept) { return kept.at > at && kept.at < removedEnd; });
    for (Removal& kept : m_removals)
        if (kept.at > at && kept.at >= removedEnd)
            kept.at += shift;
    if (removal) {
        m_removals.push_back(std::move(*removal));
        // Enough for any undo a user makes in one sitting; older removals are let go.
        constexpr size_t keptRemovals = 256;
        if (m_removals.size() > keptRemovals)
            m_removals.erase(m_removals.begin());
    }

    if (m_typed.empty() && inserted.empty())
        return;
    TDNoteTextFile::Stretches typed;
    typed.reserve(m_typed.size() + inserted.size() + 1);
    for (const auto& [from, end] : m_typed)
        if (from < at)
            typed.emplace_back(from, std::min(end, at));
    typed.insert(typed.end(), inserted.begin(), inserted.end());
    for (const auto& [from, end] : m_typed)
        if (end > removedEnd)
            typed.emplace_back(std::max(from, removedEnd) + shift, end + shift);
    // Touching stretches become one, so a run of typing stays one stretch.
    m_typed.clear();
    for (const auto& stretch : typed) {
        if (!m_typed.empty() && stretch.first <= m_typed.back().second)
            m_typed.back().second = std::max(m_typed.back().second, stretch.second);
        else
            m_typed.push_back(stretch);
    }
}

QString TDNoteWindowModel::spelledText() const
{
    return TDNoteTextFile::withTypedLineEnds(m_text, m_spelling, m_typed);
}

void TDNoteWindowModel::ChangedStretch::include(
    const QString& text, qsizetype at, qsizetype length, qsizetype inserted)
{
    if (!any) {
        any = true;
        from = at;
        end = at + length;
        earlier = text.mid(at, length);
    } else {
        // What joins the stretch is still as it was in the earlier version.
        if (at < from) {
            earlier.prepend(QStringView(text).sliced(at, from - at));
            from = at;
        }
        if (at + length > end) {
            earlier.append(QStringView(text).sliced(end, at + length - end));
            end = at + length;
        }
    }
    end += inserted - length;
}

bool TDNoteWindowModel::ChangedStretch::differs(const QString& text) const
{
    return any && (end - from != earlier.size() || QStringView(text).sliced(from, end - from) != earlier);
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
    const platform::Url url = located->note->contentURL();
    // Taken before the read: a change made meanwhile then shows as a change, keeping a copy too
    // many rather than one too few.
    const auto version = platform::FileManager::versionOf(url);
    auto read = TDNoteTextFile::readContents(url);
    if (!read) {
        platform::print(QStringLiteral("Error: ") + read.error().description);
        // A file removed from its folder leaves nothing to save over: the note starts empty and its
        // first save writes the file again. A folder that is gone too means more moved than a file.
        if (read.error().reason == TDNoteTextFile::Failure::Reason::missing
            && QFileInfo(url.deletingLastPathComponent().path()).isDir()) {
            // An earlier try may have failed (the folder was gone then): its reason no longer holds.
            m_registrar.withMutation("loadProblem", [&] {
                m_loadState = LoadState::loaded;
                m_loadProblem.reset();
            });
            m_shownNote = located->note;
            m_spelling = {};
            m_typed.clear();
            m_removals.clear();
            rememberDiskVersion(url, std::nullopt, QString());
            m_unsaved = {};
            return std::nullopt;
        }
        Message problem { tdLocalized("The note's text could not be read"),
            read.error().description + QLatin1Char(' ')
                + tdLocalized("Saving is turned off, so the file stays as it is.") };
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
    m_shownNote = located->note;
    TDNoteTextFile::Contents contents = std::move(read).value();
    m_spelling = contents.spelling;
    m_typed.clear();
    m_removals.clear();
    replaceText(std::move(contents.text));
    rememberDiskVersion(url, version, m_text);
    m_unsaved = {};
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
    const QString title = tdLocalized("The note could not be saved");
    auto refuse = [&](const QString& reason) {
        platform::print(QStringLiteral("Error: ") + reason);
        return Message { title, reason };
    };
    auto located = note();
    if (!located)
        return refuse(tdLocalized("The note is no longer in the library."));
    if (m_loadState == LoadState::failed)
        // Whatever the file holds was never shown, so it must not be replaced.
        return refuse(
            tdLocalized("Its text file could not be read when the note was opened, and saving would "
                        "replace whatever the file holds.")
            + QLatin1Char(' ') + m_loadFailure);
    if (m_loadState == LoadState::notLoaded)
        return refuse(tdLocalized("Its text file has not been read yet."));
    const platform::Url url = located->note->contentURL();
    // Before keeping another version aside, which would move a protected file out of the way.
    if (auto readOnly = TDNoteTextFile::readOnlyRefusal(url))
        return refuse(readOnly->description);
    if (auto problem = keepVersionChangedElsewhere(url))
        return refuse(*problem);
    return writeText(url);
}

std::optional<Message> TDNoteWindowModel::writeText(const platform::Url& url)
{
    const QString spelled = spelledText();
    auto written = TDNoteTextFile::write(url, spelled, m_spelling);
    if (!written) {
        platform::print(QStringLiteral("Error: ") + written.error().description);
        return Message { tdLocalized("The note could not be saved"), written.error().description };
    }
    rememberDiskVersion(url, platform::FileManager::versionOf(url), spelled);
    m_unsaved = {};
    setMarker(DotColor::green, savedLabel);
    return std::nullopt;
}

std::optional<Message> TDNoteWindowModel::saveTextOfDeletedNote()
{
    // The folder of a note deleted a moment ago goes to the trash only once the library is saved,
    // so the text typed last goes with it. Written only over the very file read or written here,
    // never into a folder made again or into another note's file.
    const platform::Url url = m_shownNote->contentURL();
    const bool sameFile = QFileInfo(url.deletingLastPathComponent().path()).isDir()
        && platform::FileManager::versionOf(url) == m_diskVersion;
    if (m_loadState != LoadState::loaded || !sameFile) {
        const QString reason = tdLocalized("The note was deleted, and its text file is no longer there.");
        platform::print(QStringLiteral("Error: ") + reason);
        return Message { tdLocalized("The note could not be saved"), reason };
    }
    return writeText(url);
}

bool TDNoteWindowModel::hasUnsavedText() const
{
    return m_unsaved.differs(m_text);
}

void TDNoteWindowModel::rememberDiskVersion(
    const platform::Url& url, std::optional<platform::FileVersion> version, const QString& text)
{
    m_diskLinkTarget = QFileInfo(url.path()).symLinkTarget();
    m_diskVersion = version;
    m_diskDigest = digestOf(text);
}

std::optional<QString> TDNoteWindowModel::keepVersionChangedElsewhere(const platform::Url& url)
{
    // A link put in the file's place leads to a file this window never read: writing through it
    // would replace that file's text, another note's maybe.
    const QString linkTarget = QFileInfo(url.path()).symLinkTarget();
    if (!linkTarget.isEmpty() && linkTarget != m_diskLinkTarget) {
        auto kept = TDNoteTextFile::keepAside(url, platform::FileManager::LinkKept::moved);
        if (!kept)
            return tdLocalized("Another program made its text file a link to %1, and that link could not "
                               "be moved aside, so nothing was written through it.")
                       .arg(linkTarget)
                + QLatin1Char(' ') + kept.error().description;
        platform::print(QStringLiteral("The note file %1 was made a link to %2 by another program; the link "
                                       "was kept as %3")
                            .arg(url.path(), linkTarget, kept.value().path()));
        m_keptNotice = Message { tdLocalized("The note's file was changed by another program"),
            tdLocalized("It had been made a link to another file, \"%1\". The link was kept beside the "
                        "note as \"%2\", that file was left as it is, and the text in this window was "
                        "saved in the note's own file.")
                .arg(QFileInfo(linkTarget).fileName(), kept.value().lastPathComponent()) };
        return std::nullopt;
    }
    const auto now = platform::FileManager::versionOf(url);
    // Gone, or something other than a file in its place (which the write then refuses).
    if (!now || !now->regular || now == m_diskVersion)
        return std::nullopt;
    // Written again with the same text (a sync client may do that), or already holding the text
    // about to be saved: nothing to keep.
    auto onDisk = TDNoteTextFile::read(url);
    if (onDisk && (digestOf(onDisk.value()) == m_diskDigest || onDisk.value() == spelledText())) {
        m_diskVersion = now;
        return std::nullopt;
    }
    auto kept = TDNoteTextFile::keepAside(url);
    if (!kept)
        return tdLocalized("Another program changed its text file, and that version could not be kept "
                           "aside, so the file was not replaced.")
            + QLatin1Char(' ') + kept.error().description;
    // That version is safe now: a save that fails after this and is tried again keeps no second copy.
    m_diskVersion = now;
    if (onDisk)
        m_diskDigest = digestOf(onDisk.value());
    platform::print(QStringLiteral("The note file %1 was changed by another program; it was kept as %2")
                        .arg(url.path(), kept.value().path()));
    m_keptNotice = Message { tdLocalized("The note's file was changed by another program"),
        tdLocalized("That version was kept beside the note as \"%1\", and the text in this window was "
                    "saved in its place.")
            .arg(kept.value().lastPathComponent()) };
    return std::nullopt;
}

std::optional<TDNoteWindowModel::Message> TDNoteWindowModel::takeKeptNotice()
{
    return std::exchange(m_keptNotice, std::nullopt);
}

TDNoteWindowModel::CloseDecision TDNoteWindowModel::prepareToClose()
{
    if (!hasUnsavedText())
        return {};
    auto problem = note() || !m_shownNote ? saveText() : saveTextOfDeletedNote();
    if (!problem)
        return {};
    problem->text += QLatin1Char(' ') + tdLocalized("The window stays open so that the text is not lost.");
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
    // Answers on a later turn of the main queue, also when the answer is known at once.
    auto answer = [completion = std::move(completion)](EditResult result) {
        platform::DispatchQueue::main()->async([completion, result] {
            if (completion)
                completion(result);
        });
    };
    if (m_renaming)
        return answer(editFailure(EditFailure::Reason::busy, {}));
    auto located = note();
    if (!located)
        return answer(editFailure(EditFailure::Reason::noteMissing,
            { tdLocalized("The note could not be renamed."),
                tdLocalized("The note is no longer in the library.") }));
    auto title = tdnotefiles::checkedTitle(
        m_newTitle, located->project->tdNote(), tdnotefiles::TitleUse::rename, located->note->id());
    if (!title) {
        using Kind = tdnotefiles::TitleProblem::Kind;
        const auto& problem = title.error();
        const auto reason = problem.kind == Kind::exists ? EditFailure::Reason::sameName
            : problem.kind == Kind::blank                ? EditFailure::Reason::blankName
                                                         : EditFailure::Reason::unusableName;
        return answer(editFailure(reason, { problem.title, problem.message }));
    }

    m_registrar.withMutation("isRenaming", [&] { m_renaming = true; });
    auto self = shared_from_this();
    const std::shared_ptr<TDNote> tdNote = located->note;
    m_library.renameNote(located->project, tdNote, title.value(), m_newDate,
        [self, tdNote, answer](platform::Result<platform::Success, TDLibraryFailure> renamed) {
            self->m_registrar.withMutation("isRenaming", [&] { self->m_renaming = false; });
            if (renamed) {
                self->setOpenEditSheet(false);
                self->setNewTitle(tdNote->title());
                return answer(EditResult::success({}));
            }
            const TDLibraryFailure& failure = renamed.error();
            // The library refuses only a title whose folder is already on disk.
            if (failure.kind == TDLibraryFailure::Kind::refused)
                return answer(editFailure(EditFailure::Reason::sameName, { failure.title, failure.message }));
            answer(renameFailure(failure.message));
        });
}
