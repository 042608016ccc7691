#include "app/notes/TDNoteTextFile.h"

#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/FileManager.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using platform::FileManager;
using platform::Result;
using platform::Success;
using platform::Url;

namespace {

using Reason = TDNoteTextFile::Failure::Reason;

// Why the note's file at `url` may be neither read for editing nor written, if it may not: it lies
// outside the library folder, or it is a library file that a library file names as a note's text,
// where what the user typed would replace the library.
std::optional<TDNoteTextFile::Failure> refusal(const Url& url)
{
    if (!url.isFileUrl() || !TDDirectoryPath::isInsideLibraryFolder(url))
        return TDNoteTextFile::Failure { Reason::outsideLibrary,
            QStringLiteral("%1 is not inside the library folder.")
                .arg(url.isFileUrl() ? url.path() : url.absoluteString()) };
    if (TDDirectoryPath::isLibraryFile(url))
        return TDNoteTextFile::Failure { Reason::libraryFile,
            QStringLiteral("%1 is one of the library's own files, not a note's text.").arg(url.path()) };
    return std::nullopt;
}

// The whole content of a regular file of at most `limitBytes`, or the errno that stopped it. Reads
// the size the file has into a buffer of that size, then probes for more with a small read, so a
// note costs one allocation and one read (a buffer grown by doubling would touch twice the memory).
platform::Result<QByteArray, int> readWholeFile(const Url& url, std::int64_t limitBytes)
{
    using Read = platform::Result<QByteArray, int>;
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused right after.
    const int fd = ::open(url.path().toUtf8().constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Read::failure(errno);
    auto fail = [fd](int error) {
        ::close(fd);
        return Read::failure(error);
    };
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return fail(errno);
    if (!S_ISREG(info.st_mode))
        return fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    if (info.st_size > limitBytes)
        return fail(EFBIG);
    QByteArray bytes(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    char probe[4096];
    for (;;) {
        const bool full = done == bytes.size();
        char* into = full ? probe : bytes.data() + done;
        const size_t room = full ? sizeof probe : static_cast<size_t>(bytes.size() - done);
        const ssize_t count = ::read(fd, into, room);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (count == 0)
            break;
        if (full) {
            // The file grew since fstat.
            if (bytes.size() + count > limitBytes)
                return fail(EFBIG);
            bytes.append(probe, count);
        }
        done += count;
    }
    ::close(fd);
    bytes.truncate(done);
    return Read::success(std::move(bytes));
}

} // namespace

std::optional<QString> TDNoteTextFile::decodedText(const QByteArray& bytes)
{
    // A mark of UTF-16 or UTF-32 names the encoding (UTF-32 first: its little-endian mark begins
    // with UTF-16's); anything else must be UTF-8.
    static const std::pair<QByteArrayView, QStringConverter::Encoding> marks[] = {
        { QByteArrayView("\xFF\xFE\0\0", 4), QStringConverter::Utf32LE },
        { QByteArrayView("\0\0\xFE\xFF", 4), QStringConverter::Utf32BE },
        { QByteArrayView("\xFF\xFE", 2), QStringConverter::Utf16LE },
        { QByteArrayView("\xFE\xFF", 2), QStringConverter::Utf16BE },
    };
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    qsizetype unit = 1;
    for (const auto& [mark, named] : marks) {
        if (bytes.startsWith(mark)) {
            encoding = named;
            unit = mark.size();
            break;
        }
    }
    // Qt's UTF-16 and UTF-32 decoders pass a cut-short unit and a lone surrogate by silently.
    if (bytes.size() % unit != 0)
        return std::nullopt;
    // Stateless: a sequence cut short at the end is an error, not state kept for more input. The
    // mark itself is dropped.
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    if (unit > 1 && !QStringView(text).isValidUtf16())
        return std::nullopt;
    return text;
}

Result<QString, TDNoteTextFile::Failure> TDNoteTextFile::read(const Url& url)
{
    using Outcome = Result<QString, Failure>;
    if (auto refused = refusal(url))
        return Outcome::failure(std::move(*refused));
    auto bytes = readWholeFile(url, maximumTextBytes);
    if (!bytes) {
        const int error = bytes.error();
        if (error == ENOENT)
            return Outcome::failure(
                { Reason::missing, QStringLiteral("There is no file at %1.").arg(url.path()) });
        if (error == EISDIR || error == EINVAL)
            return Outcome::failure(
                { Reason::notRegularFile, QStringLiteral("%1 is not a regular file.").arg(url.path()) });
        if (error == EFBIG)
            return Outcome::failure({ Reason::tooLarge,
                QStringLiteral("%1 is larger than %2 MiB.").arg(url.path()).arg(maximumTextBytes >> 20) });
        return Outcome::failure(
            { Reason::unreadable, platform::PlatformError::fromErrno(error, url.path()).description + '.' });
    }
    auto text = decodedText(bytes.value());
    if (!text)
        return Outcome::failure({ Reason::notUtf8,
            QStringLiteral("%1 does not hold UTF-8 text (nor UTF-16 or UTF-32 text with a byte-order mark).")
                .arg(url.path()) });
    return Outcome::success(std::move(*text));
}

std::optional<TDNoteTextFile::Failure> TDNoteTextFile::readOnlyRefusal(const Url& url)
{
    // A replacement goes through a new file renamed over the old one, which the folder's permission
    // allows whatever the file's own says; the file's own is what the user set to protect it.
    const QByteArray path = url.path().toUtf8();
    struct stat info;
    if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.constData(), W_OK) == 0)
        return std::nullopt;
    return Failure { Reason::readOnly,
        QStringLiteral("%1 is read-only, so it was not changed.").arg(url.path()) };
}

Result<Success, TDNoteTextFile::Failure> TDNoteTextFile::write(const Url& url, const QString& text)
{
    using Outcome = Result<Success, Failure>;
    if (auto refused = refusal(url))
        return Outcome::failure(std::move(*refused));
    if (auto readOnly = readOnlyRefusal(url))
        return Outcome::failure(std::move(*readOnly));
    // Reading drops one leading byte-order mark, as files from other editors may start with one; a
    // text that itself begins with U+FEFF gets a mark in front so that it comes back whole.
    QByteArray bytes = text.toUtf8();
    if (text.startsWith(QChar(0xFEFF)))
        bytes.prepend("\xEF\xBB\xBF");
    // A file past what `read` takes would save and then never open again.
    if (bytes.size() > maximumTextBytes)
        return Outcome::failure({ Reason::tooLarge,
            QStringLiteral("The text is larger than the %1 MiB a note can be opened at, so it was not "
                           "written to %2.")
                .arg(maximumTextBytes >> 20)
                .arg(url.path()) });
    auto written = FileManager::writeAtomically(url, bytes);
    if (!written)
        return Outcome::failure({ Reason::notWritten, written.error().description + QLatin1Char('.') });
    return Outcome::success({});
}

Result<Url, TDNoteTextFile::Failure> TDNoteTextFile::keepAside(const Url& url)
{
    using Outcome = Result<Url, Failure>;
    if (auto refused = refusal(url))
        return Outcome::failure(std::move(*refused));
    QString name = url.lastPathComponent();
    // The kept file still ends in ".txt", so it opens as text wherever the user finds it.
    QString extension;
    if (name.endsWith(QLatin1String(".txt"))) {
        name.chop(4);
        extension = QStringLiteral(".txt");
    }
    auto moved = FileManager::keepBeside(
        url, name, QStringLiteral(".changed-elsewhere-"), extension, maximumTextBytes);
    if (!moved)
        return Outcome::failure({ Reason::notWritten, moved.error().description + QLatin1Char('.') });
    return Outcome::success(moved.value());
}
