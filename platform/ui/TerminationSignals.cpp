#include "platform/ui/TerminationSignals.h"

#include "platform/foundation/Print.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int handledSignals[] = { SIGTERM, SIGHUP, SIGINT };

// The handler may only call what is safe in a signal: it writes a byte for the main loop to read.
int s_pipe[2] = { -1, -1 };

void onSignal(int)
{
    const int savedErrno = errno;
    struct sigaction fallback { };
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (const int signal : handledSignals)
        ::sigaction(signal, &fallback, nullptr);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void onTerminationSignals(std::function<void()> handler)
{
    if (s_pipe[0] >= 0)
        return;
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        printError(QStringLiteral("Tindrel cannot watch for the end of the session: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    auto* notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [handler = std::move(handler)] {
        char bytes[16];
        while (::read(s_pipe[0], bytes, sizeof bytes) > 0) { }
        handler();
    });
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace platform
