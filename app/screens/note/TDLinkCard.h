#pragma once

#include "app/model/TDLink.h"

#include <QAbstractButton>

class QAction;

// One link of a note in its links pane: a card with the page's title on one line, its description on
// at most two, and the address on one, each elided where it does not fit. A link without a title or
// description says "No Title" or "No Description". A click, Space or Return presses it (the owner
// opens the link); its context menu holds "Delete".
class TDLinkCard : public QAbstractButton {
public:
    static constexpr int titleFontSize = 15;
    static constexpr int descriptionFontSize = 11;
    static constexpr int addressFontSize = 10;
    static constexpr int titleSpacing = 2;
    static constexpr int addressSpacing = 6;
    static constexpr int descriptionLineLimit = 2;
    // Room around the card for its shadow.
    static constexpr int shadowMargin = 1;

    explicit TDLinkCard(TDLink link, QWidget* parent = nullptr);

    const TDLink& link() const { return m_link; }
    void setLink(TDLink link);

    // The three lines as written, before eliding.
    QString titleText() const;
    QString descriptionText() const;
    QString addressText() const;
    // The description's lines as shown at the card's width: at most two, the last elided.
    QStringList descriptionLines() const;

    QAction* deleteAction() const { return m_delete; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStringList descriptionLines(int textWidth) const;
    int textWidth(int cardWidth) const;

    TDLink m_link;
    QAction* m_delete;
    QFont m_titleFont;
    QFont m_descriptionFont;
    QFont m_addressFont;
};
