#pragma once

#include <functional>
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

// An image modifier made from a block that may throw. A block that throws, or answers no image,
// leaves the input image as the answer: modifying never fails.
class AnyImageModifier final : public ImageModifier {
public:
    using Block = std::function<std::shared_ptr<platform::Image>(std::shared_ptr<platform::Image>)>;

    explicit AnyImageModifier(Block block)
        : m_block(std::make_shared<const Block>(std::move(block)))
    {
    }

    std::shared_ptr<platform::Image> modifiedImage(std::shared_ptr<platform::Image> image) const override
    {
        if (!*m_block)
            return image;
        try {
            if (auto modified = (*m_block)(image))
                return modified;
        } catch (...) {
        }
        return image;
    }

private:
    std::shared_ptr<const Block> m_block;
};

} // namespace iris
