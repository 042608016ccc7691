#pragma once

#include "app/screens/common/TDApplicationFilter.h"

#include <QPointer>

#include <map>

class QWidget;

// Keeps a held key's repeats in the window where the key went down. Return held on a note row
// opens the note, and the repeats would then type blank lines into it; Escape held on a sheet
// closes it, and the repeats would then close the window under it. A repeat that reaches another
// window is dropped, shortcuts included; the next real press there acts as usual.
class TDKeyRepeat : public TDApplicationFilter {
    Q_OBJECT
public:
    using TDApplicationFilter::TDApplicationFilter;

protected:
    bool filterEvent(QObject* watched, QEvent* event) override;

private:
    // The window each key went down in, by key code.
    std::map<int, QPointer<QWidget>> m_downIn;
    // When each key last came up, by key code. The window system's repeat is a release and a press
    // at one time; when the focus moves between the two, the toolkit does not mark the press as a
    // repeat, so the shared time tells it.
    std::map<int, quint64> m_upAt;
};
