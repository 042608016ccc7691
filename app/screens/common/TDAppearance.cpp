#include "app/screens/common/TDAppearance.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

namespace tdappearance {

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

bool isDark(const QWidget* widget)
{
    return isDark(widget ? widget->palette() : QApplication::palette());
}

QColor color(SystemColor name, bool dark)
{
    auto black = [](double alpha) { return QColor(0, 0, 0, qRound(alpha * 255)); };
    auto white = [](double alpha) { return QColor(255, 255, 255, qRound(alpha * 255)); };
    switch (name) {
    case SystemColor::white:
        return QColor(255, 255, 255);
    case SystemColor::green:
        return dark ? QColor(0x32, 0xD7, 0x4B) : QColor(0x28, 0xCD, 0x41);
    case SystemColor::blue:
        return dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x7A, 0xFF);
    case SystemColor::orange:
        return dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xFF, 0x95, 0x00);
    case SystemColor::pink:
        return dark ? QColor(0xFF, 0x37, 0x5F) : QColor(0xFF, 0x2D, 0x55);
    case SystemColor::gray:
        return QColor(0x8E, 0x8E, 0x93);
    case SystemColor::windowBackground:
        return dark ? QColor(0x32, 0x32, 0x32) : QColor(0xEC, 0xEC, 0xEC);
    case SystemColor::controlBackground:
        return dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(0xFF, 0xFF, 0xFF);
    case SystemColor::selectedContentBackground:
        return dark ? QColor(0x00, 0x58, 0xD0) : QColor(0x00, 0x64, 0xE1);
    case SystemColor::primaryLabel:
        return dark ? white(0.85) : black(0.85);
    case SystemColor::secondaryLabel:
        return dark ? white(0.55) : black(0.5);
    case SystemColor::tertiaryLabel:
        return dark ? white(0.25) : black(0.26);
    case SystemColor::separator:
        return dark ? white(0.1) : black(0.1);
    case SystemColor::tertiaryFill:
        return dark ? white(0.06) : black(0.05);
    case SystemColor::secondaryFill:
        return dark ? white(0.1) : black(0.08);
    }
    return QColor();
}

QColor color(SystemColor name, const QWidget* widget)
{
    return color(name, isDark(widget));
}

QFont systemFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(int pixelSize)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace tdappearance
