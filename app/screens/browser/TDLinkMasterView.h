#pragma once

#include "app/TDStores.h"
#include "app/model/TDLink.h"
#include "app/screens/common/TDLinkCard.h"
#include "platform/ui/ObservedWidget.h"

#include <QMessageBox>
#include <QPointer>

#include <vector>

class QAbstractScrollArea;
class QStackedLayout;
class TDLinkList;

// The detail screen of the sidebar's Links destination: every link saved from every note, in the
// link store's order, one card each, following the store as links are added and removed. A click
// on a card opens its address in the desktop's web browser; only http and https addresses are
// opened, anything else is reported in an alert. With no links it shows "No links found".
//
// The cards are a TDLinkList, which builds only those in view.
class TDLinkMasterView : public platform::ObservedWidget {
public:
    static constexpr int minimumContentWidth = 800;
    static constexpr int listSpacing = 5;
    static constexpr int listPadding = 5;

    explicit TDLinkMasterView(TDStores stores, QWidget* parent = nullptr);

    bool showsEmptyState() const;
    QWidget* emptyState() const { return m_emptyState; }
    QAbstractScrollArea* scrollArea() const;
    // The cards that exist now, in the store's order.
    std::vector<TDLinkCard*> cards() const;
    // Where the card of the link at `index` lies in the list's content (not scrolled).
    QRect cardRect(int index) const;
    QMessageBox* alert() const { return m_alert; }

    // A card's action.
    void openLink(const TDLink& link);

protected:
    void render() override;

private:
    void showAlert(const QString& title, const QString& message);

    TDStores m_stores;
    QStackedLayout* m_stack;
    QWidget* m_emptyState;
    TDLinkList* m_list;
    QPointer<QMessageBox> m_alert;
};
