#include "platform/ui/SpellChecker.h"

#include "platform/foundation/UserDefaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <latch>
#include <thread>

using namespace platform;

namespace {

constexpr auto spelling = unsigned(TextCheckingType::spelling);
constexpr auto grammar = unsigned(TextCheckingType::grammar);

struct Checker {
    QTemporaryDir folder;
    SpellChecker::Configuration configuration() const
    {
        SpellChecker::Configuration configuration;
        configuration.personalWordListPath = folder.filePath("spelling/learned-words.txt");
        configuration.language = "en_US";
        return configuration;
    }
};

QStringList words(const QString& text, const std::vector<TextCheckingResult>& results)
{
    QStringList found;
    for (const TextCheckingResult& result : results)
        found.append(text.mid(result.start, result.length));
    return found;
}

} // namespace

TEST(SpellChecker, MarksTheMisspeltWordsOfARange)
{
    Checker fixture;
    const SpellChecker checker(fixture.configuration());
    const QString text
        = "\U0001F600 Ths paragraph has thre mispelled words, don\u2019t it? "
          "See https://exampel.org/pagge, mail me@exampel.org, buy 3Dprintr parts \u4f60\u597d.";
    const auto results = checker.check(text, spelling);
    EXPECT_EQ(words(text, results), QStringList({ "Ths", "thre", "mispelled" }));
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results[0].start, 3) << "offsets count UTF-16 units";

    // A range that starts or ends inside a word takes the whole word, and nothing beyond it.
    const qsizetype inside = text.indexOf("hre");
    EXPECT_EQ(words(text, checker.check(text, inside, 12, spelling)), QStringList({ "thre", "mispelled" }));

    const TextCheckingResult next = checker.nextMisspelling(text, text.indexOf("has"), false);
    EXPECT_EQ(text.mid(next.start, next.length), "thre");
    const TextCheckingResult wrapped = checker.nextMisspelling(text, text.indexOf("words"), true);
    EXPECT_EQ(text.mid(wrapped.start, wrapped.length), "Ths");
    const TextCheckingResult none = checker.nextMisspelling(text, text.indexOf("words"), false);
    EXPECT_EQ(none.start, text.size());
    EXPECT_EQ(none.length, 0);
}

// Where words begin and end, and which chunks are web or e-mail addresses, for ASCII and beyond.
TEST(SpellChecker, FindsWordsAndSkipsAddresses)
{
    Checker fixture;
    const SpellChecker checker(fixture.configuration());
    const struct {
        QString text;
        QStringList misspelt;
    } cases[] = {
        { "see www.qzxv.org and qzxv", { "qzxv" } },
        { "see awww.qzxv.org", { "awww", "qzxv" } },
        { "see ftp://qzxv.org/qzxv, qzxv", { "qzxv" } },
        { "the ratio 3:2 of qzxv", { "qzxv" } },
        { "qzxv://", {} },
        { "mail qzxv@host.qzxv, thanks", {} },
        { "mail @qzxv and qzxv@host", { "qzxv", "qzxv" } },
        { "www.qzxv.org\u00a0qzxv\tqzxv", { "qzxv", "qzxv" } },
        { "'qzxv' and \u2019qzxv\u2019 and qzxv's and qzxv\u2019s",
            { "qzxv", "qzxv", "qzxv's", "qzxv\u2019s" } },
        { "qzxv2 2qzxv na\u00efve qzxv\u00e9 qzxve\u0301", { "na\u00efve", "qzxv\u00e9", "qzxve\u0301" } },
        { QString(101, 'q') + " qzxv", { "qzxv" } },
        { "\U0001D400qzxv", { "\U0001D400qzxv" } },
        { "\u2764\uFE0Flove \u2764\uFE0Fqzxv", { "qzxv" } },
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(words(testCase.text, checker.check(testCase.text, spelling)), testCase.misspelt)
            << testCase.text.toStdString();
}

// Text from web pages and PDF files marks hyphenation points inside words with soft hyphens.
TEST(SpellChecker, ASoftHyphenInsideAWordIsNoPartOfItsSpelling)
{
    Checker fixture;
    SpellChecker checker(fixture.configuration());
    const QString text
        = "hy\u00ADphen\u00ADation is con\u00ADsid\u00ADered, qzxv\u00ADword and \u00ADend\u00AD.";
    EXPECT_EQ(words(text, checker.check(text, spelling)), QStringList({ "qzxv\u00ADword" }));
    EXPECT_TRUE(checker.isCorrect("con\u00ADsid\u00ADered"));
    EXPECT_EQ(checker.guesses("mis\u00ADspeled").value(0), "misspelled");
    checker.ignoreWord("qzxvword", 7);
    EXPECT_TRUE(checker.check(text, spelling, 7).empty());
}

// Every spelling of a word the dictionary may take for a learnt one counts as that word; nothing else.
TEST(SpellChecker, SameWordTakesEveryCaseAndTypographicFormOfTheWord)
{
    const SpellChecker::SameWord glimbrot("glimbrot");
    for (const char* same : { "glimbrot", "Glimbrot", "GLIMBROT", "glim\u00ADbrot", "GLIM\u00ADBROT" })
        EXPECT_TRUE(glimbrot.matches(QString::fromUtf8(same))) << same;
    for (const char* other : { "glimbrots", "glimbro", "glimbrot's", "gl\u00EDmbrot" })
        EXPECT_FALSE(glimbrot.matches(QString::fromUtf8(other))) << other;
    EXPECT_TRUE(SpellChecker::SameWord("don\u2019t").matches(QStringLiteral("DON'T")));
    EXPECT_TRUE(SpellChecker::SameWord("stra\u00DFe").matches(QStringLiteral("STRASSE")));
    EXPECT_TRUE(SpellChecker::SameWord("\u0131stanbul").matches(QStringLiteral("\u0130STANBUL")));
    EXPECT_TRUE(SpellChecker::SameWord("Cafe\u0301").matches(QStringLiteral("caf\u00E9")));
}

TEST(SpellChecker, SuggestsCorrections)
{
    Checker fixture;
    const SpellChecker checker(fixture.configuration());
    const QStringList guesses = checker.guesses("mispelled");
    ASSERT_FALSE(guesses.isEmpty());
    EXPECT_EQ(guesses.first(), "misspelled");
    EXPECT_TRUE(checker.isCorrect(guesses.first()));
    EXPECT_TRUE(checker.guesses("").isEmpty());
    // A word typed with a typographic apostrophe is corrected with one.
    EXPECT_EQ(checker.guesses("wouldn\u2019tt").value(0), "wouldn\u2019t");
    EXPECT_EQ(checker.guesses("wouldn'tt").value(0), "wouldn't");
}

// The likeliest word comes first: the common word for a typo capitalised at the start of a
// sentence rather than a name, and the contraction for one typed without its apostrophe.
TEST(SpellChecker, GuessesPutTheLikeliestWordFirst)
{
    Checker fixture;
    const SpellChecker checker(fixture.configuration());
    const struct {
        QString word;
        QString best;
    } cases[] = {
        { "Teh", "The" },
        { "Thier", "Their" },
        { "Taht", "That" },
        { "Adn", "And" },
        { "Hte", "The" },
        { "Recieve", "Receive" },
        { "Amercia", "America" },
        { "teh", "the" },
        { "TEH", "THE" },
        { "dont", "don't" },
        { "didnt", "didn't" },
        { "isnt", "isn't" },
        { "havent", "haven't" },
        { "youre", "you're" },
        { "theyre", "they're" },
        { "thats", "that's" },
        { "Im", "I'm" },
        { "Ive", "I've" },
        { "Didnt", "Didn't" },
    };
    for (const auto& testCase : cases) {
        const QStringList guesses = checker.guesses(testCase.word);
        EXPECT_EQ(guesses.value(0).toStdString(), testCase.best.toStdString());
        EXPECT_EQ(guesses.size(), QSet<QString>(guesses.begin(), guesses.end()).size())
            << "no guess twice for " << testCase.word.toStdString();
    }
    EXPECT_TRUE(checker.guesses("Teh").contains("Te")) << "names are still offered, after";
}

TEST(SpellChecker, LearnedWordsSurviveARestart)
{
    Checker fixture;
    {
        SpellChecker checker(fixture.configuration());
        EXPECT_FALSE(checker.isCorrect("Tindrelish"));
        ASSERT_TRUE(checker.learnWord("Tindrelish").isSuccess());
        ASSERT_TRUE(checker.learnWord("flurb\u2019s").isSuccess());
        EXPECT_TRUE(checker.isCorrect("Tindrelish"));
        EXPECT_TRUE(checker.hasLearnedWord("flurb's"));
        // A word learnt with a composed letter is the same word pasted with a combining mark.
        ASSERT_TRUE(checker.learnWord("Z\u00f6rbliq").isSuccess());
        EXPECT_TRUE(checker.isCorrect("Zo\u0308rbliq"));
        EXPECT_TRUE(checker.check("a Zo\u0308rbliq b", spelling).empty());
        ASSERT_TRUE(checker.learnWord("Zo\u0308rbliq").isSuccess());
        ASSERT_TRUE(checker.unlearnWord("Zo\u0308rbliq").isSuccess());
        EXPECT_FALSE(checker.isCorrect("Z\u00f6rbliq")) << "one entry, not two";
    }
    {
        SpellChecker checker(fixture.configuration());
        EXPECT_TRUE(checker.isCorrect("Tindrelish"));
        EXPECT_EQ(checker.learnedWords(), QStringList({ "Tindrelish", "flurb's" }));
        ASSERT_TRUE(checker.unlearnWord("Tindrelish").isSuccess());
        EXPECT_FALSE(checker.isCorrect("Tindrelish"));
    }
    SpellChecker checker(fixture.configuration());
    EXPECT_FALSE(checker.isCorrect("Tindrelish"));
    EXPECT_TRUE(checker.isCorrect("flurb's"));
    EXPECT_TRUE(QDir(fixture.folder.filePath("spelling")).entryList({ "*.damaged-*" }).isEmpty());
}

// Unlearning a word the dictionary knows anyway (learnt in another language, or in another case)
// leaves it as correct as it was before.
TEST(SpellChecker, UnlearningAWordTheDictionaryKnowsKeepsItCorrect)
{
    Checker fixture;
    for (const QString& word : { u"hello"_qs, u"Hello"_qs, u"Paris"_qs }) {
        SpellChecker checker(fixture.configuration());
        EXPECT_TRUE(checker.isCorrect(word));
        ASSERT_TRUE(checker.learnWord(word).isSuccess());
        ASSERT_TRUE(checker.unlearnWord(word).isSuccess());
        EXPECT_TRUE(checker.isCorrect(word)) << word.toStdString();
        EXPECT_TRUE(checker.isCorrect(word.toLower() == word ? word : word.toUpper()));
    }
    // Learnt in an earlier run: added when the dictionary is loaded.
    {
        SpellChecker checker(fixture.configuration());
        ASSERT_TRUE(checker.learnWord("colour").isSuccess());
        ASSERT_TRUE(checker.learnWord("hello").isSuccess());
        ASSERT_TRUE(checker.learnWord("Tindrelish").isSuccess());
    }
    SpellChecker checker(fixture.configuration());
    EXPECT_TRUE(checker.check("colour Tindrelish", spelling).empty());
    ASSERT_TRUE(checker.unlearnWord("colour").isSuccess());
    ASSERT_TRUE(checker.unlearnWord("hello").isSuccess());
    ASSERT_TRUE(checker.unlearnWord("Tindrelish").isSuccess());
    const QString text = "hello colour Tindrelish";
    EXPECT_EQ(words(text, checker.check(text, spelling)), QStringList({ "colour", "Tindrelish" }));
}

TEST(SpellChecker, AWordWithALineBreakIsRefused)
{
    Checker fixture;
    SpellChecker checker(fixture.configuration());
    for (const QString& word : { u"Tindrel\nish"_qs, u"Tindrel\r\nish"_qs, u"Tindrel\u2028ish"_qs }) {
        const auto learned = checker.learnWord(word);
        ASSERT_TRUE(learned.isFailure());
        EXPECT_FALSE(learned.error().description.isEmpty());
    }
    EXPECT_TRUE(checker.learnedWords().isEmpty());
    EXPECT_FALSE(checker.isCorrect("Tindrel"));
}

// A word list that exists but cannot be read is kept beside itself before the first save replaces
// it, so the words in it can still be recovered.
TEST(SpellChecker, UnreadableWordListIsKeptAside)
{
    Checker fixture;
    ASSERT_TRUE(QDir(fixture.folder.path()).mkpath("spelling/learned-words.txt"));
    SpellChecker checker(fixture.configuration());
    ASSERT_TRUE(checker.learnWord("Tindrelish").isSuccess());
    EXPECT_EQ(
        QDir(fixture.folder.filePath("spelling")).entryList({ "learned-words.txt.damaged-*" }).size(), 1);
    EXPECT_TRUE(SpellChecker(fixture.configuration()).isCorrect("Tindrelish"));
}

TEST(SpellChecker, IgnoredWordsBelongToTheirDocument)
{
    Checker fixture;
    SpellChecker checker(fixture.configuration());
    const SpellChecker::DocumentTag first = checker.uniqueSpellDocumentTag();
    const SpellChecker::DocumentTag second = checker.uniqueSpellDocumentTag();
    ASSERT_NE(first, second);
    checker.ignoreWord("Zorbly", first);
    EXPECT_TRUE(checker.isCorrect("Zorbly", first));
    EXPECT_FALSE(checker.isCorrect("Zorbly", second));
    EXPECT_EQ(checker.ignoredWords(first), QStringList({ "Zorbly" }));
    checker.closeSpellDocument(first);
    EXPECT_FALSE(checker.isCorrect("Zorbly", first));
    checker.setIgnoredWords({ "Qwix", "Zorbly" }, second);
    EXPECT_TRUE(checker.check("Qwix and Zorbly", spelling, second).empty());
    EXPECT_FALSE(checker.hasLearnedWord("Zorbly"));
    // Either apostrophe matches either.
    checker.ignoreWord("Qzxv\u2019s", second);
    EXPECT_TRUE(checker.check("Qzxv's and Qzxv\u2019s", spelling, second).empty());
    EXPECT_EQ(checker.ignoredWords(second), QStringList({ "Qwix", "Qzxv's", "Zorbly" }));
}

// A dictionary in an 8-bit encoding: words are converted to it, and a word with a letter it lacks
// is misspelt unless learnt.
TEST(SpellChecker, ChecksWithADictionaryInAnEightBitEncoding)
{
    QTemporaryDir dictionaries;
    QFile affix(dictionaries.filePath("xx_XX.aff"));
    ASSERT_TRUE(affix.open(QIODevice::WriteOnly));
    affix.write("SET ISO8859-1\nTRY esianrtolcdugmphbyfvkwz\n");
    affix.close();
    QFile words(dictionaries.filePath("xx_XX.dic"));
    ASSERT_TRUE(words.open(QIODevice::WriteOnly));
    words.write(QString("3\ncaf\u00e9\nna\u00efve\nword\n").toLatin1());
    words.close();
    Checker fixture;
    SpellChecker::Configuration configuration = fixture.configuration();
    configuration.dictionaryDirectories = { dictionaries.path() };
    configuration.language = "xx_XX";
    SpellChecker checker(configuration);
    ASSERT_EQ(checker.language(), "xx_XX");

    const QString text = "caf\u00e9 na\u00efve word caf\u00eb \u0109apo word";
    const auto results = checker.check(text, spelling);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(text.mid(results[0].start, results[0].length), "caf\u00eb");
    EXPECT_EQ(text.mid(results[1].start, results[1].length), "\u0109apo");
    EXPECT_TRUE(checker.isCorrect("na\u00efve"));
    EXPECT_TRUE(checker.isCorrect("cafe\u0301")) << "a combining accent spells the same letter";
    EXPECT_TRUE(checker.guesses("cafe").contains("caf\u00e9"));

    ASSERT_TRUE(checker.learnWord("\u0109apo").isSuccess());
    EXPECT_TRUE(checker.isCorrect("\u0109apo"));
    EXPECT_EQ(checker.check(text, spelling).size(), 1u);
}

// A dictionary that could not be read is as good as none: no word is marked, rather than every
// word; a sound one for the language in a later folder is used instead.
TEST(SpellChecker, ADictionaryThatCannotBeReadMarksNothing)
{
    const auto writeFile = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    const QByteArray affix = "SET UTF-8\nTRY esianrtolcdugmphbyfvkwz\n";
    const QByteArray wordList = "3\nhello\nworld\nword\n";
    const struct {
        const char* name;
        QByteArray affix;
        QByteArray words;
    } cases[] = {
        { "an empty word list", affix, "" },
        { "a word list with no count", affix, "hello\nworld\n" },
        { "a count too large to hold", affix, "999999999\nhello\nworld\n" },
        { "garbage", QByteArray(64, '\xff'), QByteArray(64, '\x01') },
        { "an encoding iconv does not know", "SET XYZ-42\n", wordList },
    };
    const QString text = "hello world wrold";
    for (const auto& testCase : cases) {
        QTemporaryDir broken, sound;
        writeFile(broken.filePath("xx_XX.aff"), testCase.affix);
        writeFile(broken.filePath("xx_XX.dic"), testCase.words);
        Checker fixture;
        SpellChecker::Configuration configuration = fixture.configuration();
        configuration.dictionaryDirectories = { broken.path() };
        configuration.language = "xx_XX";
        {
            const SpellChecker checker(configuration);
            EXPECT_TRUE(checker.check(text, spelling).empty()) << testCase.name;
            EXPECT_TRUE(checker.guesses("wrold").isEmpty()) << testCase.name;
        }
        writeFile(sound.filePath("xx_XX.aff"), affix);
        writeFile(sound.filePath("xx_XX.dic"), wordList);
        configuration.dictionaryDirectories = { broken.path(), sound.path() };
        const SpellChecker checker(configuration);
        EXPECT_EQ(words(text, checker.check(text, spelling)), QStringList({ "wrold" })) << testCase.name;
    }
}

TEST(SpellChecker, ChoosesTheLanguageFromTheLocale)
{
    QTemporaryDir dictionaries;
    for (const char* name : { "en_GB", "en_US", "de_DE" }) {
        for (const char* extension : { ".aff", ".dic" }) {
            ASSERT_TRUE(QFile::link(QString("/usr/share/hunspell/en_US") + extension,
                dictionaries.filePath(QString(name) + extension)));
        }
    }
    ASSERT_TRUE(QFile(dictionaries.filePath("fr_FR.aff")).open(QIODevice::WriteOnly)); // no .dic: not listed
    Checker fixture;
    SpellChecker::Configuration configuration = fixture.configuration();
    configuration.dictionaryDirectories = { dictionaries.path() };
    configuration.language.clear();

    const QLocale saved;
    const struct {
        const char* locale;
        const char* language;
    } cases[] = { { "de_DE", "de_DE" }, { "en_GB", "en_GB" }, { "en_AU", "en_GB" }, { "fr_FR", "en_US" } };
    for (const auto& testCase : cases) {
        QLocale::setDefault(QLocale(testCase.locale));
        const SpellChecker checker(configuration);
        EXPECT_EQ(checker.language(), testCase.language) << testCase.locale;
    }
    QLocale::setDefault(saved);

    SpellChecker checker(configuration);
    EXPECT_EQ(checker.availableLanguages(), QStringList({ "de_DE", "en_GB", "en_US" }));
    EXPECT_FALSE(checker.setLanguage("fr_FR"));
    EXPECT_TRUE(checker.setLanguage("de_DE"));
    EXPECT_EQ(checker.language(), "de_DE");
    EXPECT_FALSE(checker.isGrammarCheckingAvailable()) << "grammar is English only";

    configuration.dictionaryDirectories = { fixture.folder.path() };
    const SpellChecker without(configuration);
    EXPECT_TRUE(without.language().isEmpty());
    EXPECT_TRUE(without.check("Ths is wrng.", spelling).empty());
}

// The dictionary chosen is the one of the next run too, as long as it is installed.
TEST(SpellChecker, TheLanguageChosenIsKeptForTheNextRun)
{
    QTemporaryDir dictionaries;
    for (const char* extension : { ".aff", ".dic" }) {
        ASSERT_TRUE(QFile::link(QString("/usr/share/hunspell/en_US") + extension,
            dictionaries.filePath(QString("de_DE") + extension)));
    }
    const QLocale saved;
    QLocale::setDefault(QLocale("en_US"));
    SpellChecker::rememberLanguage("de_DE");
    SpellChecker::Configuration configuration = SpellChecker::defaultConfiguration();
    configuration.dictionaryDirectories = { dictionaries.path(), "/usr/share/hunspell" };
    EXPECT_EQ(SpellChecker(configuration).language(), "de_DE");

    SpellChecker::rememberLanguage("xx_XX");
    configuration = SpellChecker::defaultConfiguration();
    configuration.dictionaryDirectories = { dictionaries.path(), "/usr/share/hunspell" };
    EXPECT_EQ(SpellChecker(configuration).language(), "en_US") << "one no longer installed";
    QLocale::setDefault(saved);
    ASSERT_TRUE(platform::UserDefaults::standard().removeObject("SpellCheckerLanguage").isSuccess());
}

TEST(SpellChecker, MarksSentencesThatDoNotParse)
{
    Checker fixture;
    const SpellChecker checker(fixture.configuration());
    ASSERT_TRUE(checker.isGrammarCheckingAvailable());
    const QString text = "Shopping list\nThe cat sat on the mat. The cat sit on the mat. "
                         "\u201cShe don\u2019t like it,\u201d he said. Good idea. Call 555 1234 today.\n"
                         "Tindrel keeps a library of creative projects.";
    const auto results = checker.check(text, grammar);
    EXPECT_EQ(words(text, results),
        QStringList({ "The cat sit on the mat.", "\u201cShe don\u2019t like it,\u201d he said." }));
    for (const TextCheckingResult& result : results) {
        EXPECT_EQ(result.type, TextCheckingType::grammar);
        EXPECT_TRUE(result.corrections.isEmpty());
        EXPECT_FALSE(result.description.isEmpty());
    }

    const auto both = checker.check(text, spelling | grammar);
    ASSERT_EQ(both.size(), 3u);
    EXPECT_EQ(text.mid(both[0].start, both[0].length), "The cat sit on the mat.");
    EXPECT_EQ(text.mid(both[2].start, both[2].length), "Tindrel");
}

// Workers check while the main thread learns, ignores, asks for guesses and switches language.
TEST(SpellChecker, ConcurrentUseIsSafe)
{
    Checker fixture;
    SpellChecker checker(fixture.configuration());
    const SpellChecker::DocumentTag tag = checker.uniqueSpellDocumentTag();
    QString text;
    for (int i = 0; i < 50; ++i)
        text += "Zorbly wrote Tindrelish notes about the sit cat. ";

    constexpr int workers = 4;
    std::latch start(workers + 1);
    std::atomic<bool> done { false };
    std::vector<std::thread> threads;
    std::atomic<int> checks { 0 };
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            do {
                const auto results = checker.check(text, spelling, tag);
                EXPECT_LE(results.size(), 100u);
                checks.fetch_add(1);
            } while (!done.load());
        });
    }
    start.arrive_and_wait();
    ASSERT_TRUE(checker.learnWord("Tindrelish").isSuccess());
    checker.ignoreWord("Zorbly", tag);
    EXPECT_FALSE(checker.guesses("Tindrelis").isEmpty());
    checker.setLanguage("en_US");
    checker.setIgnoredWords({ "Zorbly" }, tag);
    while (checks.load() < 2 * workers)
        std::this_thread::yield();
    done = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(checker.check(text, spelling, tag).empty());
}

// Text with no spaces (Thai, a pasted blob) is checked in pieces; each piece must cost what it
// holds, not a scan of the whole run around it. Pieces still find the words that cross them.
TEST(SpellChecker, PiecesOfALineWithoutSpacesAreCheckedInTimeOfTheirOwn)
{
    Checker fixture;
    const SpellChecker checker(fixture.configuration());
    const QString thai
        = QString::fromUtf8("\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22\u0e40\u0e02\u0e35\u0e22\u0e19");
    QString text = thai.repeated(3'000'000 / thai.size());
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(checker.check(text, spelling).empty());
    const qint64 whole = clock.restart();
    constexpr qsizetype piece = 64 * 1024;
    for (qsizetype at = 0; at < text.size(); at += piece)
        EXPECT_TRUE(checker.check(text, at, std::min(piece, text.size() - at), spelling).empty());
    // A guard against going back to a scan of the whole run per piece (seconds), not a measure.
    EXPECT_LT(clock.elapsed(), 10 * whole + 500) << "the whole text took " << whole << " ms";

    text = QString(300, 'q') + "\u0301\u0301 qzxv q\u2019qzxv " + QString(300, 'q');
    const qsizetype word = text.indexOf("qzxv");
    EXPECT_EQ(words(text, checker.check(text, word + 2, 1, spelling)), QStringList({ "qzxv" }));
    EXPECT_EQ(words(text, checker.check(text, text.size() - 5, 2, spelling)), QStringList());
    EXPECT_EQ(words(text, checker.check(text, 250, 40, spelling)), QStringList());
    EXPECT_EQ(words(text, checker.check(text, word + 6, 3, spelling)), QStringList({ "q\u2019qzxv" }));
}
