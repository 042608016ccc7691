#pragma once

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisError.h"
#include "Iris/general/Source.h"

#include "platform/foundation/Result.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Image;
}

namespace iris {

// What a successful retrieval delivers.
struct RetrieveImageResult {
    // After the options' image modifier, when there is one.
    std::shared_ptr<platform::Image> image;
    // `memory` or `disk` when the processed image was found in the target cache, else `none`.
    CacheType cacheType = CacheType::none;
    // The source that produced the image (an alternative or the low-data source when one was used).
    Source source;
    // The source first asked for.
    Source originalSource;
    // The image's bytes, made on demand.
    std::function<std::optional<QByteArray>()> data;

    QString description() const;
};

using ImageCacheResultOrError = platform::Result<ImageCacheResult, IrisError>;
using RetrieveImageResultOrError = platform::Result<RetrieveImageResult, IrisError>;
using RetrieveImageCompletion = std::function<void(RetrieveImageResultOrError)>;

} // namespace iris
