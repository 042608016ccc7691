#include "app/screens/common/TDListAccessible.h"
#include <QWidget>

TDListItemAccessible::TDListItemAccessible(QWidget* item)
    : QAccessibleWidget(item, QAccessible::ListItem)
{
}

QAccessible::State TDListItemAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.focusable = true;
    state.focused = hasKeys();
    if (const std::optional<bool> selected = isSelected()) {
        state.selectable = true;
        state.selected = *selected;
    }
    return state;
}

QStringList TDListItemAccessible::actionNames() const
{
    return { pressAction(), showMenuAction() };
}

void TDListItemAccessible::doAction(const QString& name)
{
    if (name == pressAction())
        press();
    else if (name == showMenuAction())
        showMenu();
}

TDListAccessible::TDListAccessible(QWidget* list)
    : QAccessibleWidget(list, QAccessible::List)
{
}

QAccessibleInterface* TDListAccessible::focusChild() const
{
    if (QWidget* item = itemWithKeys())
        return QAccessible::queryAccessibleInterface(item);
    return QAccessibleWidget::focusChild();
}
