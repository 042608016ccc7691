#include "app/notes/TDNoteTextFile.h"

#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/FileManager.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
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

QStringConverter::Encoding converterEncoding(TDNoteTextFile::Spelling::Encoding encoding)
{
    using Encoding = TDNoteTextFile::Spelling::Encoding;
    switch (encoding) {
    case Encoding::utf16LE:
        return QStringConverter::Utf16LE;
    case Encoding::utf16BE:
        return QStringConverter::Utf16BE;
    case Encoding::utf32LE:
        return QStringConverter::Utf32LE;
    case Encoding::utf32BE:
        return QStringConverter::Utf32BE;
    case Encoding::utf8:
        break;
    }
    return QStringConverter::Utf8;
}

// Counts CR LF, lone LF and lone CR. A tie goes to LF, the line end Return types.
TDNoteTextFile::Spelling::LineEnd mostCommonLineEnd(const QString& text)
{
    using LineEnd = TDNoteTextFile::Spelling::LineEnd;
    qsizetype crs = 0;
    qsizetype crLfs = 0;
    for (qsizetype at = text.indexOf(u'\r'); at >= 0; at = text.indexOf(u'\r', at + 1)) {
        ++crs;
        if (at + 1 < text.size() && text.at(at + 1) == u'\n')
            ++crLfs;
    }
    if (crs == 0)
        return LineEnd::lf;
    const qsizetype lfs = text.count(u'\n') - crLfs;
    const qsizetype loneCrs = crs - crLfs;
    if (crLfs > lfs && crLfs >= loneCrs)
        return LineEnd::crLf;
    if (loneCrs > lfs && loneCrs > crLfs)
        return LineEnd::cr;
    return LineEnd::lf;
}

} // namespace

std::optional<QString> TDNoteTextFile::decodedText(const QByteArray& bytes)
{
    auto contents = decodedContents(bytes);
    if (!contents)
        return std::nullopt;
    return std::move(contents->text);
}

std::optional<TDNoteTextFile::Contents> TDNoteTextFile::decodedContents(const QByteArray& bytes)
{
    using Encoding = Spelling::Encoding;
    // A mark of UTF-16 or UTF-32 names the encoding (UTF-32 first: its little-endian mark begins
    // with UTF-16's); anything else must be UTF-8.
    static const std::pair<QByteArrayView, Encoding> marks[] = {
        { QByteArrayView("\xFF\xFE\0\0", 4), Encoding::utf32LE },
        { QByteArrayView("\0\0\xFE\xFF", 4), Encoding::utf32BE },
        { QByteArrayView("\xFF\xFE", 2), Encoding::utf16LE },
        { QByteArrayView("\xFE\xFF", 2), Encoding::utf16BE },
    };
    Spelling spelling;
    spelling.byteOrderMark = bytes.startsWith("\xEF\xBB\xBF");
    qsizetype unit = 1;
    for (const auto& [mark, named] : marks) {
        if (bytes.startsWith(mark)) {
            spelling.encoding = named;
            spelling.byteOrderMark = true;
            unit = mark.size();
            break;
        }
    }
    // Qt's UTF-16 and UTF-32 decoders pass a cut-short unit and a lone surrogate by silently.
    if (bytes.size() % unit != 0)
        return std::nullopt;
    // Stateless: a sequence cut short at the end is an error, not state kept for more input. The
    // mark itself is dropped.
    QStringDecoder decoder(converterEncoding(spelling.encoding), QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    // They also take a value past U+10FFFF for U+FFFD without an error, which a save would then
    // write in its place: text that does not give back its bytes was not read right.
    if (unit > 1 && (!QStringView(text).isValidUtf16() || encodedText(text, spelling) != bytes))
        return std::nullopt;
    spelling.lineEnd = mostCommonLineEnd(text);
    return Contents { std::move(text), spelling };
}

QByteArray TDNoteTextFile::encodedText(const QString& text, const Spelling& spelling)
{
    if (spelling.encoding == Spelling::Encoding::utf8) {
        // Reading drops one leading byte-order mark, as files from other editors may start with
        // one; a text that itself begins with U+FEFF gets a mark in front so that it comes back
        // whole.
        QByteArray bytes = text.toUtf8();
        if (spelling.byteOrderMark || text.startsWith(QChar(0xFEFF)))
            bytes.prepend("\xEF\xBB\xBF");
        return bytes;
    }
    QStringEncoder encoder(converterEncoding(spelling.encoding), QStringEncoder::Flag::WriteBom);
    return encoder.encode(text);
}

QString TDNoteTextFile::withTypedLineEnds(
    const QString& text, const Spelling& spelling, const Stretches& typed)
{
    using LineEnd = Spelling::LineEnd;
    const QStringView wanted = spelling.lineEnd == LineEnd::crLf ? QStringView(u"\r\n")
        : spelling.lineEnd == LineEnd::cr                        ? QStringView(u"\r")
                                                                 : QStringView(u"\n");
    // The typed line ends, each as [at, at + length).
    std::vector<std::pair<qsizetype, qsizetype>> ends;
    for (const auto& [from, end] : typed) {
        const qsizetype stop = std::min(end, text.size());
        for (qsizetype at = std::max<qsizetype>(from, 0); at < stop; ++at) {
            const QChar c = text.at(at);
            if (c != u'\r' && c != u'\n')
                continue;
            // A CR LF is one line end only when both were typed; half of one kept from the file
            // stays as it was.
            const qsizetype length = c == u'\r' && at + 1 < stop && text.at(at + 1) == u'\n' ? 2 : 1;
            ends.emplace_back(at, length);
            at += length - 1;
        }
    }
    // A typed line end respelled must not become half of a CR LF with its neighbour as written (a
    // CR before an LF, a CR after a CR): the two would read back as one line end, and a line the
    // user made would be gone. Such a one is written as it was typed. An LF can only join a CR
    // before it and a CR an LF after it, so LFs are settled from the start and CRs from the end.
    std::vector<bool> respelled(ends.size(), true);
    const auto typedAs = [&](size_t i) { return QStringView(text).sliced(ends[i].first, ends[i].second); };
    const auto writtenAs = [&](size_t i) { return respelled[i] ? wanted : typedAs(i); };
    if (wanted == u"\n") {
        for (size_t i = 0; i < ends.size(); ++i) {
            const qsizetype at = ends[i].first;
            const bool afterEnd = i > 0 && ends[i - 1].first + ends[i - 1].second == at;
            const QChar before = afterEnd ? writtenAs(i - 1).back() : at > 0 ? text.at(at - 1) : QChar();
            respelled[i] = before != u'\r';
        }
    } else if (wanted == u"\r") {
        for (size_t i = ends.size(); i-- > 0;) {
            const qsizetype after = ends[i].first + ends[i].second;
            const bool beforeEnd = i + 1 < ends.size() && ends[i + 1].first == after;
            const QChar next = beforeEnd ? writtenAs(i + 1).front()
                : after < text.size()    ? text.at(after)
                                         : QChar();
            respelled[i] = next != u'\n';
        }
    }

    QString spelled;
    qsizetype copied = 0;
    for (size_t i = 0; i < ends.size(); ++i) {
        const auto [at, length] = ends[i];
        if (!respelled[i] || typedAs(i) == wanted)
            continue;
        if (spelled.isNull())
            spelled.reserve(text.size() + text.size() / 16);
        spelled.append(QStringView(text).sliced(copied, at - copied));
        spelled.append(wanted);
        copied = at + length;
    }
    if (spelled.isNull())
        return text;
    spelled.append(QStringView(text).sliced(copied));
    return spelled;
}

Result<QString, TDNoteTextFile::Failure> TDNoteTextFile::read(const Url& url)
{
    auto contents = readContents(url);
    if (!contents)
        return Result<QString, Failure>::failure(std::move(contents).error());
    return Result<QString, Failure>::success(std::move(std::move(contents).value().text));
}

Result<TDNoteTextFile::Contents, TDNoteTextFile::Failure> TDNoteTextFile::readContents(const Url& url)
{
    using Outcome = Result<Contents, Failure>;
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
    auto contents = decodedContents(bytes.value());
    if (!contents)
        return Outcome::failure({ Reason::notUtf8,
            QStringLiteral("%1 does not hold UTF-8 text (nor UTF-16 or UTF-32 text with a byte-order mark).")
                .arg(url.path()) });
    return Outcome::success(std::move(*contents));
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

Result<Success, TDNoteTextFile::Failure> TDNoteTextFile::write(
    const Url& url, const QString& text, const Spelling& spelling)
{
    using Outcome = Result<Success, Failure>;
    if (auto refused = refusal(url))
        return Outcome::failure(std::move(*refused));
    if (auto readOnly = readOnlyRefusal(url))
        return Outcome::failure(std::move(*readOnly));
    // Notes are kept in UTF-8: a file read in UTF-16 or UTF-32 is written in UTF-8, without their
    // mark; its line ends stay as they were.
    Spelling inUtf8 = spelling;
    if (inUtf8.encoding != Spelling::Encoding::utf8) {
        inUtf8.encoding = Spelling::Encoding::utf8;
        inUtf8.byteOrderMark = false;
    }
    const QByteArray bytes = encodedText(text, inUtf8);
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

Result<Success, TDNoteTextFile::Failure> TDNoteTextFile::write(const Url& url, const QString& text)
{
    return write(url, text, Spelling {});
}

Result<Url, TDNoteTextFile::Failure> TDNoteTextFile::keepAside(const Url& url, FileManager::LinkKept link)
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
    // A plain file stays the note's until the save's rename replaces it: a save that fails (a full
    // disk) or a crash before the rename leaves the note its text, not a missing file that opens as
    // an empty note.
    auto moved = FileManager::keepBeside(url, name, QStringLiteral(".changed-elsewhere-"), extension,
        maximumTextBytes, link, FileManager::Original::staysUntilReplaced);
    if (!moved)
        return Outcome::failure({ Reason::notWritten, moved.error().description + QLatin1Char('.') });
    return Outcome::success(moved.value());
}
