#pragma once

#include "platform/ui/DisplayLink.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace iris {

// The time stamp a display link hands to its output handling; `hostTime` is in nanoseconds.
using DisplayLinkTimeStamp = platform::DisplayLinkTimeStamp;

// What the display link's output callback drives, on the main queue.
class DisplayLinkOutputHandling {
public:
    virtual ~DisplayLinkOutputHandling() = default;
    virtual void handleOutput(DisplayLinkTimeStamp stamp) = 0;
};

// The output callback, run on the display link's own thread: hands a copy of the stamp to `link`'s
// output handling on the main queue (keeping the link alive until then) and reports success (0).
int displayLinkOutputCallback(
    const std::shared_ptr<DisplayLinkOutputHandling>& link, const DisplayLinkTimeStamp& stamp);

// Removes every entry equal to `mode` from `modes`, keeping the order of the rest.
void removeRunLoopMode(std::vector<QString>& modes, const QString& mode);

} // namespace iris
