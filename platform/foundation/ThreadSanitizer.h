#pragma once

// Hand-overs ThreadSanitizer cannot see. Qt is not built for it, so an object made on one thread and
// passed to another through Qt's event queue looks unsynchronised: Qt's own locks order the two, out
// of the sanitizer's sight. `handOverRelease` on the sending side and `handOverAcquire` on the
// receiving side, on the same address, tell it about that order. Outside ThreadSanitizer builds they
// do nothing.

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace platform {

inline void handOverRelease([[maybe_unused]] const void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(token));
#endif
}

inline void handOverAcquire([[maybe_unused]] const void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(token));
#endif
}

} // namespace platform
