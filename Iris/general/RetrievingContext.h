#pragma once

#include "Iris/general/IrisError.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/general/Source.h"

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
};

} // namespace iris
