#pragma once

#include "app/screens/common/TDApplicationFilter.h"

#include <QObject>
#include <QPoint>

#include <optional>

class QMouseEvent;

// Tells the click that opens something (a project's page, a note's window, a file in its
// application, a link in the browser) from the extra clicks of a double or triple click, which
// would open it again: a press that comes as a double click, or within the double-click interval
// of the press that opened, opens nothing.
class TDOpeningClick {
public:
    // On each press (a double click's comes as one): whether it starts a click that opens.
    bool press(const QMouseEvent* event);
    // On the release, `inside` the control or not: whether it ends a press that opens.
    bool release(bool inside);

    // Whether `event`, a press, belongs to the multiple click whose first click opened something
    // anywhere in the program: soon after it, at the same place.
    static bool isExtraClick(const QMouseEvent* event);

    // Keeps those extra clicks from whatever took the opening control's place under the pointer:
    // a double click on a project card would otherwise open the note whose row comes under it.
    class Filter : public TDApplicationFilter {
    public:
        using TDApplicationFilter::TDApplicationFilter;

    protected:
        bool filterEvent(QObject* watched, QEvent* event) override;

    private:
        // The button of a press taken away, whose release goes too.
        std::optional<int> m_swallowed;
    };

private:
    struct Press {
        quint64 at;
        QPoint global;
    };
    static inline std::optional<Press> s_lastOpening;
    std::optional<Press> m_pressed;
    std::optional<quint64> m_opened;
};
