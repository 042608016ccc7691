#pragma once

#include <memory>
#include <optional>

namespace iris {

class ImageTransition;

// The two things the image views do with a transition, kept in one place.
std::shared_ptr<const ImageTransition> makeFadeTransition(double seconds);
// The fade's duration; nothing for no transition (null) or `none`.
std::optional<double> transitionFadeDuration(const std::shared_ptr<const ImageTransition>& transition);

} // namespace iris
