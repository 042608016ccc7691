#pragma once

#include <QByteArray>
#include <QUrl>

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

} // namespace iris
