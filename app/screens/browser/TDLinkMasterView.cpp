#include "app/screens/browser/TDLinkMasterView.h"

#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/TDLocalizedText.h"
#include "app/store/TDLinkStore.h"
#include "platform/foundation/Url.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHash>
#include <QScrollArea>
#include <QStackedLayout>
#include <QVBoxLayout>


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

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("linkList"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_list = new QWidget(m_scroll);
    m_list->setObjectName(QStringLiteral("linkCards"));
    m_list->setMinimumWidth(minimumContentWidth);
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(listPadding, listPadding, listPadding, listPadding);
    m_listLayout->setSpacing(listSpacing);
    m_listLayout->addStretch(1);
    m_scroll->setWidget(m_list);
    m_list->setAutoFillBackground(false);
    m_stack->addWidget(m_scroll);
    renderNow();
}

bool TDLinkMasterView::showsEmptyState() const
{
    return m_stack->currentWidget() == m_emptyState;
}

void TDLinkMasterView::render()
{
    const auto links = m_stores.linkStore->tdLinks();
    // A card is known by its link's id; a hand-edited file may repeat one, and each record still
    // gets its card.
    std::vector<std::string> keys;
    QHash<QString, int> seen;
    for (const TDLink& link : links) {
        const QString id = link.id.uuidString();
        keys.push_back((id + QLatin1Char('#') + QString::number(seen[id]++)).toStdString());
    }
    std::size_t index = 0;
    QPointer<TDLinkMasterView> self(this);
    m_cards.reconcile(
        keys,
        [&](const std::string&) {
            auto* card = new TDLinkCard(links[index], m_list);
            connect(card, &QAbstractButton::clicked, this, [self, card] {
                if (self)
                    self->openLink(card->link());
            });
            card->show();
            return card;
        },
        [&](TDLinkCard* card, const std::string&) { card->setLink(links[index++]); });
    m_cards.arrange(m_listLayout);
    m_stack->setCurrentWidget(links.empty() ? m_emptyState : static_cast<QWidget*>(m_scroll));
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
