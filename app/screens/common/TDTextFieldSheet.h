#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;

// A sheet that asks for one line of text: a grouped row with its label and the field, then
// "Cancel" and the sheet's primary button. Return and Enter press the primary button, Escape
// cancels. It keeps no text of its own: every edit goes to `onEdit`, and what the primary button
// does, closing the sheet included, is the owner's business.
class TDTextFieldSheet : public QDialog {
public:
    static constexpr int padding = 20;

    struct Texts {
        QString windowTitle;
        QString rowLabel;
        QString placeholder;
        QString fieldName;
        QString primaryLabel;
    };

    TDTextFieldSheet(const Texts& texts, const QString& text, int fieldMinimumWidth, QWidget* parent);

    QLineEdit* field() const { return m_field; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* primaryButton() const { return m_primary; }

    void setOnEdit(std::function<void(const QString&)> onEdit) { m_onEdit = std::move(onEdit); }
    void setOnPrimary(std::function<void()> onPrimary) { m_onPrimary = std::move(onPrimary); }

    // Opens the sheet over its window (not blocking) with the focus in the field, its text selected.
    void present();

private:
    QLineEdit* m_field;
    QPushButton* m_cancel;
    QPushButton* m_primary;
    std::function<void(const QString&)> m_onEdit;
    std::function<void()> m_onPrimary;
};
