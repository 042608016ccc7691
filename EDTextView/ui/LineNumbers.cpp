#include "EDTextView/ui/LineNumbers.h"

#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDTextView.h"
#include "platform/ui/RulerView.h"

namespace EDTextViewUI {

void showLineNumbers(EDTextView& view)
{
    auto* ruler = new EDLineNumberRulerView(view);
    ruler->setHighlightSelectedLine(true);
    ruler->setAllowsMarkers(true);
    platform::RulerView::setVerticalRuler(view, ruler);
    view.setIsRulerVisible(true);
}

} // namespace EDTextViewUI
