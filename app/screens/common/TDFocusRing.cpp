#include "app/screens/common/TDFocusRing.h"

#include "app/screens/common/TDAppearance.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace tdfocusring {

namespace {

const char* const filterName = "tdFocusRing";

class RingFilter : public QObject {
public:
    RingFilter(QWidget* widget, double radius)
        : QObject(widget)
        , m_widget(widget)
        , m_radius(radius)
    {
        setObjectName(QLatin1String(filterName));
        widget->installEventFilter(this);
    }

    bool isShown() const { return m_fromKeyboard && m_widget->hasFocus(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_widget)
            return false;
        switch (event->type()) {
        case QEvent::FocusIn:
            m_fromKeyboard
                = fromKeyboard(static_cast<QFocusEvent*>(event)->reason()).value_or(m_fromKeyboard);
            m_widget->update();
            break;
        case QEvent::FocusOut:
            m_widget->update();
            break;
        case QEvent::Paint:
            if (!isShown())
                break;
            // The widget draws itself first; the ring goes over it.
            static_cast<QObject*>(m_widget)->event(event);
            {
                QPainter painter(m_widget);
                paint(painter, m_widget->rect(), m_radius, m_widget);
            }
            return true;
        default:
            break;
        }
        return false;
    }

private:
    QWidget* m_widget;
    double m_radius;
    bool m_fromKeyboard = false;
};

} // namespace

QColor color(const QWidget* widget)
{
    // The highlight, lightened in the dark to stand out 3 to 1 from the window and the cards.
    const bool dark = tdappearance::isDark(widget);
    return tdappearance::color(
        dark ? tdappearance::SystemColor::blue : tdappearance::SystemColor::selectedContentBackground, dark);
}

void paint(QPainter& painter, const QRectF& bounds, double radius, const QWidget* widget)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double inset = lineWidth / 2;
    QPainterPath ring;
    ring.addRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.strokePath(ring, QPen(color(widget), lineWidth));
    painter.restore();
}

void attach(QWidget* widget, double radius)
{
    if (!widget || widget->findChild<RingFilter*>(QLatin1String(filterName), Qt::FindDirectChildrenOnly))
        return;
    new RingFilter(widget, radius);
}

std::optional<bool> fromKeyboard(Qt::FocusReason reason)
{
    switch (reason) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        return true;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
        return std::nullopt;
    default:
        return false;
    }
}

bool isShown(const QWidget* widget)
{
    auto* filter = widget
        ? widget->findChild<RingFilter*>(QLatin1String(filterName), Qt::FindDirectChildrenOnly)
        : nullptr;
    return filter && filter->isShown();
}

bool opensMenu(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Menu
        || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
}

void showActionsMenu(QWidget* widget)
{
    if (widget->actions().isEmpty())
        return;
    QMenu::exec(widget->actions(), widget->mapToGlobal(widget->rect().center()), nullptr, widget);
}

void orderTabStops(QWidget* scope, const std::vector<QWidget*>& stops)
{
    if (stops.empty())
        return;
    // The widget before `stop` in the focus chain that takes the focus, or the scope.
    auto previousStop = [scope](QWidget* stop) {
        QWidget* previous = stop->previousInFocusChain();
        while (previous != scope && previous != stop && previous->focusPolicy() == Qt::NoFocus)
            previous = previous->previousInFocusChain();
        return previous;
    };
    bool ordered = previousStop(stops.front()) == scope;
    for (std::size_t i = 1; ordered && i < stops.size(); ++i)
        ordered = previousStop(stops[i]) == stops[i - 1];
    if (ordered)
        return;
    // Qt orders only widgets that take the focus; the scope takes it for the moment of the call.
    const Qt::FocusPolicy policy = scope->focusPolicy();
    scope->setFocusPolicy(Qt::TabFocus);
    QWidget::setTabOrder(scope, stops.front());
    scope->setFocusPolicy(policy);
    // Each stop goes right after the first one, the last stop first. A moved widget leaves its
    // children behind, and Qt steps back over every widget before the one it moves that takes no
    // focus: front to back, that is all the children of the stops already moved, each time.
    for (std::size_t i = stops.size() - 1; i >= 1; --i)
        QWidget::setTabOrder(stops.front(), stops[i]);
}

void focusNextOutside(QWidget* scope, Qt::FocusReason reason)
{
    for (QWidget* next = scope->nextInFocusChain(); next && next != scope; next = next->nextInFocusChain()) {
        if (!scope->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus) && next->isEnabled()
            && next->isVisibleTo(scope->window())) {
            next->setFocus(reason);
            return;
        }
    }
}

} // namespace tdfocusring
