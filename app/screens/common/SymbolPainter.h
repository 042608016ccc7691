#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>

#include <optional>

class QLabel;
class QPainter;

// The symbols the screens show, drawn with paths of our own: the desktop's icon themes cannot be
// relied on (and hold no symbols of these names).
enum class Symbol {
    bookAndWrenchFill,
    circleFill,
    starFill,
    photoOnRectangleAngled,
    link,
    folder,
    folderBadgePlus,
    gear,
    minus,
    plus,
    chevronLeft,
    chevronRight,
    chevronDown,
    exclamationmarkTriangleFill,
    plusCircleFill,
    minusCircleFill,
    photo,
    photoBadgePlusFill,
    sliderHorizontal3,
};

class SymbolPainter {
public:
    // The symbol of a system symbol name ("star.fill"); none for a name we do not draw.
    static std::optional<Symbol> symbolNamed(const QString& systemName);

    // Draws `symbol` fitted into `box`. With `gradient`, the fill runs from a lighter tint at the
    // top to `color` at the bottom, as the platform's gradient of a colour does.
    enum class Fill { flat, gradient };
    static void paint(
        QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color, Fill fill = Fill::flat);

    // A square pixmap of `size` logical pixels at the device pixel ratio given.
    static QPixmap pixmap(
        Symbol symbol, int size, const QColor& color, Fill fill = Fill::flat, qreal devicePixelRatio = 1.0);
    // The symbol at `size`, drawn in `glyphSize` and centred: a 7-pixel dot in a 13-pixel box keeps
    // the labels beside it aligned with those of full-size symbols.
    static QPixmap pixmap(
        Symbol symbol, int size, int glyphSize, const QColor& color, Fill fill, qreal devicePixelRatio);
    static QIcon icon(Symbol symbol, int size, const QColor& color, Fill fill = Fill::flat);

    // Shows `symbol` in `label` as a pixmap at the label's device pixel ratio, drawn again each time
    // that ratio changes (its window moved to a screen of another ratio), so it never shows blurred
    // or four times too heavy. A later call replaces the symbol.
    static void setPixmap(
        QLabel* label, Symbol symbol, int size, const QColor& color, Fill fill = Fill::flat);
};
