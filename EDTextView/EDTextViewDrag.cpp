#include "EDTextView/EDTextView.h"

// Dragging the selected text out of the view hooks in here: a press inside the selection may
// start a drag instead of a click, and the moves and the release that follow belong to it. Until
// dragging is built, every press is an ordinary click.

bool EDTextView::dragSelectedTextMousePressed(QMouseEvent*)
{
    return false;
}

bool EDTextView::dragSelectedTextMouseMoved(QMouseEvent*)
{
    return false;
}

bool EDTextView::dragSelectedTextMouseReleased(QMouseEvent*)
{
    return false;
}
