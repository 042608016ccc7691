#pragma once

#include <QColor>
#include <QFont>

class QWidget;
class QPalette;

// The named system colours the screens use, in a light and a dark variant, and the fonts by pixel
// size. The appearance follows the desktop: it is dark when the palette's window colour is dark.
namespace tdappearance {

enum class SystemColor {
    white,
    green,
    blue,
    orange,
    pink,
    gray,
    windowBackground,
    controlBackground,
    // The ground of text and of list cards.
    textBackground,
    selectedContentBackground,
    primaryLabel,
    secondaryLabel,
    tertiaryLabel,
    separator,
    tertiaryFill,
    secondaryFill,
};

bool isDark(const QPalette& palette);
// The widget's own palette (which follows the application's).
bool isDark(const QWidget* widget);

QColor color(SystemColor name, bool dark);
QColor color(SystemColor name, const QWidget* widget);

// The contrast ratio of two colours (1 to 21), translucent ones taken over `background`.
double contrastRatio(const QColor& foreground, const QColor& background);

// A symbol's tint where it reads on `background`; otherwise `fallback`. A tint chosen for one
// state of a row (white on a selection) may vanish in the other.
QColor readableTint(const QColor& tint, const QColor& background, const QColor& fallback);

// The system font at a size in logical pixels.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The monospaced system font at a size in logical pixels.
QFont monospacedFont(int pixelSize);

} // namespace tdappearance
