// The last-access record kept in a cache file's extended attribute, as any program may have left it.
// It reads back as a date or as nothing, never as a crash, and a date read back is written the same.
#include "FuzzSupport.h"

#include "Iris/cache/CacheFileSystem.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (auto date = iris::parseLastAccessAttribute(bytes)) {
        if (iris::parseLastAccessAttribute(iris::lastAccessAttributeValue(*date)) != date)
            std::abort();
    }
    return 0;
}
