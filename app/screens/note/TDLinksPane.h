#pragma once

#include "app/TDStores.h"
#include "app/model/TDLink.h"
#include "app/screens/common/TDLinkCard.h"
#include "platform/ui/ObservedWidget.h"

#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <set>
#include <vector>

class QAbstractScrollArea;
class QMessageBox;
class TDAddLinkPopover;
class TDLinkCapture;
class TDLinkList;
class TDNote;
class TDPageFetcher;
class TDProject;
class TDProjectDetailViewSectionTitleWithPopover;
struct TDLinkCaptureFailure;

// The links pane of a note window: the header "Links" with a "plus" button whose popover takes an
// address, then one card per link of the note, in the store's order. The pane follows the link store.
//
// "Add" hands the address as typed at the press to TDLinkCapture and returns: the pane stays usable
// while the page is fetched, and the popover shows that pages are being fetched. A second press for
// an address already being added does nothing. When the link has been added and saved, the popover
// closes, unless the user has typed another address or closed it since. An address that is not a web address
// is refused with a message in the popover; a save that fails, or a link file that could not be
// written, is shown in an alert.
//
// A click on a card opens its address in the desktop's browser, http and https addresses only; the
// card's "Delete" removes the link, its file and saves, the card folding away on a spring. Only the
// cards in view are built (TDLinkList), so a note of thousands of links opens and follows an add in
// what its visible part costs.
class TDLinksPane : public platform::ObservedWidget {
public:
    static constexpr int cardSpacing = 7;
    static constexpr int listPadding = 8;
    static constexpr int preferredWidth = 280;
    static constexpr int minimumWidth = 180;
    static constexpr double deletionSpringResponse = 0.13;

    // Hands an address to the desktop's browser; answers whether one took it.
    using UrlOpener = std::function<bool(const QUrl&)>;

    TDLinksPane(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project, TDStores stores,
        QWidget* parent = nullptr);
    ~TDLinksPane() override;

    void setNote(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project);
    // Where pages are fetched; the program's shared fetcher unless set. For adds that start later.
    void setPageFetcher(std::shared_ptr<TDPageFetcher> fetcher);
    void setUrlOpener(UrlOpener opener) { m_opener = std::move(opener); }

    TDProjectDetailViewSectionTitleWithPopover* header() const { return m_header; }
    TDAddLinkPopover* addLinkPopover() const { return m_popover; }
    // The cards built now: those in view and one either side.
    std::vector<TDLinkCard*> cards() const;
    QAbstractScrollArea* scrollArea() const;
    bool isPopoverOpen() const { return m_openPopover; }
    int addsInFlight() const { return int(m_addsInFlight.size()); }

    // The popover's "Add", with the field's text at the press.
    void addLink(const QString& typedAddress);
    void openLink(const TDLink& link);
    void deleteLink(const TDLink& link);

    QSize sizeHint() const override;

protected:
    void render() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TDLinkCapture& capture();
    void setOpenPopover(bool open);
    void addEnded(const QString& address, const std::optional<TDLinkCaptureFailure>& failure);
    void showAlert(const QString& title, const QString& message);

    std::shared_ptr<TDNote> m_note;
    std::shared_ptr<TDProject> m_project;
    TDStores m_stores;
    std::shared_ptr<TDPageFetcher> m_fetcher;
    std::unique_ptr<TDLinkCapture> m_capture;
    UrlOpener m_opener;

    bool m_openPopover = false;
    // The addresses being added, one entry per add.
    std::vector<QString> m_addsInFlight;
    // Links the user deleted here, whose cards fold away when they leave the store.
    std::set<QString> m_expectedRemovals;

    TDProjectDetailViewSectionTitleWithPopover* m_header;
    TDAddLinkPopover* m_popover = nullptr;
    // Where the keys were when "+" was pressed; they go back there when the popover closes.
    QPointer<QWidget> m_focusBeforePopover;
    TDLinkList* m_list;
    QPointer<QMessageBox> m_alert;
};
