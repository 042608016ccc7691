#include "app/screens/common/TDListCard.h"

#include "app/screens/common/TDAppearance.h"

#include <QPainter>
#include <QPainterPath>

namespace tdlistcard {

void paint(QPainter& painter, const QRectF& card, bool dark)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    // The shadow of radius 1: the shape grown by half a pixel, half a pixel down, in two steps of
    // falling strength.
    for (auto [grow, alpha] : { std::pair { 1.0, 0.12 }, { 0.5, 0.18 } }) {
        QPainterPath shadow;
        shadow.addRoundedRect(
            card.adjusted(-grow, -grow + 0.5, grow, grow + 0.5), cornerRadius + grow, cornerRadius + grow);
        painter.fillPath(shadow, QColor(0, 0, 0, qRound(alpha * 255)));
    }
    QPainterPath shape;
    shape.addRoundedRect(card, cornerRadius, cornerRadius);
    // The dark fill is translucent: the shadow under it must not show through.
    if (dark)
        painter.fillPath(shape, tdappearance::color(tdappearance::SystemColor::windowBackground, true));
    painter.fillPath(shape,
        tdappearance::color(
            dark ? tdappearance::SystemColor::secondaryFill : tdappearance::SystemColor::textBackground,
            dark));
    painter.strokePath(shape, QPen(QColor(0, 0, 0, qRound(0.1 * 255)), 0.5));
    painter.restore();
}

} // namespace tdlistcard
