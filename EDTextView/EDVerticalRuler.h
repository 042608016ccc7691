#pragma once

// What the text view needs of the ruler beside it: after every viewport layout the view calls
// `invalidateHashMarks`, and the ruler rebuilds what it shows of the visible lines. A ruler widget
// given to `EDTextView::setVerticalRulerView` that also implements this interface is told so.
class EDVerticalRuler {
public:
    virtual ~EDVerticalRuler() = default;
    virtual void invalidateHashMarks() = 0;
};
