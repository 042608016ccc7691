#include "EDTextView/EDTextContentStorage.h"

#include "platform/text/TextLayoutManager.h"

#include <algorithm>

using platform::TextRange;
using platform::TextSelection;

EDTextContentStorage::EDTextContentStorage(QObject* parent)
    : platform::TextContentStorage(parent)
{
}

void EDTextContentStorage::replaceCharacters(TextRange range, const platform::AttributedString& replacement)
{
    platform::TextContentStorage::replaceCharacters(range, replacement);
    tidySelections();
}

void EDTextContentStorage::replaceAllCharacters(
    platform::TextBlocks&& text, const platform::TextAttributes& attributes)
{
    setString(std::move(text), attributes);
    tidySelections();
}

void EDTextContentStorage::tidySelections()
{
    // A copy: assigning the selections may make a manager go away in a handler.
    const std::vector<platform::TextLayoutManager*> managers = textLayoutManagers();
    for (platform::TextLayoutManager* manager : managers) {
        std::vector<TextSelection> kept;
        for (const TextSelection& selection : manager->textSelections()) {
            // Equal single-range selections are merged when they are assigned; only selections of
            // several ranges are compared here, so many carets stay cheap.
            const bool duplicate = selection.textRanges.size() > 1
                && std::any_of(kept.begin(), kept.end(),
                    [&](const TextSelection& other) { return other.textRanges == selection.textRanges; });
            if (duplicate)
                continue;
            TextSelection tidied = selection;
            tidied.textRanges.clear();
            for (const TextRange& each : selection.textRanges) {
                if (std::find(tidied.textRanges.begin(), tidied.textRanges.end(), each)
                    == tidied.textRanges.end())
                    tidied.textRanges.push_back(each);
            }
            kept.push_back(std::move(tidied));
        }
        manager->setTextSelections(std::move(kept));
    }
}
