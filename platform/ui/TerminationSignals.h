#pragma once

#include <functional>

namespace platform {

// Runs `handler` on the main thread when the system asks the program to end: SIGTERM (a logout or
// shutdown), SIGHUP (its terminal closed) or SIGINT (Ctrl+C in that terminal). By default these end
// the program at once and whatever it has not saved is lost; the handler can close it as its own
// Quit command does. A second such signal ends the program at once, for one that cannot close.
// Call once, on the main thread, after the application object exists; later calls do nothing.
void onTerminationSignals(std::function<void()> handler);

} // namespace platform
