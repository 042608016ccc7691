#pragma once

#include "app/TDStores.h"
#include "app/model/TDLink.h"
#include "app/screens/common/TDLinkCard.h"
#include "platform/ui/ObservedWidget.h"
#include "platform/ui/ObservedWidgetUpdates.h"

#include <QMessageBox>
#include <QPointer>

#include <vector>

class QScrollArea;
class QStackedLayout;
class QVBoxLayout;

// The detail screen of the sidebar's Links destination: every link saved from every note, in the
// link store's order, one card each, following the store as links are added and removed. A click
// on a card opens its address in the desktop's web browser; only http and https addresses are
// opened, anything else is reported in an alert. With no links it shows "No links found".
class TDLinkMasterView : public platform::ObservedWidget {
public:
    static constexpr int minimumContentWidth = 800;
    static constexpr int listSpacing = 5;
    static constexpr int listPadding = 5;

    explicit TDLinkMasterView(TDStores stores, QWidget* parent = nullptr);

    bool showsEmptyState() const;
    QWidget* emptyState() const { return m_emptyState; }
    QScrollArea* scrollArea() const { return m_scroll; }
    std::vector<TDLinkCard*> cards() const { return m_cards.widgets(); }
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
    QScrollArea* m_scroll;
    QWidget* m_list;
    QVBoxLayout* m_listLayout;
    platform::KeyedChildren<TDLinkCard> m_cards;
    QPointer<QMessageBox> m_alert;
};
