#pragma once

#include <QtGlobal>

#include <optional>

class QMouseEvent;

// Tells the click that opens something (a file in its application, a link in the browser) from
// the extra clicks of a double or triple click, which would open it again: a press that comes as a
// double click, or within the double-click interval of the press that opened, opens nothing.
class TDOpeningClick {
public:
    // On each press (a double click's comes as one): whether it starts a click that opens.
    bool press(const QMouseEvent* event);
    // On the release, `inside` the control or not: whether it ends a press that opens.
    bool release(bool inside);

private:
    std::optional<quint64> m_pressedAt;
    std::optional<quint64> m_opened;
};
