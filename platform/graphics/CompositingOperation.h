#pragma once

#include <QImage>
#include <QPainter>

#include <functional>
#include <optional>

namespace platform {

// Compositing operations by their raw values, as stored in processor settings.
enum class CompositingOperation : unsigned {
    clear = 0,
    copy = 1,
    sourceOver = 2,
    sourceIn = 3,
    sourceOut = 4,
    sourceAtop = 5,
    destinationOver = 6,
    destinationIn = 7,
    destinationOut = 8,
    destinationAtop = 9,
    xorOperation = 10,
    plusDarker = 11,
    highlight = 12,
    plusLighter = 13,
    multiply = 14,
    screen = 15,
    overlay = 16,
    darken = 17,
    lighten = 18,
    colorDodge = 19,
    colorBurn = 20,
    softLight = 21,
    hardLight = 22,
    difference = 23,
    exclusion = 24,
    hue = 25,
    saturation = 26,
    color = 27,
    luminosity = 28,
};

// A raw value outside the known range composites as source-over.
CompositingOperation compositingOperationFromRaw(unsigned raw);

// The QPainter mode that does the operation; nothing for the operations QPainter lacks (plus-darker
// and the four non-separable blends), which go through a compositing fallback.
std::optional<QPainter::CompositionMode> painterCompositionMode(CompositingOperation operation);

// Blends `source` into `destination`, pixel by pixel. Both are premultiplied images of the same size
// and format; `source` holds what was drawn (transform, clip and opacity applied) over transparency.
using CompositingFallback = std::function<void(QImage& destination, const QImage& source)>;

// Installs the blend for an operation QPainter lacks; an empty function removes it. Operations
// without an installed blend composite as source-over. Thread-safe.
void setCompositingFallback(CompositingOperation operation, CompositingFallback blend);
CompositingFallback compositingFallback(CompositingOperation operation);

} // namespace platform
