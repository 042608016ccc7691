#pragma once

class EDTextView;

namespace EDTextViewUI {

// Shows the line-number ruler beside `view`, with the selected line's number highlighted and
// markers allowed, and makes the rulers visible.
void showLineNumbers(EDTextView& view);

} // namespace EDTextViewUI
