#include "platform/foundation/Date.h"

#include <chrono>
#include <mutex>

namespace platform {

namespace {

std::mutex s_clockMutex;
Clock::Source s_clockSource;

} // namespace

Date Clock::systemNow()
{
    auto sinceUnix = std::chrono::system_clock::now().time_since_epoch();
    double seconds = std::chrono::duration<double>(sinceUnix).count();
    return Date::fromUnixSeconds(seconds);
}

void Clock::setSource(Source source)
{
    std::lock_guard lock(s_clockMutex);
    s_clockSource = std::move(source);
}

Date Date::now()
{
    Clock::Source source;
    {
        std::lock_guard lock(s_clockMutex);
        source = s_clockSource;
    }
    return source ? source() : Clock::systemNow();
}

} // namespace platform
