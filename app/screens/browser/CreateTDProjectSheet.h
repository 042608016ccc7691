#pragma once

#include "app/screens/common/TDProjectSheet.h"

#include <memory>

// The sheet in which the user makes a new project: name, start date and category, then "Create"
// makes the project's folder, appends the project and saves the project list.
class CreateTDProjectSheet : public TDProjectSheet {
public:
    CreateTDProjectSheet(TDStores stores, QWidget* parent = nullptr);

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
    bool m_shown = false;
};
