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
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
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
