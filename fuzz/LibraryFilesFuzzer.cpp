// The library files and the stored category list: strict decoding of outside JSON.
#include "FuzzSupport.h"

#include "app/store/TDLibraryCoding.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    tdlibrary::decodeProjects(bytes);
    tdlibrary::decodeMedia(bytes);
    tdlibrary::decodeLinks(bytes);
    tdlibrary::decodeCategories(bytes);
    return 0;
}
