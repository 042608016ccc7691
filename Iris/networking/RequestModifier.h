#pragma once

#include "Iris/networking/DownloadTask.h"

#include "platform/foundation/UrlRequest.h"

#include <functional>
#include <memory>
#include <optional>

namespace iris {

using RequestModifierCompletion = std::function<void(std::optional<platform::UrlRequest>)>;
using DownloadTaskStartedHandler = std::function<void(std::optional<DownloadTask>)>;

// Rewrites the request of a download before it is sent. `modifyRequest` answers through
// `completion` once, at once or later, on any thread; no request means no download takes place.
class AsyncImageDownloadRequestModifier {
public:
    virtual ~AsyncImageDownloadRequestModifier() = default;

    virtual void modifyRequest(
        const platform::UrlRequest& request, RequestModifierCompletion completion) const = 0;
    // Told the download once it has been registered; empty when nobody wants to know.
    virtual DownloadTaskStartedHandler taskStartedHandler() const { return {}; }
};

// A modifier that answers synchronously.
class ImageDownloadRequestModifier : public AsyncImageDownloadRequestModifier {
public:
    virtual std::optional<platform::UrlRequest> modifiedRequest(
        const platform::UrlRequest& request) const = 0;

    void modifyRequest(
        const platform::UrlRequest& request, RequestModifierCompletion completion) const override
    {
        completion(modifiedRequest(request));
    }
};

// A synchronous modifier made from a block.
class AnyModifier final : public ImageDownloadRequestModifier {
public:
    using Block = std::function<std::optional<platform::UrlRequest>(const platform::UrlRequest&)>;

    explicit AnyModifier(Block block)
        : m_block(std::make_shared<const Block>(std::move(block)))
    {
    }

    std::optional<platform::UrlRequest> modifiedRequest(const platform::UrlRequest& request) const override
    {
        return *m_block ? (*m_block)(request) : std::optional<platform::UrlRequest>(request);
    }

    const Block& block() const { return *m_block; }

private:
    std::shared_ptr<const Block> m_block;
};

} // namespace iris
