#pragma once

#include <QRectF>

class QPainter;

// The look the list cards share (note rows, link cards): a rounded rectangle of radius 5 on the text
// background (light) or a translucent fill (dark), over a soft shadow of black at 0.3, one pixel
// across and half a pixel down, and a hairline of black at 0.1 around it.
namespace tdlistcard {

inline constexpr double cornerRadius = 5;
inline constexpr int horizontalPadding = 12;
inline constexpr int verticalPadding = 10;

void paint(QPainter& painter, const QRectF& card, bool dark);

} // namespace tdlistcard
