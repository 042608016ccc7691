#include "EDTextView/EDTextFinderClient.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/AttributedString.h"
#include "platform/text/TextContentStorage.h"

void EDTextFinderClient::replaceCharacters(platform::CharacterRange range, const QString& string)
{
    if (!textView)
        return;
    const auto textRange = edtextview::textRange(range, textView->textContentStorage());
    if (!textRange || !textView->shouldChangeText(*textRange, string))
        return;
    textView->replaceCharacters(*textRange,
        platform::AttributedString(string, textView->typingAttributes(textRange->location)), false);
}

void EDTextFinderClient::scrollRangeToVisible(platform::CharacterRange range)
{
    if (!textView)
        return;
    if (const auto textRange = edtextview::textRange(range, textView->textContentStorage()))
        textView->scrollTextRangeToVisible(*textRange);
}

void EDTextFinderClient::noteClientStringWillChange()
{
}
