#pragma once

#include "app/model/TDLink.h"

#include <QAbstractButton>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

// The alert a screen shows when a saved link was not opened.
struct TDLinkOpenProblem {
    QString title;
    QString message;
};

// Opens a saved link's address through `opener` (the desktop's browser) on the user's action, and
// only when it is an http or https address (tdWebAddress); anything else is refused and printed.
// Answers the alert to show when the link was not opened.
std::optional<TDLinkOpenProblem> tdOpenLink(
    const QString& address, const std::function<bool(const QUrl&)>& opener);

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
