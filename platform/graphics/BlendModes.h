#pragma once

namespace platform {

// Installs, once per process, the per-pixel blends for the compositing operations QPainter has no
// mode for: plus-darker and the non-separable hue, saturation, colour and luminosity blends. Each
// composites the blended colour source-over, so transparent parts of what is drawn leave the
// destination as it was. Thread-safe; later calls do nothing.
void installBlendModes();

} // namespace platform
