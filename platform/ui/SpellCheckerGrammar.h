#pragma once

#include "platform/ui/SpellChecker.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

// English grammar through link-grammar: a sentence that has no complete parse is marked as a
// whole. The engine offers no corrections, so none are given.
class GrammarChecker {
public:
    // Sentences longer than this are not checked: parsing time grows steeply with length.
    static constexpr int maxWordsPerSentence = 40;
    // Shorter sentences are mostly headings and fragments, which would be marked wrongly.
    static constexpr int minWordsPerSentence = 3;

    GrammarChecker();
    ~GrammarChecker();
    GrammarChecker(const GrammarChecker&) = delete;
    GrammarChecker& operator=(const GrammarChecker&) = delete;

    // Whether the English dictionary is installed; loads it on the first call.
    bool isAvailable();

    // The sentences of text[start, start + length) that look like English prose (a capital at the
    // start, a full stop, question or exclamation mark at the end) and do not parse.
    std::vector<TextCheckingResult> check(const QString& text, qsizetype start, qsizetype length);

private:
    bool loadLocked();
    // Whether the sentence parses; no value when the engine gave up on it.
    std::optional<bool> parsesLocked(const QString& sentence);

    // link-grammar's dictionary and options are not shared between concurrent parses; the lock is
    // held for one sentence at a time.
    std::mutex m_mutex;
    bool m_loadAttempted = false;
    std::atomic<int> m_availability { -1 }; // -1 not loaded yet, 0 missing, 1 loaded
    void* m_dictionary = nullptr;
    void* m_options = nullptr;
};

} // namespace platform
