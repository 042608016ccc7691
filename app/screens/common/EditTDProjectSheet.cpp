#include "app/screens/common/EditTDProjectSheet.h"

#include "app/model/TDProject.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDLocalizedText.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDProjectStore.h"

#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString canonical(const QString& name)
{
    return name.normalized(QString::NormalizationForm_C);
}

} // namespace

EditTDProjectSheet::EditTDProjectSheet(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent)
    : QDialog(parent)
    , m_project(std::move(project))
    , m_stores(std::move(stores))
    , m_name(m_project->name())
    , m_startDate(m_project->startDate())
    , m_selectedTDCategory(m_project->category())
{
    setObjectName(QStringLiteral("editProjectSheet"));
    setWindowTitle(tdDisplayText(m_name));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_form = new TDProjectSheetTemplate(
        m_stores,
        { [this] { return m_selectedTDCategory; },
            [this](std::shared_ptr<TDCategory> category) {
                m_selectedTDCategory = std::move(category);
                m_form->refresh();
            } },
        { [this] { return m_name; }, [this](QString name) { m_name = std::move(name); } },
        { [this] { return m_startDate; }, [this](platform::Date date) { m_startDate = date; } },
        [this] { reject(); },
        [this] {
            if (validateName())
                save();
        },
        QStringLiteral("Save"), this);
    m_form->setFixedWidth(sheetWidth);
    layout->addWidget(m_form);
}

void EditTDProjectSheet::raiseAlert(const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(this, title, message);
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
    if (m_saving)
        return;
    if (canonical(m_name) != canonical(m_project->name())) {
        // Two projects of one name would share one folder, and deleting either would remove both.
        for (const auto& other : m_stores.projectStore->tdProjects()) {
            if (other->id() != m_project->id() && canonical(other->name()) == canonical(m_name)) {
                raiseAlert(tdLocalized("The project already exist."),
                    tdLocalized("A project with the name you entered already exists. Please enter a "
                                "different name."));
                return;
            }
        }
        if (auto problem = TDProjectStore::newProjectNameProblem(m_name)) {
            raiseAlert(problem->title, problem->message);
            return;
        }
    }
    m_saving = true;
    m_form->primaryButton()->setEnabled(false);
    QPointer<EditTDProjectSheet> self(this);
    TDLibrary(m_stores).editProject(
        m_project, { m_name, m_startDate, m_selectedTDCategory }, [self](auto saved) {
            if (!self)
                return;
            self->m_saving = false;
            self->m_form->primaryButton()->setEnabled(true);
            if (!saved) {
                self->raiseAlert(saved.error().title, saved.error().message);
                return;
            }
            self->accept();
        });
}
