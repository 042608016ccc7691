#pragma once

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// A note's text file: plain UTF-8, read whole and replaced whole. A file that begins with the
// byte-order mark of UTF-16 or UTF-32 (as Windows editors write "Unicode" text) is read in that
// encoding, and its first save writes it in UTF-8. A save writes a UTF-8 file back as it was
// spelled (its byte-order mark, its line ends), so that what the user did not change keeps every
// byte. Only a regular file inside the
// library folder (also once symbolic links are resolved) is read or written, so a damaged or
// hand-edited library file can never point a note at another file of the user's.
class TDNoteTextFile {
public:
    // How a file spelled its text, which a save spells it in again.
    struct Spelling {
        enum class Encoding { utf8, utf16LE, utf16BE, utf32LE, utf32BE };
        enum class LineEnd { lf, crLf, cr };
        Encoding encoding = Encoding::utf8;
        // Always there before UTF-16 and UTF-32; before UTF-8 only when the file had one.
        bool byteOrderMark = false;
        // The line end most of the file's line ends are (LF for a tie or a file without any):
        // what a line end typed into the note is written as.
        LineEnd lineEnd = LineEnd::lf;
        bool operator==(const Spelling&) const = default;
    };

    struct Contents {
        QString text;
        Spelling spelling;
    };

    // Stretches [first, second) of a text in UTF-16 units, sorted and apart.
    using Stretches = std::vector<std::pair<qsizetype, qsizetype>>;

    // Far beyond any note; the editor holds the whole text in memory twice over (UTF-16 and layout).
    static constexpr std::int64_t maximumTextBytes = std::int64_t(64) << 20;

    struct Failure {
        enum class Reason {
            outsideLibrary,
            libraryFile,
            missing,
            notRegularFile,
            readOnly,
            tooLarge,
            notUtf8,
            unreadable,
            notWritten,
        };
        Reason reason;
        // One sentence naming the file and the cause.
        QString description;
    };

    // One read of the whole file and one strict UTF-8 decode.
    static platform::Result<QString, Failure> read(const platform::Url& url);
    // The same, with how the file spelled it.
    static platform::Result<Contents, Failure> readContents(const platform::Url& url);

    // Replaces the file atomically with `text` in UTF-8: a failed write (a full disk included)
    // leaves the old file as it was. The note's folder is not created. A file the user made
    // read-only is refused (`readOnly`), as writing into it would be. A text larger than
    // `maximumTextBytes` in UTF-8 is refused, so that every note saved opens again. A text that begins with
    // U+FEFF is written after a byte-order mark, so `read` gives it back as it was. `text` is written
    // in UTF-8 with the mark `spelling` says of a UTF-8 file, its line ends as they are.
    static platform::Result<platform::Success, Failure> write(
        const platform::Url& url, const QString& text, const Spelling& spelling);
    // In UTF-8, without a mark unless the text begins with U+FEFF.
    static platform::Result<platform::Success, Failure> write(const platform::Url& url, const QString& text);

    // `text` with every line end (CR LF, LF or CR) that lies wholly inside a `typed` stretch made
    // the spelling's, and every other character as it is: the text a save writes, so a file keeps
    // one kind of line end where the user typed, and its own mixture where the user did not. A typed
    // line end that would so make one CR LF with the line end beside it stays as typed.
    static QString withTypedLineEnds(const QString& text, const Spelling& spelling, const Stretches& typed);

    // Why the existing file at `url` must not be replaced: it grants no write permission, to this
    // user or to anyone (so also when running as root). None when it may be, or is not there.
    static std::optional<Failure> readOnlyRefusal(const platform::Url& url);

    // Keeps the file beside itself as "NAME.changed-elsewhere-YYYYMMDDTHHMMSSZ.txt" (with "-2" and
    // on when that is taken) and answers where. A plain file stays in its place too, until the save
    // that follows replaces it. A symbolic link stays and its target's content is kept, or with
    // `LinkKept::moved` the link itself is moved aside.
    static platform::Result<platform::Url, Failure> keepAside(const platform::Url& url,
        platform::FileManager::LinkKept link = platform::FileManager::LinkKept::copied);

    // Strict UTF-8, or UTF-16 or UTF-32 after their byte-order mark: none for malformed or cut-short
    // sequences. A leading byte-order mark is dropped.
    static std::optional<QString> decodedText(const QByteArray& bytes);
    static std::optional<Contents> decodedContents(const QByteArray& bytes);
    // The bytes of `text` spelled as `spelling` says (line ends as they are): `decodedContents` of
    // them gives `text` back, and the bytes it was given back when `text` is what it decoded.
    static QByteArray encodedText(const QString& text, const Spelling& spelling);
};
