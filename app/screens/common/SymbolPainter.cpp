#include "app/screens/common/SymbolPainter.h"

#include "platform/ui/ScreenRatioWatcher.h"

#include <QHash>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <cmath>
#include <numbers>

namespace {

// What a label shows through SymbolPainter::setPixmap, kept with the label so that the pixmap can be
// drawn again at a new ratio.
class SymbolPixmapKeeper final : public QObject {
public:
    explicit SymbolPixmapKeeper(QLabel* label)
        : QObject(label)
        , m_label(label)
    {
        platform::ScreenRatioWatcher::watch(label, [this] { draw(); });
    }

    static SymbolPixmapKeeper* of(QLabel* label)
    {
        for (QObject* child : label->children()) {
            if (auto* keeper = dynamic_cast<SymbolPixmapKeeper*>(child))
                return keeper;
        }
        return new SymbolPixmapKeeper(label);
    }

    Symbol symbol = Symbol::circleFill;
    int size = 0;
    QColor color;
    SymbolPainter::Fill fill = SymbolPainter::Fill::flat;

    void draw()
    {
        m_label->setPixmap(SymbolPainter::pixmap(symbol, size, color, fill, m_label->devicePixelRatioF()));
    }

private:
    QLabel* const m_label;
};

// Every shape is drawn in a 24 x 24 design box, then scaled into the caller's box.
constexpr qreal designSize = 24;

QPainterPath starPath()
{
    QPainterPath path;
    const QPointF centre(12, 12.8);
    const qreal outer = 11.5;
    const qreal inner = 4.6;
    for (int i = 0; i < 10; ++i) {
        qreal angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
        qreal radius = i % 2 == 0 ? outer : inner;
        QPointF point(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

QPainterPath folderOutline(const QRectF& r)
{
    // A folder: a body with a tab on the upper left.
    QPainterPath path;
    qreal radius = r.height() * 0.12;
    qreal tabWidth = r.width() * 0.38;
    qreal tabHeight = r.height() * 0.16;
    path.moveTo(r.left(), r.top() + radius);
    path.quadTo(r.left(), r.top(), r.left() + radius, r.top());
    path.lineTo(r.left() + tabWidth - radius * 0.5, r.top());
    path.quadTo(r.left() + tabWidth, r.top(), r.left() + tabWidth + radius * 0.6, r.top() + tabHeight);
    path.lineTo(r.right() - radius, r.top() + tabHeight);
    path.quadTo(r.right(), r.top() + tabHeight, r.right(), r.top() + tabHeight + radius);
    path.lineTo(r.right(), r.bottom() - radius);
    path.quadTo(r.right(), r.bottom(), r.right() - radius, r.bottom());
    path.lineTo(r.left() + radius, r.bottom());
    path.quadTo(r.left(), r.bottom(), r.left(), r.bottom() - radius);
    path.closeSubpath();
    return path;
}

QPainterPath gearPath()
{
    QPainterPath path;
    const QPointF c(12, 12);
    const int teeth = 8;
    const qreal outer = 11.2;
    const qreal root = 8.6;
    for (int i = 0; i < teeth * 4; ++i) {
        qreal angle = (i / qreal(teeth * 4)) * 2 * std::numbers::pi;
        // Each tooth: up, top, down, valley.
        qreal radius = (i % 4 == 1 || i % 4 == 2) ? outer : root;
        QPointF point(c.x() + radius * std::cos(angle), c.y() + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    path.addEllipse(c, 3.6, 3.6);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

QPainterPath bookPath()
{
    QPainterPath book;
    book.addRoundedRect(QRectF(2.5, 2, 14, 19.5), 2.2, 2.2);
    // The pages' edge along the bottom.
    QPainterPath pages;
    pages.addRect(QRectF(4.5, 17.2, 12.5, 1.5));
    return book.subtracted(pages);
}

QPainterPath wrenchPath()
{
    // A wrench lying diagonally from the lower right towards the upper left.
    QPainterPath handle;
    handle.addRoundedRect(QRectF(-1.6, 0, 3.2, 11), 1.6, 1.6);
    QPainterPath head;
    head.addEllipse(QPointF(0, -1.5), 3.6, 3.6);
    QPainterPath jaw;
    jaw.addRect(QRectF(-1.3, -6, 2.6, 4.5));
    QPainterPath wrench = handle.united(head).subtracted(jaw);
    QTransform transform;
    transform.translate(15.5, 13.5);
    transform.rotate(-45);
    return transform.map(wrench);
}

// A picture frame with mountains and a sun.
QPainterPath photoFrame(const QRectF& r)
{
    QPainterPath path;
    path.addRoundedRect(r, 2.5, 2.5);
    return path;
}

QPainterPath photoScene(const QRectF& r)
{
    QPainterPath scene;
    const double w = r.width();
    const double h = r.height();
    scene.moveTo(r.left() + w * 0.12, r.bottom() - h * 0.14);
    scene.lineTo(r.left() + w * 0.4, r.top() + h * 0.42);
    scene.lineTo(r.left() + w * 0.6, r.top() + h * 0.66);
    scene.lineTo(r.left() + w * 0.72, r.top() + h * 0.54);
    scene.lineTo(r.right() - w * 0.12, r.bottom() - h * 0.14);
    scene.closeSubpath();
    scene.addEllipse(QPointF(r.left() + w * 0.72, r.top() + h * 0.3), w * 0.08, w * 0.08);
    return scene;
}

QPainterPath circleWithBar(bool plus)
{
    QPainterPath circle;
    circle.addEllipse(QRectF(1, 1, 22, 22));
    QPainterPath bar;
    // Under the default odd-even rule the bars' crossing would be a hole in the plus, and so stay
    // filled when the plus is cut out.
    bar.setFillRule(Qt::WindingFill);
    bar.addRoundedRect(QRectF(6, 10.9, 12, 2.2), 1.1, 1.1);
    if (plus)
        bar.addRoundedRect(QRectF(10.9, 6, 2.2, 12), 1.1, 1.1);
    return circle.subtracted(bar.simplified());
}

QPainterPath fullBox()
{
    QPainterPath path;
    path.addRect(QRectF(-4, -4, 32, 32));
    return path;
}

void fillShape(QPainter& painter, const QPainterPath& path, const QBrush& brush)
{
    painter.fillPath(path, brush);
}

void strokeShape(QPainter& painter, const QPainterPath& path, const QBrush& brush, qreal width)
{
    QPen pen(brush, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.strokePath(path, pen);
}

void drawInDesignBox(QPainter& painter, Symbol symbol, const QBrush& brush)
{
    const qreal line = 1.9;
    switch (symbol) {
    case Symbol::circleFill: {
        QPainterPath path;
        path.addEllipse(QRectF(0.5, 0.5, 23, 23));
        fillShape(painter, path, brush);
        break;
    }
    case Symbol::starFill:
        fillShape(painter, starPath(), brush);
        break;
    case Symbol::bookAndWrenchFill: {
        QPainterPath wrench = wrenchPath();
        // The wrench is set off from the book by a clear margin around it.
        QPainterPathStroker stroker;
        stroker.setWidth(3.2);
        stroker.setJoinStyle(Qt::RoundJoin);
        QPainterPath gap = stroker.createStroke(wrench).united(wrench);
        fillShape(painter, bookPath().subtracted(gap), brush);
        fillShape(painter, wrench, brush);
        break;
    }
    case Symbol::photoOnRectangleAngled: {
        QPainterPath back;
        back.addRoundedRect(QRectF(0, 0, 17, 12.5), 2, 2);
        QTransform tilt;
        tilt.translate(5.5, 1.5);
        tilt.rotate(-11);
        QPainterPath front;
        front.addRoundedRect(QRectF(5, 7.5, 17.5, 13.5), 2, 2);
        // The back sheet shows only where the front one does not cover it.
        QPainterPathStroker stroker;
        stroker.setWidth(line * 2.2);
        QPainterPath frontArea = front.united(stroker.createStroke(front));
        QPen pen(brush, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.save();
        painter.setClipPath(fullBox().subtracted(frontArea));
        painter.strokePath(tilt.map(back), pen);
        painter.restore();
        painter.strokePath(front, pen);
        QPainterPath mountains;
        mountains.moveTo(7.5, 19);
        mountains.lineTo(12, 13.2);
        mountains.lineTo(15, 16.5);
        mountains.lineTo(16.8, 14.6);
        mountains.lineTo(20.2, 19);
        mountains.closeSubpath();
        fillShape(painter, mountains, brush);
        QPainterPath sun;
        sun.addEllipse(QPointF(17.6, 11), 1.7, 1.7);
        fillShape(painter, sun, brush);
        break;
    }
    case Symbol::link: {
        // Two capsules joined at an angle, like chain links.
        QPainterPath capsule;
        capsule.addRoundedRect(QRectF(-3.6, -6.8, 7.2, 13.6), 3.6, 3.6);
        QTransform first;
        first.translate(8.6, 15.4);
        first.rotate(45);
        QTransform second;
        second.translate(15.4, 8.6);
        second.rotate(45);
        strokeShape(painter, first.map(capsule), brush, line);
        strokeShape(painter, second.map(capsule), brush, line);
        break;
    }
    case Symbol::folder:
        strokeShape(painter, folderOutline(QRectF(1.5, 3.5, 21, 17)), brush, line * 0.8);
        break;
    case Symbol::folderBadgePlus: {
        QPainterPath folder = folderOutline(QRectF(1, 3.5, 20, 16));
        QPainterPath badgeArea;
        badgeArea.addEllipse(QPointF(18, 17.5), 6.5, 6.5);
        painter.save();
        painter.setClipPath(fullBox().subtracted(badgeArea));
        strokeShape(painter, folder, brush, line * 0.85);
        painter.restore();
        QPainterPath plus;
        plus.moveTo(18, 13.5);
        plus.lineTo(18, 21.5);
        plus.moveTo(14, 17.5);
        plus.lineTo(22, 17.5);
        strokeShape(painter, plus, brush, line);
        break;
    }
    case Symbol::gear:
        fillShape(painter, gearPath(), brush);
        break;
    case Symbol::minus: {
        QPainterPath path;
        path.moveTo(5, 12);
        path.lineTo(19, 12);
        strokeShape(painter, path, brush, line);
        break;
    }
    case Symbol::plus: {
        QPainterPath path;
        path.moveTo(5, 12);
        path.lineTo(19, 12);
        path.moveTo(12, 5);
        path.lineTo(12, 19);
        strokeShape(painter, path, brush, line);
        break;
    }
    case Symbol::chevronLeft: {
        QPainterPath path;
        path.moveTo(15, 4);
        path.lineTo(7.5, 12);
        path.lineTo(15, 20);
        strokeShape(painter, path, brush, line * 1.2);
        break;
    }
    case Symbol::chevronRight: {
        QPainterPath path;
        path.moveTo(9, 4);
        path.lineTo(16.5, 12);
        path.lineTo(9, 20);
        strokeShape(painter, path, brush, line * 1.2);
        break;
    }
    case Symbol::exclamationmarkTriangleFill: {
        // A rounded triangle with the mark cut out of it.
        QPainterPath triangle;
        triangle.moveTo(12, 2.5);
        triangle.lineTo(22.5, 21);
        triangle.lineTo(1.5, 21);
        triangle.closeSubpath();
        QPainterPathStroker rounding;
        rounding.setWidth(2.4);
        rounding.setJoinStyle(Qt::RoundJoin);
        QPainterPath body = triangle.united(rounding.createStroke(triangle));
        QPainterPath mark;
        mark.addRoundedRect(QRectF(10.8, 8, 2.4, 7.6), 1.2, 1.2);
        mark.addEllipse(QPointF(12, 18.2), 1.4, 1.4);
        fillShape(painter, body.subtracted(mark), brush);
        break;
    }
    case Symbol::plusCircleFill:
        fillShape(painter, circleWithBar(true), brush);
        break;
    case Symbol::minusCircleFill:
        fillShape(painter, circleWithBar(false), brush);
        break;
    case Symbol::photo: {
        QRectF frame(2, 4, 20, 16);
        strokeShape(painter, photoFrame(frame), brush, line * 0.9);
        fillShape(painter, photoScene(frame.adjusted(1.5, 1.5, -1.5, -1.5)), brush);
        break;
    }
    case Symbol::photoBadgePlusFill: {
        // A filled picture with its scene cut out, and a plus badge at the lower right.
        QRectF frame(1, 3.5, 19, 15);
        QPainterPath badge;
        badge.addEllipse(QPointF(18.5, 17.5), 5.5, 5.5);
        QPainterPath badgeArea;
        badgeArea.addEllipse(QPointF(18.5, 17.5), 7, 7);
        QPainterPath picture = photoFrame(frame).subtracted(photoScene(frame.adjusted(2, 2, -2, -2)));
        fillShape(painter, picture.subtracted(badgeArea), brush);
        QPainterPath plus;
        plus.setFillRule(Qt::WindingFill);
        plus.addRect(QRectF(17.6, 14.5, 1.8, 6));
        plus.addRect(QRectF(15.5, 16.6, 6, 1.8));
        fillShape(painter, badge.subtracted(plus.simplified()), brush);
        break;
    }
    case Symbol::sliderHorizontal3: {
        // Three rails, each with a knob at a different place.
        const double rails[] = { 5, 12, 19 };
        const double knobs[] = { 15, 7, 13 };
        for (int i = 0; i < 3; ++i) {
            QPainterPath rail;
            rail.moveTo(2.5, rails[i]);
            rail.lineTo(21.5, rails[i]);
            QPainterPath knob;
            knob.addEllipse(QPointF(knobs[i], rails[i]), 2.6, 2.6);
            QPainterPath gap;
            gap.addEllipse(QPointF(knobs[i], rails[i]), 4.2, 4.2);
            painter.save();
            painter.setClipPath(fullBox().subtracted(gap));
            strokeShape(painter, rail, brush, line * 0.85);
            painter.restore();
            strokeShape(painter, knob, brush, line * 0.85);
        }
        break;
    }
    case Symbol::chevronDown: {
        QPainterPath path;
        path.moveTo(4, 9);
        path.lineTo(12, 16.5);
        path.lineTo(20, 9);
        strokeShape(painter, path, brush, line * 1.2);
        break;
    }
    }
}

} // namespace

std::optional<Symbol> SymbolPainter::symbolNamed(const QString& systemName)
{
    static const QHash<QString, Symbol> names {
        { QStringLiteral("book.and.wrench.fill"), Symbol::bookAndWrenchFill },
        { QStringLiteral("circle.fill"), Symbol::circleFill },
        { QStringLiteral("star.fill"), Symbol::starFill },
        { QStringLiteral("photo.on.rectangle.angled"), Symbol::photoOnRectangleAngled },
        { QStringLiteral("link"), Symbol::link },
        { QStringLiteral("folder"), Symbol::folder },
        { QStringLiteral("folder.badge.plus"), Symbol::folderBadgePlus },
        { QStringLiteral("gear"), Symbol::gear },
        { QStringLiteral("minus"), Symbol::minus },
        { QStringLiteral("plus"), Symbol::plus },
        { QStringLiteral("chevron.left"), Symbol::chevronLeft },
        { QStringLiteral("chevron.right"), Symbol::chevronRight },
        { QStringLiteral("chevron.down"), Symbol::chevronDown },
        { QStringLiteral("exclamationmark.triangle.fill"), Symbol::exclamationmarkTriangleFill },
        { QStringLiteral("plus.circle.fill"), Symbol::plusCircleFill },
        { QStringLiteral("minus.circle.fill"), Symbol::minusCircleFill },
        { QStringLiteral("photo"), Symbol::photo },
        { QStringLiteral("photo.badge.plus.fill"), Symbol::photoBadgePlusFill },
        { QStringLiteral("slider.horizontal.3"), Symbol::sliderHorizontal3 },
    };
    auto it = names.find(systemName);
    if (it == names.end())
        return std::nullopt;
    return *it;
}

void SymbolPainter::paint(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color, Fill fill)
{
    if (box.isEmpty())
        return;
    qreal side = std::min(box.width(), box.height());
    QRectF square(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(square.topLeft());
    painter.scale(side / designSize, side / designSize);
    QBrush brush(color);
    if (fill == Fill::gradient) {
        QLinearGradient gradient(QPointF(0, 0), QPointF(0, designSize));
        gradient.setColorAt(0, color.lighter(118));
        gradient.setColorAt(1, color);
        brush = QBrush(gradient);
    }
    drawInDesignBox(painter, symbol, brush);
    painter.restore();
}

QPixmap SymbolPainter::pixmap(Symbol symbol, int size, const QColor& color, Fill fill, qreal devicePixelRatio)
{
    return pixmap(symbol, size, size, color, fill, devicePixelRatio);
}

QPixmap SymbolPainter::pixmap(
    Symbol symbol, int size, int glyphSize, const QColor& color, Fill fill, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    qreal offset = (size - glyphSize) / 2.0;
    paint(painter, symbol, QRectF(offset, offset, glyphSize, glyphSize), color, fill);
    return pixmap;
}

QIcon SymbolPainter::icon(Symbol symbol, int size, const QColor& color, Fill fill)
{
    // One icon per look: each new icon gets cached pixmaps of its own when it is drawn, so a screen
    // built again (a sidebar page, a project page) filled the pixmap cache with copies of its icons.
    static QHash<QString, QIcon> icons;
    const QString key = QStringLiteral("%1/%2/%3/%4")
                            .arg(int(symbol))
                            .arg(size)
                            .arg(QString::number(color.rgba64(), 16))
                            .arg(int(fill));
    if (auto found = icons.constFind(key); found != icons.constEnd())
        return *found;
    QIcon icon;
    icon.addPixmap(pixmap(symbol, size, color, fill, 1.0));
    icon.addPixmap(pixmap(symbol, size, color, fill, 2.0));
    icons.insert(key, icon);
    return icon;
}

void SymbolPainter::setPixmap(QLabel* label, Symbol symbol, int size, const QColor& color, Fill fill)
{
    SymbolPixmapKeeper* keeper = SymbolPixmapKeeper::of(label);
    keeper->symbol = symbol;
    keeper->size = size;
    keeper->color = color;
    keeper->fill = fill;
    keeper->draw();
}
