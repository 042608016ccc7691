#include "app/screens/common/TDPrimaryButton.h"

#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDFocusRing.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

using tdappearance::SystemColor;

TDPrimaryButton::TDPrimaryButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    setAutoDefault(false);
    setDefault(true);
    setMinimumWidth(80);
    setCursor(Qt::ArrowCursor);
}

void TDPrimaryButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool dark = tdappearance::isDark(this);
    QColor fill = tdappearance::color(SystemColor::blue, dark);
    if (!isEnabled())
        fill.setAlphaF(0.45);
    else if (isDown())
        fill = fill.darker(120);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The same height as the style's buttons beside it.
    QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath path;
    path.addRoundedRect(box, 5, 5);
    painter.fillPath(path, fill);
    if (hasFocus()) {
        painter.strokePath(path, QPen(fill.lighter(140), 1.5));
    }
    // The focus ring is drawn in the highlight colour, which hardly shows on this fill: a white
    // line inside it says the keys are here.
    if (tdfocusring::isShown(this)) {
        QPainterPath inner;
        inner.addRoundedRect(box.adjusted(3, 3, -3, -3), 3, 3);
        painter.strokePath(inner, QPen(QColor(255, 255, 255, 230), 2));
    }
    painter.setPen(isEnabled() ? QColor(Qt::white) : QColor(255, 255, 255, 200));
    painter.setFont(font());
    painter.drawText(box, Qt::AlignCenter, text());
}

QPushButton* makeTDSheetButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    // Return presses it while it has the keys, as a focused button in any dialog of the desktop;
    // the sheet's default button takes Return back when the focus moves on.
    button->setAutoDefault(true);
    button->setDefault(false);
    button->setMinimumWidth(80);
    return button;
}
