#pragma once

#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/general/IrisManager.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/views/ImageSettingRoad.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"
#include "support/TestSupport.h"

#include <QColor>
#include <QImage>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace viewtest {

using namespace iris;

// A retrieval manager whose retrievals end when the test says so, keeping every closure the views
// hand it.
class ScriptedManager final : public IrisManager {
public:
    ScriptedManager()
        : IrisManager(nullptr, nullptr)
    {
    }

    struct Call {
        Source source;
        IrisParsedOptionsInfo options;
        DownloadTaskUpdatedCallback taskUpdated;
        ProgressiveImageSetter partialImage;
        ReferenceTaskChecker isCurrent;
        RetrieveImageCompletion completion;
        std::int64_t token = 0;
        std::shared_ptr<RetrievalCancellation> cancellation;
    };

    std::optional<DownloadTask> runRetrieval(const Source& source, IrisParsedOptionsInfo options,
        DownloadTaskUpdatedCallback taskUpdated, ProgressiveImageSetter partialImage,
        ReferenceTaskChecker isCurrent, RetrieveImageCompletion completion,
        std::shared_ptr<RetrievalCancellation> cancellation) override
    {
        const auto token = std::int64_t(calls.size()) + 100;
        calls.push_back({ source, std::move(options), std::move(taskUpdated), std::move(partialImage),
            std::move(isCurrent), std::move(completion), token, std::move(cancellation) });
        if (answerAtOnce) {
            // Like a memory-cache hit on the main thread: answered inside the call, no download.
            succeed(calls.size() - 1, answerAtOnce);
            return std::nullopt;
        }
        return DownloadTask { nullptr, token };
    }

    void succeed(std::size_t index, std::shared_ptr<platform::Image> image)
    {
        const Call& call = calls.at(index);
        RetrieveImageResult result { std::move(image), CacheType::none, call.source, call.source, {} };
        call.options.callbackQueue.execute([completion = call.completion, result] {
            completion(RetrieveImageResultOrError::success(result));
        });
    }
    void fail(std::size_t index, IrisError error)
    {
        const Call& call = calls.at(index);
        call.options.callbackQueue.execute([completion = call.completion, error] {
            completion(RetrieveImageResultOrError::failure(error));
        });
    }
    // Reports download progress as the session layer does, through the request's side effects.
    void progress(std::size_t index, std::int64_t received, std::int64_t total)
    {
        const Call& call = calls.at(index);
        if (!call.options.onDataReceived)
            return;
        for (const auto& effect : *call.options.onDataReceived) {
            auto progress = std::dynamic_pointer_cast<ImageLoadingProgressSideEffect>(effect);
            if (progress && progress->onShouldApply()())
                progress->block()(received, total);
        }
    }

    std::vector<Call> calls;
    std::shared_ptr<platform::Image> answerAtOnce;
};

// Puts a scripted manager in place of the shared one for the test's duration.
struct ScopedManager {
    ScopedManager() { setImageSettingManager(manager); }
    ~ScopedManager() { setImageSettingManager(nullptr); }
    ScopedManager(const ScopedManager&) = delete;
    ScopedManager& operator=(const ScopedManager&) = delete;

    std::shared_ptr<ScriptedManager> manager = std::make_shared<ScriptedManager>();
};

inline std::shared_ptr<platform::Image> solid(QColor color, int width = 8, int height = 8)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return platform::Image::create(*platform::Bitmap::fromImage(image));
}

inline Source sourceNamed(const QString& name)
{
    return convertToSource(QUrl(QStringLiteral("https://example.invalid/") + name));
}

// The completions one request got.
struct Outcome {
    std::vector<RetrieveImageResultOrError> results;

    RetrieveImageCompletion completion()
    {
        return [this](RetrieveImageResultOrError result) { results.push_back(std::move(result)); };
    }
    bool succeededWith(const std::shared_ptr<platform::Image>& image) const
    {
        return results.size() == 1 && results.front().isSuccess() && results.front().value().image == image;
    }
    // The reason of the one failure, when it is an image-setting failure.
    const IrisError::ImageSettingErrorReason* settingFailure() const
    {
        if (results.size() != 1 || results.front().isSuccess())
            return nullptr;
        return results.front().error().imageSettingReason();
    }
};

} // namespace viewtest
