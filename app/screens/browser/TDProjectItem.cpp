#include "app/screens/browser/TDProjectItem.h"

#include "app/model/TDProject.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDListAccessible.h"

#include <QAccessible>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <cmath>
#include <mutex>

using tdappearance::SystemColor;

namespace {

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

// The layer over the cover: the dark overlay, the rounded corners, the marks and the texts.
class TDProjectItemOverlay : public QWidget {
public:
    explicit TDProjectItemOverlay(TDProjectItem* card)
        : QWidget(card)
        , m_card(card)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_card->paintOverlay(painter);
    }

private:
    TDProjectItem* m_card;
};

class TDProjectItemAccessible : public TDListItemAccessible {
public:
    explicit TDProjectItemAccessible(TDProjectItem* card)
        : TDListItemAccessible(card)
    {
    }

protected:
    // The grid keeps the keys and rings the card they act on.
    bool hasKeys() const override { return card()->m_showsFocusRing; }
    void press() override
    {
        if (card()->m_onOpen)
            card()->m_onOpen();
    }
    void showMenu() override
    {
        if (card()->contextMenuPolicy() == Qt::CustomContextMenu)
            emit card()->customContextMenuRequested(card()->rect().center());
    }

private:
    TDProjectItem* card() const { return static_cast<TDProjectItem*>(widget()); }
};

namespace {

QAccessibleInterface* projectItemAccessibleFactory(const QString&, QObject* object)
{
    if (auto* card = dynamic_cast<TDProjectItem*>(object))
        return new TDProjectItemAccessible(card);
    return nullptr;
}

} // namespace

TDProjectItem::TDProjectItem(std::shared_ptr<TDProject> project, double wholeWidth, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_wholeWidth(wholeWidth)
    , m_coverView(this)
{
    // Before the name is set: that asks for the interface, which is then kept for good.
    static std::once_flag accessible;
    std::call_once(accessible, [] { QAccessible::installFactory(projectItemAccessibleFactory); });
    setObjectName(QStringLiteral("projectCard"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setCursor(Qt::ArrowCursor);
    m_overlay = new TDProjectItemOverlay(this);
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

void TDProjectItem::render()
{
    auto category = m_project->category();
    m_category = category ? tdDisplayText(category->name()) : QString();
    m_name = tdDisplayText(m_project->name());
    m_isFavorite = m_project->isFavorite();
    m_status = m_project->status();
    m_cover = m_coverView.show(m_project->coverImageURL(), this);
    if (m_coverView.view())
        m_overlay->raise();
    m_coverView.place();
    setAccessibleName(m_name);
    setAccessibleDescription(rawValue(m_status));
    setToolTip(tdToolTipText(m_name));
    update();
    m_overlay->update();
}

QRectF TDProjectItem::dotRect() const
{
    QFontMetricsF metrics(tdappearance::monospacedFont(categoryFontSize));
    double rowCentre = topPadding + metrics.height() / 2;
    // The marks sit at the trailing edge: the left one in a right-to-left layout.
    double left = isRightToLeft() ? trailingPadding : width() - trailingPadding - dotDiameter;
    return QRectF(left, rowCentre - dotDiameter / 2, dotDiameter, dotDiameter);
}

QRectF TDProjectItem::starRect() const
{
    if (!m_isFavorite)
        return QRectF();
    QRectF dot = dotRect();
    double centre = dot.center().y();
    double left = isRightToLeft() ? dot.right() + markSpacing : dot.left() - markSpacing - starExtent;
    return QRectF(left, centre - starExtent / 2, starExtent, starExtent);
}

void TDProjectItem::resizeEvent(QResizeEvent* event)
{
    platform::ObservedWidget::resizeEvent(event);
    m_overlay->setGeometry(rect());
    m_coverView.place();
}

void TDProjectItem::paintEvent(QPaintEvent*)
{
    if (m_cover)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool dark = tdappearance::isDark(this);
    const QRectF tile(0, 0, width(), height());
    QPainterPath mask;
    mask.addRoundedRect(tile, cornerRadius, cornerRadius);
    painter.fillPath(mask, tdappearance::color(SystemColor::tertiaryFill, dark));
    QPainterPath border;
    border.addRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), borderRadius, borderRadius);
    painter.strokePath(border, QPen(tdappearance::color(SystemColor::secondaryFill, dark), 1));
}

QList<TDProjectItem::NameLine> TDProjectItem::nameLayout() const
{
    const QFont nameFont = tdappearance::systemFont(nameFontSize);
    const QFontMetricsF metrics(nameFont);
    const double nameWidth = std::max(0.0, width() - double(leadingPadding + trailingPadding));
    QList<NameLine> lines;
    for (const QString& text : nameLines(m_name, nameFont, nameWidth)) {
        // A line in another script can take its glyphs from a taller font (Thai marks stacked
        // over a vowel): its own extent keeps it clear of the line above.
        const auto [ascent, descent] = tdLineExtent(metrics, text);
        lines.append({ text, 0, ascent, descent });
    }
    double baseline = height() - bottomPadding - metrics.descent();
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        lines[i].baseline = baseline;
        if (i > 0)
            baseline -= std::max(
                metrics.lineSpacing(), lines[i - 1].descent + metrics.leading() + lines[i].ascent);
    }
    return lines;
}

QList<QRectF> TDProjectItem::nameLineRects() const
{
    QList<QRectF> rects;
    for (const NameLine& line : nameLayout())
        rects.append(QRectF(leadingPadding, line.baseline - line.ascent,
            std::max(0.0, width() - double(leadingPadding + trailingPadding)), line.ascent + line.descent));
    return rects;
}

void TDProjectItem::paintOverlay(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const bool dark = tdappearance::isDark(this);
    const QRectF tile(0, 0, width(), height());
    const bool cover = m_cover.has_value();
    if (cover) {
        QPainterPath mask;
        mask.addRoundedRect(tile, cornerRadius, cornerRadius);
        painter.fillPath(mask, QColor(0, 0, 0, qRound(overlayOpacity * 255)));
        // The picture under the overlay is a child of its own: its corners are rounded off by
        // painting the background the card sits on over them.
        QPainterPath corners;
        corners.addRect(tile);
        corners = corners.subtracted(mask);
        QWidget* ground = parentWidget() ? parentWidget() : this;
        painter.fillPath(corners, ground->palette().color(ground->backgroundRole()));
    }

    // The marks at the top right: the star only for a favourite, the status dot always.
    QRectF dot = dotRect();
    SymbolPainter::paint(
        painter, Symbol::circleFill, dot, statusColor(m_status, dark), SymbolPainter::Fill::gradient);
    QRectF marks = dot;
    if (m_isFavorite) {
        QRectF star = starRect();
        SymbolPainter::paint(painter, Symbol::starFill, star, tdappearance::color(SystemColor::orange, dark),
            SymbolPainter::Fill::gradient);
        marks |= star;
    }
    const bool mirrored = isRightToLeft();
    // A line of text from the leading edge. Each is shaped in its own direction, so that its
    // ellipsis and its end punctuation stay at its end whatever the layout's direction.
    auto drawLine
        = [&](const QString& line, bool rightToLeft, const QFontMetricsF& metrics, double baseline) {
              painter.setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
              // On a whole pixel, so that a text is drawn alike against either edge.
              double x = mirrored ? std::floor(width() - leadingPadding - metrics.horizontalAdvance(line))
                                  : leadingPadding;
              painter.drawText(QPointF(x, baseline), line);
          };

    // The category at the top, from the leading edge up to the marks.
    const QFont categoryFont = tdappearance::monospacedFont(categoryFontSize);
    QFontMetricsF categoryMetrics(categoryFont);
    const double categoryWidth = std::max(
        0.0, mirrored ? width() - leadingPadding - marks.right() - 8 : marks.left() - 8 - leadingPadding);
    painter.setFont(categoryFont);
    painter.setPen(cover ? QColor(255, 255, 255, qRound(0.5 * 255))
                         : tdappearance::color(SystemColor::secondaryLabel, dark));
    drawLine(categoryMetrics.elidedText(m_category, Qt::ElideRight, categoryWidth),
        m_category.isRightToLeft(), categoryMetrics, topPadding + categoryMetrics.ascent());

    // The name at the bottom left, over its faint shadow when there is a cover.
    const QFont nameFont = tdappearance::systemFont(nameFontSize);
    QFontMetricsF nameMetrics(nameFont);
    painter.setFont(nameFont);
    const bool nameRightToLeft = m_name.isRightToLeft();
    for (const NameLine& line : nameLayout()) {
        if (cover) {
            painter.setPen(QColor(0, 0, 0, qRound(0.1 * 255)));
            drawLine(line.text, nameRightToLeft, nameMetrics, line.baseline + 1);
            painter.setPen(Qt::white);
        } else {
            painter.setPen(tdappearance::color(SystemColor::primaryLabel, dark));
        }
        drawLine(line.text, nameRightToLeft, nameMetrics, line.baseline);
    }

    if (m_showsFocusRing) {
        QPainterPath ring;
        ring.addRoundedRect(tile.adjusted(1.5, 1.5, -1.5, -1.5), cornerRadius - 1, cornerRadius - 1);
        painter.strokePath(ring, QPen(tdfocusring::color(this), 3));
    }
}

void TDProjectItem::setShowsFocusRing(bool shows)
{
    if (m_showsFocusRing == shows)
        return;
    m_showsFocusRing = shows;
    m_overlay->update();
    // The grid keeps the keys; a screen reader is told which card they act on.
    if (shows) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

void TDProjectItem::mousePressEvent(QMouseEvent* event)
{
    m_click.press(event);
    platform::ObservedWidget::mousePressEvent(event);
}

void TDProjectItem::mouseReleaseEvent(QMouseEvent* event)
{
    const bool inside = rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton && inside && m_onOpen) {
        event->accept();
        if (m_click.release(inside))
            m_onOpen();
        return;
    }
    if (event->button() == Qt::LeftButton)
        m_click.release(false);
    platform::ObservedWidget::mouseReleaseEvent(event);
}

void TDProjectItem::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        update();
    if (event->type() == QEvent::LayoutDirectionChange)
        m_overlay->update();
}
