#pragma once

#include "Iris/image/ImageFormat.h"
#include "Iris/utility/IrisWrapper.h"

#include <QByteArray>

namespace iris {

template<> struct IrisCompatibleValue<QByteArray> : std::true_type {
};

// The library's operations on a block of data: `ir(data).imageFormat()`.
template<> struct IrisWrapper<QByteArray> {
    QByteArray base;

    ImageFormat imageFormat() const { return detectImageFormat(base); }
    bool contains(JPEGMarker marker) const { return containsJPEGMarker(base, marker); }
};

} // namespace iris
