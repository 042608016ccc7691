#pragma once

#include <QAccessibleWidget>

#include <optional>

// A grid drawn as plain widgets keeps the keys itself and rings the item they act on. A screen
// reader hears it as a list, and each item as an item of it, focused while the keys act on it,
// with a press and a menu action that do what Return and the menu key do.
class TDListItemAccessible : public QAccessibleWidget {
public:
    explicit TDListItemAccessible(QWidget* item);

    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& name) override;

protected:
    virtual bool hasKeys() const = 0;
    // None for an item that cannot be selected.
    virtual std::optional<bool> isSelected() const { return std::nullopt; }
    // Either may delete the item.
    virtual void press() = 0;
    virtual void showMenu() = 0;
};

class TDListAccessible : public QAccessibleWidget {
public:
    explicit TDListAccessible(QWidget* list);

    // The item the keys act on while the list has them.
    QAccessibleInterface* focusChild() const override;

protected:
    virtual QWidget* itemWithKeys() const = 0;
};
