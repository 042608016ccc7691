// The library files and the stored category list: strict decoding of outside JSON, and the cut of a
// large file into pieces, which must never let through a file the whole parse refuses.
#include "FuzzSupport.h"

#include "app/store/TDLibraryCoding.h"
#include "platform/foundation/Json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    tdlibrary::decodeProjects(bytes);
    tdlibrary::decodeMedia(bytes);
    tdlibrary::decodeLinks(bytes);
    tdlibrary::decodeCategories(bytes);

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
