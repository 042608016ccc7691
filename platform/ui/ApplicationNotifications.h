#pragma once

#include <QString>

namespace platform {

// Posted on the default notification centre, on the main thread, when the application stops being
// the active one (its last window loses focus to another program, or it is hidden).
inline const QString applicationWillResignActiveNotification
    = QStringLiteral("ApplicationWillResignActiveNotification");

// Turns Qt's application-state changes into the notifications above. Call once, after the
// application object exists; later calls do nothing.
void installApplicationNotifications();

} // namespace platform
