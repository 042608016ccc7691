#pragma once

#include <QByteArray>

#include <vector>

namespace platform {

// The display time of each frame of an animated WebP, in milliseconds as stored, in file order.
// Empty for data that is not an animated WebP. Reads only the container's chunk headers and the
// frame headers inside them; a chunk that runs past the data ends the walk, and the frames read
// before it stand.
std::vector<int> webpFrameDurations(const QByteArray& data);

} // namespace platform
