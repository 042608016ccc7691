#pragma once

#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"

#include <QString>

namespace iris {

// The texts of processor parameters in identifiers. They never depend on the process locale, so a
// processed image is cached under the same key everywhere.

// The shortest decimal text that reads back as the same number, with ".0" on whole numbers ("10.0",
// "0.5", "100000.0"); magnitudes from 2^53 up and below 0.0001 take an exponent ("1e+16").
QString numberText(double value);
// "(width, height)" and "(x, y)", numbers as above.
QString sizeText(platform::Size size);
QString pointText(platform::Point point);
// "(r,g,b,a)", each component of the extended sRGB colour with two decimals.
QString colorText(const platform::Color& color);

} // namespace iris
