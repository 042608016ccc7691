#pragma once

#include "Iris/declarative/IRImageContext.h"

#include "platform/foundation/ObservationRegistrar.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace platform {
class Image;
}

namespace iris {

// Runs one view's retrieval and holds what the view shows. It announces changes explicitly, only
// where the retrieval's steps say so, not on every field write: a render that called `observe()` is
// re-run after `sendWillChange()`. Main thread only.
//
// A completion or progress report of a retrieval that a newer `start` has replaced changes nothing
// here (its delegates are still called), and neither holds the binder alive: a binder dropped by
// its view is simply gone when they arrive.
class ImageBinder : public std::enable_shared_from_this<ImageBinder> {
public:
    static std::shared_ptr<ImageBinder> create(
        std::shared_ptr<ImageRetrieving> retrieving = ImageRetrieving::shared());

    // The task of the running retrieval, kept for cancelling.
    std::optional<DownloadTask> downloadTask;
    bool loading = false;
    // A retrieval has finished, with or without an image; never goes back to false.
    bool loaded = false;
    bool animating = false;
    std::shared_ptr<platform::Image> loadedImage;
    std::shared_ptr<Progress> progress = std::make_shared<Progress>();

    // Starts a retrieval for `context`; every call starts a new one.
    void start(const std::shared_ptr<IRImageContextBase>& context);
    // Cancels the running download, if any, and forgets it (no notification).
    void cancelDownload();

    // Records a read by the observation scope in progress.
    void observe() const;
    void sendWillChange();
    std::uint64_t willChangeCount() const { return m_willChangeCount; }

    // The animation the last change was made in: a linear fade of this many seconds (never negative
    // or NaN), counted so a renderer can tell a new one from one it has already played.
    std::uint64_t fadeTransactionCount() const { return m_fadeTransactions; }
    double lastFadeDuration() const { return m_lastFadeDuration; }

    const std::shared_ptr<ImageRetrieving>& retrieving() const { return m_retrieving; }

private:
    explicit ImageBinder(std::shared_ptr<ImageRetrieving> retrieving);

    void failEmptySource(const std::shared_ptr<IRImageContextBase>& context);
    void complete(std::uint64_t generation, const std::shared_ptr<IRImageContextBase>& context,
        RetrieveImageResultOrError result);

    std::shared_ptr<ImageRetrieving> m_retrieving;
    platform::ObservationRegistrar m_registrar;
    std::uint64_t m_willChangeCount = 0;
    std::uint64_t m_generation = 0;
    // The retrieval `cancelDownload` last called off.
    std::uint64_t m_calledOffGeneration = 0;
    std::uint64_t m_fadeTransactions = 0;
    double m_lastFadeDuration = 0;
};

} // namespace iris
