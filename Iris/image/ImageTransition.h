#pragma once

#include <optional>

namespace iris {

enum class CacheType;

// How a view shows an image that has just been loaded.
struct ImageTransition {
    enum class Kind {
        none, // at once
        fade, // fading in over `duration` seconds
    };

    Kind kind = Kind::none;
    double duration = 0;

    static ImageTransition none() { return {}; }
    static ImageTransition fade(double seconds) { return { Kind::fade, seconds }; }

    // The fade a view runs for a new image: a fade's duration when the transition is forced or the
    // image did not come from a cache (its cache type is none); nothing otherwise, and always
    // nothing for `none`.
    std::optional<double> fadeDuration(CacheType cacheType, bool forceTransition) const;

    bool operator==(const ImageTransition&) const = default;
};

} // namespace iris
