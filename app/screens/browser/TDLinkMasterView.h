#pragma once

#include "app/TDStores.h"
#include "app/model/TDLink.h"
#include "platform/ui/ObservedWidget.h"
#include "platform/ui/ObservedWidgetUpdates.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

#include <vector>

class QScrollArea;
class QStackedLayout;
class QVBoxLayout;

// The card of one saved link: its page title on one line ("No Title" when it has none), the page
// description on at most two lines ("No Description"), and the address on one line, verbatim.
// Every text is shown as plain text, bounded and elided to the card's width.
class TDLinkCard : public QAbstractButton {
public:
    static constexpr int titleFontSize = 15;
    static constexpr int descriptionFontSize = 11;
    static constexpr int addressFontSize = 10;
    static constexpr int titleSpacing = 2;
    static constexpr int addressSpacing = 6;
    static constexpr int descriptionMaximumLines = 2;

    explicit TDLinkCard(const TDLink& link, QWidget* parent = nullptr);

    const TDLink& link() const { return m_link; }
    void setLink(const TDLink& link);

    // The texts before eliding.
    QString titleText() const;
    QString descriptionText() const;
    QString addressText() const;
    // The description's lines at the card's present width, the last one elided when the text goes on.
    QStringList descriptionLines() const { return descriptionLines(width()); }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    QStringList descriptionLines(int cardWidth) const;
    int textWidth(int cardWidth) const;

    TDLink m_link;
    bool m_showsFocus = false;
    mutable int m_linesWidth = -1;
    mutable QStringList m_lines;
};

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
