#pragma once

#include "app/TDStores.h"
#include "platform/foundation/Date.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <memory>

class TDCategory;
class TDProject;
class TDProjectSheetTemplate;

// The sheet in which the user renames a project, changes its start date or its category. "Save"
// writes the changed values into the project (a rename first moves the project's folder and its
// stored paths), saves the projects and then the media, and closes.
class EditTDProjectSheet : public QDialog {
public:
    static constexpr int sheetWidth = 640;

    EditTDProjectSheet(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent = nullptr);

    TDProjectSheetTemplate* form() const { return m_form; }
    QMessageBox* alert() const { return m_alert; }
    bool isSaving() const { return m_saving; }

    // The blank-name test on the trimmed name; raises its alert when it fails.
    bool validateName();
    // The Save action.
    void save();

private:
    void raiseAlert(const QString& title, const QString& message);

    std::shared_ptr<TDProject> m_project;
    TDStores m_stores;
    QString m_name;
    platform::Date m_startDate;
    std::shared_ptr<TDCategory> m_selectedTDCategory;
    TDProjectSheetTemplate* m_form;
    QPointer<QMessageBox> m_alert;
    bool m_saving = false;
};
