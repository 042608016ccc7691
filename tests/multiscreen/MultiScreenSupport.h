#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

// The screens of this suite's offscreen platform (screens.json beside this file): "normal" at 1x,
// "dense" at 2x and "normal-too" at 1x, side by side.
namespace screentest {

inline QScreen* screenNamed(const QString& name)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

inline bool haveScreens()
{
    return screenNamed("normal") && screenNamed("dense") && screenNamed("normal-too");
}

// Moves a shown top-level window to `name`, as the window system does when the user drags it there.
inline void moveTo(QWidget* window, const QString& name)
{
    window->windowHandle()->setScreen(screenNamed(name));
}

} // namespace screentest

// Run on another platform (a real display), the suite has no screens to move between.
#define REQUIRE_TEST_SCREENS()                                                                               \
    do {                                                                                                     \
        if (!screentest::haveScreens())                                                                      \
            GTEST_SKIP() << "needs the offscreen platform with the screens of screens.json";                 \
    } while (false)
