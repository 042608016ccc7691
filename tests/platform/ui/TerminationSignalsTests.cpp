#include "platform/ui/TerminationSignals.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

#include <csignal>

using namespace platform;

// In a process of its own (ctest runs each test alone): the handler stays for the process's life.
TEST(TerminationSignals, ATerminationRunsTheHandlerOnTheMainLoopAndASecondOneIsLeftToTheSystem)
{
    int handled = 0;
    onTerminationSignals([&] { ++handled; });
    onTerminationSignals([] { FAIL() << "a later call replaced the first handler"; });
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_EQ(handled, 0) << "the handler runs from the main loop, not inside the signal";
    for (QDeadlineTimer deadline(10000); handled == 0 && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(handled, 1);
    struct sigaction now { };
    for (const int signal : { SIGTERM, SIGHUP, SIGINT }) {
        ASSERT_EQ(::sigaction(signal, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << "signal " << signal;
    }
}
