#include "platform/graphics/CompositingOperation.h"

#include <map>
#include <mutex>

namespace platform {

namespace {

std::mutex fallbackMutex;

std::map<CompositingOperation, CompositingFallback>& fallbacks()
{
    static std::map<CompositingOperation, CompositingFallback> table;
    return table;
}

} // namespace

CompositingOperation compositingOperationFromRaw(unsigned raw)
{
    if (raw > unsigned(CompositingOperation::luminosity))
        return CompositingOperation::sourceOver;
    return CompositingOperation(raw);
}

std::optional<QPainter::CompositionMode> painterCompositionMode(CompositingOperation operation)
{
    using Op = CompositingOperation;
    switch (operation) {
    case Op::clear:
        return QPainter::CompositionMode_Clear;
    case Op::copy:
        return QPainter::CompositionMode_Source;
    case Op::sourceOver:
        return QPainter::CompositionMode_SourceOver;
    case Op::sourceIn:
        return QPainter::CompositionMode_SourceIn;
    case Op::sourceOut:
        return QPainter::CompositionMode_SourceOut;
    case Op::sourceAtop:
        return QPainter::CompositionMode_SourceAtop;
    case Op::destinationOver:
        return QPainter::CompositionMode_DestinationOver;
    case Op::destinationIn:
        return QPainter::CompositionMode_DestinationIn;
    case Op::destinationOut:
        return QPainter::CompositionMode_DestinationOut;
    case Op::destinationAtop:
        return QPainter::CompositionMode_DestinationAtop;
    case Op::xorOperation:
        return QPainter::CompositionMode_Xor;
    // Highlight composites as source-over.
    case Op::highlight:
        return QPainter::CompositionMode_SourceOver;
    case Op::plusLighter:
        return QPainter::CompositionMode_Plus;
    case Op::multiply:
        return QPainter::CompositionMode_Multiply;
    case Op::screen:
        return QPainter::CompositionMode_Screen;
    case Op::overlay:
        return QPainter::CompositionMode_Overlay;
    case Op::darken:
        return QPainter::CompositionMode_Darken;
    case Op::lighten:
        return QPainter::CompositionMode_Lighten;
    case Op::colorDodge:
        return QPainter::CompositionMode_ColorDodge;
    case Op::colorBurn:
        return QPainter::CompositionMode_ColorBurn;
    case Op::softLight:
        return QPainter::CompositionMode_SoftLight;
    case Op::hardLight:
        return QPainter::CompositionMode_HardLight;
    case Op::difference:
        return QPainter::CompositionMode_Difference;
    case Op::exclusion:
        return QPainter::CompositionMode_Exclusion;
    case Op::plusDarker:
    case Op::hue:
    case Op::saturation:
    case Op::color:
    case Op::luminosity:
        return std::nullopt;
    }
    return QPainter::CompositionMode_SourceOver;
}

void setCompositingFallback(CompositingOperation operation, CompositingFallback blend)
{
    std::lock_guard lock(fallbackMutex);
    if (blend)
        fallbacks()[operation] = std::move(blend);
    else
        fallbacks().erase(operation);
}

CompositingFallback compositingFallback(CompositingOperation operation)
{
    std::lock_guard lock(fallbackMutex);
    const auto found = fallbacks().find(operation);
    return found == fallbacks().end() ? CompositingFallback {} : found->second;
}

} // namespace platform
