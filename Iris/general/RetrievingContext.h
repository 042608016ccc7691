#pragma once

#include "Iris/general/IrisError.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/general/Source.h"
#include "Iris/networking/DownloadTask.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace iris {

// The state of one retrieval across its attempts. The attempts follow one another (a new one only
// starts from the handler of the one before), so no two threads use it at once.
class RetrievingContext {
public:
    RetrievingContext(IrisParsedOptionsInfo options, Source originalSource)
        : options(std::move(options))
        , originalSource(std::move(originalSource))
    {
    }

    // Removes and returns the first alternative source; nothing when there is none left.
    std::optional<Source> popAlternativeSource()
    {
        if (!options.alternativeSources || options.alternativeSources->empty())
            return std::nullopt;
        Source next = options.alternativeSources->front();
        options.alternativeSources->erase(options.alternativeSources->begin());
        return next;
    }

    IrisParsedOptionsInfo options;
    const Source originalSource;
    std::vector<PropagationError> propagationErrors;

    // Calls the retrieval off; null for a load made outside a retrieval (a prefetch).
    std::shared_ptr<RetrievalCancellation> cancellation;
    // Told of a load started in place of a cache entry that turned out unusable, with the stage it
    // was started at, so that its task reaches the caller as that of any other load does.
    std::function<void(std::uint64_t stage, std::optional<DownloadTask> task)> reloadStarted;
};

} // namespace iris
