#pragma once

#include "platform/ui/ObservedWidget.h"

#include <QDialog>

#include <memory>

class QDateEdit;
class QLocale;
class QLineEdit;
class QPushButton;
class TDNoteWindowModel;

// The sheet of a note window that renames the note and changes its date. It edits the model's
// `newTitle` and `newDate`; "Save" asks the model to rename (an alert says why it did not), and
// "Cancel", Escape or closing the sheet close it. It is shown while the model's `openEditSheet` is
// true; the window opens and closes it.
class TDNoteEditSheet : public QDialog {
public:
    static constexpr int sheetWidth = 420;
    static constexpr int buttonRowPadding = 20;

    TDNoteEditSheet(std::shared_ptr<TDNoteWindowModel> model, QWidget* parent);

    QLineEdit* titleField() const { return m_title; }
    QDateEdit* dateField() const { return m_date; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* saveButton() const { return m_save; }

    // The sheet's "Save".
    void save();

    // The date field's format: the locale's short date with the year in four digits.
    static QString dateFormat(const QLocale& locale);

private:
    class Form;

    std::shared_ptr<TDNoteWindowModel> m_model;
    Form* m_form;
    QLineEdit* m_title;
    QDateEdit* m_date;
    QPushButton* m_cancel;
    QPushButton* m_save;
};
