#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Hunspell;

namespace platform {

class DictionaryEncoder;
class GrammarChecker;

// What a check looks for; values combine as a bit set.
enum class TextCheckingType : unsigned { spelling = 1u << 1, grammar = 1u << 2 };
using TextCheckingTypes = unsigned;
constexpr TextCheckingTypes allTextCheckingTypes
    = unsigned(TextCheckingType::spelling) | unsigned(TextCheckingType::grammar);

// One finding of a check, over UTF-16 offsets of the checked string.
struct TextCheckingResult {
    TextCheckingType type = TextCheckingType::spelling;
    qsizetype start = 0;
    qsizetype length = 0;
    // Grammar only: what is wrong, and the corrections the engine offers (often none).
    QString description;
    QStringList corrections;
    bool operator==(const TextCheckingResult&) const = default;
};

// The spelling and grammar service of the desktop: hunspell dictionaries for spelling, link-grammar
// for English grammar, a personal word list kept between runs, and per-document ignored words.
//
// Every member may be called from any thread: the text-checking controller checks on a worker so
// that typing never waits, while menus ask for guesses on the main thread. A long check lets go of
// the dictionary between any two words when another caller waits for it, so it never keeps that
// caller waiting for long.
class SpellChecker {
public:
    // Identifies a document whose ignored words are kept apart from every other document's.
    using DocumentTag = qint64;
    static constexpr DocumentTag noDocument = 0;

    struct Configuration {
        // Folders searched for hunspell dictionaries (NAME.aff with NAME.dic).
        QStringList dictionaryDirectories { QStringLiteral("/usr/share/hunspell"),
            QStringLiteral("/usr/share/myspell"), QStringLiteral("/usr/share/myspell/dicts") };
        // The personal word list; empty: "spelling/learned-words.txt" in the user's data folder.
        QString personalWordListPath;
        // The language to check; empty: chosen from the system locale (see `language`).
        QString language;
    };

    // The process-wide checker, made on first use with the default configuration.
    static SpellChecker& shared();
    // The configuration of the process-wide checker: the language the user chose last, if any.
    static Configuration defaultConfiguration();
    // Keeps the language the user chose, for the checker of the next run.
    static void rememberLanguage(const QString& language);

    SpellChecker();
    explicit SpellChecker(Configuration configuration);
    ~SpellChecker();
    SpellChecker(const SpellChecker&) = delete;
    SpellChecker& operator=(const SpellChecker&) = delete;

    // The installed dictionaries, as language names such as "en_US", sorted.
    QStringList availableLanguages() const;
    // The language checked: the one set, else the system locale's when a dictionary for it is
    // installed, else one for the locale's language, else "en_US", else the first installed.
    // Empty when no dictionary is installed at all; then every word passes.
    QString language() const;
    // Chooses the language; false (and nothing changes) when no dictionary for it is installed.
    bool setLanguage(const QString& language);

    DocumentTag uniqueSpellDocumentTag();
    // Forgets the words ignored in that document.
    void closeSpellDocument(DocumentTag tag);

    // Checks the words (and, for English, the sentences) of `text` that lie in [start, start +
    // length), and returns the findings in text order. Words holding digits and the words of web
    // addresses and e-mail addresses are not checked.
    std::vector<TextCheckingResult> check(const QString& text, qsizetype start, qsizetype length,
        TextCheckingTypes types, DocumentTag tag = noDocument) const;
    std::vector<TextCheckingResult> check(
        const QString& text, TextCheckingTypes types, DocumentTag tag = noDocument) const
    {
        return check(text, 0, text.size(), types, tag);
    }

    // The first misspelt word at or after `from`, searching on from the start when `wrap` is set;
    // a zero-length result at `text.size()` when there is none.
    TextCheckingResult nextMisspelling(
        const QString& text, qsizetype from, bool wrap, DocumentTag tag = noDocument) const;

    // Tells the words whose verdict learning, ignoring or unlearning one word can change: those
    // the same but for case (the dictionary takes a learnt word capitalised or in capitals, and
    // "SS" for "ß"), typographic apostrophes, soft hyphens and decomposed letters.
    class SameWord {
    public:
        explicit SameWord(const QString& word);
        bool matches(QStringView other) const;

    private:
        static QString keyOf(QStringView word);
        QString m_key;
        bool m_keyIsAscii = false;
    };

    // A place of a word in a text, and whether the word is misspelt there.
    struct Occurrence {
        qsizetype start = 0;
        qsizetype length = 0;
        bool misspelt = false;
    };
    // The words of `text` that are `word` as `SameWord` tells, where `check` would look at them:
    // only those are looked up in the dictionary.
    std::vector<Occurrence> occurrencesOf(
        const QString& word, const QString& text, DocumentTag tag = noDocument) const;

    bool isCorrect(const QString& word, DocumentTag tag = noDocument) const;
    // How many words were looked up so far: what a check costs, for tests and benchmarks.
    quint64 lookUpCount() const;
    // The dictionary's suggestions for a word, best first.
    QStringList guesses(const QString& word) const;

    // Whether grammar can be checked in the current language (English only, when link-grammar's
    // dictionary is installed). Loading it takes a moment the first time.
    bool isGrammarCheckingAvailable() const;

    // Adds a word to the personal word list and saves the list; the word is correct in every
    // language from now on, and after a restart. Fails when the list could not be saved (the word
    // is still learnt for this run), and refuses a word with a line break in it.
    Result<Success, PlatformError> learnWord(const QString& word);
    Result<Success, PlatformError> unlearnWord(const QString& word);
    bool hasLearnedWord(const QString& word) const;
    QStringList learnedWords() const;

    void ignoreWord(const QString& word, DocumentTag tag);
    QStringList ignoredWords(DocumentTag tag) const;
    void setIgnoredWords(const QStringList& words, DocumentTag tag);

    const QString& personalWordListPath() const { return m_personalWordListPath; }

    // The user's own choices that text views read when they first need them; off unless the user
    // turned them on. Kept in the user defaults.
    static bool isAutomaticTextCompletionEnabled();
    static bool isAutomaticSpellingCorrectionEnabled();
    static bool isAutomaticTextReplacementEnabled();
    static bool isAutomaticQuoteSubstitutionEnabled();
    // Stores a choice the user made in a view, for the views made from then on.
    static void setAutomaticTextCompletionEnabled(bool enabled);
    static void setAutomaticSpellingCorrectionEnabled(bool enabled);
    static void setAutomaticQuoteSubstitutionEnabled(bool enabled);

    // Tells the spelling panels to show the current state again: posts `panelsNeedUpdate` to the
    // default notification center, with this checker as sender.
    void updatePanels();
    static inline const QString panelsNeedUpdate = QStringLiteral("SpellCheckerPanelsNeedUpdate");

private:
    enum class Verdict { correct, misspelt };
    // How many words a long check looks up per taking of the lock.
    static constexpr size_t wordsPerLock = 64;

    // Loads the dictionary of the current language if needed. Called with `m_mutex` held.
    Hunspell* dictionaryLocked() const;
    // Adds a learnt word to a loaded UTF-8 dictionary unless it knows the word already. Called with
    // `m_mutex` held.
    void addLearnedWordLocked(const QString& word) const;
    // The dictionary's own suggestions for a normalised word. Called with `m_mutex` held.
    QStringList guessesLocked(Hunspell* dictionary, const QString& candidate) const;
    // The verdict on a word in UTF-8, normalised. Called with `m_mutex` held.
    Verdict verdictLocked(const std::string& utf8, DocumentTag tag) const;
    // Calls `found(start, length)` with each misspelt word of text[start, end), in order, until it
    // answers false. The lock is held a group of words at a time, and let go to a waiting caller.
    template<typename Found>
    void forEachMisspelling(
        const QString& text, qsizetype start, qsizetype end, DocumentTag tag, Found found) const;
    // Takes `m_mutex` for a caller other than a long check, which then lets it in between words.
    std::unique_lock<std::mutex> lockAsCaller() const;
    Result<Success, PlatformError> savePersonalWordList();
    // Called with `m_saveMutex` held.
    Result<Success, PlatformError> writePersonalWordList();
    void loadPersonalWordList();
    QString chooseLanguage(const QString& requested) const;

    const Configuration m_configuration;
    QString m_personalWordListPath;

    // Guards everything below it; held for one change, or for a few dozen words of a check.
    mutable std::mutex m_mutex;
    mutable std::atomic<int> m_waiters { 0 };
    QString m_language;
    mutable std::unique_ptr<Hunspell> m_dictionary;
    mutable bool m_dictionaryLoaded = false;
    // The dictionary's own encoding when not UTF-8, and what converts words to it; with scratch
    // space for the converted word.
    mutable QByteArray m_dictionaryEncoding;
    mutable std::unique_ptr<DictionaryEncoder> m_encoder;
    mutable std::string m_encoded;
    QSet<QString> m_learned;
    // The learnt words added to the loaded dictionary, the only ones it may be asked to remove.
    mutable QSet<QString> m_addedToDictionary;
    mutable quint64 m_lookUps = 0;
    // Normalised words in UTF-8, as a check has them at hand.
    QHash<DocumentTag, QSet<QByteArray>> m_ignored;

    // Orders saves of the personal word list, so the file always ends with the newest list.
    std::mutex m_saveMutex;
    bool m_personalListUnreadable = false; // guarded by m_saveMutex after construction
    std::atomic<DocumentTag> m_nextTag { 1 };
    std::unique_ptr<GrammarChecker> m_grammar;
};

} // namespace platform
