#include "platform/graphics/Color.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace platform {

namespace {

QString shortestText(double value)
{
    if (value == 0)
        value = 0; // no "-0"
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

Color Color::fromQColor(const QColor& color)
{
    const QColor rgb = color.spec() == QColor::ExtendedRgb ? color : color.toRgb();
    float r = 0, g = 0, b = 0, a = 1;
    rgb.getRgbF(&r, &g, &b, &a);
    return { r, g, b, a };
}

QColor Color::toQColor() const
{
    // QColor keeps components outside 0...1 in its extended RGB form; alpha must stay within.
    const auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
    return QColor::fromRgbF(float(finite(red)), float(finite(green)), float(finite(blue)),
        float(std::clamp(finite(alpha), 0.0, 1.0)));
}

QString Color::description() const
{
    return QStringLiteral("extended sRGB ") + shortestText(red) + ' ' + shortestText(green) + ' '
        + shortestText(blue) + ' ' + shortestText(alpha);
}

} // namespace platform
