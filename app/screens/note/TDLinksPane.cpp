#include "app/screens/note/TDLinksPane.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDNote.h"
#include "app/notes/TDLinkCapture.h"
#include "app/notes/TDPageFetcher.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/common/TDSpringGhost.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/store/TDLinkStore.h"
#include "platform/foundation/Url.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cassert>
#include <unordered_set>

TDLinksPane::TDLinksPane(
    std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_note(std::move(note))
    , m_project(std::move(project))
    , m_stores(std::move(stores))
    , m_opener([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    assert(m_stores.linkStore);
    setObjectName(QStringLiteral("linksPane"));
    setMinimumWidth(minimumWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("linksScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    // Scrolled by the wheel and the keys, without bars.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    // "+" and the cards are the stops, and Tab scrolls each into view; the area itself would be a
    // stop with nothing to show or name. A click on the pane's button or empty space leaves the
    // focus in the text, where Escape in the add popover then gives it back.
    scroll->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(scroll);

    auto* content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("linksContent"));
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    m_header = new TDProjectDetailViewSectionTitleWithPopover(
        tdLocalized("Links"), Symbol::plus, [this] { m_openPopover = !m_openPopover; },
        { [this] { return m_openPopover; }, [this](bool open) { m_openPopover = open; } },
        [this] {
            m_popover = new TDAddLinkPopover;
            m_popover->setOnAdd([this](const QString& typed) { addLink(typed); });
            m_popover->installEventFilter(this);
            return m_popover;
        },
        content);
    m_header->button()->setToolTip(tdLocalized("Add a link"));
    m_header->button()->setAccessibleName(tdLocalized("Add a link"));
    connect(m_header->button(), &QToolButton::pressed, this, [this] {
        if (!m_openPopover)
            m_focusBeforePopover = window()->focusWidget();
    });
    // After the header's own handler has shown the popover.
    connect(m_header->button(), &QToolButton::clicked, this, [this] {
        if (m_openPopover)
            m_popover->field()->setFocus(Qt::PopupFocusReason);
    });
    stack->addWidget(m_header);

    m_list = new QWidget(content);
    m_list->setObjectName(QStringLiteral("linksList"));
    m_cardsLayout = new QVBoxLayout(m_list);
    m_cardsLayout->setContentsMargins(listPadding, listPadding, listPadding, listPadding);
    m_cardsLayout->setSpacing(cardSpacing);
    m_cardsLayout->addStretch(1);
    stack->addWidget(m_list, 1);
    scroll->setWidget(content);
}

TDLinksPane::~TDLinksPane() = default;

bool TDLinksPane::eventFilter(QObject* watched, QEvent* event)
{
    // Escape or a click outside closes the popover; the window would otherwise leave the keys on
    // whatever it last had, not on "+" that opened it.
    if (watched == m_popover && event->type() == QEvent::Hide && m_focusBeforePopover) {
        QTimer::singleShot(0, this, [this] {
            if (m_focusBeforePopover && !m_openPopover && !QApplication::activePopupWidget()) {
                m_focusBeforePopover->setFocus(Qt::PopupFocusReason);
                if (!m_focusBeforePopover->isActiveWindow())
                    m_focusBeforePopover->activateWindow();
            }
            m_focusBeforePopover = nullptr;
        });
    }
    return platform::ObservedWidget::eventFilter(watched, event);
}

QSize TDLinksPane::sizeHint() const
{
    return QSize(preferredWidth, platform::ObservedWidget::sizeHint().height());
}

void TDLinksPane::setNote(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project)
{
    if (note == m_note && project == m_project)
        return;
    m_note = std::move(note);
    m_project = std::move(project);
    setNeedsRender();
}

void TDLinksPane::setPageFetcher(std::shared_ptr<TDPageFetcher> fetcher)
{
    m_fetcher = std::move(fetcher);
    m_capture.reset();
}

TDLinkCapture& TDLinksPane::capture()
{
    // Made on the first add, so a window that never adds a link starts no network session.
    if (!m_capture)
        m_capture = m_fetcher
            ? std::make_unique<TDLinkCapture>(m_stores.linkStore, m_fetcher, m_stores.projectStore)
            : std::make_unique<TDLinkCapture>(m_stores.linkStore, m_stores.projectStore);
    return *m_capture;
}

void TDLinksPane::setOpenPopover(bool open)
{
    m_openPopover = open;
    m_header->sync();
}

void TDLinksPane::addLink(const QString& typedAddress)
{
    if (!m_note || !m_project)
        return;
    const QString address = typedAddress.trimmed();
    // A second press while the same address is on its way would add the link twice.
    if (std::find(m_addsInFlight.begin(), m_addsInFlight.end(), address) != m_addsInFlight.end())
        return;
    m_addsInFlight.push_back(address);
    m_popover->setFetching(addsInFlight());
    m_popover->showMessage(QString());
    QPointer<TDLinksPane> self(this);
    capture().addLink(m_project, m_note, typedAddress,
        [self, address](platform::Result<TDLink, TDLinkCaptureFailure> added) {
            if (self)
                self->addEnded(address, added ? std::nullopt : std::optional(added.error()));
        });
}

void TDLinksPane::addEnded(const QString& address, const std::optional<TDLinkCaptureFailure>& failure)
{
    if (auto found = std::find(m_addsInFlight.begin(), m_addsInFlight.end(), address);
        found != m_addsInFlight.end())
        m_addsInFlight.erase(found);
    m_popover->setFetching(addsInFlight());
    if (!failure) {
        // Closing empties the field: only while it still holds this address, not another one the
        // user is typing nor a popover opened again since.
        if (m_popover->field()->text().trimmed() == address)
            setOpenPopover(false);
        return;
    }
    switch (failure->reason) {
    case TDLinkCaptureFailure::Reason::invalidAddress:
        m_popover->showMessage(failure->message);
        break;
    case TDLinkCaptureFailure::Reason::noteRemoved:
        // The window shows that its note is gone.
        break;
    case TDLinkCaptureFailure::Reason::saveFailed:
    case TDLinkCaptureFailure::Reason::fileNotRemoved:
        showAlert(tdLocalized("The link could not be saved"), failure->message);
        break;
    }
}

void TDLinksPane::openLink(const TDLink& link)
{
    if (const auto problem = tdOpenLink(link.url, m_opener))
        showAlert(problem->title, problem->message);
}

void TDLinksPane::deleteLink(const TDLink& link)
{
    if (!m_note || !m_project)
        return;
    m_expectedRemovals.insert(link.id.uuidString());
    QPointer<TDLinksPane> self(this);
    capture().deleteLink(
        m_project, m_note, link, [self](platform::Result<platform::Success, TDLinkCaptureFailure> deleted) {
            if (self && !deleted)
                self->showAlert(deleted.error().reason == TDLinkCaptureFailure::Reason::fileNotRemoved
                        ? tdLocalized("The link's file could not be removed")
                        : tdLocalized("The deletion could not be saved"),
                    deleted.error().message);
        });
}

void TDLinksPane::showAlert(const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(window(), title, message);
}

void TDLinksPane::render()
{
    std::vector<TDLink> links = m_stores.linkStore->tdLinks();
    std::erase_if(links, [&](const TDLink& link) { return !m_note || link.tdNoteId != m_note->id(); });
    // A card is known by its link's id; a hand-edited file may repeat one, and each record still
    // gets its card.
    std::vector<std::string> keys;
    QHash<QString, int> seen;
    for (const TDLink& link : links) {
        const QString id = link.id.uuidString();
        keys.push_back((id + QLatin1Char('#') + QString::number(seen[id]++)).toStdString());
    }

    // A card the user deleted leaves a picture of itself that folds away, at its place among the
    // cards that stay.
    struct Leaving {
        QPixmap picture;
        int index;
    };
    std::vector<Leaving> leaving;
    const std::unordered_set<std::string> staying(keys.begin(), keys.end());
    int kept = 0;
    for (const std::string& key : m_cardKeys) {
        TDLinkCard* card = m_cards.child(key);
        if (!card)
            continue;
        if (staying.contains(key)) {
            ++kept;
            continue;
        }
        if (m_expectedRemovals.contains(card->link().id.uuidString()) && card->isVisible())
            leaving.push_back({ card->grab(), kept });
    }
    m_expectedRemovals.clear();
    if (!leaving.empty()) {
        for (QObject* child : m_list->children()) {
            if (auto* ghost = dynamic_cast<TDSpringGhost*>(child))
                ghost->finish();
        }
    }

    std::size_t index = 0;
    m_cards.reconcile(
        keys,
        [this, &links, &index](const std::string&) {
            auto* card = new TDLinkCard(links[index], m_list);
            connect(card, &QAbstractButton::clicked, this, [this, card] { openLink(card->link()); });
            card->setContextMenuPolicy(Qt::ActionsContextMenu);
            auto* remove = new QAction(tdLocalized("Delete"), card);
            remove->setObjectName(QStringLiteral("deleteLinkAction"));
            connect(remove, &QAction::triggered, this, [this, card] { deleteLink(card->link()); });
            card->addAction(remove);
            card->show();
            return card;
        },
        [&links, &index](TDLinkCard* card, const std::string&) { card->setLink(links[index++]); });
    m_cardKeys = std::move(keys);
    m_cards.arrange(m_cardsLayout);
    for (auto it = leaving.rbegin(); it != leaving.rend(); ++it)
        TDSpringGhost::collapse(it->picture, m_cardsLayout, it->index, deletionSpringResponse);
}
