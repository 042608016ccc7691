#include "app/screens/TDProjectItem.h"

#include "app/model/TDProject.h"
#include "app/screens/SymbolPainter.h"
#include "app/screens/TDAppearance.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <atomic>
#include <cmath>

using tdappearance::SystemColor;

namespace {

std::atomic<long long> coverLoads { 0 };

// The drawn size of the symbols, which the card sizes as fonts: a filled circle is a little
// smaller than its font size, a star about as large.
constexpr double dotDiameter = TDProjectItem::dotSize * 0.88;
constexpr double starExtent = TDProjectItem::starSize * 1.05;

QColor statusColor(TDStatus status, bool dark)
{
    switch (status) {
    case TDStatus::inProgress:
        return tdappearance::color(SystemColor::green, dark);
    case TDStatus::archived:
        return tdappearance::color(SystemColor::gray, dark);
    case TDStatus::finished:
        return tdappearance::color(SystemColor::blue, dark);
    }
    return tdappearance::color(SystemColor::gray, dark);
}

// The name, wrapped to at most two lines; the second is elided when the name needs more.
QStringList nameLines(const QString& name, const QFont& font, double width)
{
    QStringList lines;
    QTextLayout layout(name, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (int i = 0; i < 2; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (i == 1) {
            QString rest = name.mid(line.textStart());
            lines.append(QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width));
        } else {
            lines.append(name.mid(line.textStart(), line.textLength()).trimmed());
        }
    }
    layout.endLayout();
    return lines;
}

} // namespace

TDProjectItem::TDProjectItem(std::shared_ptr<TDProject> project, double wholeWidth, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_wholeWidth(wholeWidth)
{
    setObjectName(QStringLiteral("projectCard"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setCursor(Qt::ArrowCursor);
    updateSize();
    renderNow();
}

int TDProjectItem::tileWidth(double wholeWidth)
{
    return std::max(0, static_cast<int>(std::floor(wholeWidth * 0.25 - 12)));
}

void TDProjectItem::setWholeWidth(double wholeWidth, std::optional<int> limit)
{
    m_wholeWidth = wholeWidth;
    m_widthLimit = limit;
    updateSize();
}

void TDProjectItem::updateSize()
{
    int width = tileWidth(m_wholeWidth);
    if (m_widthLimit)
        width = std::min(width, std::max(0, *m_widthLimit));
    setFixedSize(width, tileHeight);
}

void TDProjectItem::appear()
{
    if (m_appeared)
        return;
    m_appeared = true;
    if (m_cover)
        ++coverLoads;
    update();
}

long long TDProjectItem::coverLoadsStarted()
{
    return coverLoads.load();
}

void TDProjectItem::render()
{
    auto category = m_project->category();
    m_category = category ? category->name() : QString();
    m_name = m_project->name();
    m_isFavorite = m_project->isFavorite();
    m_status = m_project->status();
    auto cover = m_project->coverImageURL();
    if (cover != m_cover) {
        m_cover = std::move(cover);
        if (m_appeared && m_cover)
            ++coverLoads;
    }
    setAccessibleName(m_name);
    setAccessibleDescription(rawValue(m_status));
    setToolTip(m_name);
    update();
}

QRectF TDProjectItem::dotRect() const
{
    QFontMetricsF metrics(tdappearance::monospacedFont(categoryFontSize));
    double rowCentre = topPadding + metrics.height() / 2;
    double right = width() - trailingPadding;
    return QRectF(right - dotDiameter, rowCentre - dotDiameter / 2, dotDiameter, dotDiameter);
}

QRectF TDProjectItem::starRect() const
{
    if (!m_isFavorite)
        return QRectF();
    QRectF dot = dotRect();
    double centre = dot.center().y();
    return QRectF(dot.left() - markSpacing - starExtent, centre - starExtent / 2, starExtent, starExtent);
}

void TDProjectItem::paintCover(QPainter& painter, const QRectF& tile)
{
    // The cover is not retrieved yet: the tile shows nothing under the overlay, as for a cover
    // that is still loading.
    Q_UNUSED(painter);
    Q_UNUSED(tile);
}

void TDProjectItem::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const bool dark = tdappearance::isDark(this);
    const QRectF tile(0, 0, width(), height());
    QPainterPath mask;
    mask.addRoundedRect(tile, cornerRadius, cornerRadius);

    const bool cover = m_cover.has_value();
    if (cover) {
        painter.save();
        painter.setClipPath(mask);
        paintCover(painter, tile);
        painter.fillRect(tile, QColor(0, 0, 0, qRound(overlayOpacity * 255)));
        painter.restore();
    } else {
        painter.fillPath(mask, tdappearance::color(SystemColor::tertiaryFill, dark));
        QPainterPath border;
        border.addRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), borderRadius, borderRadius);
        painter.strokePath(border, QPen(tdappearance::color(SystemColor::secondaryFill, dark), 1));
    }

    // The marks at the top right: the star only for a favourite, the status dot always.
    QRectF dot = dotRect();
    SymbolPainter::paint(
        painter, Symbol::circleFill, dot, statusColor(m_status, dark), SymbolPainter::Fill::gradient);
    double marksLeft = dot.left();
    if (m_isFavorite) {
        QRectF star = starRect();
        SymbolPainter::paint(painter, Symbol::starFill, star, tdappearance::color(SystemColor::orange, dark),
            SymbolPainter::Fill::gradient);
        marksLeft = star.left();
    }

    // The category at the top left, up to the marks.
    const QFont categoryFont = tdappearance::monospacedFont(categoryFontSize);
    QFontMetricsF categoryMetrics(categoryFont);
    const double categoryWidth = std::max(0.0, marksLeft - 8 - leadingPadding);
    painter.setFont(categoryFont);
    painter.setPen(cover ? QColor(255, 255, 255, qRound(0.5 * 255))
                         : tdappearance::color(SystemColor::secondaryLabel, dark));
    painter.drawText(QPointF(leadingPadding, topPadding + categoryMetrics.ascent()),
        categoryMetrics.elidedText(m_category, Qt::ElideRight, categoryWidth));

    // The name at the bottom left, over its faint shadow when there is a cover.
    const QFont nameFont = tdappearance::systemFont(nameFontSize);
    QFontMetricsF nameMetrics(nameFont);
    const double nameWidth = std::max(0.0, width() - double(leadingPadding + trailingPadding));
    QStringList lines = nameLines(m_name, nameFont, nameWidth);
    painter.setFont(nameFont);
    double baseline = height() - bottomPadding - nameMetrics.descent();
    baseline -= (lines.size() - 1) * nameMetrics.lineSpacing();
    for (const QString& line : lines) {
        if (cover) {
            painter.setPen(QColor(0, 0, 0, qRound(0.1 * 255)));
            painter.drawText(QPointF(leadingPadding, baseline + 1), line);
            painter.setPen(Qt::white);
        } else {
            painter.setPen(tdappearance::color(SystemColor::primaryLabel, dark));
        }
        painter.drawText(QPointF(leadingPadding, baseline), line);
        baseline += nameMetrics.lineSpacing();
    }
}

void TDProjectItem::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && m_onOpen) {
        event->accept();
        m_onOpen();
        return;
    }
    platform::ObservedWidget::mouseReleaseEvent(event);
}

void TDProjectItem::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        update();
}
