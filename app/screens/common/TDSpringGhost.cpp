#include "app/screens/common/TDSpringGhost.h"

#include <QBoxLayout>
#include <QPainter>
#include <QPointer>

#include <cmath>

namespace {

bool isRow(const QBoxLayout* layout)
{
    return layout->direction() == QBoxLayout::LeftToRight || layout->direction() == QBoxLayout::RightToLeft;
}

} // namespace

TDSpringGhost::TDSpringGhost(const QPixmap& picture, QWidget* parent, double responseSeconds)
    : QWidget(parent)
    , m_picture(picture)
    , m_spring(responseSeconds)
{
    setObjectName(QStringLiteral("springGhost"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

TDSpringGhost* TDSpringGhost::fadeOut(
    const QPixmap& picture, QWidget* parent, const QRect& geometry, double responseSeconds)
{
    auto* ghost = new TDSpringGhost(picture, parent, responseSeconds);
    ghost->setGeometry(geometry);
    ghost->show();
    ghost->raise();
    ghost->start(nullptr);
    return ghost;
}

TDSpringGhost* TDSpringGhost::collapse(
    const QPixmap& picture, QBoxLayout* layout, int index, double responseSeconds)
{
    auto* ghost = new TDSpringGhost(picture, layout->parentWidget(), responseSeconds);
    const QSize size(static_cast<int>(std::lround(picture.width() / picture.devicePixelRatio())),
        static_cast<int>(std::lround(picture.height() / picture.devicePixelRatio())));
    if (isRow(layout))
        ghost->setFixedSize(size);
    else
        ghost->setFixedHeight(size.height());
    layout->insertWidget(index, ghost);
    ghost->show();
    ghost->start(layout);
    return ghost;
}

void TDSpringGhost::start(QBoxLayout* collapsing)
{
    const bool row = collapsing && isRow(collapsing);
    const int extent = row ? width() : height();
    // The layout's spacing beside the ghost goes too, so the travel includes it.
    const int travel = extent + (collapsing ? std::max(0, collapsing->spacing()) : 0);
    const int spacing = travel - extent;
    QPointer<TDSpringGhost> self(this);
    m_spring.start(
        [self, collapsing, row, travel, spacing](double progress) {
            if (!self)
                return;
            self->m_progress = progress;
            if (collapsing) {
                const int left = static_cast<int>(std::lround(travel * (1 - progress))) - spacing;
                // A hidden widget takes no spacing in its layout either.
                if (left <= 0)
                    self->hide();
                else if (row)
                    self->setFixedWidth(left);
                else
                    self->setFixedHeight(left);
            }
            self->update();
        },
        [self] {
            if (!self)
                return;
            self->hide();
            self->deleteLater();
        });
}

void TDSpringGhost::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setOpacity(std::clamp(1 - m_progress, 0.0, 1.0));
    painter.drawPixmap(0, 0, m_picture);
}
