#include "platform/ui/ObservedWidgetUpdates.h"

namespace platform {

bool setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() == text)
        return false;
    label->setText(text);
    return true;
}

bool setTextIfChanged(QLineEdit* edit, const QString& text)
{
    if (edit->text() == text)
        return false;
    const QSignalBlocker blocker(edit);
    edit->setText(text);
    return true;
}

bool setCheckedIfChanged(QAbstractButton* button, bool checked)
{
    if (button->isChecked() == checked)
        return false;
    const QSignalBlocker blocker(button);
    button->setChecked(checked);
    return true;
}

bool setEnabledIfChanged(QWidget* widget, bool enabled)
{
    // The widget's own setting, not the one inherited from a disabled ancestor.
    if (widget->testAttribute(Qt::WA_ForceDisabled) != enabled)
        return false;
    widget->setEnabled(enabled);
    return true;
}

bool setVisibleIfChanged(QWidget* widget, bool visible)
{
    if (widget->isHidden() != visible)
        return false;
    widget->setVisible(visible);
    return true;
}

void syncCombo(QComboBox* combo, const std::vector<ComboItem>& items, const QString& selectedIdentifier)
{
    const QSignalBlocker blocker(combo);
    bool same = combo->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < combo->count(); ++i) {
        same = combo->itemData(i).toString() == items[static_cast<std::size_t>(i)].identifier
            && combo->itemText(i) == items[static_cast<std::size_t>(i)].text;
    }
    if (!same) {
        combo->clear();
        for (const auto& item : items)
            combo->addItem(item.text, item.identifier);
    }
    const int index = combo->findData(selectedIdentifier);
    if (combo->currentIndex() != index)
        combo->setCurrentIndex(index);
}

} // namespace platform
