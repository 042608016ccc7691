// A note file's bytes: the decode either refuses them or gives text that holds no lone surrogate,
// and a save of that text in the spelling read from the file writes the very same bytes. Line ends
// typed anywhere are all written as the file's most common one. The note window's own road is run
// too: the file read from disk, the typed text saved over it and read again.
#include "FuzzSupport.h"

#include "app/notes/TDNoteTextFile.h"
#include "platform/foundation/Environment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// A note's file inside a library folder of its own, on tmpfs where there is one.
platform::Url noteFile()
{
    static QTemporaryDir folder(QDir("/dev/shm").exists() ? "/dev/shm/fuzz-notes-XXXXXX" : QString());
    static const platform::Url url = [] {
        const QString documents = folder.path() + "/Documents";
        QDir().mkpath(documents + "/Tindrel.folder");
        platform::Environment::setRoots({ documents, folder.path() + "/Caches", folder.path() + "/settings.ini", {} });
        return platform::Url::fileUrl(documents + "/Tindrel.folder/note.txt");
    }();
    return url;
}

// What the note window does with the file: read it as it opens, save the typed text over it. The
// read gives what the decode gives, and the saved file reads back as the text saved, in UTF-8.
void loadAndSave(const QByteArray& bytes, const std::optional<TDNoteTextFile::Contents>& decoded,
    const TDNoteTextFile::Stretches& typed)
{
    const platform::Url url = noteFile();
    {
        QFile file(url.path());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            std::abort();
    }
    const auto read = TDNoteTextFile::readContents(url);
    if (read.isSuccess() != decoded.has_value())
        std::abort();
    if (!read)
        return;
    if (read.value().text != decoded->text || !(read.value().spelling == decoded->spelling))
        std::abort();
    const QString spelled = TDNoteTextFile::withTypedLineEnds(read.value().text, read.value().spelling, typed);
    if (!TDNoteTextFile::write(url, spelled, read.value().spelling))
        std::abort();
    const auto again = TDNoteTextFile::readContents(url);
    if (!again || again.value().text != spelled
        || again.value().spelling.encoding != TDNoteTextFile::Spelling::Encoding::utf8)
        std::abort();
    // A UTF-8 file saved with nothing typed keeps every byte.
    if (typed.empty() && decoded->spelling.encoding == TDNoteTextFile::Spelling::Encoding::utf8) {
        QFile file(url.path());
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto contents = TDNoteTextFile::decodedContents(bytes);
    // Odd sizes are saved as they were read, even ones with every line end typed.
    loadAndSave(bytes, contents,
        size % 2 == 0 && contents ? TDNoteTextFile::Stretches { { 0, contents->text.size() } }
                                  : TDNoteTextFile::Stretches {});
    if (!contents)
        return 0;
    const QString& text = contents->text;
    if (!QStringView(text).isValidUtf16())
        std::abort();
    if (TDNoteTextFile::encodedText(text, contents->spelling) != bytes)
        std::abort();

    // Everything typed: every line end comes out as the spelling's, and reads back as written.
    using LineEnd = TDNoteTextFile::Spelling::LineEnd;
    const QString typed = TDNoteTextFile::withTypedLineEnds(text, contents->spelling, { { 0, text.size() } });
    const auto reread
        = TDNoteTextFile::decodedContents(TDNoteTextFile::encodedText(typed, contents->spelling));
    if (!reread || reread->text != typed)
        std::abort();
    const bool onlyWanted = [&] {
        switch (contents->spelling.lineEnd) {
        case LineEnd::lf:
            return !typed.contains(u'\r');
        case LineEnd::cr:
            return !typed.contains(u'\n');
        case LineEnd::crLf:
            break;
        }
        return typed.count(u"\r\n") == typed.count(u'\r') && typed.count(u'\r') == typed.count(u'\n');
    }();
    if (!onlyWanted)
        std::abort();
    return 0;
}
