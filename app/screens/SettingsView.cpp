#include "app/screens/SettingsView.h"

#include "app/store/TDCategoryStore.h"

#include <QLabel>
#include <QVBoxLayout>

SettingsView::SettingsView(TDStores stores, QWidget* parent)
    : ObservingWidget(parent)
    , m_stores(std::move(stores))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    auto* placeholder = new QLabel(tr("Settings placeholder: the category editor is not built yet."), this);
    placeholder->setWordWrap(true);
    placeholder->setAlignment(Qt::AlignCenter);
    layout->addWidget(placeholder);
    m_categories = new QLabel(this);
    m_categories->setAlignment(Qt::AlignCenter);
    m_categories->setWordWrap(true);
    layout->addWidget(m_categories);
    renderTracked();
}

void SettingsView::render()
{
    QStringList names;
    for (const auto& category : m_stores.categoryStore->tdCategories())
        names.append(category->name());
    m_categories->setText(tr("Categories: %1").arg(names.join(QStringLiteral(", "))));
}
