#pragma once

namespace iris {

// Lets animated image views find the frames of the animated images this library decodes (and only
// of those that carry more than one frame: an image decoded for its first frame alone stays still).
// Every path of the library that hands images to views calls it; it does its work once.
void installAnimatedImageFrameSources();

} // namespace iris
