// A note file's bytes: the decode either refuses them or gives text that holds no lone surrogate,
// and a save of that text in the spelling read from the file writes the very same bytes. Line ends
// typed anywhere are all written as the file's most common one.
#include "FuzzSupport.h"

#include "app/notes/TDNoteTextFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto contents = TDNoteTextFile::decodedContents(bytes);
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
