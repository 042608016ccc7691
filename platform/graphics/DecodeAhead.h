#pragma once

#include "platform/graphics/Image.h"

#include <QByteArray>

#include <functional>
#include <memory>

namespace platform {

// Still images decoded ahead of the code that asks for them, so that the decoding of independent
// images can overlap on a concurrent queue while the code that consumes them stays serial. An entry
// is found by the identity of its bytes (copies of a QByteArray share them) and is taken once; the
// bytes it holds keep that identity from being reused while it waits. Thread-safe.
namespace decodeAhead {

// Decodes `data` now, on the calling thread, exactly as imageFromData with the default limits
// would, once `admit` has agreed to the bytes the image will take (its pixel count times 4, from the
// header); nothing is decoded when it refuses. The caller accounts for the memory. Returns whether
// an image now waits for these bytes. Bytes that give no image wait as a failure, so that the code
// that asks for them fails at once instead of decoding damaged bytes a second time.
bool decode(const QByteArray& data, const std::function<bool(qint64 imageBytes)>& admit);

// What the decoding ahead of these very bytes left, no longer waiting.
struct Taken {
    enum class Kind { none, decoded, failed };
    Kind kind = Kind::none;
    std::shared_ptr<Image> image; // set when decoded
};
Taken takeResult(const QByteArray& data);

// The image decoded ahead for these very bytes, no longer waiting; null when there is none.
std::shared_ptr<Image> take(const QByteArray& data);

// The bytes of the decoded images waiting to be taken.
qint64 waitingBytes();

// Images nobody took within this many seconds are dropped.
inline constexpr int unclaimedLifetimeSeconds = 30;

} // namespace decodeAhead

} // namespace platform
