#pragma once

#include "app/screens/common/TDProjectSheet.h"

#include <memory>

class TDProject;

// The sheet in which the user renames a project, changes its start date or its category. "Save"
// writes the changed values into the project (a rename first moves the project's folder and its
// stored paths), saves the projects and then the media, and closes.
class EditTDProjectSheet : public TDProjectSheet {
public:
    EditTDProjectSheet(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent = nullptr);

    // The blank-name test on the trimmed name; raises its alert when it fails.
    bool validateName();
    // The Save action.
    void save();

private:
    std::shared_ptr<TDProject> m_project;
};
