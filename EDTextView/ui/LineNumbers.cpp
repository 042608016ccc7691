#include "EDTextView/ui/LineNumbers.h"

#include "EDTextView/EDTextView.h"

namespace EDTextViewUI {

void showLineNumbers(EDTextView& view)
{
    // ADAPTER: once the ruler is merged, include "EDTextView/EDLineNumberRulerView.h" and
    // "platform/ui/RulerView.h", and replace this body with:
    //     auto* ruler = new EDLineNumberRulerView(view);
    //     ruler->setHighlightSelectedLine(true);
    //     ruler->setAllowsMarkers(true);
    //     platform::RulerView::setVerticalRuler(view, ruler);
    //     view.setIsRulerVisible(true);
    (void)view;
}

} // namespace EDTextViewUI
