#include "Iris/image/ProcessorText.h"

#include <charconv>
#include <cmath>

namespace iris {

namespace {

QString fixedTwo(double value)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

QString numberText(double value)
{
    // Plain decimals for every number of ordinary size: the shortest form alone would write
    // 100000 as "1e+05". Exponents are kept for magnitudes from 2^53 up and below 0.0001.
    const double magnitude = std::abs(value);
    const bool plain = value == 0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    char buffer[64];
    const auto result = plain ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                              : std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (std::isfinite(value) && !text.contains('.') && !text.contains('e'))
        text += QStringLiteral(".0");
    return text;
}

QString sizeText(platform::Size size)
{
    return '(' + numberText(size.width) + QStringLiteral(", ") + numberText(size.height) + ')';
}

QString pointText(platform::Point point)
{
    return '(' + numberText(point.x) + QStringLiteral(", ") + numberText(point.y) + ')';
}

QString colorText(const platform::Color& color)
{
    return '(' + fixedTwo(color.red) + ',' + fixedTwo(color.green) + ',' + fixedTwo(color.blue) + ','
        + fixedTwo(color.alpha) + ')';
}

} // namespace iris
