#pragma once

class EDTextView;

namespace EDTextViewUI {

// Shows the line-number ruler beside `view`, with the selected line's number highlighted and
// markers allowed, and makes the rulers visible.
//
// ADAPTER: the line-number ruler is being added to the text view on its own branch. When it lands,
// this becomes the one call that turns it on; until then it does nothing, and the note editor
// shows its text without numbers.
void showLineNumbers(EDTextView& view);

} // namespace EDTextViewUI
