#pragma once

#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

#include <cstdint>
#include <optional>

// A note's text file: plain UTF-8, read whole and replaced whole. A file that begins with the
// byte-order mark of UTF-16 or UTF-32 (as Windows editors write "Unicode" text) is read in that
// encoding; a save writes it as UTF-8. Only a regular file inside the
// library folder (also once symbolic links are resolved) is read or written, so a damaged or
// hand-edited library file can never point a note at another file of the user's.
class TDNoteTextFile {
public:
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

    // Replaces the file atomically with `text` in UTF-8: a failed write (a full disk included)
    // leaves the old file as it was. The note's folder is not created. A file the user made
    // read-only is refused (`readOnly`), as writing into it would be. A text larger than
    // `maximumTextBytes` in UTF-8 is refused, so that every note saved opens again. A text that begins with
    // U+FEFF is written after a byte-order mark, so `read` gives it back as it was.
    static platform::Result<platform::Success, Failure> write(const platform::Url& url, const QString& text);

    // Why the existing file at `url` must not be replaced: it grants no write permission, to this
    // user or to anyone (so also when running as root). None when it may be, or is not there.
    static std::optional<Failure> readOnlyRefusal(const platform::Url& url);

    // Renames the file beside itself to "NAME.changed-elsewhere-YYYYMMDDTHHMMSSZ.txt" (with "-2" and
    // on when that is taken) and answers where it went.
    static platform::Result<platform::Url, Failure> keepAside(const platform::Url& url);

    // Strict UTF-8, or UTF-16 or UTF-32 after their byte-order mark: none for malformed or cut-short
    // sequences. A leading byte-order mark is dropped.
    static std::optional<QString> decodedText(const QByteArray& bytes);
};
