#pragma once

#include "bench/support/Memory.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <QThread>

#include <functional>
#include <ostream>

#include <sys/resource.h>

// gtest prints a QString as raw bytes otherwise.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace testsupport {

// Whether a test may start a child process with QProcess. ThreadSanitizer cannot follow the vfork
// QProcess starts a program with: the child shares the parent's sanitizer state.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool canStartChildProcesses = false;
#else
inline constexpr bool canStartChildProcesses = true;
#endif

// Skips the test that calls it where it may not start child processes.
#define SKIP_WITHOUT_CHILD_PROCESSES()                                                                       \
    if (!testsupport::canStartChildProcesses)                                                                \
    GTEST_SKIP() << "ThreadSanitizer cannot follow the vfork behind QProcess"

// Runs the main event loop until `condition` holds or `timeoutMs` passes; returns whether it held.
// Tests wait this way, never by sleeping for a fixed time.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        QThread::yieldCurrentThread();
    }
    return true;
}

// The benchmarks' own readings of this process's memory: a field of /proc/self/status in kilobytes
// ("VmRSS", "VmHWM"), and the peak brought down to the current size, so that a peak read afterwards
// is that of the work done in between.
using bench::statusKilobytes;
inline void resetPeakResident()
{
    bench::resetPeak();
}

// Whether those figures are the program's alone: a sanitizer's shadow memory grows with each byte
// the program touches.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool residentSizesAreTheProgramsOwn = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool residentSizesAreTheProgramsOwn = false;
#else
inline constexpr bool residentSizesAreTheProgramsOwn = true;
#endif
#else
inline constexpr bool residentSizesAreTheProgramsOwn = true;
#endif

inline bool isMainThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs `work` with the address space limited to what the process maps now plus `headroomBytes`, so
// that a larger allocation fails as on a machine out of memory. Returns false without running it
// under a sanitizer, whose own reservations such a limit would break.
inline bool withAddressSpaceHeadroom(rlim_t headroomBytes, const std::function<void()>& work)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return false;
#endif
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    rlim_t inUse = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                inUse = rlim_t(line.mid(7).trimmed().split(' ').first().toLongLong()) * 1024;
        }
    }
    rlimit old {};
    if (inUse == 0 || ::getrlimit(RLIMIT_AS, &old) != 0)
        return false;
    rlimit tight = old;
    tight.rlim_cur = inUse + headroomBytes;
    if (::setrlimit(RLIMIT_AS, &tight) != 0)
        return false;
    try {
        work();
    } catch (...) {
        ::setrlimit(RLIMIT_AS, &old);
        throw;
    }
    ::setrlimit(RLIMIT_AS, &old);
    return true;
}

} // namespace testsupport
