#include "app/screens/common/TDLinkList.h"

#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDKeyboardStep.h"
#include "app/screens/common/TDSpringAnimation.h"
#include "app/screens/common/TDSpringGhost.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
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

// Whether two records show the same; copies of one record share their texts.
bool sameLink(const TDLink& a, const TDLink& b)
{
    return a.id == b.id && a.tdNoteId == b.tdNoteId && sameText(a.title, b.title) && sameText(a.desc, b.desc)
        && sameText(a.url, b.url);
}

} // namespace

TDLinkList::TDLinkList(Metrics metrics, CardSetUp setUp, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_metrics(metrics)
    , m_setUp(std::move(setUp))
{
    setFrameShape(QFrame::NoFrame);
    // The cards are the stops; the list itself would be one more, unnamed and unringed.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(scrollStep);
    horizontalScrollBar()->setSingleStep(scrollStep);
}

TDLinkList::~TDLinkList() = default;

void TDLinkList::setHeader(QWidget* header, QWidget* lastStop)
{
    m_header = header;
    m_headerLastStop = lastStop;
    header->setParent(viewport());
    // A scroll area's viewport stands on the Base role, which would turn the header's texts from
    // window text to field text; the header stands on the window.
    header->setBackgroundRole(QPalette::Window);
    header->show();
    if (isVisible())
        layOutKeeping(std::nullopt);
}

void TDLinkList::setFoldsAway(FoldsAway folds, double responseSeconds)
{
    m_foldsAway = std::move(folds);
    m_foldResponse = responseSeconds;
}

void TDLinkList::setLinks(std::vector<TDLink> links)
{
    // A place still folding belongs to the old order: it closes now.
    for (auto& gap : m_gaps) {
        gap->spring->finish();
        for (const auto& ghost : gap->ghosts) {
            if (ghost)
                ghost->finish();
        }
    }
    m_gaps.clear();

    const int oldCount = count();
    const int newCount = static_cast<int>(links.size());
    int prefix = 0;
    while (prefix < std::min(oldCount, newCount) && m_links[prefix].id == links[prefix].id)
        ++prefix;
    int suffix = 0;
    while (suffix < std::min(oldCount, newCount) - prefix
        && m_links[oldCount - 1 - suffix].id == links[newCount - 1 - suffix].id)
        ++suffix;
    // Between the ends that stayed in place, links are found by id: an add and a removal at once, or
    // a move, keep what the list knows of them.
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

    // A description keeps its width while it stays; new ones are summed when first laid out. The
    // links before the first one moved, added or edited keep their places.
    std::vector<std::optional<TDLinkDescriptionWidth>> widths(links.size());
    int unchanged = newCount;
    for (int i = 0; i < newCount; ++i) {
        const int old = origin(i);
        if (old >= 0 && sameText(m_links[old].desc, links[i].desc))
            widths[i] = m_widths[old];
        if (old != i || !widths[i])
            unchanged = std::min(unchanged, i);
    }
    // Cards in view whose links went, and that fold away: their pictures, by the place they leave
    // (the new index of the next link that stays).
    std::map<int, std::vector<std::pair<QPixmap, int>>> folding;
    const QRect view = viewport()->rect();
    std::map<int, QPointer<TDLinkCard>> cards;
    // The new index of the first link after `index` that stays.
    auto placeAfter = [&](int index) {
        for (int later = index + 1; later < oldCount; ++later) {
            if (const int now = moved(later); now >= 0)
                return now;
        }
        return newCount;
    };
    // A card that goes with the keys in it hands them on once the cards are in place, as its ring.
    std::optional<int> focusPlace;
    Qt::FocusReason focusReason = Qt::OtherFocusReason;
    for (auto& [index, card] : m_cards) {
        if (!card)
            continue;
        if (const int now = moved(index); now >= 0 && !cards.contains(now)) {
            card->setLink(links[now]);
            cards.emplace(now, card);
            continue;
        }
        if (m_foldsAway && isVisible() && card->geometry().intersects(view) && m_foldsAway(card->link()))
            folding[placeAfter(index)].emplace_back(card->grab(), card->height());
        if (card->hasFocus() || card->isAncestorOf(QApplication::focusWidget())) {
            focusPlace = placeAfter(index);
            if (tdfocusring::isShown(card))
                focusReason = Qt::TabFocusReason;
        }
        delete card.data();
    }
    m_cards = std::move(cards);
    m_links = std::move(links);
    m_widths = std::move(widths);
    m_twoLinesBefore.resize(std::min(unchanged, measuredCount()) + 1);
    for (auto& [place, pictures] : folding)
        startGap(place, std::move(pictures));
    // A list not yet shown has no width to measure at; it lays out when it shows.
    if (!isVisible())
        return;
    layOutKeeping(anchor);
    if (focusPlace)
        handOnFocus(*focusPlace, focusReason);
}

void TDLinkList::handOnFocus(int place, Qt::FocusReason reason)
{
    if (count() > 0) {
        // The link now in the removed one's place, or the one before it when that was the last.
        const int index = std::min(place, count() - 1);
        ensureVisible(index);
        layoutCards();
        if (const auto card = m_cards.find(index); card != m_cards.end() && card->second)
            card->second->setFocus(reason);
        return;
    }
    // No card is left: the header's last stop, or what follows the list.
    if (m_headerLastStop && m_headerLastStop->isVisibleTo(window())) {
        m_headerLastStop->setFocus(reason);
        return;
    }
    tdfocusring::focusNextOutside(this, reason);
}

void TDLinkList::followLinks(
    const std::vector<TDLink>& source, const std::function<bool(const TDLink&)>& belongs)
{
    std::size_t matched = 0;
    auto it = source.begin();
    for (; it != source.end() && matched < m_links.size(); ++it) {
        if (belongs && !belongs(*it))
            continue;
        if (!sameLink(*it, m_links[matched]))
            break;
        ++matched;
    }
    if (matched < m_links.size()) {
        std::vector<TDLink> links;
        for (const TDLink& link : source) {
            if (!belongs || belongs(link))
                links.push_back(link);
        }
        setLinks(std::move(links));
        return;
    }
    const std::size_t before = m_links.size();
    const auto added = belongs ? std::count_if(it, source.end(), belongs) : source.end() - it;
    if (added == 0)
        return;
    // With room for the adds to come: an add that moved every link the list holds (and its
    // width) would cost what the whole list costs.
    const std::size_t needed = before + static_cast<std::size_t>(added);
    if (m_links.capacity() < needed)
        m_links.reserve(needed + needed / 2 + 16);
    if (m_widths.capacity() < needed)
        m_widths.reserve(m_links.capacity());
    for (; it != source.end(); ++it) {
        if (!belongs || belongs(*it))
            m_links.push_back(*it);
    }
    // Nothing before the new links moved: the cards, the measured places and a folding place stay.
    m_widths.resize(m_links.size());
    if (isVisible())
        layOutKeeping(std::nullopt);
}

void TDLinkList::startGap(int index, std::vector<std::pair<QPixmap, int>> pictures)
{
    auto gap = std::make_unique<Gap>();
    gap->serial = ++m_gapSerial;
    gap->index = index;
    for (const auto& [picture, height] : pictures) {
        gap->fullExtent += height + m_metrics.spacing;
        auto* ghost = TDSpringGhost::fadeOut(picture, viewport(), QRect(0, 0, 0, height), m_foldResponse);
        gap->ghosts.emplace_back(ghost);
    }
    gap->extent = gap->fullExtent;
    gap->spring = std::make_unique<TDSpringAnimation>(m_foldResponse);
    Gap* raw = gap.get();
    m_gaps.push_back(std::move(gap));
    QPointer<TDLinkList> self(this);
    raw->spring->start(
        [self, raw](double progress) {
            if (!self)
                return;
            raw->extent = static_cast<int>(std::lround(raw->fullExtent * (1 - progress)));
            if (!self->isVisible() || self->m_laying)
                return;
            self->updateScrollBars();
            self->layoutCards();
        },
        [self, serial = raw->serial] {
            if (!self)
                return;
            // Not from inside the spring's own call.
            QTimer::singleShot(0, self, [self, serial] {
                std::erase_if(self->m_gaps, [serial](const auto& gap) { return gap->serial == serial; });
            });
        });
}

void TDLinkList::layOutKeeping(const std::optional<std::pair<int, int>>& anchor)
{
    followWidth();
    if (anchor)
        measureUpTo(anchor->first + 1);
    updateScrollBars();
    if (anchor)
        verticalScrollBar()->setValue(top(anchor->first) + anchor->second);
    layoutCards();
}

std::optional<std::pair<int, int>> TDLinkList::topAnchor()
{
    if (count() == 0 || m_measuredWidth < 0 || verticalScrollBar()->value() <= 0)
        return std::nullopt;
    const int top = indexAt(verticalScrollBar()->value());
    return std::pair { top, verticalScrollBar()->value() - this->top(top) };
}

std::vector<TDLinkCard*> TDLinkList::cards() const
{
    std::vector<TDLinkCard*> built;
    for (const auto& [index, card] : m_cards) {
        if (card)
            built.push_back(card);
    }
    return built;
}

QRect TDLinkList::cardRect(int index)
{
    if (!isVisible() || index < 0 || index >= count())
        return {};
    followWidth();
    measureUpTo(index + 1);
    measureLater();
    return QRect(m_metrics.padding, top(index), cardWidth(), heightOf(index));
}

void TDLinkList::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (!isVisible())
        return;
    // The card at the top stays there while the descriptions re-wrap above and below it.
    layOutKeeping(topAnchor());
}

void TDLinkList::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    followWidth();
    updateScrollBars();
    layoutCards();
}

void TDLinkList::scrollContentsBy(int, int)
{
    layoutCards();
}

void TDLinkList::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange && isVisible()) {
        layoutCards();
        return;
    }
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

bool TDLinkList::focusNextPrevChild(bool next)
{
    if (!QAbstractScrollArea::focusNextPrevChild(next))
        return false;
    QWidget* focus = QApplication::focusWidget();
    // A stop in the header brings the whole header into view, at the top of the content.
    if (m_header && focus && m_header->isAncestorOf(focus)) {
        QScrollBar* bar = verticalScrollBar();
        if (bar->value() > 0)
            bar->setValue(0);
        return true;
    }
    for (const auto& [index, card] : m_cards) {
        if (card && card->hasFocus())
            ensureVisible(index);
    }
    return true;
}

int TDLinkList::focusedIndex() const
{
    for (const auto& [index, card] : m_cards) {
        if (card && card->hasFocus())
            return index;
    }
    return -1;
}

void TDLinkList::keyPressEvent(QKeyEvent* event)
{
    const int current = focusedIndex();
    if (current < 0 || (event->modifiers() & ~Qt::KeypadModifier)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    int key = event->key();
    if (key == Qt::Key_Left || key == Qt::Key_Right)
        key = (key == Qt::Key_Left) != isRightToLeft() ? Qt::Key_Up : Qt::Key_Down;
    std::optional<int> next;
    if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        // The card a view's height away; cards of two lines make a page fewer cards.
        const int view = viewport()->height();
        const int at = indexAt(std::max(0, top(current) + (key == Qt::Key_PageDown ? view : -view)));
        next = key == Qt::Key_PageDown
            ? std::max(std::min(at, count() - 1), std::min(current + 1, count() - 1))
            : std::min(at, std::max(current - 1, 0));
    } else {
        next = tdKeyboardStep(key, current, count());
    }
    if (!next) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    if (*next == current)
        return;
    ensureVisible(*next);
    layoutCards();
    if (const auto card = m_cards.find(*next); card != m_cards.end() && card->second)
        card->second->setFocus(*next > current ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

bool TDLinkList::eventFilter(QObject* watched, QEvent* event)
{
    // Tab from outside the list reaches the card built just past either edge of the view first.
    if (event->type() == QEvent::FocusIn && watched != viewport()) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
            for (const auto& [index, card] : m_cards) {
                if (card == watched) {
                    ensureVisible(index);
                    break;
                }
            }
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

// How far the content's left edge lies left of the view's. Right to left, a bar at its start shows
// the content's right edge, where the cards' texts begin.
int TDLinkList::horizontalScrolled() const
{
    const QScrollBar* bar = horizontalScrollBar();
    return isRightToLeft() ? bar->maximum() - bar->value() : bar->value();
}

int TDLinkList::contentWidth() const
{
    return std::max(viewport()->width(), m_metrics.minimumContentWidth);
}

int TDLinkList::cardWidth() const
{
    return contentWidth() - 2 * m_metrics.padding;
}

// At a new width (or font) every link is measured again.
void TDLinkList::followWidth()
{
    if (m_header) {
        m_headerHeight = m_header->hasHeightForWidth() ? m_header->heightForWidth(contentWidth())
                                                       : m_header->sizeHint().height();
    }
    const int textWidth = TDLinkCard::textWidth(cardWidth());
    if (textWidth == m_measuredWidth)
        return;
    m_measuredWidth = textWidth;
    m_oneLineHeight = TDLinkCard::heightFor(1);
    m_twoLineHeight = TDLinkCard::heightFor(2);
    m_twoLinesBefore.resize(1);
}

// Counts the two-line descriptions of the links before `end`.
void TDLinkList::measureUpTo(int end)
{
    end = std::min(end, count());
    for (int i = measuredCount(); i < end; ++i) {
        if (!m_widths[i])
            m_widths[i].emplace(m_links[i].desc);
        const bool twoLines = m_widths[i]->linesAt(m_measuredWidth, m_links[i].desc) == 2;
        m_twoLinesBefore.push_back(m_twoLinesBefore.back() + (twoLines ? 1 : 0));
    }
}

// Exact for the links measured; past them, the links take two lines in the share the measured ones
// do, until the measuring that goes on between events reaches them.
int TDLinkList::top(int index) const
{
    const int measured = std::min(index, measuredCount());
    const int extra = m_twoLineHeight - m_oneLineHeight;
    int y = m_headerHeight + m_metrics.padding + index * (m_oneLineHeight + m_metrics.spacing)
        + m_twoLinesBefore[measured] * extra;
    if (index > measured) {
        const qint64 rest = index - measured;
        y += measured > 0 ? static_cast<int>(rest * m_twoLinesBefore[measured] * extra / measured)
                          : static_cast<int>(rest * extra / 2);
    }
    for (const auto& gap : m_gaps) {
        if (gap->index <= index)
            y += gap->extent;
    }
    return y;
}

int TDLinkList::heightOf(int index) const
{
    return m_twoLinesBefore[index + 1] > m_twoLinesBefore[index] ? m_twoLineHeight : m_oneLineHeight;
}

int TDLinkList::contentHeight() const
{
    if (count() == 0 && m_gaps.empty())
        return m_headerHeight + 2 * m_metrics.padding;
    return top(count()) - m_metrics.spacing + m_metrics.padding;
}

// The card at content height `y`, or the one just above it when `y` falls in a gap; the links down
// to it are measured.
int TDLinkList::indexAt(int y)
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

void TDLinkList::updateScrollBars()
{
    m_rangeMeasured = measuredCount();
    const QSize view = viewport()->size();
    verticalScrollBar()->setPageStep(std::max(1, view.height()));
    verticalScrollBar()->setRange(0, std::max(0, contentHeight() - view.height()));
    horizontalScrollBar()->setPageStep(std::max(1, view.width()));
    horizontalScrollBar()->setRange(0, std::max(0, contentWidth() - view.width()));
}

// The links past the view are measured a batch at a time between events, so that showing the list
// costs what its first screen costs and the scroll bar settles just after.
void TDLinkList::measureLater()
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

void TDLinkList::ensureVisible(int index)
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

void TDLinkList::placeHeader()
{
    if (m_header)
        m_header->setGeometry(
            -horizontalScrolled(), -verticalScrollBar()->value(), contentWidth(), m_headerHeight);
}

void TDLinkList::placeGhosts()
{
    const QPoint offset(-horizontalScrolled(), -verticalScrollBar()->value());
    for (const auto& gap : m_gaps) {
        int y = top(gap->index) - gap->extent;
        int left = gap->extent;
        for (const auto& ghost : gap->ghosts) {
            if (!ghost)
                continue;
            // Each picture keeps its height until the closing place reaches it, then shrinks from
            // below, as the cards after it slide up.
            const int height = std::min(ghost->height() > 0 ? ghost->height() : 0, left - m_metrics.spacing);
            if (height <= 0) {
                ghost->hide();
                continue;
            }
            ghost->setGeometry(QRect(m_metrics.padding, y, cardWidth(), height).translated(offset));
            y += height + m_metrics.spacing;
            left -= height + m_metrics.spacing;
        }
    }
}

// Builds the cards in view and one either side, drops the rest (the focused card stays, so the
// keyboard's place is not lost), and puts each where it belongs.
void TDLinkList::layoutCards()
{
    if (m_laying)
        return;
    QScopedValueRollback laying(m_laying, true);
    followWidth();
    placeHeader();
    placeGhosts();
    if (m_links.empty()) {
        for (auto& [index, card] : m_cards)
            delete card.data();
        m_cards.clear();
        return;
    }
    // Measuring down to the view can change the content's height, and so the scroll range; a view
    // at the end, reached on estimated heights, stays at the end.
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
    const QPoint offset(-horizontalScrolled(), -scrolled);
    for (auto& [index, card] : m_cards) {
        measureUpTo(index + 1);
        card->setGeometry(
            QRect(m_metrics.padding, top(index), cardWidth(), heightOf(index)).translated(offset));
        card->show();
    }
    placeHeader();
    placeGhosts();
    if (built) {
        // Tab goes through the header, then the cards in the links' order, whatever order they
        // were built in; a screen reader lists them in the viewport's order of children.
        QWidget* previous = m_headerLastStop.data();
        for (auto& [index, card] : m_cards) {
            if (previous)
                QWidget::setTabOrder(previous, card);
            previous = card;
            card->raise();
        }
    }
    measureLater();
}

TDLinkCard* TDLinkList::makeCard(int index)
{
    auto* card = new TDLinkCard(m_links[index], viewport());
    card->installEventFilter(this);
    if (m_setUp)
        m_setUp(card);
    return card;
}
