#pragma once

#include "Iris/general/IrisError.h"

#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Image;
}

namespace iris {

// What a load produced: the processed image, where it came from (absent for a data provider) and
// the bytes it was made from.
struct ImageLoadingResult {
    std::shared_ptr<platform::Image> image;
    std::optional<QUrl> url;
    QByteArray originalData;
};

using ImageLoadingResultOrError = platform::Result<ImageLoadingResult, IrisError>;
using DownloadCompletion = std::function<void(ImageLoadingResultOrError)>;

} // namespace iris
