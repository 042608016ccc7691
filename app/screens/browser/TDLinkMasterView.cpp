#include "app/screens/browser/TDLinkMasterView.h"

#include "app/TDLocalizedText.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/store/TDLinkStore.h"

#include <QAbstractScrollArea>
#include <QDesktopServices>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

namespace {

// How far a card that takes the keyboard's focus is brought in from the edge of the view.
constexpr int focusMargin = 50;
constexpr int scrollStep = 20;
// Links measured at a time: while looking for the view's place, and between events.
constexpr int measureStep = 64;
constexpr int measureBatch = 500;

// Whether two stored descriptions are the same text; the store hands out copies that share their
// characters, so most are told apart without reading them.
bool sameText(const std::optional<QString>& a, const std::optional<QString>& b)
{
    if (!a || !b)
        return !a && !b;
    return (a->constData() == b->constData() && a->size() == b->size()) || *a == *b;
}

} // namespace

// The scrolled list of cards. It knows every card's place from the heights of one and two lines of
// description and a running count of the two-line descriptions before each link, and builds cards
// only for the links in view.
class TDLinkList : public QAbstractScrollArea {
public:
    explicit TDLinkList(TDLinkMasterView* owner)
        : QAbstractScrollArea(owner)
        , m_owner(owner)
    {
        setObjectName(QStringLiteral("linkList"));
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        // The cards are the stops; the list itself would be one more, unnamed and unringed.
        setFocusPolicy(Qt::NoFocus);
        viewport()->setObjectName(QStringLiteral("linkCards"));
        viewport()->setAutoFillBackground(false);
        verticalScrollBar()->setSingleStep(scrollStep);
        horizontalScrollBar()->setSingleStep(scrollStep);
    }

    // Follows a new array of the store. Cards of links kept before and after the change stay (with
    // their focus), and the list stays on the card at its top unless it was at the very top.
    void setLinks(std::vector<TDLink> links)
    {
        const int oldCount = count();
        const int newCount = static_cast<int>(links.size());
        int prefix = 0;
        while (prefix < std::min(oldCount, newCount) && m_links[prefix].id == links[prefix].id)
            ++prefix;
        int suffix = 0;
        while (suffix < std::min(oldCount, newCount) - prefix
            && m_links[oldCount - 1 - suffix].id == links[newCount - 1 - suffix].id)
            ++suffix;
        // Between the ends that stayed in place, links are found by id: an add and a removal at
        // once, or a move, keep what the list knows of them.
        std::unordered_map<platform::Uuid, int> oldPlaces;
        std::unordered_map<platform::Uuid, int> newPlaces;
        if (oldCount - suffix > prefix && newCount - suffix > prefix) {
            for (int i = prefix; i < oldCount - suffix; ++i)
                oldPlaces.try_emplace(m_links[i].id, i);
            for (int i = prefix; i < newCount - suffix; ++i)
                newPlaces.try_emplace(links[i].id, i);
        }
        // Where an old index went, or -1 for a link no longer there.
        auto moved = [&](int index) {
            if (index < prefix)
                return index;
            if (index >= oldCount - suffix)
                return index + newCount - oldCount;
            auto found = newPlaces.find(m_links[index].id);
            return found == newPlaces.end() ? -1 : found->second;
        };
        auto origin = [&](int index) {
            if (index < prefix)
                return index;
            if (index >= newCount - suffix)
                return index - newCount + oldCount;
            auto found = oldPlaces.find(links[index].id);
            return found == oldPlaces.end() ? -1 : found->second;
        };

        std::optional<std::pair<int, int>> anchor;
        if (isVisible() && oldCount > 0 && m_measuredWidth >= 0 && verticalScrollBar()->value() > 0) {
            const int top = indexAt(verticalScrollBar()->value());
            if (moved(top) >= 0)
                anchor = { moved(top), verticalScrollBar()->value() - this->top(top) };
        }

        // A description keeps its width while it stays; new ones are summed when first laid out.
        // The links before the first one moved, added or edited keep their places.
        std::vector<std::optional<TDLinkDescriptionWidth>> widths(links.size());
        int unchanged = newCount;
        for (int i = 0; i < newCount; ++i) {
            const int old = origin(i);
            if (old >= 0 && sameText(m_links[old].desc, links[i].desc))
                widths[i] = m_widths[old];
            if (old != i || !widths[i])
                unchanged = std::min(unchanged, i);
        }
        std::map<int, QPointer<TDLinkCard>> cards;
        for (auto& [index, card] : m_cards) {
            if (!card)
                continue;
            if (const int now = moved(index); now >= 0 && !cards.contains(now)) {
                card->setLink(links[now]);
                cards.emplace(now, card);
            } else {
                delete card.data();
            }
        }
        m_cards = std::move(cards);
        m_links = std::move(links);
        m_widths = std::move(widths);
        m_twoLinesBefore.resize(std::min(unchanged, measuredCount()) + 1);
        // A list not yet shown has no width to measure at; it lays out when it shows.
        if (!isVisible())
            return;
        layOutKeeping(anchor);
    }

    int count() const { return static_cast<int>(m_links.size()); }

    // Lays the cards out at the current width; `anchor` (a card and the view's offset into it)
    // stays where it was in the view.
    void layOutKeeping(const std::optional<std::pair<int, int>>& anchor)
    {
        followWidth();
        if (anchor)
            measureUpTo(anchor->first + 1);
        updateScrollBars();
        if (anchor)
            verticalScrollBar()->setValue(top(anchor->first) + anchor->second);
        layoutCards();
    }

    std::vector<TDLinkCard*> cards() const
    {
        std::vector<TDLinkCard*> built;
        for (const auto& [index, card] : m_cards) {
            if (card)
                built.push_back(card);
        }
        return built;
    }

    QRect cardRect(int index)
    {
        if (!isVisible() || index < 0 || index >= count())
            return {};
        followWidth();
        measureUpTo(index + 1);
        measureLater();
        return QRect(TDLinkMasterView::listPadding, top(index), cardWidth(), heightOf(index));
    }

    bool isMeasured() const { return measuredCount() == count(); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QAbstractScrollArea::resizeEvent(event);
        if (!isVisible())
            return;
        // The card at the top stays there while the descriptions re-wrap above and below it.
        std::optional<std::pair<int, int>> anchor;
        if (count() > 0 && m_measuredWidth >= 0 && verticalScrollBar()->value() > 0) {
            const int top = indexAt(verticalScrollBar()->value());
            anchor = { top, verticalScrollBar()->value() - this->top(top) };
        }
        layOutKeeping(anchor);
    }

    void showEvent(QShowEvent* event) override
    {
        QAbstractScrollArea::showEvent(event);
        followWidth();
        updateScrollBars();
        layoutCards();
    }

    void scrollContentsBy(int, int) override { layoutCards(); }

    void changeEvent(QEvent* event) override
    {
        QAbstractScrollArea::changeEvent(event);
        // The cards' texts are in the application's font: every width is summed again.
        if (event->type() != QEvent::FontChange)
            return;
        std::fill(m_widths.begin(), m_widths.end(), std::nullopt);
        m_measuredWidth = -1;
        if (!isVisible())
            return;
        followWidth();
        updateScrollBars();
        layoutCards();
    }

    bool focusNextPrevChild(bool next) override
    {
        if (!QAbstractScrollArea::focusNextPrevChild(next))
            return false;
        for (const auto& [index, card] : m_cards) {
            if (card && card->hasFocus())
                ensureVisible(index);
        }
        return true;
    }

private:
    int contentWidth() const { return std::max(viewport()->width(), TDLinkMasterView::minimumContentWidth); }
    int cardWidth() const { return contentWidth() - 2 * TDLinkMasterView::listPadding; }

    int measuredCount() const { return static_cast<int>(m_twoLinesBefore.size()) - 1; }

    // At a new width (or font) every link is measured again.
    void followWidth()
    {
        const int textWidth = TDLinkCard::textWidth(cardWidth());
        if (textWidth == m_measuredWidth)
            return;
        m_measuredWidth = textWidth;
        m_oneLineHeight = TDLinkCard::heightFor(1);
        m_twoLineHeight = TDLinkCard::heightFor(2);
        m_twoLinesBefore.resize(1);
    }

    // Counts the two-line descriptions of the links before `end`.
    void measureUpTo(int end)
    {
        end = std::min(end, count());
        for (int i = measuredCount(); i < end; ++i) {
            if (!m_widths[i])
                m_widths[i].emplace(m_links[i].desc);
            const bool twoLines = m_widths[i]->linesAt(m_measuredWidth, m_links[i].desc) == 2;
            m_twoLinesBefore.push_back(m_twoLinesBefore.back() + (twoLines ? 1 : 0));
        }
    }

    // Exact for the links measured; past them, the links take two lines in the share the measured
    // ones do, until the measuring that goes on between events reaches them.
    int top(int index) const
    {
        const int measured = std::min(index, measuredCount());
        const int extra = m_twoLineHeight - m_oneLineHeight;
        int y = TDLinkMasterView::listPadding + index * (m_oneLineHeight + TDLinkMasterView::listSpacing)
            + m_twoLinesBefore[measured] * extra;
        if (index > measured) {
            const qint64 rest = index - measured;
            y += measured > 0 ? static_cast<int>(rest * m_twoLinesBefore[measured] * extra / measured)
                              : static_cast<int>(rest * extra / 2);
        }
        return y;
    }

    int heightOf(int index) const
    {
        return m_twoLinesBefore[index + 1] > m_twoLinesBefore[index] ? m_twoLineHeight : m_oneLineHeight;
    }

    int contentHeight() const
    {
        if (count() == 0)
            return 2 * TDLinkMasterView::listPadding;
        return top(count()) - TDLinkMasterView::listSpacing + TDLinkMasterView::listPadding;
    }

    // The card at content height `y`, or the one just above it when `y` falls in a gap; the links
    // down to it are measured.
    int indexAt(int y)
    {
        while (measuredCount() < count() && top(measuredCount()) <= y)
            measureUpTo(measuredCount() + measureStep);
        int low = 0;
        int high = std::max(1, measuredCount());
        while (high - low > 1) {
            const int middle = low + (high - low) / 2;
            if (top(middle) <= y)
                low = middle;
            else
                high = middle;
        }
        return low;
    }

    void updateScrollBars()
    {
        m_rangeMeasured = measuredCount();
        const QSize view = viewport()->size();
        verticalScrollBar()->setPageStep(std::max(1, view.height()));
        verticalScrollBar()->setRange(0, std::max(0, contentHeight() - view.height()));
        horizontalScrollBar()->setPageStep(std::max(1, view.width()));
        horizontalScrollBar()->setRange(0, std::max(0, contentWidth() - view.width()));
    }

    // The links past the view are measured a batch at a time between events, so that opening the
    // page costs what its first screen costs and the scroll bar settles just after.
    void measureLater()
    {
        if (m_measuringLater || (isMeasured() && m_rangeMeasured == measuredCount()))
            return;
        m_measuringLater = true;
        QTimer::singleShot(0, this, [this] {
            m_measuringLater = false;
            if (!isVisible())
                return;
            followWidth();
            measureUpTo(measuredCount() + measureBatch);
            updateScrollBars();
            measureLater();
        });
    }

    void ensureVisible(int index)
    {
        const QRect card = cardRect(index);
        const int view = viewport()->height();
        const int margin = std::min(focusMargin, std::max(0, (view - card.height()) / 2));
        QScrollBar* bar = verticalScrollBar();
        if (card.top() - margin < bar->value())
            bar->setValue(card.top() - margin);
        else if (card.bottom() + 1 + margin > bar->value() + view)
            bar->setValue(card.bottom() + 1 + margin - view);
    }

    // Builds the cards in view and one either side, drops the rest (the focused card stays, so
    // the keyboard's place is not lost), and puts each where it belongs.
    void layoutCards()
    {
        if (m_laying)
            return;
        QScopedValueRollback laying(m_laying, true);
        if (m_links.empty()) {
            for (auto& [index, card] : m_cards)
                delete card.data();
            m_cards.clear();
            return;
        }
        followWidth();
        // Measuring down to the view can change the content's height, and so the scroll range;
        // a view at the end, reached on estimated heights, stays at the end.
        QScrollBar* bar = verticalScrollBar();
        for (int pass = 0; pass < 3; ++pass) {
            const int measured = measuredCount();
            const int scrolled = bar->value();
            measureUpTo(indexAt(scrolled + viewport()->height() - 1) + 2);
            if (measuredCount() == measured)
                break;
            const bool atEnd = scrolled > 0 && scrolled == bar->maximum();
            updateScrollBars();
            if (atEnd)
                bar->setValue(bar->maximum());
        }
        const int scrolled = bar->value();
        int topmost = indexAt(scrolled);
        // A view that starts in the gap below a card starts with the next one.
        if (topmost + 1 < count() && top(topmost) + heightOf(topmost) <= scrolled)
            ++topmost;
        const int first = std::max(0, topmost - 1);
        const int last = std::min(count() - 1, indexAt(scrolled + viewport()->height() - 1) + 1);
        measureUpTo(last + 1);
        for (auto it = m_cards.begin(); it != m_cards.end();) {
            const bool wanted = it->first >= first && it->first <= last;
            if (!it->second || (!wanted && !it->second->hasFocus())) {
                delete it->second.data();
                it = m_cards.erase(it);
            } else {
                ++it;
            }
        }
        bool built = false;
        for (int i = first; i <= last; ++i) {
            if (!m_cards[i]) {
                m_cards[i] = makeCard(i);
                built = true;
            }
        }
        const QPoint offset(-horizontalScrollBar()->value(), -scrolled);
        for (auto& [index, card] : m_cards) {
            measureUpTo(index + 1);
            card->setGeometry(QRect(TDLinkMasterView::listPadding, top(index), cardWidth(), heightOf(index))
                                  .translated(offset));
            card->show();
        }
        if (built) {
            // Tab goes through the cards in the store's order, whatever order they were built in.
            QWidget* previous = nullptr;
            for (auto& [index, card] : m_cards) {
                if (previous)
                    QWidget::setTabOrder(previous, card);
                previous = card;
            }
        }
        measureLater();
    }

    TDLinkCard* makeCard(int index)
    {
        auto* card = new TDLinkCard(m_links[index], viewport());
        QPointer<TDLinkMasterView> owner(m_owner);
        connect(card, &QAbstractButton::clicked, m_owner, [owner, card] {
            if (owner)
                owner->openLink(card->link());
        });
        return card;
    }

    TDLinkMasterView* m_owner;
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
    // By index in the store's array; a hand-edited file may repeat an id.
    std::map<int, QPointer<TDLinkCard>> m_cards;
};

TDLinkMasterView::TDLinkMasterView(TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("linkMasterView"));
    m_stack = new QStackedLayout(this);
    m_emptyState = new TDContentUnavailableView(tdLocalized("No links found"), Symbol::folder,
        tdLocalized("Oops! looks like there is no project. Try to make one for your creative journey."),
        this);
    m_stack->addWidget(m_emptyState);
    m_list = new TDLinkList(this);
    m_stack->addWidget(m_list);
    renderNow();
}

bool TDLinkMasterView::showsEmptyState() const
{
    return m_stack->currentWidget() == m_emptyState;
}

QAbstractScrollArea* TDLinkMasterView::scrollArea() const
{
    return m_list;
}

std::vector<TDLinkCard*> TDLinkMasterView::cards() const
{
    return m_list->cards();
}

QRect TDLinkMasterView::cardRect(int index) const
{
    return m_list->cardRect(index);
}

void TDLinkMasterView::render()
{
    auto links = m_stores.linkStore->tdLinks();
    const bool empty = links.empty();
    m_list->setLinks(std::move(links));
    m_stack->setCurrentWidget(empty ? m_emptyState : static_cast<QWidget*>(m_list));
}

void TDLinkMasterView::openLink(const TDLink& link)
{
    const auto problem = tdOpenLink(link.url, [](const QUrl& url) { return QDesktopServices::openUrl(url); });
    if (problem)
        showAlert(problem->title, problem->message);
}

void TDLinkMasterView::showAlert(const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(window(), title, message);
}
