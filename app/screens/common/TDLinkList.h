#pragma once

#include "app/model/TDLink.h"
#include "app/screens/common/TDLinkCard.h"

#include <QAbstractScrollArea>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class TDSpringAnimation;
class TDSpringGhost;

// A scrolled column of link cards, one per link in the order given, that builds only the cards in
// view (and one either side, so that Tab reaches the next card and scrolls it into view).
//
// A card's height depends only on whether its description takes one line or two, which the list
// works out from the description's width (TDLinkDescriptionWidth) down to the view at once and past
// it between events, so showing the list, scrolling it and following a change cost what its
// visible part costs. Cards of links kept across a change stay (with their focus), and the list
// stays on the card at its top unless it was at the very top.
//
// The cards are stops of their own: Up and Down (Left and Right in the reading direction) step to
// the card before or after, Home and End go to the first and the last, Page Up and Page Down a view
// further, each brought into view; a step past either end stays, so a held arrow never leaves the
// list for the controls around it. A card Tab brings in from outside is brought into view too.
//
// An optional header sits above the cards and scrolls with them. A removed card the owner asks to
// fold leaves a picture of itself that fades while the cards after it slide up into its place.
class TDLinkList : public QAbstractScrollArea {
public:
    struct Metrics {
        int padding = 0;
        int spacing = 0;
        // Narrower views scroll sideways.
        int minimumContentWidth = 0;
    };
    // Hooks a card up when it is built; the card may be dropped again once out of view.
    using CardSetUp = std::function<void(TDLinkCard*)>;
    // Whether the card of a link that has just left the list folds away rather than vanishing.
    using FoldsAway = std::function<bool(const TDLink&)>;

    TDLinkList(Metrics metrics, CardSetUp setUp, QWidget* parent = nullptr);
    ~TDLinkList() override;

    // `header` goes into the list; `lastStop` is its last Tab stop, which the cards follow.
    void setHeader(QWidget* header, QWidget* lastStop);
    void setFoldsAway(FoldsAway folds, double responseSeconds);

    void setLinks(std::vector<TDLink> links);
    // The links of `source` that `belongs` takes (all of them when it is empty), in order. When
    // they are the list's links with new ones after them, as after an add, only the new ones are
    // copied.
    void followLinks(const std::vector<TDLink>& source, const std::function<bool(const TDLink&)>& belongs);
    int count() const { return static_cast<int>(m_links.size()); }

    // The cards that exist now, in the links' order.
    std::vector<TDLinkCard*> cards() const;
    // Where the card of the link at `index` lies in the list's content (not scrolled).
    QRect cardRect(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A place left by folding cards: `extent` of content before the card at `index` that shrinks
    // to nothing, and the pictures drawn in it.
    struct Gap {
        // Tells a gap from a later one made at the same address.
        quint64 serial = 0;
        int index = 0;
        int fullExtent = 0;
        int extent = 0;
        std::vector<QPointer<TDSpringGhost>> ghosts;
        std::unique_ptr<TDSpringAnimation> spring;
    };

    int horizontalScrolled() const;
    int contentWidth() const;
    int cardWidth() const;
    int measuredCount() const { return static_cast<int>(m_twoLinesBefore.size()) - 1; }
    bool isMeasured() const { return measuredCount() == count(); }
    void layOutKeeping(const std::optional<std::pair<int, int>>& anchor);
    std::optional<std::pair<int, int>> topAnchor();
    void followWidth();
    void measureUpTo(int end);
    int top(int index) const;
    int heightOf(int index) const;
    int contentHeight() const;
    int indexAt(int y);
    void updateScrollBars();
    void measureLater();
    void ensureVisible(int index);
    void layoutCards();
    // The index of the card with the keys, or -1.
    int focusedIndex() const;
    // Gives the keys to the card now at `place`, or, with no card left, to the header's last stop
    // or what follows the list.
    void handOnFocus(int place, Qt::FocusReason reason);
    void placeHeader();
    void placeGhosts();
    void startGap(int index, std::vector<std::pair<QPixmap, int>> pictures);
    TDLinkCard* makeCard(int index);

    const Metrics m_metrics;
    CardSetUp m_setUp;
    FoldsAway m_foldsAway;
    double m_foldResponse = 0;
    QPointer<QWidget> m_header;
    QPointer<QWidget> m_headerLastStop;
    int m_headerHeight = 0;

    std::vector<TDLink> m_links;
    std::vector<std::optional<TDLinkDescriptionWidth>> m_widths;
    // At the width of text `m_measuredWidth`: how many of the links before each index have a
    // description of two lines, for the links measured so far (one entry more than those).
    std::vector<int> m_twoLinesBefore { 0 };
    int m_measuredWidth = -1;
    int m_oneLineHeight = 0;
    int m_twoLineHeight = 0;
    bool m_measuringLater = false;
    // The links measured when the scroll bar's range was last set.
    int m_rangeMeasured = -1;
    bool m_laying = false;
    // By index in the links; a hand-edited file may repeat an id.
    std::map<int, QPointer<TDLinkCard>> m_cards;
    std::vector<std::unique_ptr<Gap>> m_gaps;
    quint64 m_gapSerial = 0;
};
