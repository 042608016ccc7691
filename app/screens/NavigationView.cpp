#include "app/screens/NavigationView.h"

#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

#include <QLabel>
#include <QVBoxLayout>

NavigationView::NavigationView(TDStores stores, QWidget* parent)
    : ObservingWidget(parent)
    , m_stores(std::move(stores))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->addStretch(1);

    auto* title = new QLabel(tr("Tindrel"), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 2);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    auto* placeholder = new QLabel(tr("Project browser placeholder: the sidebar and the project grid are not "
                                      "built yet."),
        this);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setWordWrap(true);
    layout->addWidget(placeholder);

    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("libraryCounts"));
    m_counts->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_counts);
    layout->addStretch(2);

    renderTracked();
}

QString NavigationView::countsText() const
{
    return m_counts->text();
}

void NavigationView::render()
{
    auto projects = m_stores.projectStore->tdProjects().size();
    auto media = m_stores.mediaStore->tdMedia().size();
    auto links = m_stores.linkStore->tdLinks().size();
    m_counts->setText(tr("Projects: %1    Media: %2    Links: %3").arg(projects).arg(media).arg(links));
}

void NavigationView::showEvent(QShowEvent* event)
{
    ObservingWidget::showEvent(event);
    if (m_onAppear)
        m_onAppear();
}
