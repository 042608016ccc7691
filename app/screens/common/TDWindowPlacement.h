#pragma once

class QWidget;

// Moves the top-level `window` (not shown yet) so that it is centred on `over`, kept inside the
// available area of `over`'s screen, rather than wherever the window manager would put it.
void tdCentreWindow(QWidget* window, const QWidget* over);
