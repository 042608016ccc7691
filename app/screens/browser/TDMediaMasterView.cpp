#include "app/screens/browser/TDMediaMasterView.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDMedia.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDImageGrid.h"
#include "app/store/TDMediaStore.h"

#include <QPointer>
#include <QStackedLayout>

TDMediaMasterView::TDMediaMasterView(TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_stores(std::move(stores))
    , m_library(m_stores)
{
    setObjectName(QStringLiteral("mediaMasterView"));
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_empty = new TDContentUnavailableView(tdLocalized("No media found"), Symbol::folder,
        tdLocalized("Oops! looks like there is no project. Try to make one for your creative journey."),
        this);
    m_stack->addWidget(m_empty);
    m_grid = new TDImageGrid(this);
    m_grid->setAccessibleName(tdLocalized("Media"));
    m_grid->setObjectName(QStringLiteral("mediaGrid"));
    m_grid->setMinimumWidth(minimumWidth);
    m_grid->setColumnCount(initialImageColumnCount);
    m_grid->setContentMode(TDImageGrid::ContentMode::fill);
    m_grid->setOnDelete([this](const std::shared_ptr<TDMedia>& media) {
        m_grid->expectRemoval(media->id());
        QPointer<QWidget> window = this->window();
        m_library.removeMedia(media->id(), [window](auto removed) {
            if (!removed && window)
                presentTDAlert(window, removed.error().title, removed.error().message);
        });
    });
    m_stack->addWidget(m_grid);
    renderNow();
}

bool TDMediaMasterView::showsEmptyState() const
{
    return m_stack->currentWidget() == m_empty;
}

std::shared_ptr<TDMedia> TDMediaMasterView::selectedTDMedia() const
{
    return m_grid->selectedTDMedia();
}

void TDMediaMasterView::render()
{
    auto media = m_stores.mediaStore->tdMedia();
    const bool empty = media.empty();
    m_grid->setMedia(std::move(media));
    QWidget* shown = empty ? static_cast<QWidget*>(m_empty) : m_grid;
    if (m_stack->currentWidget() == shown)
        return;
    // The panel takes no keys, though the stack would hand it the grid's: they go on past the page,
    // ringed as the grid was.
    QWidget* focus = window()->focusWidget();
    const bool gridHadKeys = empty && focus && (focus == m_grid || m_grid->isAncestorOf(focus));
    const Qt::FocusReason reason = m_grid->showsFocusRing() ? Qt::TabFocusReason : Qt::OtherFocusReason;
    m_stack->setCurrentWidget(shown);
    if (gridHadKeys)
        tdfocusring::focusNextOutside(this, reason);
}
