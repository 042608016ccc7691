#pragma once

#include "app/screens/common/TDSpringAnimation.h"
#include "platform/foundation/Uuid.h"

#include <QAbstractScrollArea>
#include <QPointer>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <unordered_set>
#include <vector>

class TDNote;
class TDNoteItem;
class TDSpringGhost;

// The scrolled column of note rows in a project's workspace. A row's height depends only on whether
// it shows a day (a date too far off shows none), so the list measures one row of each kind, knows
// every row's place from a running count of the rows without a day, and builds rows only for the
// notes in view (and one either side, so that Tab reaches the next row and scrolls it into view); a
// row scrolled away is dropped unless it holds the focus. Showing a workspace and following a
// change of its notes cost what the visible part costs, whatever the number of notes.
//
// A note removed with `setNotes(..., leaving)` leaves a picture of its row that fades and closes up
// on a spring between the rows that stay. No scroll bar shows; the wheel, the keys and the focus
// scroll it. Main thread only.
class TDNoteList : public QAbstractScrollArea {
public:
    static constexpr int padding = 8;
    static constexpr int rowSpacing = 7;
    static constexpr int scrollStep = 20;
    // Room kept between a row that takes the focus and the edge of the view.
    static constexpr int focusMargin = 8;

    // Makes the row of a note, a child of `parent`, with its actions.
    using RowFactory = std::function<TDNoteItem*(const std::shared_ptr<TDNote>& note, QWidget* parent)>;

    TDNoteList(RowFactory makeRow, double removalSpringResponse, QWidget* parent = nullptr);
    ~TDNoteList() override;

    struct Entry {
        std::shared_ptr<TDNote> note;
        // Whether its row shows a day (TDNoteItem::showsDay of its date).
        bool showsDay = true;
        bool operator==(const Entry&) const = default;
    };

    // Follows a new list of notes, in the order shown. Rows of notes kept stay (with their focus);
    // the rows of the notes in `leaving` that are gone close up on a spring.
    void setNotes(std::vector<Entry> notes, const std::unordered_set<platform::Uuid>& leaving = {});
    // One note put in, taken out or moved, the others keeping their order and their rows: a change
    // that costs what the rows in view cost.
    enum class Removal { atOnce, closingUp };
    void insertNote(int index, Entry entry);
    void removeNote(int index, Removal removal);
    // Moves the note at `from` to stand at `to` among the notes as they are after the move.
    void moveNote(int from, int to, bool showsDay);
    int count() const { return static_cast<int>(m_notes.size()); }
    // The notes in the order shown.
    const std::vector<Entry>& entries() const { return m_notes; }

    // The rows that exist now, in the order shown.
    std::vector<TDNoteItem*> rows() const;
    // Where the row of `index` lies in the list's content (not scrolled), once any removal has
    // closed up.
    QRect rowRect(int index) const;
    // Shows the row of `index` with the focus margin around it.
    void ensureVisible(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;

private:
    // A removed row's place while it closes up: rows from `index` on stand `extent()` lower.
    struct Gap {
        int index;
        int travel;
        double progress = 0;
        QPointer<TDSpringGhost> ghost;
        std::unique_ptr<TDSpringAnimation> spring;
        int extent() const;
    };

    // Follows a change of the notes: `placeOf` gives where the note of an old index now stands
    // (-1 once gone), `leaves` whether a gone note's row closes up on a spring, and `store` puts the
    // new notes in place.
    void rearrange(const std::function<int(int)>& placeOf, const std::function<bool(int)>& leaves,
        const std::function<void()>& store);
    // Counts again the notes without a day before each index from `index` on.
    void recountFrom(int index);
    int rowWidth() const { return std::max(0, viewport()->width() - 2 * padding); }
    int heightOf(int index) const;
    // The row's place in the content with no removal under way.
    int baseTop(int index) const;
    // The last row whose place is at or above `y`, leaving removals aside.
    int indexAt(int y) const;
    int gapsBefore(int index) const;
    int totalGaps() const;
    int contentHeight() const;
    // The row's place in the content, gaps included.
    int shownTop(int index) const;
    TDNoteItem* makeRow(int index);
    // Measures a row of each kind the list holds, at the current width.
    void measureRowHeights();
    int measure(bool showsDay);
    static int heightOfRow(TDNoteItem* row, int width);
    // A row fills in its texts only after the render that built it: its kind's height is taken
    // again from the rows as they settle.
    void followRowHeights();
    void updateScrollBar();
    void layoutRows();
    // Gives the keys to the row now at `place`, or to what follows the list when no row is left.
    void handOnFocus(int place, Qt::FocusReason reason);

    RowFactory m_makeRow;
    const double m_removalResponse;
    std::vector<Entry> m_notes;
    // How many of the notes before each index show no day; one entry more than the notes.
    std::vector<int> m_withoutDayBefore { 0 };
    // By index in `m_notes`.
    std::map<int, QPointer<TDNoteItem>> m_rows;
    std::vector<std::unique_ptr<Gap>> m_gaps;
    int m_datedHeight = 0;
    int m_undatedHeight = 0;
    int m_measuredWidth = -1;
    bool m_laying = false;
    bool m_tabOrderStale = false;
};
