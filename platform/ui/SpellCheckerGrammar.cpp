#include "platform/ui/SpellCheckerGrammar.h"

#include <QTextBoundaryFinder>

extern "C" {
#include <link-grammar/link-includes.h>
}

namespace platform {

namespace {

constexpr int maxParseSeconds = 1;

void dropEngineMessages(lg_errinfo*, void*)
{
}

bool isClosingPunctuation(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char(')') || c == QChar(0x2019)
        || c == QChar(0x201D) || c == QChar(0x00BB);
}

bool isOpeningPunctuation(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('(') || c == QChar(0x2018)
        || c == QChar(0x201C) || c == QChar(0x00AB);
}

// Whether a trimmed sentence looks like English prose, and how many words it has.
bool isProseSentence(QStringView sentence, int& words)
{
    qsizetype first = 0;
    while (first < sentence.size() && isOpeningPunctuation(sentence[first]))
        ++first;
    qsizetype last = sentence.size() - 1;
    while (last > first && isClosingPunctuation(sentence[last]))
        --last;
    if (first >= last || !sentence[first].isUpper())
        return false;
    const QChar end = sentence[last];
    if (end != QLatin1Char('.') && end != QLatin1Char('!') && end != QLatin1Char('?'))
        return false;
    words = 0;
    bool inWord = false;
    for (const QChar c : sentence) {
        if (c.isDigit() || c == QLatin1Char('/') || c == QLatin1Char('@'))
            return false; // figures, paths and addresses are beyond the engine's English
        const bool letter = c.isLetter() || c == QLatin1Char('\'') || c == QChar(0x2019);
        if (letter && !inWord)
            ++words;
        inWord = letter;
    }
    return words >= GrammarChecker::minWordsPerSentence && words <= GrammarChecker::maxWordsPerSentence;
}

} // namespace

GrammarChecker::GrammarChecker() = default;

GrammarChecker::~GrammarChecker()
{
    if (m_options)
        parse_options_delete(static_cast<Parse_Options>(m_options));
    if (m_dictionary)
        dictionary_delete(static_cast<Dictionary>(m_dictionary));
}

bool GrammarChecker::loadLocked()
{
    if (m_loadAttempted)
        return m_dictionary != nullptr;
    m_loadAttempted = true;
    // The engine reports dictionary and parse trouble on standard error; its answers are enough.
    lg_error_set_handler(dropEngineMessages, nullptr);
    Dictionary dictionary = dictionary_create_lang("en");
    if (!dictionary) {
        m_availability = 0;
        return false;
    }
    Parse_Options options = parse_options_create();
    parse_options_set_verbosity(options, 0);
    parse_options_set_min_null_count(options, 0);
    parse_options_set_max_null_count(options, 0);
    parse_options_set_max_parse_time(options, maxParseSeconds);
    parse_options_set_linkage_limit(options, 1);
    parse_options_set_spell_guess(options, 0);
    parse_options_set_repeatable_rand(options, true);
    m_dictionary = dictionary;
    m_options = options;
    m_availability = 1;
    return true;
}

bool GrammarChecker::isAvailable()
{
    if (const int known = m_availability.load(); known >= 0)
        return known == 1;
    std::lock_guard lock(m_mutex);
    return loadLocked();
}

std::optional<bool> GrammarChecker::parsesLocked(const QString& sentence)
{
    // The English dictionary knows straight quotes and apostrophes only.
    QString plain = sentence;
    plain.replace(QChar(0x2019), QLatin1Char('\'')).replace(QChar(0x2018), QLatin1Char('\''));
    plain.replace(QChar(0x201C), QLatin1Char('"')).replace(QChar(0x201D), QLatin1Char('"'));
    const QByteArray utf8 = plain.toUtf8();
    auto options = static_cast<Parse_Options>(m_options);
    Sentence parsed = sentence_create(utf8.constData(), static_cast<Dictionary>(m_dictionary));
    if (!parsed)
        return std::nullopt;
    std::optional<bool> answer;
    if (sentence_split(parsed, options) >= 0) {
        sentence_parse(parsed, options);
        if (!parse_options_timer_expired(options) && !parse_options_resources_exhausted(options))
            answer = sentence_num_valid_linkages(parsed) > 0;
    }
    sentence_delete(parsed);
    return answer;
}

std::vector<TextCheckingResult> GrammarChecker::check(const QString& text, qsizetype start, qsizetype length)
{
    std::vector<TextCheckingResult> results;
    if (!isAvailable() || length <= 0)
        return results;
    const QString range = text.mid(start, length);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, range);
    qsizetype sentenceStart = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype sentenceEnd = finder.position();
        qsizetype from = sentenceStart, to = sentenceEnd;
        sentenceStart = sentenceEnd;
        while (from < to && range[from].isSpace())
            ++from;
        while (to > from && range[to - 1].isSpace())
            --to;
        int words = 0;
        const QStringView sentence = QStringView(range).sliced(from, to - from);
        if (!isProseSentence(sentence, words))
            continue;
        std::optional<bool> parses;
        {
            std::lock_guard lock(m_mutex);
            parses = parsesLocked(sentence.toString());
        }
        if (parses == false) {
            results.push_back({ TextCheckingType::grammar, start + from, to - from,
                QStringLiteral("This sentence may not be grammatical."), {} });
        }
    }
    return results;
}

} // namespace platform
