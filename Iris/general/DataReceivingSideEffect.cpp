#include "Iris/general/DataReceivingSideEffect.h"

#include "platform/foundation/DispatchQueue.h"

namespace iris {

ImageLoadingProgressSideEffect::ImageLoadingProgressSideEffect(DownloadProgressBlock block)
    : m_onShouldApply([] { return true; })
    , m_block(std::move(block))
{
}

std::function<bool()> ImageLoadingProgressSideEffect::onShouldApply() const
{
    std::lock_guard lock(m_mutex);
    return m_onShouldApply;
}

void ImageLoadingProgressSideEffect::setOnShouldApply(std::function<bool()> gate)
{
    std::lock_guard lock(m_mutex);
    m_onShouldApply = std::move(gate);
}

void ImageLoadingProgressSideEffect::reportReceivedData(platform::UrlSession*,
    const std::shared_ptr<SessionDataTask>&, const QByteArray&, std::int64_t accumulatedLength,
    std::int64_t expectedContentLength)
{
    std::function<bool()> gate = onShouldApply();
    if (gate && !gate())
        return;
    if (expectedContentLength == -1 || !m_block)
        return;
    platform::DispatchQueue::main()->async([block = m_block, accumulatedLength, expectedContentLength] {
        block(accumulatedLength, expectedContentLength);
    });
}

} // namespace iris
