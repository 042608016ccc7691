#include "app/screens/common/EditTDProjectSheet.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDProject.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDProjectStore.h"

#include <QMessageBox>
#include <QPushButton>

EditTDProjectSheet::EditTDProjectSheet(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent)
    : TDProjectSheet(std::move(stores), project->name(), project->startDate(), project->category(), parent)
    , m_project(std::move(project))
{
    setObjectName(QStringLiteral("editProjectSheet"));
    // What it does, as "New Project" and "Edit Note" say: under the project's name it would pass for
    // a second main window in a panel or a window switcher.
    setWindowTitle(tdLocalized("Edit Project"));
    addForm(QStringLiteral("Save"), [this] {
        if (validateName())
            save();
    });
}

bool EditTDProjectSheet::validateName()
{
    if (!m_name.trimmed().isEmpty())
        return true;
    raiseAlert(tdLocalized("A name is blank"),
        tdLocalized("A name is required to change the project name. Please enter a name."));
    return false;
}

void EditTDProjectSheet::save()
{
    if (isSaving())
        return;
    if (!sameName(m_name, m_project->name())) {
        // Two projects of one name would share one folder, and deleting either would remove both.
        TDProjectStore::ProjectList others;
        for (const auto& other : m_stores.projectStore->tdProjects()) {
            if (other->id() == m_project->id())
                continue;
            if (sameName(other->name(), m_name)) {
                raiseAlert(tdLocalized("The project already exist."),
                    tdLocalized("A project with the name you entered already exists. Please enter a "
                                "different name."));
                return;
            }
            others.push_back(other);
        }
        auto problem = TDProjectStore::newProjectNameProblem(m_name, m_project->name());
        if (!problem)
            problem = TDProjectStore::missingFolderNameProblem(m_name, others);
        if (problem) {
            raiseAlert(problem->title, problem->message);
            return;
        }
    }
    // A category picked here and deleted in the settings window since (the picker then shows none)
    // is not given to the project: the settings let only unused categories go.
    std::shared_ptr<TDCategory> category = m_selectedTDCategory;
    const auto current = m_project->category();
    if (category && !(current && current->id() == category->id()) && !isPickedCategoryListed())
        category = nullptr;
    setSaving(true);
    QPointer<EditTDProjectSheet> self(this);
    TDLibrary(m_stores).editProject(m_project, { m_name, m_startDate, category }, [self](auto saved) {
        if (!self)
            return;
        self->setSaving(false);
        if (!saved) {
            self->raiseAlert(saved.error().title, saved.error().message);
            return;
        }
        self->accept();
    });
}
