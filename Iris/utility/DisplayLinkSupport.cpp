#include "Iris/utility/DisplayLinkSupport.h"

#include "platform/foundation/DispatchQueue.h"

namespace iris {

int displayLinkOutputCallback(
    const std::shared_ptr<DisplayLinkOutputHandling>& link, const DisplayLinkTimeStamp& stamp)
{
    platform::DispatchQueue::main()->async([link, stamp] { link->handleOutput(stamp); });
    return 0;
}

void removeRunLoopMode(std::vector<QString>& modes, const QString& mode)
{
    platform::removeRunLoopMode(modes, mode);
}

} // namespace iris
