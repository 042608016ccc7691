#include "app/screens/browser/TDLinkMasterView.h"

#include "app/TDLocalizedText.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/screens/common/TDLinkList.h"
#include "app/store/TDLinkStore.h"

#include <QAbstractScrollArea>
#include <QDesktopServices>
#include <QStackedLayout>

TDLinkMasterView::TDLinkMasterView(TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("linkMasterView"));
    m_stack = new QStackedLayout(this);
    m_emptyState = new TDContentUnavailableView(tdLocalized("No links found"), Symbol::folder,
        tdLocalized("Oops! looks like there is no project. Try to make one for your creative journey."),
        this);
    m_stack->addWidget(m_emptyState);
    QPointer<TDLinkMasterView> self(this);
    m_list = new TDLinkList(
        { listPadding, listSpacing, minimumContentWidth },
        [self](TDLinkCard* card) {
            connect(card, &QAbstractButton::clicked, self.data(), [self, card] {
                if (self)
                    self->openLink(card->link());
            });
        },
        this);
    m_list->setObjectName(QStringLiteral("linkList"));
    m_list->viewport()->setObjectName(QStringLiteral("linkCards"));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_stack->addWidget(m_list);
    renderNow();
}

bool TDLinkMasterView::showsEmptyState() const
{
    return m_stack->currentWidget() == m_emptyState;
}

QAbstractScrollArea* TDLinkMasterView::scrollArea() const
{
    return m_list;
}

std::vector<TDLinkCard*> TDLinkMasterView::cards() const
{
    return m_list->cards();
}

QRect TDLinkMasterView::cardRect(int index) const
{
    return m_list->cardRect(index);
}

void TDLinkMasterView::render()
{
    const auto& links = m_stores.linkStore->tdLinks();
    const bool empty = links.empty();
    m_list->followLinks(links, {});
    m_stack->setCurrentWidget(empty ? m_emptyState : static_cast<QWidget*>(m_list));
}

void TDLinkMasterView::openLink(const TDLink& link)
{
    const auto problem = tdOpenLink(link.url, [](const QUrl& url) { return QDesktopServices::openUrl(url); });
    if (problem)
        showAlert(problem->title, problem->message);
}

void TDLinkMasterView::showAlert(const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(window(), title, message);
}
