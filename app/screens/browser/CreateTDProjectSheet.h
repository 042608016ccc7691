#pragma once

#include "app/TDStores.h"
#include "platform/foundation/Date.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <memory>

class TDCategory;
class TDProjectSheetTemplate;

// The sheet in which the user makes a new project: name, start date and category, then "Create"
// makes the project's folder, appends the project and saves the project list.
class CreateTDProjectSheet : public QDialog {
public:
    static constexpr int sheetWidth = 640;

    CreateTDProjectSheet(TDStores stores, QWidget* parent = nullptr);

    TDProjectSheetTemplate* form() const { return m_form; }
    // The alert up at the moment, if any.
    QMessageBox* alert() const { return m_alert; }

    QString name() const { return m_name; }
    platform::Date startDate() const { return m_startDate; }
    std::shared_ptr<TDCategory> selectedTDCategory() const { return m_selectedTDCategory; }

    // The Create action. Checks the name; when it passes, makes the folder, appends the project and
    // saves the list, then closes the sheet (also when the save failed, which is then reported on
    // the window under the sheet).
    void createProject();
    // Raises the alert of the first problem with the name, if any.
    bool validateName();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void raiseAlert(const QString& title, const QString& message);

    TDStores m_stores;
    QString m_name;
    platform::Date m_startDate;
    std::shared_ptr<TDCategory> m_selectedTDCategory;
    TDProjectSheetTemplate* m_form;
    QPointer<QMessageBox> m_alert;
    bool m_shown = false;
    bool m_creating = false;
};
