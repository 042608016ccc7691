#pragma once

class QWidget;

// Places the top-level `window` (not shown yet) centred on `over`, or on the primary screen when
// there is no window to open over, so that it lies whole, frame included, inside the available area
// of that screen: shrunk where it is larger (never below its minimum size), moved in from the edges.
// The frame the window manager will add is taken to be that of `over` (a typical title bar without one). A
// `cascade` of n moves the window n steps down and right from the centre (up and left where the screen ends),
// so that windows opened one after another do not hide each other.
void tdCentreWindow(QWidget* window, const QWidget* over, int cascade = 0);
