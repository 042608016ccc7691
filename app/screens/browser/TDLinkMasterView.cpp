#include "app/screens/browser/TDLinkMasterView.h"

#include "app/TDLocalizedText.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/store/TDLinkStore.h"

#include <QAbstractScrollArea>
#include <QDesktopServices>
#include <QScrollBar>
#include <QStackedLayout>

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

namespace {

// How far a card that takes the keyboard's focus is brought in from the edge of the view.
constexpr int focusMargin = 50;
constexpr int scrollStep = 20;

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
        for (int i = prefix; i < oldCount - suffix; ++i)
            oldPlaces.try_emplace(m_links[i].id, i);
        for (int i = prefix; i < newCount - suffix; ++i)
            newPlaces.try_emplace(links[i].id, i);
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
        if (oldCount > 0 && m_measuredWidth >= 0 && verticalScrollBar()->value() > 0) {
            const int top = indexAt(verticalScrollBar()->value());
            if (moved(top) >= 0)
                anchor = { moved(top), verticalScrollBar()->value() - this->top(top) };
        }

        // A description keeps its width while it stays; new ones are estimated when first laid out.
        std::vector<std::optional<TDLinkDescriptionWidth>> widths(links.size());
        for (int i = 0; i < newCount; ++i) {
            const int old = origin(i);
            if (old >= 0 && m_links[old].desc == links[i].desc)
                widths[i] = m_widths[old];
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
        m_measuredWidth = -1;
        // A list not yet shown has no width to measure at; it lays out when it shows.
        if (!isVisible())
            return;
        measure();
        updateScrollBars();
        if (anchor)
            verticalScrollBar()->setValue(top(anchor->first) + anchor->second);
        layoutCards();
    }

    int count() const { return static_cast<int>(m_links.size()); }

    std::vector<TDLinkCard*> cards() const
    {
        std::vector<TDLinkCard*> built;
        for (const auto& [index, card] : m_cards) {
            if (card)
                built.push_back(card);
        }
        return built;
    }

    QRect cardRect(int index) const
    {
        if (m_measuredWidth < 0 || index < 0 || index >= count())
            return {};
        return QRect(TDLinkMasterView::listPadding, top(index), cardWidth(), heightOf(index));
    }

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
        measure();
        updateScrollBars();
        if (anchor)
            verticalScrollBar()->setValue(top(anchor->first) + anchor->second);
        layoutCards();
    }

    void showEvent(QShowEvent* event) override
    {
        QAbstractScrollArea::showEvent(event);
        measure();
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
        measure();
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

    // The running count of two-line descriptions, for the present width.
    void measure()
    {
        const int textWidth = TDLinkCard::textWidth(cardWidth());
        if (textWidth == m_measuredWidth)
            return;
        m_measuredWidth = textWidth;
        m_oneLineHeight = TDLinkCard::heightFor(1);
        m_twoLineHeight = TDLinkCard::heightFor(2);
        m_twoLinesBefore.assign(m_links.size() + 1, 0);
        for (int i = 0; i < count(); ++i) {
            if (!m_widths[i])
                m_widths[i].emplace(m_links[i].desc);
            const bool twoLines = m_widths[i]->linesAt(textWidth, m_links[i].desc) == 2;
            m_twoLinesBefore[i + 1] = m_twoLinesBefore[i] + (twoLines ? 1 : 0);
        }
    }

    int top(int index) const
    {
        return TDLinkMasterView::listPadding + index * (m_oneLineHeight + TDLinkMasterView::listSpacing)
            + m_twoLinesBefore[index] * (m_twoLineHeight - m_oneLineHeight);
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

    // The card at content height `y`, or the one just above it when `y` falls in a gap.
    int indexAt(int y) const
    {
        int low = 0;
        int high = count();
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
        const QSize view = viewport()->size();
        verticalScrollBar()->setPageStep(std::max(1, view.height()));
        verticalScrollBar()->setRange(0, std::max(0, contentHeight() - view.height()));
        horizontalScrollBar()->setPageStep(std::max(1, view.width()));
        horizontalScrollBar()->setRange(0, std::max(0, contentWidth() - view.width()));
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
        if (m_links.empty()) {
            for (auto& [index, card] : m_cards)
                delete card.data();
            m_cards.clear();
            return;
        }
        measure();
        const int scrolled = verticalScrollBar()->value();
        const int first = std::max(0, indexAt(scrolled) - 1);
        const int last = std::min(count() - 1, indexAt(scrolled + viewport()->height() - 1) + 1);
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
            card->setGeometry(cardRect(index).translated(offset));
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
    // For the width of text `m_measuredWidth`: how many of the links before each index have a
    // description of two lines (one entry more than links).
    std::vector<int> m_twoLinesBefore { 0 };
    int m_measuredWidth = -1;
    int m_oneLineHeight = 0;
    int m_twoLineHeight = 0;
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
