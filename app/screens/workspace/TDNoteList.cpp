#include "app/screens/workspace/TDNoteList.h"

#include "app/model/TDNote.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDSpringGhost.h"
#include "app/screens/workspace/TDNoteItem.h"

#include <QApplication>
#include <QEvent>
#include <QLayoutItem>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>

int TDNoteList::Gap::extent() const
{
    // As a collapsing widget in a column: its height plus the spacing after it, until it has no
    // height left and takes no spacing either.
    const int left = static_cast<int>(std::lround(travel * (1 - progress))) - rowSpacing;
    return left > 0 ? left + rowSpacing : 0;
}

TDNoteList::TDNoteList(RowFactory makeRow, double removalSpringResponse, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_makeRow(std::move(makeRow))
    , m_removalResponse(removalSpringResponse)
{
    setObjectName(QStringLiteral("notesScrollArea"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The rows take the focus, each with its ring; the list itself would be a stop showing nothing.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setObjectName(QStringLiteral("notesList"));
    viewport()->setAutoFillBackground(false);
    // A scroll area's viewport is of the Base role, which its children would take for their own:
    // the rows' labels and divider are coloured in the Window roles.
    viewport()->setBackgroundRole(QPalette::Window);
    verticalScrollBar()->setSingleStep(scrollStep);
}

TDNoteList::~TDNoteList()
{
    // The springs' steps lay the rows out; none may run into a list half torn down.
    m_laying = true;
    m_gaps.clear();
    // Gone before the list's members: a row's last events find no half-destroyed list.
    for (auto& [index, row] : m_rows)
        delete row.data();
    m_rows.clear();
}

void TDNoteList::setNotes(std::vector<Entry> notes, const std::unordered_set<platform::Uuid>& leaving)
{
    if (notes == m_notes)
        return;
    // Where a note now stands, or -1. A change moves a kept row by a place or two at most, so it is
    // looked for there first; only a larger move makes the list index every note.
    std::unordered_map<const TDNote*, int> places;
    auto placeOf = [&](int index) {
        const TDNote* note = m_notes[index].note.get();
        for (int candidate : { index, index + 1, index - 1 }) {
            if (candidate >= 0 && candidate < static_cast<int>(notes.size())
                && notes[candidate].note.get() == note)
                return candidate;
        }
        if (places.empty()) {
            places.reserve(notes.size());
            for (int i = 0; i < static_cast<int>(notes.size()); ++i)
                places.try_emplace(notes[i].note.get(), i);
        }
        const auto found = places.find(note);
        return found == places.end() ? -1 : found->second;
    };
    rearrange(
        placeOf, [&](int index) { return leaving.contains(m_notes[index].note->id()); },
        [&] {
            m_notes = std::move(notes);
            m_withoutDayBefore.resize(m_notes.size() + 1);
            recountFrom(0);
        });
}

void TDNoteList::insertNote(int index, Entry entry)
{
    index = std::clamp(index, 0, count());
    rearrange([&](int old) { return old < index ? old : old + 1; }, [](int) { return false; },
        [&] {
            m_notes.insert(m_notes.begin() + index, std::move(entry));
            m_withoutDayBefore.push_back(0);
            recountFrom(index);
        });
}

void TDNoteList::removeNote(int index, Removal removal)
{
    if (index < 0 || index >= count())
        return;
    rearrange([&](int old) { return old < index ? old
                                 : old == index ? -1
                                                : old - 1; },
        [&](int) { return removal == Removal::closingUp; },
        [&] {
            m_notes.erase(m_notes.begin() + index);
            m_withoutDayBefore.pop_back();
            recountFrom(index);
        });
}

void TDNoteList::moveNote(int from, int to, bool showsDay)
{
    if (from < 0 || from >= count())
        return;
    to = std::clamp(to, 0, count() - 1);
    if (from == to && m_notes[from].showsDay == showsDay)
        return;
    rearrange(
        [&](int old) {
            if (old == from)
                return to;
            if (from < to && old > from && old <= to)
                return old - 1;
            if (to < from && old >= to && old < from)
                return old + 1;
            return old;
        },
        [](int) { return false; },
        [&] {
            Entry moved = std::move(m_notes[from]);
            moved.showsDay = showsDay;
            m_notes.erase(m_notes.begin() + from);
            m_notes.insert(m_notes.begin() + to, std::move(moved));
            recountFrom(std::min(from, to));
        });
}

void TDNoteList::recountFrom(int index)
{
    for (std::size_t i = std::size_t(index); i < m_notes.size(); ++i)
        m_withoutDayBefore[i + 1] = m_withoutDayBefore[i] + (m_notes[i].showsDay ? 0 : 1);
}

void TDNoteList::rearrange(const std::function<int(int)>& placeOf, const std::function<bool(int)>& leaves,
    const std::function<void()>& store)
{
    // Where a place among the old notes falls among the new: after the nearest earlier note kept.
    auto keptPlaceBefore = [&](int index) {
        for (int before = index - 1; before >= 0; --before) {
            if (const int kept = placeOf(before); kept >= 0)
                return kept + 1;
        }
        return 0;
    };
    // A removal still closing up goes on where its place is now.
    for (auto& gap : m_gaps)
        gap->index = keptPlaceBefore(gap->index);
    struct Leaving {
        QPixmap picture;
        int index;
        int height;
    };
    std::vector<Leaving> gone;
    std::map<int, QPointer<TDNoteItem>> rows;
    // A row that goes with the keys in it hands them on once the rows are in place, as its ring.
    std::optional<int> focusPlace;
    Qt::FocusReason focusReason = Qt::OtherFocusReason;
    for (auto& [index, row] : m_rows) {
        if (!row)
            continue;
        const int place = placeOf(index);
        if (place >= 0 && !rows.contains(place)) {
            rows.emplace(place, row);
            continue;
        }
        if (place < 0 && leaves(index) && row->isVisible())
            gone.push_back({ row->grab(), keptPlaceBefore(index), row->height() });
        if (row->hasFocus() || row->isAncestorOf(QApplication::focusWidget())) {
            focusPlace = keptPlaceBefore(index);
            if (tdfocusring::isShown(row))
                focusReason = Qt::TabFocusReason;
        }
        delete row.data();
    }
    m_rows = std::move(rows);
    store();
    // Rows kept may now stand in another order: Tab follows the new one.
    m_tabOrderStale = true;

    for (auto& leavingRow : gone) {
        auto gap = std::make_unique<Gap>();
        gap->index = leavingRow.index;
        gap->travel = leavingRow.height + rowSpacing;
        gap->ghost = TDSpringGhost::fadeOut(leavingRow.picture, viewport(),
            QRect(padding, 0, rowWidth(), leavingRow.height), m_removalResponse);
        gap->spring = std::make_unique<TDSpringAnimation>(m_removalResponse);
        Gap* raw = gap.get();
        m_gaps.push_back(std::move(gap));
        QPointer<TDNoteList> self(this);
        raw->spring->start(
            [self, raw](double progress) {
                if (!self)
                    return;
                raw->progress = progress;
                self->updateScrollBar();
                self->layoutRows();
            },
            [self] {
                if (!self)
                    return;
                // Dropped once the spring's own call has returned.
                QTimer::singleShot(0, self, [self] {
                    if (!self)
                        return;
                    std::erase_if(self->m_gaps, [](const auto& gap) { return !gap->spring->isRunning(); });
                    self->updateScrollBar();
                    self->layoutRows();
                });
            });
    }
    updateScrollBar();
    layoutRows();
    if (focusPlace)
        handOnFocus(*focusPlace, focusReason);
}

void TDNoteList::handOnFocus(int place, Qt::FocusReason reason)
{
    if (count() > 0) {
        // The note now in the removed one's place, or the one before it when that was the last.
        const int index = std::min(place, count() - 1);
        ensureVisible(index);
        layoutRows();
        if (const auto row = m_rows.find(index); row != m_rows.end() && row->second)
            row->second->setFocus(reason);
        return;
    }
    // No row is left: the keys go on to what follows the list.
    tdfocusring::focusNextOutside(this, reason);
}

std::vector<TDNoteItem*> TDNoteList::rows() const
{
    std::vector<TDNoteItem*> built;
    built.reserve(m_rows.size());
    for (const auto& [index, row] : m_rows) {
        if (row)
            built.push_back(row);
    }
    return built;
}

QRect TDNoteList::rowRect(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return QRect(padding, baseTop(index), rowWidth(), heightOf(index));
}

void TDNoteList::ensureVisible(int index)
{
    if (index < 0 || index >= count())
        return;
    const int top = shownTop(index) - focusMargin;
    const int bottom = shownTop(index) + heightOf(index) + focusMargin;
    QScrollBar* bar = verticalScrollBar();
    if (bottom > bar->value() + viewport()->height())
        bar->setValue(bottom - viewport()->height());
    else if (top < bar->value())
        bar->setValue(top);
}

bool TDNoteList::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest)
        followRowHeights();
    return QAbstractScrollArea::viewportEvent(event);
}

bool TDNoteList::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest)
        followRowHeights();
    // A row reached with Tab below the fold comes into view; the list shows no scroll bar.
    if (event->type() == QEvent::FocusIn) {
        for (const auto& [index, row] : m_rows) {
            if (row == watched) {
                ensureVisible(index);
                break;
            }
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void TDNoteList::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
    layoutRows();
}

void TDNoteList::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    updateScrollBar();
    layoutRows();
}

void TDNoteList::scrollContentsBy(int, int)
{
    layoutRows();
}

void TDNoteList::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange) {
        // A row measured in the old style may not be the height of the new rows.
        m_measuredWidth = -1;
        updateScrollBar();
        layoutRows();
    }
}

int TDNoteList::gapsBefore(int index) const
{
    int sum = 0;
    for (const auto& gap : m_gaps) {
        if (gap->index <= index)
            sum += gap->extent();
    }
    return sum;
}

int TDNoteList::totalGaps() const
{
    int sum = 0;
    for (const auto& gap : m_gaps)
        sum += gap->extent();
    return sum;
}

int TDNoteList::contentHeight() const
{
    if (m_notes.empty())
        return 2 * padding + totalGaps();
    return baseTop(count()) - rowSpacing + padding + totalGaps();
}

int TDNoteList::heightOf(int index) const
{
    return m_notes[index].showsDay ? m_datedHeight : m_undatedHeight;
}

int TDNoteList::baseTop(int index) const
{
    const qint64 undated = m_withoutDayBefore[index];
    const qint64 dated = index - undated;
    return static_cast<int>(std::min<qint64>(
        padding + qint64(index) * rowSpacing + dated * m_datedHeight + undated * m_undatedHeight,
        std::numeric_limits<int>::max() / 2));
}

int TDNoteList::indexAt(int y) const
{
    int low = 0;
    int high = count();
    while (high - low > 1) {
        const int middle = low + (high - low) / 2;
        if (baseTop(middle) <= y)
            low = middle;
        else
            high = middle;
    }
    return low;
}

int TDNoteList::shownTop(int index) const
{
    return baseTop(index) + gapsBefore(index);
}

TDNoteItem* TDNoteList::makeRow(int index)
{
    TDNoteItem* row = m_makeRow(m_notes[index].note, viewport());
    row->installEventFilter(this);
    return row;
}

void TDNoteList::measureRowHeights()
{
    if (rowWidth() != m_measuredWidth) {
        m_measuredWidth = rowWidth();
        m_datedHeight = 0;
        m_undatedHeight = 0;
    }
    // Each kind is measured once it is in the list.
    const int undated = m_withoutDayBefore.back();
    if (m_datedHeight == 0 && undated < count())
        m_datedHeight = measure(true);
    if (m_undatedHeight == 0 && undated > 0)
        m_undatedHeight = measure(false);
}

// Measured on a row that exists, or on one built for the first note of the kind (the layout that
// follows drops it when it is out of view), as a column of rows would lay it out.
int TDNoteList::measure(bool showsDay)
{
    QPointer<TDNoteItem> sample;
    for (const auto& [index, row] : m_rows) {
        if (row && m_notes[index].showsDay == showsDay) {
            sample = row;
            break;
        }
    }
    if (!sample) {
        const auto first = std::find_if(
            m_notes.begin(), m_notes.end(), [&](const Entry& entry) { return entry.showsDay == showsDay; });
        const int index = static_cast<int>(first - m_notes.begin());
        sample = makeRow(index);
        m_rows[index] = sample;
    }
    return heightOfRow(sample, rowWidth());
}

int TDNoteList::heightOfRow(TDNoteItem* row, int width)
{
    row->ensurePolished();
    // As a column's layout sizes a row of fixed height.
    QWidgetItem item(row);
    const int height
        = item.hasHeightForWidth() ? item.heightForWidth(std::max(0, width)) : item.sizeHint().height();
    return std::max(1, height);
}

void TDNoteList::followRowHeights()
{
    if (m_notes.empty() || m_measuredWidth != rowWidth())
        return;
    bool changed = false;
    for (bool showsDay : { true, false }) {
        int& height = showsDay ? m_datedHeight : m_undatedHeight;
        for (const auto& [index, row] : m_rows) {
            if (!row || m_notes[index].showsDay != showsDay || !row->hasRendered())
                continue;
            if (const int measured = heightOfRow(row, rowWidth()); measured != height) {
                height = measured;
                changed = true;
            }
            break;
        }
    }
    if (changed) {
        updateScrollBar();
        layoutRows();
    }
}

void TDNoteList::updateScrollBar()
{
    measureRowHeights();
    const int view = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(std::max(1, view));
    bar->setRange(0, std::max(0, contentHeight() - view));
}

// Builds the rows in view and one either side, drops the rest (the focused row stays, so the
// keyboard's place is not lost), and puts each where it belongs.
void TDNoteList::layoutRows()
{
    if (m_laying)
        return;
    QScopedValueRollback laying(m_laying, true);
    const int scrolled = verticalScrollBar()->value();
    int first = 0;
    int last = -1;
    if (!m_notes.empty()) {
        measureRowHeights();
        // Gaps only push rows down: leaving them out of the first row's estimate errs towards one
        // more row above the view, never one fewer.
        first = std::max(0, indexAt(scrolled - totalGaps()) - 1);
        last = std::min(count() - 1, indexAt(scrolled + viewport()->height() - 1) + 1);
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        const bool wanted = it->first >= first && it->first <= last;
        if (!it->second || (!wanted && !it->second->hasFocus())) {
            delete it->second.data();
            it = m_rows.erase(it);
        } else {
            ++it;
        }
    }
    bool built = false;
    for (int i = first; i <= last; ++i) {
        if (!m_rows[i]) {
            m_rows[i] = makeRow(i);
            built = true;
        }
    }
    for (auto& [index, row] : m_rows) {
        row->setGeometry(padding, shownTop(index) - scrolled, rowWidth(), heightOf(index));
        row->show();
    }
    for (std::size_t k = 0; k < m_gaps.size(); ++k) {
        const Gap& gap = *m_gaps[k];
        if (!gap.ghost)
            continue;
        // Where the ghost stands: after the rows before it and the gaps opened before it.
        int top = baseTop(gap.index);
        for (std::size_t j = 0; j < m_gaps.size(); ++j) {
            if (m_gaps[j]->index < gap.index || (m_gaps[j]->index == gap.index && j < k))
                top += m_gaps[j]->extent();
        }
        const int height = gap.extent() - rowSpacing;
        if (height <= 0) {
            gap.ghost->hide();
            continue;
        }
        gap.ghost->setGeometry(padding, top - scrolled, rowWidth(), height);
    }
    if (built || m_tabOrderStale) {
        m_tabOrderStale = false;
        // Tab goes through the rows in the list's order, whatever order they were built in.
        const auto ordered = rows();
        tdfocusring::orderTabStops(viewport(), std::vector<QWidget*>(ordered.begin(), ordered.end()));
    }
}
