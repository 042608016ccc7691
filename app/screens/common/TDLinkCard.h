#pragma once

#include "app/model/TDLink.h"
#include "app/screens/common/TDOpeningClick.h"

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

class QPainter;
class TDLinkAdvanceTable;

// How wide a card's description runs on one line, so that a list of thousands of cards knows every
// card's height at any width without laying out a single text. It sums each character's advance
// and the font's kerning of each pair, which comes within a fraction of a pixel of the shaped
// width, and sums only as far as the widest column asked about needs: a long text is known to take
// two lines once its first line's worth is summed, and the sum goes on from there when a wider
// column asks. Only a text too close to a width to tell, or holding characters a sum cannot stand
// for (marks, surrogates, scripts that join or reorder), is measured exactly, and then once.
class TDLinkDescriptionWidth {
public:
    TDLinkDescriptionWidth() = default;
    explicit TDLinkDescriptionWidth(const std::optional<QString>& description);

    // The description's lines in a column of text `textWidth` wide: 1 when it fits, otherwise 2.
    // `description` is the one this width was made from.
    int linesAt(int textWidth, const std::optional<QString>& description);

private:
    friend class TDLinkAdvanceTable;
    enum class Phase : quint8 { summing, summed, unsummable, measured };

    void sum(TDLinkAdvanceTable& table, QStringView text, qint64 stopAt);
    void measure(const std::optional<QString>& description);

    // In 64ths of a pixel: the sum of every character summed so far, and the sum up to the last
    // one that is not a space (a line break leaves trailing spaces out).
    qint32 m_width = 0;
    qint32 m_inkWidth = 0;
    // Where the sum goes on, and the character before it (for the pair's kerning).
    qint16 m_next = 0;
    char16_t m_previous = 0;
    Phase m_phase = Phase::summing;
    float m_measuredWidth = 0;
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
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QStringList descriptionLines(int cardWidth) const;
    void drawLine(QPainter& painter, const QRect& rect, const QString& text) const;

    TDLink m_link;
    mutable TDLinkDescriptionWidth m_descriptionWidth;
    bool m_menuKeyAnswered = false;
    TDOpeningClick m_click;
    mutable int m_linesWidth = -1;
    mutable QStringList m_lines;
};
