#include "Iris/declarative/TransitionAccess.h"

#if __has_include("Iris/image/ImageTransition.h")
#include "Iris/image/ImageTransition.h"
#else
namespace iris {
// Whether a just-loaded image fades in, and over how long.
class ImageTransition {
public:
    static std::shared_ptr<const ImageTransition> fade(double seconds)
    {
        return std::make_shared<const ImageTransition>(seconds);
    }
    explicit ImageTransition(std::optional<double> fadeSeconds)
        : m_fadeSeconds(fadeSeconds)
    {
    }
    std::optional<double> fadeDuration() const { return m_fadeSeconds; }

private:
    std::optional<double> m_fadeSeconds;
};
} // namespace iris
#endif

namespace iris {

std::shared_ptr<const ImageTransition> makeFadeTransition(double seconds)
{
    return ImageTransition::fade(seconds);
}

std::optional<double> transitionFadeDuration(const std::shared_ptr<const ImageTransition>& transition)
{
    if (!transition)
        return std::nullopt;
    return transition->fadeDuration();
}

} // namespace iris
