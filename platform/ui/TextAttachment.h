#pragma once

#include "platform/foundation/AssociatedObjects.h"

#include <memory>

namespace platform {

class Image;

// An image that sits inside a text, drawn by the view that shows the text. Held by std::shared_ptr;
// loaders keep per-attachment state in its associated objects. Main thread only: the view that draws
// it reads its image when it paints.
class TextAttachment : public AssociatedObjects {
public:
    const std::shared_ptr<Image>& image() const { return m_image; }
    void setImage(std::shared_ptr<Image> image) { m_image = std::move(image); }

private:
    std::shared_ptr<Image> m_image;
};

} // namespace platform
