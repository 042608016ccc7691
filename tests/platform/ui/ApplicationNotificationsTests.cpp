#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ApplicationNotifications.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

using namespace platform;

TEST(ApplicationNotifications, LeavingTheActiveStatePostsWillResignActiveOnce)
{
    installApplicationNotifications();
    installApplicationNotifications();
    int posted = 0;
    auto observer = std::make_shared<int>(0);
    NotificationCenter::defaultCenter().addObserver(observer, applicationWillResignActiveNotification, nullptr,
        [&](const Notification&) { ++posted; });

    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ASSERT_TRUE(app);
    emit app->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(posted, 0);
    emit app->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_EQ(posted, 1);
    emit app->applicationStateChanged(Qt::ApplicationHidden);
    EXPECT_EQ(posted, 1) << "only the change away from active counts";
    emit app->applicationStateChanged(Qt::ApplicationActive);
    emit app->applicationStateChanged(Qt::ApplicationSuspended);
    EXPECT_EQ(posted, 2);
}
