#pragma once

#include "platform/text/TextContentStorage.h"

// The text view's content storage. After every replacement it tidies the selections of each of
// its layout managers (a selection listed twice, or a range listed twice in one selection, is kept
// once) and assigns them again, so each replacement announces one selection change per manager.
class EDTextContentStorage : public platform::TextContentStorage {
    Q_OBJECT
public:
    explicit EDTextContentStorage(QObject* parent = nullptr);

    void replaceCharacters(platform::TextRange range, const platform::AttributedString& replacement) override;
    // The whole text replaced by one handed over, in one run of `attributes`, as
    // `replaceCharacters` over the document would replace it.
    void replaceAllCharacters(platform::TextBlocks&& text, const platform::TextAttributes& attributes);

private:
    void tidySelections();
};
