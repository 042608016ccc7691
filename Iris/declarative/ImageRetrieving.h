#pragma once

#include "Iris/general/IrisError.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/general/Source.h"
#include "Iris/networking/DownloadTask.h"

#include "platform/foundation/Result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Iris/general/RetrieveImageResult.h"

namespace iris {

class IrisManager;

// What the image views need of the retrieval manager: its default options, one retrieval, and
// cancelling the download a retrieval started. Every view goes through `shared()`, the shared
// manager; tests put a scripted double in its place.
class ImageRetrieving {
public:
    using ProgressBlock = std::function<void(std::int64_t receivedSize, std::int64_t totalSize)>;

    virtual ~ImageRetrieving() = default;

    virtual IrisOptionsInfo defaultOptions() const = 0;
    // Calls `completion` once, on the options' callback queue; returns the task by which the
    // retrieval is cancelled (the running download's, or one for the retrieval alone).
    virtual std::optional<DownloadTask> retrieveWithParsedOptions(const Source& source,
        IrisParsedOptionsInfo options, ProgressBlock progress, RetrieveImageCompletion completion)
        = 0;
    virtual void cancel(const DownloadTask& task) = 0;

    static std::shared_ptr<ImageRetrieving> shared();
    // The views' road through `manager`.
    static std::shared_ptr<ImageRetrieving> through(std::shared_ptr<IrisManager> manager);
    // Replaces what `shared()` returns; null puts the shared manager back.
    static void setShared(std::shared_ptr<ImageRetrieving> retrieving);
};

} // namespace iris
