#include "app/screens/workspace/TDProjectDetailView.h"

#include "app/model/TDProject.h"
#include "app/screens/browser/EditTDProjectSheet.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDLocalizedText.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TDProjectDetailView::TDProjectDetailView(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("projectDetailView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(10);
    layout->addStretch(1);
    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("projectDetailName"));
    m_name->setTextFormat(Qt::PlainText);
    m_name->setFont(tdappearance::systemFont(28, QFont::Bold));
    m_name->setAlignment(Qt::AlignCenter);
    m_name->setWordWrap(true);
    layout->addWidget(m_name);
    m_details = new QLabel(this);
    m_details->setObjectName(QStringLiteral("projectDetailSummary"));
    m_details->setTextFormat(Qt::PlainText);
    m_details->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_details);
    m_edit = new QPushButton(tdLocalized("Edit Project"), this);
    m_edit->setObjectName(QStringLiteral("editProjectButton"));
    m_edit->setAutoDefault(false);
    connect(m_edit, &QPushButton::clicked, this, [this] { openEditSheet(); });
    layout->addWidget(m_edit, 0, Qt::AlignHCenter);
    layout->addStretch(2);
    renderNow();
}

TDProjectDetailView::~TDProjectDetailView()
{
    delete m_editSheet.data();
}

void TDProjectDetailView::openEditSheet()
{
    if (m_editSheet)
        return;
    auto* sheet = new EditTDProjectSheet(m_project, m_stores, window());
    m_editSheet = sheet;
    connect(sheet, &QDialog::finished, sheet, [sheet] { sheet->deleteLater(); });
    sheet->open();
}

void TDProjectDetailView::render()
{
    QString name = m_project->name();
    auto category = m_project->category();
    m_name->setText(name);
    m_details->setText(
        (category ? category->name() + QStringLiteral(" · ") : QString()) + rawValue(m_project->status()));
    QPalette palette = m_details->palette();
    palette.setColor(
        QPalette::WindowText, tdappearance::color(tdappearance::SystemColor::secondaryLabel, this));
    m_details->setPalette(palette);
    if (name != m_title) {
        m_title = name;
        if (m_onTitleChange)
            m_onTitleChange(m_title);
    }
}
