#pragma once

#include <QSizeF>

namespace platform {

// The area text is laid out in. A width at or above `unboundedExtent` means lines never wrap.
struct TextContainer {
    static constexpr double unboundedExtent = 1.0e7;

    QSizeF size { unboundedExtent, unboundedExtent };
    double lineFragmentPadding = 5.0;
    bool widthTracksTextView = false;
    bool heightTracksTextView = false;

    bool wrapsLines() const { return size.width() < unboundedExtent; }
    bool operator==(const TextContainer&) const = default;
};

} // namespace platform
