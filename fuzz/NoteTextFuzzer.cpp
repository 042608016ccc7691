// A note file's bytes: the decode either refuses them or gives text that holds no lone surrogate
// and that a save (UTF-8, a mark before a leading U+FEFF) writes so that it reads back the same.
#include "FuzzSupport.h"

#include "app/notes/TDNoteTextFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> text = TDNoteTextFile::decodedText(bytes);
    if (!text)
        return 0;
    if (!QStringView(*text).isValidUtf16())
        std::abort();
    QByteArray saved = text->toUtf8();
    if (text->startsWith(QChar(0xFEFF)))
        saved.prepend("\xEF\xBB\xBF");
    if (TDNoteTextFile::decodedText(saved) != text)
        std::abort();
    return 0;
}
