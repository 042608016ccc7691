#include "app/screens/common/TDGroupedBox.h"

#include "app/screens/common/TDAppearance.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

using tdappearance::SystemColor;

TDGroupedBox::TDGroupedBox(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("groupedBox"));
    m_grid = new QGridLayout(this);
    m_grid->setContentsMargins(sidePadding, 0, sidePadding, 0);
    m_grid->setHorizontalSpacing(16);
    m_grid->setVerticalSpacing(0);
    m_grid->setColumnStretch(1, 1);
}

QLabel* TDGroupedBox::addRow(const QString& label, QWidget* control, Width width)
{
    auto* text = new QLabel(label, this);
    text->setTextFormat(Qt::PlainText);
    text->setFont(tdappearance::systemFont(13));
    m_grid->setRowMinimumHeight(m_rows, rowHeight);
    m_grid->addWidget(text, m_rows, 0, Qt::AlignVCenter | Qt::AlignLeading);
    if (width == Width::expanding)
        m_grid->addWidget(control, m_rows, 1, Qt::AlignVCenter);
    else
        m_grid->addWidget(control, m_rows, 1, Qt::AlignVCenter | Qt::AlignTrailing);
    ++m_rows;
    return text;
}

void TDGroupedBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool dark = tdappearance::isDark(this);
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, cornerRadius, cornerRadius);
    QColor fill = dark ? QColor(255, 255, 255, 14) : QColor(255, 255, 255, 150);
    painter.fillPath(path, fill);
    painter.strokePath(path, QPen(tdappearance::color(SystemColor::separator, dark), 1));
    // Hairlines between the rows, inset like the rows' content.
    const QColor line = tdappearance::color(SystemColor::separator, dark);
    for (int row = 0; row + 1 < m_rows; ++row) {
        QRect cell = m_grid->cellRect(row, 0);
        int y = cell.bottom() + 1;
        painter.fillRect(QRectF(sidePadding, y, width() - 2 * sidePadding, 1), line);
    }
}
