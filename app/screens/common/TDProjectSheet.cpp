#include "app/screens/common/TDProjectSheet.h"

#include "app/model/TDCategory.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/store/TDCategoryStore.h"

#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

TDProjectSheet::TDProjectSheet(TDStores stores, QString name, platform::Date startDate,
    std::shared_ptr<TDCategory> category, QWidget* parent)
    : QDialog(parent)
    , m_stores(std::move(stores))
    , m_name(std::move(name))
    , m_startDate(startDate)
    , m_selectedTDCategory(std::move(category))
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
}

void TDProjectSheet::addForm(const QString& primaryLabel, std::function<void()> primaryAction)
{
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
        [this] { reject(); }, std::move(primaryAction), primaryLabel, this);
    m_form->setFixedWidth(sheetWidth);
    layout->addWidget(m_form);
}

void TDProjectSheet::setSaving(bool saving)
{
    m_saving = saving;
    m_form->primaryButton()->setEnabled(!saving);
    m_form->cancelButton()->setEnabled(!saving);
}

void TDProjectSheet::reject()
{
    if (m_saving)
        return;
    QDialog::reject();
}

void TDProjectSheet::raiseAlert(const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(this, title, message);
}

bool TDProjectSheet::sameName(const QString& a, const QString& b)
{
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool TDProjectSheet::isPickedCategoryListed() const
{
    const auto listed = m_stores.categoryStore->tdCategories();
    return m_selectedTDCategory && std::any_of(listed.begin(), listed.end(), [&](const auto& each) {
        return each->id() == m_selectedTDCategory->id();
    });
}
