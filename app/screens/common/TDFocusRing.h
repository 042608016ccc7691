#pragma once

#include <QColor>
#include <QRectF>
#include <Qt>

#include <optional>
#include <vector>

class QKeyEvent;
class QPainter;
class QWidget;

// The ring that shows which control has the keys, in the highlight colour, and the keys that open
// a control's menu. One look for every control, so the focus reads the same across the screens.
namespace tdfocusring {

constexpr double lineWidth = 2;

QColor color(const QWidget* widget);

// Strokes the ring just inside `bounds`.
void paint(QPainter& painter, const QRectF& bounds, double radius, const QWidget* widget);

// Rings `widget` over its own drawing while it has the focus from the keyboard (Tab, Shift+Tab or
// a shortcut); a click that gives it the focus draws no ring. The focus coming back after a menu or
// another window keeps what it was.
void attach(QWidget* widget, double radius);

// Whether the focus arriving for `reason` came from the keyboard (Tab, Shift+Tab, a shortcut);
// none when it comes back after a menu or another window, which keeps what it was.
std::optional<bool> fromKeyboard(Qt::FocusReason reason);

// Whether `widget`'s attached ring is drawn now.
bool isShown(const QWidget* widget);

// The menu key or Shift+F10.
bool opensMenu(const QKeyEvent* event);

// Opens the menu of `widget`'s actions at its centre, as the right button does at the pointer.
void showActionsMenu(QWidget* widget);

// Puts `stops`, widgets inside `scope`, one after the other in the Tab order right after `scope`
// and its other widgets. A widget made later than its neighbours otherwise comes last.
void orderTabStops(QWidget* scope, const std::vector<QWidget*>& stops);

// Gives the keys to the first stop after `scope` in the Tab order that lies outside it (a list
// whose last row went); nothing happens when there is none.
void focusNextOutside(QWidget* scope, Qt::FocusReason reason);

} // namespace tdfocusring
