#pragma once

#include <QColor>
#include <QString>

namespace platform {

// A colour in the extended sRGB space: components are sRGB-encoded and may leave 0...1 for colours
// outside the sRGB gamut; alpha is 0...1.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static Color black() { return { 0, 0, 0, 1 }; }
    static Color white() { return { 1, 1, 1, 1 }; }
    static Color clear() { return { 0, 0, 0, 0 }; }

    static Color fromQColor(const QColor& color);
    QColor toQColor() const;

    // The same colour with another alpha.
    Color withAlpha(double newAlpha) const { return { red, green, blue, newAlpha }; }

    // "extended sRGB R G B A", numbers in their shortest round-trip form with a decimal point,
    // whatever the process locale: equal colours describe alike.
    QString description() const;

    bool operator==(const Color&) const = default;
};

} // namespace platform
