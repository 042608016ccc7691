#include "app/screens/browser/CreateTDProjectSheet.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDProject.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDProjectStore.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

CreateTDProjectSheet::CreateTDProjectSheet(TDStores stores, QWidget* parent)
    : TDProjectSheet(std::move(stores), {}, platform::Date::now(), nullptr, parent)
{
    setObjectName(QStringLiteral("createProjectSheet"));
    setWindowTitle(tdLocalized("New Project"));
    setSizeGripEnabled(false);
    // A stored empty category list leaves the sheet without a category until one exists.
    auto stored = TDCategoryStore::load();
    if (!stored.empty())
        m_selectedTDCategory = stored.front();
    addForm(QStringLiteral("Create"), [this] { createProject(); });
}

void CreateTDProjectSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    auto categories = m_stores.categoryStore->tdCategories();
    if (!categories.empty()) {
        m_selectedTDCategory = categories.front();
        m_form->refresh();
    }
    m_form->nameField()->setFocus();
}

bool CreateTDProjectSheet::validateName()
{
    for (const auto& project : m_stores.projectStore->tdProjects()) {
        if (sameName(project->name(), m_name)) {
            raiseAlert(tdLocalized("The project already exist."),
                tdLocalized(
                    "A project with the name you entered already exists. Please enter a different name."));
            return false;
        }
    }
    // A name of white space alone would name a folder nobody can tell apart, and the edit sheet
    // could never save it: it counts as blank.
    if (m_name.trimmed().isEmpty()) {
        raiseAlert(tdLocalized("A name is blank"),
            tdLocalized("A name is required to create a project name. Please enter a name."));
        return false;
    }
    auto problem = TDProjectStore::newProjectNameProblem(m_name);
    if (!problem)
        problem = TDProjectStore::missingFolderNameProblem(m_name, m_stores.projectStore->tdProjects());
    if (problem) {
        raiseAlert(problem->title, problem->message);
        return false;
    }
    // A category deleted in the settings window since it was picked is no category. With others
    // left, the picker is where the user finds one, not the settings.
    if (!isPickedCategoryListed()) {
        raiseAlert(tdLocalized("A category is required"),
            m_stores.categoryStore->tdCategories().empty()
                ? tdLocalized("Add a category in Settings to create a project.")
                : tdLocalized("Please choose a category."));
        return false;
    }
    return true;
}

void CreateTDProjectSheet::createProject()
{
    if (isSaving())
        return;
    TDProjectStore::prepareLibraryFolder();
    if (!validateName())
        return;
    TDProject::Fields fields;
    fields.name = m_name;
    fields.category = m_selectedTDCategory;
    fields.id = platform::Uuid::random();
    fields.status = TDStatus::inProgress;
    fields.isFavorite = false;
    fields.startDate = m_startDate;
    fields.imageColumnCount = TDProject::defaultImageColumnCount;

    setSaving(true);
    QPointer<CreateTDProjectSheet> self(this);
    QPointer<QWidget> presenter = parentWidget();
    TDLibrary(m_stores).createProject(std::move(fields), [self, presenter](auto created) {
        if (self)
            self->setSaving(false);
        if (!created && created.error().kind == TDLibraryFailure::Kind::fileFailed) {
            // Nothing was added: the sheet stays open with the alert over it.
            if (self)
                self->raiseAlert(created.error().title, created.error().message);
            return;
        }
        // A failed save leaves the project in memory and on screen, but not in the library file yet.
        if (!created && presenter)
            presentTDAlert(presenter, created.error().title, created.error().message);
        if (self)
            self->accept();
    });
}
