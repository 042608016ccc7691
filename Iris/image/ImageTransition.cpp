#include "Iris/image/ImageTransition.h"

#include "Iris/cache/ImageCache.h"

namespace iris {

std::optional<double> ImageTransition::fadeDuration(CacheType cacheType, bool forceTransition) const
{
    if (kind != Kind::fade || (cacheType != CacheType::none && !forceTransition))
        return std::nullopt;
    return duration;
}

} // namespace iris
