#include "app/store/TDNoteFiles.h"

#include "app/TDLocalizedText.h"
#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/FileManager.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cctype>
#include <cerrno>

using platform::FileManager;
using platform::PlatformError;
using platform::Result;
using platform::Success;
using platform::Url;

namespace tdnotefiles {

namespace {

bool sameTitle(const QString& a, const QString& b)
{
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

} // namespace

TitleProblem existingTitleProblem()
{
    return { TitleProblem::Kind::exists, tdLocalized("The note already exists"),
        tdLocalized("The note with the name you entered already exists. Please enter a different name.") };
}

Result<QString, TitleProblem> checkedTitle(const QString& typed,
    const std::vector<std::shared_ptr<TDNote>>& projectNotes, TitleUse use,
    std::optional<platform::Uuid> renamed)
{
    using Outcome = Result<QString, TitleProblem>;
    const QString title = decodedTitle(typed);
    // As typed and as it will be stored: "a%20b" is the note "a b".
    for (const auto& note : projectNotes) {
        if (renamed && note->id() == *renamed)
            continue;
        if (sameTitle(note->title(), typed) || sameTitle(note->title(), title))
            return Outcome::failure(existingTitleProblem());
    }
    if (typed.isEmpty() || title.trimmed().isEmpty())
        return Outcome::failure({ TitleProblem::Kind::blank, tdLocalized("The name is blank"),
            use == TitleUse::newNote
                ? tdLocalized("A name is required to create a note. Please enter a name.")
                : tdLocalized("A name is required to change the note title. Please enter a name.") });
    if (title.toUtf8().size() > maximumTitleBytes)
        return Outcome::failure({ TitleProblem::Kind::tooLong, tdLocalized("The name is too long"),
            tdLocalized("A note's name can be at most 251 bytes long. Please enter a shorter name.") });
    if (auto problem = TDDirectoryPath::nameProblem(title))
        return Outcome::failure({ TitleProblem::Kind::unusable, problem->title, problem->message });
    return Outcome::success(title);
}

QString decodedTitle(const QString& typed)
{
    if (!typed.contains(QLatin1Char('%')))
        return typed;
    QByteArray utf8 = typed.toUtf8();
    QByteArray bytes;
    bytes.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes.append(utf8[i]);
            continue;
        }
        if (i + 2 >= utf8.size() || !std::isxdigit(static_cast<unsigned char>(utf8[i + 1]))
            || !std::isxdigit(static_cast<unsigned char>(utf8[i + 2])))
            return typed;
        bytes.append(static_cast<char>(QByteArray::fromHex(utf8.mid(i + 1, 2)).at(0)));
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    return decoder.hasError() ? typed : decoded;
}

Result<Url, PlatformError> createNoteFiles(const Url& projectFolder, const QString& title)
{
    using Outcome = Result<Url, PlatformError>;
    const Url folder = TDDirectoryPath::noteDirectoryURL(projectFolder, title);
    const Url file = TDDirectoryPath::noteTextFileURL(projectFolder, title);
    if (!folder.isValid() || !file.isValid())
        return Outcome::failure(PlatformError::fromErrno(
            EINVAL, QStringLiteral("\"%1\" cannot name a note's folder").arg(title)));
    // The name is fine; the project's folder is what leads elsewhere.
    if (!TDDirectoryPath::isInsideLibraryFolder(folder))
        return Outcome::failure(TDDirectoryPath::outsideLibraryRefusal(folder.deletingLastPathComponent()));
    // The missing folders on the way are made, but never the library folder: gone while the
    // program runs (its disk unplugged, the folder moved away), a note made in a new one would be
    // hidden from the user once the library is back.
    if (auto missing = TDDirectoryPath::libraryFolderMissing())
        return Outcome::failure(*missing);
    auto notes = FileManager::createDirectory(
        folder.deletingLastPathComponent(), platform::IntermediateDirectories::create);
    // Only the note's own folder existing means the title is taken; something else in the way of
    // the notes folder is not a folder.
    if (!notes && notes.error().domain == PlatformError::posixDomain && notes.error().code == EEXIST)
        return Outcome::failure(PlatformError::fromErrno(ENOTDIR, folder.deletingLastPathComponent().path()));
    if (!notes)
        return Outcome::failure(notes.error());
    // Exclusive: an existing folder (a note of that name, or one a failed save left) stays as it is.
    auto made = FileManager::createDirectory(folder, platform::IntermediateDirectories::doNotCreate);
    if (!made)
        return Outcome::failure(TDDirectoryPath::explainedNameRefusal(made.error(), title));
    QFile text(file.path());
    if (!text.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        PlatformError error
            = PlatformError::fromErrno(EIO, file.path() + QStringLiteral(": ") + text.errorString());
        FileManager::removeItem(folder);
        return Outcome::failure(error);
    }
    return Outcome::success(file);
}

Result<Success, PlatformError> removeNoteFolder(
    const Url& projectFolder, const TDNote& note, const std::vector<std::shared_ptr<TDProject>>& remaining)
{
    using Outcome = Result<Success, PlatformError>;
    const Url notes = projectFolder.appendingPathComponent(QStringLiteral("notes"));
    Url folder = note.contentURL().deletingLastPathComponent();
    if (!note.contentURL().isFileUrl() || folder.deletingLastPathComponent() != notes)
        folder = TDDirectoryPath::noteDirectoryURL(projectFolder, note.title());
    if (!folder.isValid() || !notes.isValid() || folder.deletingLastPathComponent() != notes)
        return Outcome::failure(PlatformError::fromErrno(EINVAL,
            QStringLiteral("the folder of note \"%1\" is not in its project's notes folder")
                .arg(note.title())));
    for (const auto& project : remaining) {
        for (const auto& other : project->tdNote()) {
            if (other->id() != note.id() && other->contentURL().isStrictlyInside(folder))
                return Outcome::failure(PlatformError::fromErrno(EBUSY,
                    QStringLiteral("%1 holds the text of note \"%2\"").arg(folder.path(), other->title())));
        }
    }
    QFileInfo info(folder.path());
    if (!info.exists() && !info.isSymLink())
        return Outcome::success({});
    if (info.isSymLink() || !info.isDir())
        return Outcome::failure(PlatformError::fromErrno(
            ENOTDIR, QStringLiteral("%1 is not a note's folder").arg(folder.path())));
    return TDDirectoryPath::trashItemInsideLibrary(folder);
}

} // namespace tdnotefiles
