#include "platform/ui/ApplicationNotifications.h"

#include "platform/foundation/NotificationCenter.h"

#include <QGuiApplication>

namespace platform {

void installApplicationNotifications()
{
    static bool installed = false;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (installed || !app)
        return;
    installed = true;
    auto wasActive = std::make_shared<bool>(QGuiApplication::applicationState() == Qt::ApplicationActive);
    QObject::connect(app, &QGuiApplication::applicationStateChanged, app, [wasActive](Qt::ApplicationState state) {
        const bool active = state == Qt::ApplicationActive;
        if (*wasActive && !active)
            NotificationCenter::defaultCenter().post(Notification { applicationWillResignActiveNotification });
        *wasActive = active;
    });
}

} // namespace platform
