#pragma once

class QWidget;

// A row or entry drawn as a plain widget that opens something on Return or Space. A screen reader
// would otherwise hear it as a bare pane; this makes it a button whose press action does what
// Space does.
namespace tdpressable {

void mark(QWidget* widget);

} // namespace tdpressable
