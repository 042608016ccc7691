// A disk-cache file as another program may have left it: cut short, overwritten or not an image at
// all. It reads back as a picture or as nothing, never as a crash.
#include "FuzzSupport.h"

#include "Iris/cache/CacheSerializer.h"
#include "Iris/general/IrisOptionsInfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    iris::IrisParsedOptionsInfo options;
    options.onlyLoadFirstFrame = size % 2 == 0;
    (void)iris::DefaultCacheSerializer::shared()->imageFromCacheData(bytes, options);
    return 0;
}
