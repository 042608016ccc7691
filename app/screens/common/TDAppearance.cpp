#include "app/screens/common/TDAppearance.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cmath>

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
    case SystemColor::textBackground:
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

namespace {

double relativeLuminance(const QColor& color)
{
    auto channel = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF())
        + 0.0722 * channel(color.blueF());
}

QColor over(const QColor& foreground, const QColor& background)
{
    const double alpha = foreground.alphaF();
    return QColor::fromRgbF(float(foreground.redF() * alpha + background.redF() * (1 - alpha)),
        float(foreground.greenF() * alpha + background.greenF() * (1 - alpha)),
        float(foreground.blueF() * alpha + background.blueF() * (1 - alpha)));
}

} // namespace

double contrastRatio(const QColor& foreground, const QColor& background)
{
    const double a = relativeLuminance(over(foreground, background));
    const double b = relativeLuminance(background);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor readableTint(const QColor& tint, const QColor& background, const QColor& fallback)
{
    // Low enough to keep the green and orange marks on a light sidebar, high enough to refuse white
    // on it, or blue on a blue selection.
    constexpr double minimumContrast = 1.5;
    return contrastRatio(tint, background) >= minimumContrast ? tint : fallback;
}

QFont systemFont(int pixelSize, QFont::Weight weight)
{
    // Only the size and the weight are set: the family and the rest are inherited, so that a widget
    // given this font follows a later change of the application's font (the desktop's setting).
    QFont font;
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
