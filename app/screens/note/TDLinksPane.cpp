#include "app/screens/note/TDLinksPane.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDNote.h"
#include "app/notes/TDLinkCapture.h"
#include "app/notes/TDPageFetcher.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDLinkList.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/store/TDLinkStore.h"
#include "platform/foundation/Url.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cassert>

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
    m_list = new TDLinkList(
        { listPadding, cardSpacing, 0 },
        [this](TDLinkCard* card) {
            connect(card, &QAbstractButton::clicked, this, [this, card] { openLink(card->link()); });
            card->setContextMenuPolicy(Qt::ActionsContextMenu);
            auto* remove = new QAction(tdLocalized("Delete"), card);
            remove->setObjectName(QStringLiteral("deleteLinkAction"));
            connect(remove, &QAction::triggered, this, [this, card] { deleteLink(card->link()); });
            card->addAction(remove);
        },
        this);
    m_list->setObjectName(QStringLiteral("linksScrollArea"));
    m_list->viewport()->setObjectName(QStringLiteral("linksList"));
    // Scrolled by the wheel and the keys, without bars.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // "+" and the cards are the stops (the list itself takes no focus), and Tab scrolls each into
    // view. A click on the pane's button or empty space leaves the focus in the text, where Escape
    // in the add popover then gives it back.
    m_list->setFoldsAway(
        [this](const TDLink& link) { return m_expectedRemovals.contains(link.id.uuidString()); },
        deletionSpringResponse);
    layout->addWidget(m_list);

    m_header = new TDProjectDetailViewSectionTitleWithPopover(
        tdLocalized("Links"), Symbol::plus, [this] { m_openPopover = !m_openPopover; },
        { [this] { return m_openPopover; }, [this](bool open) { m_openPopover = open; } },
        [this] {
            m_popover = new TDAddLinkPopover;
            m_popover->setOnAdd([this](const QString& typed) { addLink(typed); });
            m_popover->installEventFilter(this);
            return m_popover;
        },
        m_list->viewport());
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
    m_list->setHeader(m_header, m_header->button());
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
    // The link is in the list (its file aside): the popover is done with this address.
    if (!failure || failure->reason == TDLinkCaptureFailure::Reason::fileNotWritten) {
        // Closing empties the field: only while it still holds this address, not another one the
        // user is typing nor a popover opened again since.
        if (m_popover->field()->text().trimmed() == address)
            setOpenPopover(false);
    }
    if (!failure)
        return;
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
    case TDLinkCaptureFailure::Reason::fileNotWritten:
        showAlert(tdLocalized("The link's file could not be written"), failure->message);
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

std::vector<TDLinkCard*> TDLinksPane::cards() const
{
    return m_list->cards();
}

QAbstractScrollArea* TDLinksPane::scrollArea() const
{
    return m_list;
}

void TDLinksPane::render()
{
    const std::optional<platform::Uuid> noteId = m_note ? std::optional(m_note->id()) : std::nullopt;
    // A card the user deleted folds away at its place among the cards that stay.
    m_list->followLinks(m_stores.linkStore->tdLinks(),
        [&](const TDLink& link) { return noteId && link.tdNoteId == *noteId; });
    m_expectedRemovals.clear();
}
