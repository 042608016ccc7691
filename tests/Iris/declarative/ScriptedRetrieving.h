#pragma once

#include "Iris/declarative/ImageRetrieving.h"
#include "Iris/utility/CallbackQueue.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Image.h"
#include "support/TestSupport.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <vector>

namespace iristest {

// A retrieval manager whose retrievals finish when the test says so.
class ScriptedRetrieving final : public iris::ImageRetrieving {
public:
    struct Call {
        iris::Source source;
        iris::IrisParsedOptionsInfo options;
        ProgressBlock progress;
        iris::RetrieveImageCompletion completion;
        std::int64_t token = 0;
    };

    iris::IrisOptionsInfo defaults;
    std::vector<Call> calls;
    std::vector<std::int64_t> cancelled;
    // When set, a retrieval completes at once with this, like a memory-cache hit.
    std::function<std::optional<iris::RetrieveImageResultOrError>(const iris::Source&)> immediate;

    iris::IrisOptionsInfo defaultOptions() const override { return defaults; }

    std::optional<iris::DownloadTask> retrieveWithParsedOptions(const iris::Source& source,
        iris::IrisParsedOptionsInfo options, ProgressBlock progress,
        iris::RetrieveImageCompletion completion) override
    {
        if (immediate) {
            if (auto result = immediate(source)) {
                iris::runCallback(
                    options.callbackQueue, [completion, result = *result] { completion(result); });
                return std::nullopt;
            }
        }
        const auto token = static_cast<std::int64_t>(calls.size());
        calls.push_back({ source, std::move(options), std::move(progress), std::move(completion), token });
        return iris::DownloadTask { nullptr, token };
    }

    void cancel(const iris::DownloadTask& task) override { cancelled.push_back(task.cancelToken); }

    void succeed(std::size_t index, std::shared_ptr<platform::Image> image, iris::CacheType cacheType)
    {
        const Call& call = calls.at(index);
        iris::RetrieveImageResult result { std::move(image), cacheType, call.source, call.source };
        iris::runCallback(call.options.callbackQueue, [completion = call.completion, result] {
            completion(iris::RetrieveImageResultOrError::success(result));
        });
    }

    void fail(std::size_t index, iris::IrisError error)
    {
        const Call& call = calls.at(index);
        iris::runCallback(call.options.callbackQueue, [completion = call.completion, error] {
            completion(iris::RetrieveImageResultOrError::failure(error));
        });
    }
};

// Puts a scripted manager in place of the shared one for the test's duration.
class ScopedRetrieving {
public:
    ScopedRetrieving()
        : manager(std::make_shared<ScriptedRetrieving>())
    {
        iris::ImageRetrieving::setShared(manager);
    }
    ~ScopedRetrieving() { iris::ImageRetrieving::setShared(nullptr); }
    std::shared_ptr<ScriptedRetrieving> manager;
};

inline std::shared_ptr<platform::Image> solidImage(QColor color, int width = 8, int height = 8)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return platform::Image::create(*platform::Bitmap::fromImage(image));
}

// Runs the main queue until everything posted so far has run.
inline void drainMainQueue()
{
    bool reached = false;
    platform::DispatchQueue::main()->async([&reached] { reached = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return reached; }));
}

inline iris::IrisError cancelledError(std::int64_t token)
{
    return iris::IrisError::requestError(iris::IrisError::RequestErrorReason::taskCancelled({}, token));
}

} // namespace iristest
