#include "EDTextView/ui/LineNumbers.h"

#include "EDTextView/EDTextView.h"

namespace EDTextViewUI {

void showLineNumbers(EDTextView& view)
{
    // ADAPTER: connect to the text view's line-number ruler here.
    (void)view;
}

} // namespace EDTextViewUI
