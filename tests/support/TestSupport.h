#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QThread>

#include <functional>
#include <ostream>

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

inline bool isMainThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace testsupport
