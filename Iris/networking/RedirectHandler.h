#pragma once

#include "platform/foundation/UrlRequest.h"
#include "platform/foundation/UrlResponse.h"

#include <functional>
#include <memory>
#include <optional>

namespace iris {

class SessionDataTask;

using RedirectCompletion = std::function<void(std::optional<platform::UrlRequest>)>;

// Decides the request that follows an HTTP redirection: the proposed one, a changed one, or none
// to refuse it (the redirect response is then the final answer). Answers once, on any thread.
class ImageDownloadRedirectHandler {
public:
    virtual ~ImageDownloadRedirectHandler() = default;

    virtual void decideRedirection(const std::shared_ptr<SessionDataTask>& task,
        const platform::UrlResponse& response, const platform::UrlRequest& newRequest,
        RedirectCompletion completionHandler) const = 0;
};

// A redirect handler made from a block; whether and when the completion runs is up to the block.
class AnyRedirectHandler final : public ImageDownloadRedirectHandler {
public:
    using Block = std::function<void(const std::shared_ptr<SessionDataTask>&, const platform::UrlResponse&,
        const platform::UrlRequest&, RedirectCompletion)>;

    explicit AnyRedirectHandler(Block block)
        : m_block(std::make_shared<const Block>(std::move(block)))
    {
    }

    void decideRedirection(const std::shared_ptr<SessionDataTask>& task,
        const platform::UrlResponse& response, const platform::UrlRequest& newRequest,
        RedirectCompletion completionHandler) const override
    {
        if (*m_block)
            (*m_block)(task, response, newRequest, std::move(completionHandler));
        else
            completionHandler(newRequest);
    }

private:
    std::shared_ptr<const Block> m_block;
};

} // namespace iris
