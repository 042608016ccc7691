#include "Iris/views/AnimatedImageFrames.h"

#include "Iris/image/Image.h"

#include "platform/ui/AnimatedImageView.h"

#include <mutex>

namespace iris {

namespace {

class FrameSourceAdapter final : public platform::AnimationFrameSource {
public:
    explicit FrameSourceAdapter(std::shared_ptr<ImageFrameSource> source)
        : m_source(std::move(source))
    {
    }

    int frameCount() const override { return m_source->frameCount(); }
    std::optional<platform::Bitmap> frame(int index, std::optional<platform::Size> maxSize) const override
    {
        return m_source->frameImage(index, maxSize);
    }
    double frameDuration(int index) const override { return m_source->frameDuration(index); }

private:
    std::shared_ptr<ImageFrameSource> m_source;
};

std::shared_ptr<platform::AnimationFrameSource> lookUpFrames(const std::shared_ptr<platform::Image>& image)
{
    const ImageWrapper wrapper = ir(image);
    std::shared_ptr<ImageFrameSource> source = wrapper.frameSource();
    if (!source)
        return nullptr;
    // Images decoded for their first frame alone carry the source all the same, but no frames.
    const auto frames = wrapper.images();
    if (!frames || frames->size() < 2 || source->frameCount() < 2)
        return nullptr;
    return std::make_shared<FrameSourceAdapter>(std::move(source));
}

} // namespace

void installAnimatedImageFrameSources()
{
    static std::once_flag installed;
    std::call_once(installed, [] { platform::AnimatedImageView::setFrameSourceLookup(lookUpFrames); });
}

} // namespace iris
