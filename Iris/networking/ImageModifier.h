#pragma once

#include <memory>

namespace platform {
class Image;
}

namespace iris {

// Changes the image handed to a retrieval's caller; the cached image is never changed.
class ImageModifier {
public:
    virtual ~ImageModifier() = default;
    virtual std::shared_ptr<platform::Image> modifiedImage(std::shared_ptr<platform::Image> image) const = 0;
};

} // namespace iris
