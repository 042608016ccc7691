#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

// The suite's offscreen screens (screens.json), side by side: "first" at 1x (the primary: Qt orders
// them by name), "second" at 2x and "third" at 1x.
inline QScreen* screenNamed(const QString& name)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

// Moves a shown window to another screen, as the window system does when the user drags it there.
inline void moveTo(QWidget* window, const QString& name)
{
    window->windowHandle()->setScreen(screenNamed(name));
}

// On a real display the suite has no screens to move between.
#define REQUIRE_TEST_SCREENS()                                                                               \
    if (!screenNamed("second") || !screenNamed("third"))                                                     \
    GTEST_SKIP() << "needs the offscreen screens of screens.json"
