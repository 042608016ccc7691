#pragma once

#include "platform/text/TextRange.h"

#include <QPointer>
#include <QString>

class EDTextView;

// What find and replace act on: the text view, by character ranges. Each operation does nothing
// when the view is gone or the range lies outside its text.
class EDTextFinderClient {
public:
    QPointer<EDTextView> textView;

    // Replaces the range as a user edit: the view's delegate and plug-ins may refuse it; the new
    // text takes the attributes of the text it replaces and is one undo step of its own.
    void replaceCharacters(platform::CharacterRange range, const QString& string);
    // Scrolls the view so that the range's text is visible.
    void scrollRangeToVisible(platform::CharacterRange range);
    // Told before every edit while incremental searching is on; incremental find uses it to drop
    // the matches it showed.
    void noteClientStringWillChange();
};
