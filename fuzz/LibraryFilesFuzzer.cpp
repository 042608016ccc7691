// The library files, the list of unfinished changes and the stored category list: strict decoding
// of outside JSON, and the cut of a large file into pieces, which must never let through a file the
// whole parse refuses. The direct reading of the library files must take only files the document
// takes, and give the same records.
#include "FuzzSupport.h"

#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryJournal.h"
#include "platform/foundation/Json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Below this, files are read in one piece.
constexpr qsizetype largeFileBytes = 80 * 1024;

// `bytes` and, when it is one array with elements, the same elements repeated into a file large
// enough to be read in pieces.
QList<QByteArray> smallAndLarge(const QByteArray& bytes)
{
    QList<QByteArray> files { bytes };
    const qsizetype open = bytes.indexOf('['), close = bytes.lastIndexOf(']');
    if (open < 0 || close <= open + 1)
        return files;
    const QByteArray body = bytes.mid(open + 1, close - open - 1);
    QByteArray large = "[" + body;
    while (large.size() < largeFileBytes)
        large += "," + body;
    files.append(large + "]");
    return files;
}

// The decoding gives what the document gives, and the direct reading, when it takes a file, too.
template<typename Read, typename Decode, typename Document, typename Encode>
void compare(const QByteArray& bytes, Read read, Decode decode, Document document, Encode encode)
{
    const auto reference = document(bytes);
    const auto decoded = decode(bytes);
    if (bool(decoded) != bool(reference))
        std::abort();
    if (!reference) {
        if (decoded.error().description != reference.error().description)
            std::abort();
    } else {
        const auto saved = encode(decoded.value());
        if (saved.value() != encode(reference.value()).value())
            std::abort();
        // What a save writes loads back to itself: a load and a save with no change keep every byte.
        const auto loaded = decode(saved.value());
        if (!loaded || encode(loaded.value()).value() != saved.value())
            std::abort();
    }
    if (const auto direct = read(bytes)) {
        if (!reference || encode(*direct).value() != encode(reference.value()).value())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    tdlibrary::decodeCategories(bytes);
    // The list of unfinished changes: what it takes, it writes back the same.
    if (const auto changes = TDLibraryJournal::decode(bytes)) {
        const QByteArray written = TDLibraryJournal::encode(changes.value());
        const auto again = TDLibraryJournal::decode(written);
        if (!again || TDLibraryJournal::encode(again.value()) != written)
            std::abort();
    }
    // A list cut short keeps what its whole lines hold; a whole document reads as `decode` reads it.
    if (const auto found = TDLibraryJournal::read(bytes)) {
        const QByteArray written = TDLibraryJournal::encode(found.value().changes);
        const auto again = TDLibraryJournal::read(written);
        if (!again || !again.value().whole || TDLibraryJournal::encode(again.value().changes) != written)
            std::abort();
        if (found.value().whole != bool(TDLibraryJournal::decode(bytes)))
            std::abort();
    }
    for (const QByteArray& file : smallAndLarge(bytes)) {
        compare(file, tdlibrary::readProjectsDirectly, tdlibrary::decodeProjects,
            tdlibrary::decodeProjectsThroughDocument, tdlibrary::encodeProjects);
        compare(file, tdlibrary::readMediaDirectly, tdlibrary::decodeMedia,
            tdlibrary::decodeMediaThroughDocument, tdlibrary::encodeMedia);
        compare(file, tdlibrary::readLinksDirectly, tdlibrary::decodeLinks,
            tdlibrary::decodeLinksThroughDocument, tdlibrary::encodeLinks);
    }

    // Inputs here are small, so the pieces are checked directly: when every piece parses, the
    // whole file parses to the same elements.
    if (const auto pieces = platform::splitJsonArray(bytes, 3)) {
        QJsonArray joined;
        for (const QByteArrayView piece : *pieces) {
            const auto parsed = platform::parseJsonArray("[" + piece.toByteArray() + "]");
            if (!parsed)
                return 0;
            for (const QJsonValue& value : parsed.value())
                joined.append(value);
        }
        const auto whole = platform::parseJsonArray(bytes);
        if (!whole || whole.value() != joined)
            std::abort();
    }
    return 0;
}
