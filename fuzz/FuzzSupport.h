#pragma once

#include <QCoreApplication>

#include <cstdlib>

namespace fuzzsupport {

// Image plug-ins and queues expect an application object; one for the whole run.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QCoreApplication(argc, argv);
    }();
    (void)app;
}

} // namespace fuzzsupport
