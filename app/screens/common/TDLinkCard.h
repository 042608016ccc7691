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

// How wide a card's description runs on one line, worked out once per text so that a list of
// thousands of cards knows every card's height at any width without laying out a single text. The
// estimate sums each character's advance and the font's kerning of each pair, which is within a
// fraction of a pixel of the shaped width; only a text too close to a width to tell apart, or
// holding characters the sum cannot stand for (other scripts, fallback fonts), is measured exactly,
// and then once.
class TDLinkDescriptionWidth {
public:
    TDLinkDescriptionWidth() = default;
    explicit TDLinkDescriptionWidth(const std::optional<QString>& description);

    // The description's lines in a column of text `textWidth` wide: 1 when it fits, otherwise 2.
    // `description` is the one this width was made from.
    int linesAt(int textWidth, const std::optional<QString>& description);

private:
    // Bounds of the one-line width; equal once measured.
    double m_low = 0;
    double m_high = 0;
};

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

    // The height of a card whose description takes `descriptionLines` lines.
    static int heightFor(int descriptionLines);
    // The width of the column of text in a card `cardWidth` wide.
    static int textWidth(int cardWidth);

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

    TDLink m_link;
    mutable TDLinkDescriptionWidth m_descriptionWidth;
    bool m_showsFocus = false;
    mutable int m_linesWidth = -1;
    mutable QStringList m_lines;
};
