#include "platform/ui/SpellChecker.h"

#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Print.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/SpellCheckerGrammar.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <hunspell.hxx>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>

namespace platform {

namespace {

constexpr std::int64_t maxPersonalWordListBytes = 16 << 20;
// Hunspell refuses longer words anyway; checking them only costs time.
constexpr qsizetype maxWordLength = 100;

// Marks where a word may be hyphenated at a line end, and is no part of its spelling: text from web
// pages and PDF files has it inside words.
constexpr char16_t softHyphen = 0x00AD;

// Whether `word` holds a combining mark, which may be one half of a letter that dictionaries and the
// learnt words keep composed ("ö" as one character, not "o" and U+0308, as some sources paste it).
bool holdsCombiningMark(QStringView word)
{
    for (const QChar c : word)
        if (c.unicode() >= 0x300 && c.isMark())
            return true;
    return false;
}

// The edits (insertions, deletions, substitutions and swaps of neighbours) that turn one word into
// the other, ignoring case.
qsizetype editDistance(const QString& a, const QString& b)
{
    const QString x = a.toLower(), y = b.toLower();
    std::vector<std::vector<qsizetype>> d(size_t(x.size()) + 1, std::vector<qsizetype>(size_t(y.size()) + 1));
    for (qsizetype i = 0; i <= x.size(); ++i)
        d[i][0] = i;
    for (qsizetype j = 0; j <= y.size(); ++j)
        d[0][j] = j;
    for (qsizetype i = 1; i <= x.size(); ++i) {
        for (qsizetype j = 1; j <= y.size(); ++j) {
            const qsizetype cost = x[i - 1] == y[j - 1] ? 0 : 1;
            d[i][j] = std::min({ d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost });
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[x.size()][y.size()];
}

QString normalizedWord(QString word)
{
    // Dictionaries spell apostrophes straight; typed text often has the typographic one.
    word.replace(QChar(0x2019), QLatin1Char('\''));
    word.remove(QChar(softHyphen));
    return holdsCombiningMark(word) ? word.normalized(QString::NormalizationForm_C) : word;
}

char32_t codePointAt(const char16_t* text, qsizetype i, qsizetype size, int& units)
{
    const char16_t c = text[i];
    units = 1;
    if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1])) {
        units = 2;
        return QChar::surrogateToUcs4(c, text[i + 1]);
    }
    return c;
}

bool isWordCodePoint(char32_t c)
{
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

bool startsWord(char32_t c)
{
    return QChar::isLetterOrNumber(c);
}

bool isApostrophe(char16_t c)
{
    return c == u'\'' || c == 0x2019;
}

// Scripts written without spaces between words: a run of them is not one word, and no dictionary
// here knows them, so they are left alone rather than marked.
bool isUnspacedScript(char32_t c)
{
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Hangul:
    case QChar::Script_Thai:
    case QChar::Script_Lao:
    case QChar::Script_Khmer:
    case QChar::Script_Myanmar:
        return true;
    default:
        return false;
    }
}

// Writes `word` in UTF-8 to `out`, which has room for three bytes a unit, with typographic
// apostrophes made straight, as dictionaries spell them. Answers the bytes written.
size_t utf8Of(QStringView word, char* out)
{
    char* to = out;
    const char16_t* units = word.utf16();
    const qsizetype size = word.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t c = units[i];
        if (c < 0x80) {
            *to++ = char(c);
            continue;
        }
        if (c == 0x2019) {
            *to++ = '\'';
            continue;
        }
        if (c == softHyphen)
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(units[i + 1]))
            c = QChar::surrogateToUcs4(char16_t(c), units[++i]);
        else if (QChar::isSurrogate(c))
            c = QChar::ReplacementCharacter;
        if (c < 0x800) {
            *to++ = char(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *to++ = char(0xE0 | (c >> 12));
            *to++ = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            *to++ = char(0xF0 | (c >> 18));
            *to++ = char(0x80 | ((c >> 12) & 0x3F));
            *to++ = char(0x80 | ((c >> 6) & 0x3F));
        }
        *to++ = char(0x80 | (c & 0x3F));
    }
    return size_t(to - out);
}

// `out` is scratch space reused from word to word: a checked word is written on the stack and
// copied in once, which reuses its capacity.
void wordToUtf8(QStringView word, std::string& out)
{
    if (holdsCombiningMark(word)) {
        const QString composed = word.toString().normalized(QString::NormalizationForm_C);
        out.resize(size_t(composed.size()) * 3);
        out.resize(utf8Of(composed, out.data()));
        return;
    }
    if (word.size() <= maxWordLength) {
        char bytes[3 * maxWordLength];
        out.assign(bytes, utf8Of(word, bytes));
        return;
    }
    out.resize(size_t(word.size()) * 3);
    out.resize(utf8Of(word, out.data()));
}

QByteArray wordKey(const QString& word)
{
    std::string utf8;
    wordToUtf8(word, utf8);
    return QByteArray::fromStdString(utf8);
}

// Converts between UTF-16 and a dictionary's 8-bit encoding with iconv.
QByteArray convert(const char* to, const char* from, QByteArrayView bytes, bool* ok)
{
    *ok = false;
    iconv_t converter = iconv_open(to, from);
    if (converter == iconv_t(-1))
        return {};
    QByteArray out(bytes.size() * 4 + 8, Qt::Uninitialized);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    char* outPointer = out.data();
    size_t outLeft = size_t(out.size());
    *ok = iconv(converter, &in, &inLeft, &outPointer, &outLeft) != size_t(-1) && inLeft == 0;
    iconv_close(converter);
    out.truncate(outPointer - out.data());
    return out;
}

bool isAddress(QStringView chunk)
{
    const qsizetype at = chunk.indexOf(QLatin1Char('@'));
    return chunk.contains(QLatin1String("://")) || chunk.startsWith(QLatin1String("www."))
        || (at > 0 && chunk.indexOf(QLatin1Char('.'), at) > at);
}

// Ranges of web and e-mail addresses in text[start, end): their words are not words of the text.
// A chunk between white space is an address when it holds "://", starts with "www.", or has an
// "@" after its first character with a "." somewhere after that "@". This runs for every range
// checked, so only the chunks around an "@", a ":" or a "w" are looked at, found with Qt's
// vectorised search for one character.
std::vector<std::pair<qsizetype, qsizetype>> addressRanges(
    const QString& text, qsizetype start, qsizetype end)
{
    const QStringView range = QStringView(text).sliced(start, end - start);
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    const auto chunkStart = [&](qsizetype at) {
        while (at > 0 && !range[at - 1].isSpace())
            --at;
        return at;
    };
    const auto chunkEnd = [&](qsizetype at) {
        while (at < range.size() && !range[at].isSpace())
            ++at;
        return at;
    };
    // Each answers where to search on from.
    const auto atSign = [&](qsizetype at) {
        const qsizetype from = chunkStart(at), to = chunkEnd(at);
        if (isAddress(range.sliced(from, to - from)))
            ranges.emplace_back(start + from, start + to);
        return to;
    };
    const auto colon = [&](qsizetype at) {
        if (!range.sliced(at).startsWith(QLatin1String("://")))
            return at + 1;
        const qsizetype to = chunkEnd(at);
        ranges.emplace_back(start + chunkStart(at), start + to);
        return to;
    };
    const auto letterW = [&](qsizetype at) {
        if ((at > 0 && !range[at - 1].isSpace()) || !range.sliced(at).startsWith(QLatin1String("www.")))
            return at + 1;
        const qsizetype to = chunkEnd(at);
        ranges.emplace_back(start + at, start + to);
        return to;
    };
    for (qsizetype at = range.indexOf(QLatin1Char('@')); at >= 0;
         at = range.indexOf(QLatin1Char('@'), atSign(at)))
        ;
    for (qsizetype at = range.indexOf(QLatin1Char(':')); at >= 0;
         at = range.indexOf(QLatin1Char(':'), colon(at)))
        ;
    for (qsizetype at = range.indexOf(QLatin1Char('w')); at >= 0;
         at = range.indexOf(QLatin1Char('w'), letterW(at)))
        ;
    std::sort(ranges.begin(), ranges.end());
    ranges.erase(std::unique(ranges.begin(), ranges.end()), ranges.end());
    return ranges;
}

// Letters and digits of ASCII, nearly all of most texts, by a table rather than Qt's.
enum AsciiClass : unsigned char { notWord = 0, asciiLetter = 1, asciiDigit = 2 };
constexpr std::array<unsigned char, 128> asciiClasses = [] {
    std::array<unsigned char, 128> classes {};
    for (char32_t c = 0; c < 128; ++c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            classes[c] = asciiLetter;
        else if (c >= '0' && c <= '9')
            classes[c] = asciiDigit;
    }
    return classes;
}();

// Calls `body` with each word of text[start, end) that should be checked; `body` answers false to
// stop. A word is a run of letters, digits and marks, with apostrophes inside it ("don't"); a range
// that begins or ends inside a word takes the whole word. Words with digits are not checked.
template<typename Body> void forEachWord(const QString& string, qsizetype start, qsizetype end, Body body)
{
    const char16_t* text = reinterpret_cast<const char16_t*>(string.constData());
    const qsizetype size = string.size();
    const auto isWordUnitAt = [&](qsizetype i) {
        const QChar c(text[i]);
        return c.isLetterOrNumber() || c.isMark() || c.isSurrogate() || isApostrophe(text[i])
            || text[i] == softHyphen;
    };
    const auto isWordAt = [&](qsizetype i) {
        int units = 1;
        return text[i] < 0x80 ? asciiClasses[text[i]] != notWord
                              : isWordCodePoint(codePointAt(text, i, size, units));
    };
    // Widening stops where no word short enough to check could still reach the range: a text with
    // no spaces (Thai, a pasted blob) is checked in pieces, and each must not scan all of it again.
    const qsizetype rangeStart = start, rangeEnd = end;
    const qsizetype earliest = std::max<qsizetype>(0, start - 2 * maxWordLength);
    const qsizetype latest = std::min(size, end + maxWordLength + 1);
    while (start > earliest && isWordUnitAt(start - 1))
        --start;
    while (end < latest && isWordUnitAt(end))
        ++end;
    // Words cut by those limits are not known whole: they are left to the range that holds them.
    const bool cutBefore = start > 0 && isWordUnitAt(start - 1);
    const bool cutAfter = end < size && isWordUnitAt(end);
    // Whether a word found after the cut in truth began before it: only marks, and apostrophes that
    // join what is around them, lie between the word and a letter before the cut. Runs of those are
    // short in any text but a contrived one.
    const auto beganBeforeTheCut = [&](qsizetype from) {
        qsizetype j = from - 1;
        while (j >= 0
            && (QChar::isMark(text[j])
                || ((isApostrophe(text[j]) || text[j] == softHyphen) && j + 1 < size && isWordAt(j + 1))))
            --j;
        if (j > 0 && QChar::isLowSurrogate(text[j]) && QChar::isHighSurrogate(text[j - 1]))
            --j;
        return j < start && j >= 0 && isWordAt(j);
    };
    if (start >= end)
        return;
    const auto addresses = addressRanges(string, start, end);
    size_t nextAddress = 0;
    qsizetype i = start;
    while (i < end) {
        int units = 1;
        // A mark only ever follows a letter: one after a symbol (the variation selector of an
        // emoji) starts no word.
        if (text[i] < 0x80 ? asciiClasses[text[i]] == notWord
                           : !startsWord(codePointAt(text, i, size, units))) {
            i += units;
            continue;
        }
        const qsizetype from = i;
        unsigned ascii = 0;
        bool hasLetter = false, hasDigit = false, unspaced = false;
        while (i < end) {
            if (text[i] < 0x80) {
                if (const unsigned char kind = asciiClasses[text[i]]) {
                    ascii |= kind;
                    ++i;
                    continue;
                }
            } else if (const char32_t c = codePointAt(text, i, size, units); isWordCodePoint(c)) {
                hasLetter = hasLetter || QChar::isLetter(c);
                hasDigit = hasDigit || QChar::isDigit(c);
                unspaced = unspaced || isUnspacedScript(c);
                i += units;
                continue;
            }
            // An apostrophe or a soft hyphen between two word characters belongs to the word.
            if ((isApostrophe(text[i]) || text[i] == softHyphen) && i + 1 < end && isWordAt(i + 1)) {
                ++i;
                continue;
            }
            break;
        }
        hasLetter = hasLetter || (ascii & asciiLetter);
        hasDigit = hasDigit || (ascii & asciiDigit);
        const qsizetype length = i - from;
        if (!hasLetter || hasDigit || unspaced || length > maxWordLength)
            continue;
        if (cutBefore && (from < rangeStart - maxWordLength || beganBeforeTheCut(from)))
            continue;
        if (cutAfter && from >= rangeEnd)
            continue;
        while (nextAddress < addresses.size() && addresses[nextAddress].second <= from)
            ++nextAddress;
        if (nextAddress < addresses.size() && addresses[nextAddress].first <= from)
            continue;
        if (!body(from, length))
            return;
    }
}

// Whether a loaded dictionary knows any of the first words its word list names. One that knows none
// was not read (an empty, cut or damaged file, an encoding iconv lacks): using it would mark every
// word of every text as misspelt.
bool knowsItsOwnWords(Hunspell& dictionary, const QString& wordListPath)
{
    // Some entries hold only in compounds or with an affix: enough are tried to meet a plain word.
    constexpr int wordsTried = 1000;
    QFile file(wordListPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The first line counts the words; each line after it is a word, then "/" and its flags.
    file.readLine(256);
    for (int tried = 0; tried < wordsTried && !file.atEnd(); ++tried) {
        QByteArray line = file.readLine(1024).trimmed();
        const qsizetype flags = line.indexOf('/');
        if (flags > 0)
            line.truncate(flags);
        // Morphological fields follow a space or a tab.
        const auto field
            = std::find_if(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
        line.truncate(field - line.begin());
        if (!line.isEmpty() && dictionary.spell(line.toStdString()))
            return true;
    }
    return false;
}

QString defaultPersonalWordListPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/spelling/learned-words.txt");
}

// The user's choices of substitutions, read by views as they first need them.
const QString textCompletionKey = QStringLiteral("AutomaticTextCompletionEnabled");
const QString spellingCorrectionKey = QStringLiteral("AutomaticSpellingCorrectionEnabled");
const QString quoteSubstitutionKey = QStringLiteral("AutomaticQuoteSubstitutionEnabled");
// The dictionary the user chose, such as "de_DE".
const QString languageKey = QStringLiteral("SpellCheckerLanguage");

bool userDefault(const QString& key)
{
    return UserDefaults::standard().integer(key).value_or(0) != 0;
}

void setUserDefault(const QString& key, bool enabled)
{
    // A choice that cannot be stored still holds in the view that made it.
    if (const auto stored = UserDefaults::standard().setInteger(key, enabled ? 1 : 0); stored.isFailure())
        printError(QStringLiteral("Could not keep the setting %1: %2").arg(key, stored.error().description));
}

} // namespace

// Converts words from UTF-8 to the encoding of an 8-bit dictionary. One converter stays open with
// the dictionary; it is used only under the checker's lock.
class DictionaryEncoder {
public:
    explicit DictionaryEncoder(const QByteArray& encoding)
        : m_converter(iconv_open(encoding.constData(), "UTF-8"))
    {
    }
    ~DictionaryEncoder()
    {
        if (m_converter != iconv_t(-1))
            iconv_close(m_converter);
    }
    DictionaryEncoder(const DictionaryEncoder&) = delete;
    DictionaryEncoder& operator=(const DictionaryEncoder&) = delete;

    bool isOpen() const { return m_converter != iconv_t(-1); }

    // False when the encoding is unknown or lacks one of the word's letters.
    bool encode(const std::string& utf8, std::string& out)
    {
        if (m_converter == iconv_t(-1))
            return false;
        iconv(m_converter, nullptr, nullptr, nullptr, nullptr);
        out.resize(utf8.size() * 4 + 8);
        char* in = const_cast<char*>(utf8.data());
        size_t inLeft = utf8.size();
        char* to = out.data();
        size_t outLeft = out.size();
        const bool ok = iconv(m_converter, &in, &inLeft, &to, &outLeft) != size_t(-1) && inLeft == 0
            && iconv(m_converter, nullptr, nullptr, &to, &outLeft) != size_t(-1);
        out.resize(size_t(to - out.data()));
        return ok;
    }

private:
    iconv_t m_converter;
};

SpellChecker& SpellChecker::shared()
{
    // Never destroyed: a worker may still be checking while the process exits.
    static SpellChecker* checker = new SpellChecker(defaultConfiguration());
    return *checker;
}

SpellChecker::Configuration SpellChecker::defaultConfiguration()
{
    Configuration configuration;
    // One no longer installed gives way to the locale's when the checker is made.
    if (const auto chosen = UserDefaults::standard().data(languageKey))
        configuration.language = QString::fromUtf8(*chosen);
    return configuration;
}

void SpellChecker::rememberLanguage(const QString& language)
{
    if (const auto stored = UserDefaults::standard().setData(languageKey, language.toUtf8());
        stored.isFailure())
        printError(
            QStringLiteral("Could not keep the spelling language: %1").arg(stored.error().description));
}

SpellChecker::SpellChecker()
    : SpellChecker(Configuration())
{
}

SpellChecker::SpellChecker(Configuration configuration)
    : m_configuration(std::move(configuration))
    , m_personalWordListPath(m_configuration.personalWordListPath.isEmpty()
              ? defaultPersonalWordListPath()
              : m_configuration.personalWordListPath)
    , m_grammar(std::make_unique<GrammarChecker>())
{
    m_language = chooseLanguage(m_configuration.language);
    loadPersonalWordList();
}

SpellChecker::~SpellChecker() = default;

QStringList SpellChecker::availableLanguages() const
{
    QStringList languages;
    for (const QString& directory : m_configuration.dictionaryDirectories) {
        const QDir folder(directory);
        for (const QFileInfo& affix : folder.entryInfoList({ QStringLiteral("*.aff") }, QDir::Files)) {
            const QString name = affix.completeBaseName();
            if (folder.exists(name + QStringLiteral(".dic")) && !languages.contains(name))
                languages.append(name);
        }
    }
    languages.sort();
    return languages;
}

QString SpellChecker::chooseLanguage(const QString& requested) const
{
    const QStringList available = availableLanguages();
    if (available.isEmpty())
        return {};
    if (!requested.isEmpty() && available.contains(requested))
        return requested;
    const QString locale = QLocale().name();
    if (available.contains(locale))
        return locale;
    const QString prefix = locale.section(QLatin1Char('_'), 0, 0);
    for (const QString& language : available) {
        if (language == prefix || language.startsWith(prefix + QLatin1Char('_')))
            return language;
    }
    if (available.contains(QStringLiteral("en_US")))
        return QStringLiteral("en_US");
    return available.first();
}

QString SpellChecker::language() const
{
    const std::unique_lock lock = lockAsCaller();
    return m_language;
}

bool SpellChecker::setLanguage(const QString& language)
{
    if (!availableLanguages().contains(language))
        return false;
    const std::unique_lock lock = lockAsCaller();
    if (language != m_language) {
        m_language = language;
        m_dictionary.reset();
        m_addedToDictionary.clear();
        m_encoder.reset();
        m_dictionaryEncoding.clear();
        m_dictionaryLoaded = false;
    }
    return true;
}

Hunspell* SpellChecker::dictionaryLocked() const
{
    if (m_dictionaryLoaded)
        return m_dictionary.get();
    m_dictionaryLoaded = true;
    if (m_language.isEmpty())
        return nullptr;
    for (const QString& directory : m_configuration.dictionaryDirectories) {
        const QString base = directory + QLatin1Char('/') + m_language;
        if (!QFileInfo::exists(base + QStringLiteral(".aff"))
            || !QFileInfo::exists(base + QStringLiteral(".dic")))
            continue;
        m_dictionary
            = std::make_unique<Hunspell>(QFile::encodeName(base + QStringLiteral(".aff")).constData(),
                QFile::encodeName(base + QStringLiteral(".dic")).constData());
        const QByteArray encoding = QByteArray::fromStdString(m_dictionary->get_dict_encoding()).toUpper();
        m_dictionaryEncoding = encoding == "UTF-8" || encoding == "UTF8" ? QByteArray() : encoding;
        if (!m_dictionaryEncoding.isEmpty())
            m_encoder = std::make_unique<DictionaryEncoder>(m_dictionaryEncoding);
        if ((m_encoder && !m_encoder->isOpen())
            || !knowsItsOwnWords(*m_dictionary, base + QStringLiteral(".dic"))) {
            printError(QStringLiteral("The spelling dictionary %1 could not be read; spelling is not "
                                      "checked in %2.")
                           .arg(base + QStringLiteral(".dic"), m_language));
            m_dictionary.reset();
            m_encoder.reset();
            m_dictionaryEncoding.clear();
            continue;
        }
        break;
    }
    if (m_dictionary && m_dictionaryEncoding.isEmpty()) {
        for (const QString& word : m_learned)
            addLearnedWordLocked(word);
    }
    return m_dictionary.get();
}

void SpellChecker::addLearnedWordLocked(const QString& word) const
{
    // Removing a word from hunspell forbids every entry of it, the dictionary's own included: only
    // words it did not know are added, so that only those are ever removed.
    const std::string utf8 = word.toUtf8().toStdString();
    if (m_dictionary->spell(utf8))
        return;
    m_dictionary->add(utf8);
    m_addedToDictionary.insert(word);
}

std::unique_lock<std::mutex> SpellChecker::lockAsCaller() const
{
    m_waiters.fetch_add(1, std::memory_order_relaxed);
    std::unique_lock lock(m_mutex);
    m_waiters.fetch_sub(1, std::memory_order_relaxed);
    return lock;
}

SpellChecker::DocumentTag SpellChecker::uniqueSpellDocumentTag()
{
    return m_nextTag.fetch_add(1);
}

void SpellChecker::closeSpellDocument(DocumentTag tag)
{
    const std::unique_lock lock = lockAsCaller();
    m_ignored.remove(tag);
}

SpellChecker::Verdict SpellChecker::verdictLocked(const std::string& utf8, DocumentTag tag) const
{
    ++m_lookUps;
    if (!m_ignored.isEmpty()) {
        if (const auto ignored = m_ignored.constFind(tag); ignored != m_ignored.cend()
            && ignored->contains(QByteArray::fromRawData(utf8.data(), qsizetype(utf8.size()))))
            return Verdict::correct;
    }
    Hunspell* dictionary = dictionaryLocked();
    if (!dictionary)
        return Verdict::correct;
    if (!m_encoder) {
        // Learnt words were added to a UTF-8 dictionary when it was loaded or when learnt.
        return dictionary->spell(utf8) ? Verdict::correct : Verdict::misspelt;
    }
    // Letters the language does not have make a word misspelt, unless it was learnt.
    if (m_encoder->encode(utf8, m_encoded) && dictionary->spell(m_encoded))
        return Verdict::correct;
    return m_learned.contains(QString::fromUtf8(utf8.data(), qsizetype(utf8.size()))) ? Verdict::correct
                                                                                      : Verdict::misspelt;
}

template<typename Found>
void SpellChecker::forEachMisspelling(
    const QString& text, qsizetype start, qsizetype end, DocumentTag tag, Found found) const
{
    // Words are found without the lock, then checked a group at a time under it: one lock for
    // many words, and none held while scanning text that has no words.
    std::array<std::pair<qsizetype, qsizetype>, wordsPerLock> words;
    size_t count = 0;
    bool stopped = false;
    std::string buffer;
    const auto checkWords = [&] {
        std::unique_lock lock(m_mutex);
        for (size_t k = 0; k < count && !stopped; ++k) {
            // Callers waiting for the lock (a menu asking about one word) go first: the check goes
            // on once they have it.
            if (m_waiters.load(std::memory_order_relaxed) > 0) {
                lock.unlock();
                while (m_waiters.load(std::memory_order_relaxed) > 0)
                    std::this_thread::yield();
                lock.lock();
            }
            const auto [from, length] = words[k];
            wordToUtf8(QStringView(text).sliced(from, length), buffer);
            if (verdictLocked(buffer, tag) == Verdict::misspelt)
                stopped = !found(from, length);
        }
        count = 0;
    };
    forEachWord(text, start, end, [&](qsizetype from, qsizetype length) {
        words[count++] = { from, length };
        if (count == words.size())
            checkWords();
        return !stopped;
    });
    if (count > 0)
        checkWords();
}

std::vector<TextCheckingResult> SpellChecker::check(
    const QString& text, qsizetype start, qsizetype length, TextCheckingTypes types, DocumentTag tag) const
{
    start = std::clamp<qsizetype>(start, 0, text.size());
    length = std::clamp<qsizetype>(length, 0, text.size() - start);
    std::vector<TextCheckingResult> results;
    if (types & unsigned(TextCheckingType::spelling)) {
        forEachMisspelling(text, start, start + length, tag, [&](qsizetype from, qsizetype wordLength) {
            results.push_back({ TextCheckingType::spelling, from, wordLength, {}, {} });
            return true;
        });
    }
    if ((types & unsigned(TextCheckingType::grammar)) && language().startsWith(QLatin1String("en"))) {
        std::vector<TextCheckingResult> grammar = m_grammar->check(text, start, length);
        if (!grammar.empty()) {
            results.insert(results.end(), std::make_move_iterator(grammar.begin()),
                std::make_move_iterator(grammar.end()));
            std::stable_sort(results.begin(), results.end(),
                [](const TextCheckingResult& a, const TextCheckingResult& b) { return a.start < b.start; });
        }
    }
    return results;
}

TextCheckingResult SpellChecker::nextMisspelling(
    const QString& text, qsizetype from, bool wrap, DocumentTag tag) const
{
    from = std::clamp<qsizetype>(from, 0, text.size());
    TextCheckingResult found { TextCheckingType::spelling, text.size(), 0, {}, {} };
    const auto search = [&](qsizetype start, qsizetype end) {
        bool hit = false;
        forEachMisspelling(text, start, end, tag, [&](qsizetype wordStart, qsizetype wordLength) {
            // The word the search starts inside of is not the next one.
            if (wordStart < start)
                return true;
            found.start = wordStart;
            found.length = wordLength;
            hit = true;
            return false;
        });
        return hit;
    };
    if (!search(from, text.size()) && wrap)
        search(0, from);
    return found;
}

SpellChecker::SameWord::SameWord(const QString& word)
    : m_key(keyOf(normalizedWord(word.trimmed())))
{
    m_keyIsAscii = std::all_of(m_key.cbegin(), m_key.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

QString SpellChecker::SameWord::keyOf(QStringView word)
{
    QString key = normalizedWord(word.toString()).toCaseFolded();
    key.replace(QChar(0x00DF), QLatin1String("ss"));
    // Dotted and dotless i are one letter in case to the dictionaries of Turkic languages.
    key.replace(QChar(0x0130), QLatin1Char('i'));
    key.replace(QChar(0x0131), QLatin1Char('i'));
    key.replace(QStringLiteral("i\u0307"), QStringLiteral("i"));
    return key;
}

bool SpellChecker::SameWord::matches(QStringView other) const
{
    // Nearly every word is ASCII: compared in place, without making its key.
    const bool ascii = std::all_of(other.begin(), other.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return m_keyIsAscii && other.size() == m_key.size() && other.compare(m_key, Qt::CaseInsensitive) == 0;
    return keyOf(other) == m_key;
}

std::vector<SpellChecker::Occurrence> SpellChecker::occurrencesOf(
    const QString& word, const QString& text, DocumentTag tag) const
{
    const SameWord same(word);
    std::vector<Occurrence> found;
    std::string buffer;
    forEachWord(text, 0, text.size(), [&](qsizetype from, qsizetype length) {
        const QStringView place = QStringView(text).sliced(from, length);
        if (!same.matches(place))
            return true;
        wordToUtf8(place, buffer);
        const std::unique_lock lock = lockAsCaller();
        found.push_back({ from, length, verdictLocked(buffer, tag) == Verdict::misspelt });
        return true;
    });
    return found;
}

bool SpellChecker::isCorrect(const QString& word, DocumentTag tag) const
{
    bool correct = true;
    std::string buffer;
    forEachWord(word, 0, word.size(), [&](qsizetype start, qsizetype length) {
        wordToUtf8(QStringView(word).sliced(start, length), buffer);
        const std::unique_lock lock = lockAsCaller();
        correct = verdictLocked(buffer, tag) == Verdict::correct;
        return correct;
    });
    return correct;
}

quint64 SpellChecker::lookUpCount() const
{
    const std::unique_lock lock = lockAsCaller();
    return m_lookUps;
}

QStringList SpellChecker::guesses(const QString& word) const
{
    const QString candidate = normalizedWord(word);
    const std::unique_lock lock = lockAsCaller();
    Hunspell* dictionary = dictionaryLocked();
    if (!dictionary || candidate.isEmpty() || candidate.size() > maxWordLength)
        return {};
    QStringList guesses = guessesLocked(dictionary, candidate);
    // A word capitalised at the start of a sentence is mostly a common word, yet the dictionary
    // guesses names for it first ("Te" for "Teh"). When its best guess for the word in lower case
    // is among those it gave, capitalised ("The"), and is as near to the word as the first of them,
    // it goes first; a name nearer than that ("America" for "Amercia") stays first.
    const qsizetype firstLength = candidate.front().isHighSurrogate() && candidate.size() > 1 ? 2 : 1;
    const QString first = candidate.left(firstLength);
    const QString rest = candidate.mid(firstLength);
    if (guesses.size() > 1 && first != first.toLower() && !rest.isEmpty() && rest == rest.toLower()) {
        const QStringList common = guessesLocked(dictionary, first.toLower() + rest);
        if (!common.isEmpty() && !common.front().isEmpty()) {
            const QString best = common.front();
            const qsizetype length = best.front().isHighSurrogate() && best.size() > 1 ? 2 : 1;
            const qsizetype at = guesses.indexOf(best.left(length).toUpper() + best.mid(length));
            if (at > 0 && editDistance(candidate, guesses[at]) <= editDistance(candidate, guesses.front()))
                guesses.move(at, 0);
        }
    }
    // A word typed without its apostrophe ("dont", "youre", "Im") means the contraction, whatever
    // nearer words the dictionary puts first ("font", "your", "In").
    const auto isContraction = [&](const QString& guess) {
        return guess.count(QLatin1Char('\'')) == 1
            && QString(guess).remove(QLatin1Char('\'')).compare(candidate, Qt::CaseInsensitive) == 0;
    };
    if (const auto contraction = std::find_if(guesses.begin(), guesses.end(), isContraction);
        contraction != guesses.end() && contraction != guesses.begin())
        guesses.move(contraction - guesses.begin(), 0);
    // Dictionaries spell apostrophes straight: a guess put in place of a word typed with the
    // typographic one keeps the writer's apostrophe.
    if (word.contains(QChar(0x2019)) && !word.contains(QLatin1Char('\''))) {
        for (QString& guess : guesses)
            guess.replace(QLatin1Char('\''), QChar(0x2019));
    }
    return guesses;
}

QStringList SpellChecker::guessesLocked(Hunspell* dictionary, const QString& candidate) const
{
    QStringList guesses;
    if (m_dictionaryEncoding.isEmpty()) {
        for (const std::string& guess : dictionary->suggest(candidate.toUtf8().toStdString()))
            guesses.append(QString::fromStdString(guess));
        return guesses;
    }
    bool ok = false;
    const QByteArray utf16(reinterpret_cast<const char*>(candidate.utf16()), candidate.size() * 2);
    const QByteArray encoded = convert(m_dictionaryEncoding.constData(), "UTF-16LE", utf16, &ok);
    if (!ok)
        return {};
    for (const std::string& guess : dictionary->suggest(encoded.toStdString())) {
        const QByteArray decoded = convert("UTF-16LE", m_dictionaryEncoding.constData(), guess, &ok);
        if (ok)
            guesses.append(QString::fromUtf16(
                reinterpret_cast<const char16_t*>(decoded.constData()), decoded.size() / 2));
    }
    return guesses;
}

bool SpellChecker::isGrammarCheckingAvailable() const
{
    return language().startsWith(QLatin1String("en")) && m_grammar->isAvailable();
}

Result<Success, PlatformError> SpellChecker::learnWord(const QString& word)
{
    const QString candidate = normalizedWord(word.trimmed());
    if (candidate.isEmpty())
        return Result<Success, PlatformError>::success({});
    // The word list keeps one word a line; a line break would make two words of one, or none.
    const bool breaksLine = std::any_of(candidate.cbegin(), candidate.cend(), [](QChar c) {
        return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85)
            || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
    });
    if (breaksLine) {
        return Result<Success, PlatformError>::failure({ QStringLiteral("spelling"), EINVAL,
            QStringLiteral("A word to learn cannot hold a line break."), {} });
    }
    {
        const std::unique_lock lock = lockAsCaller();
        if (m_learned.contains(candidate))
            return Result<Success, PlatformError>::success({});
        m_learned.insert(candidate);
        if (m_dictionaryLoaded && m_dictionary && m_dictionaryEncoding.isEmpty())
            addLearnedWordLocked(candidate);
    }
    return savePersonalWordList();
}

Result<Success, PlatformError> SpellChecker::unlearnWord(const QString& word)
{
    const QString candidate = normalizedWord(word.trimmed());
    {
        const std::unique_lock lock = lockAsCaller();
        if (!m_learned.remove(candidate))
            return Result<Success, PlatformError>::success({});
        if (m_dictionary && m_addedToDictionary.remove(candidate))
            m_dictionary->remove(candidate.toUtf8().toStdString());
    }
    return savePersonalWordList();
}

bool SpellChecker::hasLearnedWord(const QString& word) const
{
    const std::unique_lock lock = lockAsCaller();
    return m_learned.contains(normalizedWord(word));
}

QStringList SpellChecker::learnedWords() const
{
    QStringList words;
    {
        const std::unique_lock lock = lockAsCaller();
        words = QStringList(m_learned.cbegin(), m_learned.cend());
    }
    words.sort();
    return words;
}

void SpellChecker::ignoreWord(const QString& word, DocumentTag tag)
{
    if (word.isEmpty())
        return;
    const QByteArray key = wordKey(word);
    const std::unique_lock lock = lockAsCaller();
    m_ignored[tag].insert(key);
}

QStringList SpellChecker::ignoredWords(DocumentTag tag) const
{
    QStringList words;
    {
        const std::unique_lock lock = lockAsCaller();
        for (const QByteArray& key : m_ignored.value(tag))
            words.append(QString::fromUtf8(key));
    }
    words.sort();
    return words;
}

void SpellChecker::setIgnoredWords(const QStringList& words, DocumentTag tag)
{
    QSet<QByteArray> ignored;
    for (const QString& word : words) {
        if (!word.isEmpty())
            ignored.insert(wordKey(word));
    }
    const std::unique_lock lock = lockAsCaller();
    m_ignored[tag] = std::move(ignored);
}

void SpellChecker::loadPersonalWordList()
{
    const auto bytes
        = FileManager::readRegularFile(Url::fileUrl(m_personalWordListPath), maxPersonalWordListBytes);
    if (bytes.isFailure()) {
        const PlatformError& error = bytes.error();
        if (!(error.domain == PlatformError::posixDomain && error.code == ENOENT)) {
            // Kept aside before the first save, so the words in it are not lost.
            m_personalListUnreadable = true;
            printError(QStringLiteral("Could not read the personal word list %1: %2")
                           .arg(m_personalWordListPath, error.description));
        }
        return;
    }
    const QString text = QString::fromUtf8(bytes.value());
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        const QString word = normalizedWord(line.trimmed().toString());
        if (!word.isEmpty())
            m_learned.insert(word);
    }
}

Result<Success, PlatformError> SpellChecker::savePersonalWordList()
{
    std::lock_guard saveLock(m_saveMutex);
    auto saved = writePersonalWordList();
    if (saved.isFailure()) {
        printError(QStringLiteral("Could not save the personal word list %1: %2")
                       .arg(m_personalWordListPath, saved.error().description));
    }
    return saved;
}

Result<Success, PlatformError> SpellChecker::writePersonalWordList()
{
    const QStringList words = learnedWords();
    const Url file = Url::fileUrl(m_personalWordListPath);
    const auto folder
        = FileManager::createDirectory(file.deletingLastPathComponent(), IntermediateDirectories::create);
    if (folder.isFailure())
        return folder;
    if (m_personalListUnreadable && FileManager::fileExists(file)) {
        const QString stamp
            = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        const QString aside = m_personalWordListPath + QStringLiteral(".damaged-") + stamp;
        if (const auto moved = FileManager::moveItem(file, Url::fileUrl(aside)); moved.isFailure())
            return moved;
        printError(QStringLiteral("The unreadable personal word list was kept as %1").arg(aside));
    }
    m_personalListUnreadable = false;
    QByteArray bytes;
    for (const QString& word : words) {
        bytes += word.toUtf8();
        bytes += '\n';
    }
    return FileManager::writeAtomically(file, bytes);
}

bool SpellChecker::isAutomaticTextCompletionEnabled()
{
    return userDefault(textCompletionKey);
}

bool SpellChecker::isAutomaticSpellingCorrectionEnabled()
{
    return userDefault(spellingCorrectionKey);
}

bool SpellChecker::isAutomaticTextReplacementEnabled()
{
    return userDefault(QStringLiteral("AutomaticTextReplacementEnabled"));
}

bool SpellChecker::isAutomaticQuoteSubstitutionEnabled()
{
    return userDefault(quoteSubstitutionKey);
}

void SpellChecker::setAutomaticTextCompletionEnabled(bool enabled)
{
    setUserDefault(textCompletionKey, enabled);
}

void SpellChecker::setAutomaticSpellingCorrectionEnabled(bool enabled)
{
    setUserDefault(spellingCorrectionKey, enabled);
}

void SpellChecker::setAutomaticQuoteSubstitutionEnabled(bool enabled)
{
    setUserDefault(quoteSubstitutionKey, enabled);
}

void SpellChecker::updatePanels()
{
    NotificationCenter::defaultCenter().post(panelsNeedUpdate, this);
}

} // namespace platform
