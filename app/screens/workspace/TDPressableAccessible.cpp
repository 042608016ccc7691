#include "app/screens/workspace/TDPressableAccessible.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <mutex>

namespace {

constexpr char pressableProperty[] = "tdPressable";

class PressableAccessible : public QAccessibleWidget {
public:
    explicit PressableAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::Button)
    {
    }

    QStringList actionNames() const override
    {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override
    {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        // The widget's own key handling decides what a press does; it may delete the widget.
        QPointer<QWidget> target = widget();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QCoreApplication::sendEvent(target, &press);
        if (target) {
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QCoreApplication::sendEvent(target, &release);
        }
    }
};

QAccessibleInterface* pressableFactory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget && widget->property(pressableProperty).toBool())
        return new PressableAccessible(widget);
    return nullptr;
}

} // namespace

void tdpressable::mark(QWidget* widget)
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(pressableFactory); });
    widget->setProperty(pressableProperty, true);
}
