#pragma once

class EDTextView;

namespace EDTextViewUI {

// Shows the line-number ruler beside `view`, with the selected line's number highlighted and
// markers allowed, and makes the rulers visible.
//
// ADAPTER: the line-number ruler (EDLineNumberRulerView, with EDTextView::setIsRulerVisible) is
// being added to the text view on its own branch. Until it is merged this does nothing and the note
// editor shows its text without numbers; LineNumbers.cpp holds the body to put in then.
void showLineNumbers(EDTextView& view);

} // namespace EDTextViewUI
