#include "EDTextView/TextCheckingController.h"

#include "EDTextView/TextCheckingPanels.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/text/TextAttributes.h"

#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QVariant>

#include <algorithm>

using platform::AttributedString;
using platform::CharacterRange;
using platform::SpellChecker;
using platform::TextCheckingResult;
using platform::TextCheckingType;
using platform::TextCheckingTypes;

const QString TextCheckingController::spellingStateKey = platform::AttributeKey::spellingState;

namespace {

constexpr auto spellingType = unsigned(TextCheckingType::spelling);
constexpr auto grammarType = unsigned(TextCheckingType::grammar);
// How far back a word that a typed space or punctuation ends is looked for.
constexpr qsizetype longestCorrectedWord = 64;
// The grammar notes remembered for the context menu; more are forgotten all at once.
constexpr int maxGrammarDetails = 2000;
// How far from an edit in a long paragraph the white space around its words is looked for.
constexpr qint64 wordSearchLength = 1024;
// How far around a click the word to unlearn is read: beyond any word a dictionary takes.
constexpr qint64 learntWordReach = 256;

bool isLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2029);
}

// Where a long paragraph may be cut for checking in pieces: after white space that follows the end
// of a sentence, else after any white space, else at `limit` itself.
qsizetype pieceEnd(const QString& text, qsizetype from, qsizetype limit)
{
    const qsizetype earliest = from + (limit - from) / 2;
    qsizetype anySpace = -1;
    for (qsizetype i = limit - 1; i > earliest; --i) {
        if (!text[i].isSpace())
            continue;
        if (anySpace < 0)
            anySpace = i + 1;
        const QChar before = text[i - 1];
        if (before == u'.' || before == u'!' || before == u'?')
            return i + 1;
    }
    return anySpace > 0 ? anySpace : limit;
}

struct Snapshot {
    QString text;
    TextCheckingTypes types = 0;
    SpellChecker::DocumentTag tag = SpellChecker::noDocument;
    std::shared_ptr<std::atomic<bool>> cancelled;
};

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark();
}

bool isApostrophe(QChar c)
{
    return c == u'\'' || c == QChar(0x2019);
}

// Whether a quotation mark typed after `before` opens a quotation.
bool opensQuotation(std::optional<QChar> before)
{
    if (!before || before->isSpace())
        return true;
    switch (before->unicode()) {
    case u'(':
    case u'[':
    case u'{':
    case u'<':
    case 0x2018:
    case 0x201C:
    // The opening marks of other languages: guillemets, low quotes, Spanish inverted marks.
    case 0x00AB:
    case 0x2039:
    case 0x201E:
    case 0x201A:
    case 0x00BF:
    case 0x00A1:
    case u'-':
    case 0x2013:
    case 0x2014:
        return true;
    default:
        return false;
    }
}

bool endsWord(QChar c)
{
    return c.isSpace() || c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?'
        || c == u')';
}

// "." and ":" also join the parts of web and e-mail addresses ("www.exmaple.org", "https:"): the
// word before one is judged only once the character after it shows whether an address goes on.
bool mayContinueAddress(QChar c)
{
    return c == u'.' || c == u':';
}

// A word right after one of these is part of an address, a path or an abbreviation, not prose.
bool joinsAddressParts(QChar c)
{
    return mayContinueAddress(c) || c == u'@' || c == u'/' || c == u'\\' || c == u'_' || c == u'#'
        || c == u'=' || c == u'&' || c == u'%' || c == u'~';
}

// How far back the white space before a word is looked for.
constexpr qint64 longestRun = 2048;
// How many of the latest automatic corrections are followed for an Undo.
constexpr size_t maxFollowedCorrections = 32;

// Whether a run of text without white space, up to where a character is typed, is a web address.
bool isWebAddress(QStringView run)
{
    while (!run.isEmpty() && !run.front().isLetterOrNumber())
        run = run.mid(1);
    return run.contains(u"://") || run.startsWith(u"www.", Qt::CaseInsensitive);
}

// Whether a word that follows `run` in the same run without white space is part of an address, a
// path or a query ("exmaple.com/a-serach", "Foo_(barr)"), not prose.
bool joinsAddress(QStringView run)
{
    if (!run.isEmpty() && joinsAddressParts(run.back()))
        return true;
    return isWebAddress(run) || std::any_of(run.begin(), run.end(), [](QChar c) {
        return joinsAddressParts(c) && !mayContinueAddress(c);
    });
}

} // namespace

std::shared_ptr<TextCheckingController> TextCheckingController::make(TextCheckingClient& client)
{
    return std::shared_ptr<TextCheckingController>(
        new TextCheckingController(client, SpellChecker::shared()));
}

TextCheckingController::TextCheckingController(TextCheckingClient& client, SpellChecker& checker)
    : m_client(client)
    , m_checker(checker)
    , m_queue(platform::DispatchQueue::makeSerial("TextCheckingController"))
    , m_textLength(client.textLength())
    , m_quietTimer(new QTimer(this))
{
    m_quietTimer->setSingleShot(true);
    m_quietTimer->setTimerType(Qt::PreciseTimer);
    m_quietTimer->setInterval(recheckDelayMilliseconds);
    connect(m_quietTimer, &QTimer::timeout, this, &TextCheckingController::quietDidBegin);
    liveControllers().push_back(this);
}

TextCheckingController::~TextCheckingController()
{
    std::erase(liveControllers(), this);
    if (m_inFlight)
        m_inFlight->cancelled->store(true);
    if (m_documentTag != SpellChecker::noDocument)
        m_checker.closeSpellDocument(m_documentTag);
}

std::vector<TextCheckingController*>& TextCheckingController::liveControllers()
{
    // Main thread only.
    static std::vector<TextCheckingController*> controllers;
    return controllers;
}

QStringList TextCheckingController::validAnnotations()
{
    return { spellingStateKey };
}

SpellChecker::DocumentTag TextCheckingController::spellCheckerDocumentTag()
{
    if (m_documentTag == SpellChecker::noDocument)
        m_documentTag = m_checker.uniqueSpellDocumentTag();
    return m_documentTag;
}

TextCheckingTypes TextCheckingController::continuousTypes() const
{
    TextCheckingTypes types = 0;
    if (m_client.spellCheckingType() == TextInputTraitType::yes)
        types |= spellingType;
    if (m_client.grammarCheckingType() == TextInputTraitType::yes)
        types |= grammarType;
    return types;
}

bool TextCheckingController::isIdle() const
{
    return m_pending.empty() && !m_inFlight && !m_quietTimer->isActive();
}

void TextCheckingController::notifyIfIdle()
{
    if (isIdle())
        emit becameIdle();
}

// Edits and their bookkeeping.

TextCheckingController::EditLog::Sequence TextCheckingController::EditLog::hold()
{
    m_holders.push_back(m_count);
    return m_count;
}

void TextCheckingController::EditLog::release(Sequence sequence)
{
    const auto it = std::find(m_holders.begin(), m_holders.end(), sequence);
    if (it != m_holders.end())
        m_holders.erase(it);
    const Sequence oldest
        = m_holders.empty() ? m_count : *std::min_element(m_holders.begin(), m_holders.end());
    const auto drop = std::min<size_t>(m_edits.size(), size_t(oldest - m_base));
    m_edits.erase(m_edits.begin(), m_edits.begin() + qsizetype(drop));
    m_base += drop;
}

void TextCheckingController::EditLog::record(const Edit& edit)
{
    ++m_count;
    if (m_holders.empty()) {
        m_edits.clear();
        m_base = m_count;
        return;
    }
    m_edits.push_back(edit);
}

std::optional<TextCheckingController::Range> TextCheckingController::EditLog::map(
    Range range, Sequence since) const
{
    for (size_t i = since > m_base ? size_t(since - m_base) : 0; i < m_edits.size(); ++i) {
        const Edit& edit = m_edits[i];
        if (edit.location > range.end)
            continue;
        // Touching counts: typing right after a word changes the word.
        if (edit.location + edit.oldLength >= range.start)
            return std::nullopt;
        const qint64 delta = edit.newLength - edit.oldLength;
        range.start += delta;
        range.end += delta;
    }
    return range;
}

TextCheckingController::Range TextCheckingController::EditLog::cover(Range range, Sequence since) const
{
    for (size_t i = since > m_base ? size_t(since - m_base) : 0; i < m_edits.size(); ++i)
        range = moved(range, m_edits[i]);
    return range;
}

TextCheckingController::Range TextCheckingController::moved(Range range, const Edit& edit)
{
    const qint64 delta = edit.newLength - edit.oldLength;
    if (edit.location > range.end)
        return range;
    if (edit.location + edit.oldLength < range.start)
        return { range.start + delta, range.end + delta };
    // An edit inside or across the range: the range covers the new text.
    return { std::min(range.start, edit.location),
        std::max(range.end, edit.location + edit.oldLength) + delta };
}

std::optional<TextCheckingController::Range> TextCheckingController::paragraphsOf(CharacterRange range)
{
    CharacterRange first { 0, 0 }, all { 0, 0 };
    m_client.viewForRange(CharacterRange { range.location, 0 }, nullptr, &first);
    m_client.viewForRange(range, nullptr, &all);
    const auto firstEnd = first.end();
    const auto allEnd = all.end();
    if (!firstEnd || !allEnd || first.isNotFound() || all.isNotFound())
        return std::nullopt;
    return Range { std::min(first.location, all.location), std::max(*firstEnd, *allEnd) };
}

void TextCheckingController::didChangeTextInRange(CharacterRange range)
{
    const auto end = range.end();
    if (!end)
        return;
    const qint64 length = m_client.textLength();
    const qint64 delta = length - m_textLength;
    m_textLength = length;
    const Edit edit { range.location, std::max<qint64>(0, range.length - delta), range.length };
    m_editLog.record(edit);
    followCorrections(edit);
    for (Pending& pending : m_pending)
        pending.range = moved(pending.range, edit);
    if (m_deferred) {
        // The edit re-checks the paragraph itself when it touches it.
        const Range shifted = moved(*m_deferred, edit);
        if (shifted.end - shifted.start != m_deferred->end - m_deferred->start)
            m_deferred.reset();
        else
            m_deferred = shifted;
    }
    const bool typed = m_client.checkingEditWasTyped();
    m_typingAt = typed ? std::optional<qint64>(*end) : std::nullopt;
    m_typedInsertion = typed && range.length > 0;

    if (const TextCheckingTypes types = continuousTypes()) {
        if (const auto paragraphs = paragraphsOf(range)) {
            const auto [checked, extent] = recheckRange(*paragraphs, range, types);
            enqueue(checked, types, Queueing::afterQuiet, extent);
        }
    }
    if (typed && range.length == 1 && !m_client.checkingEditIsProvisional())
        substituteAfterTyping(range);
}

void TextCheckingController::didChangeSelection()
{
    const CharacterRange selected = m_client.checkingSelectedRange();
    if (m_typingAt && (selected.length != 0 || selected.location != *m_typingAt))
        m_typingAt.reset();
    if (!m_deferred || m_typingAt)
        return;
    const Range paragraph = *m_deferred;
    m_deferred.reset();
    if (const TextCheckingTypes types = continuousTypes())
        enqueue(paragraph, types, Queueing::now, m_deferredExtent);
}

void TextCheckingController::didChangeTraits()
{
    const TextCheckingTypes types = continuousTypes();
    if (types == m_continuousTypes)
        return;
    m_continuousTypes = types;
    cancelEverything();
    m_client.removeAnnotation(spellingStateKey, CharacterRange { 0, m_client.textLength() });
    if (types)
        enqueue({ 0, m_client.textLength() }, types, Queueing::now);
    else
        notifyIfIdle();
}

void TextCheckingController::checkEveryTextAgain()
{
    for (TextCheckingController* controller : liveControllers()) {
        const TextCheckingTypes types = controller->continuousTypes();
        if (!types)
            continue;
        controller->cancelEverything();
        controller->m_client.removeAnnotation(
            spellingStateKey, CharacterRange { 0, controller->m_client.textLength() });
        controller->enqueue({ 0, controller->m_client.textLength() }, types, Queueing::now);
    }
}

void TextCheckingController::cancelEverything()
{
    m_pending.clear();
    m_deferred.reset();
    m_quietTimer->stop();
    // What the worker still sends for it is dropped.
    if (m_inFlight) {
        m_inFlight->cancelled->store(true);
        m_editLog.release(m_inFlight->since);
        m_inFlight.reset();
    }
}

void TextCheckingController::considerTextCheckingForRange(CharacterRange range)
{
    const TextCheckingTypes types = continuousTypes();
    if (!types)
        return;
    if (const auto paragraphs = paragraphsOf(range))
        enqueue(*paragraphs, types, Queueing::whenIdle);
}

void TextCheckingController::checkTextInRange(
    CharacterRange range, TextCheckingTypes types, const QVariantHash&)
{
    types &= spellingType | grammarType;
    if (!types)
        return;
    const auto paragraphs = paragraphsOf(
        range.isNotFound() && range.length == 0 ? CharacterRange { 0, m_client.textLength() } : range);
    if (!paragraphs)
        return;
    enqueue(*paragraphs, types, Queueing::now);
}

// Checking.

std::pair<TextCheckingController::Range, TextCheckingController::Extent> TextCheckingController::recheckRange(
    Range paragraphs, CharacterRange edited, TextCheckingTypes types) const
{
    const std::pair whole(paragraphs, Extent::paragraphs);
    const auto editedEnd = edited.end();
    if (types != spellingType || paragraphs.end - paragraphs.start <= wholeRecheckLength || !editedEnd
        || *editedEnd - edited.location > wholeRecheckLength)
        return whole;
    const qint64 from = std::clamp(edited.location - wordSearchLength, paragraphs.start, paragraphs.end);
    const qint64 to = std::clamp(*editedEnd + wordSearchLength, from, paragraphs.end);
    const QString text = m_client.plainSubstring({ from, to - from });
    if (text.size() != to - from || edited.location < from || *editedEnd > to)
        return whole;
    // From the white space before the edit to the white space after it: every word it touched,
    // also two words it joined, and nothing of a word beyond.
    qsizetype start = edited.location - from;
    while (start > 0 && !text[start - 1].isSpace())
        --start;
    qsizetype end = *editedEnd - from;
    while (end < text.size() && !text[end].isSpace())
        ++end;
    // Without white space within reach, the run of letters is checked with its paragraph.
    if ((start == 0 && from > paragraphs.start) || (end == text.size() && to < paragraphs.end))
        return whole;
    return { Range { from + start, from + end }, Extent::words };
}

void TextCheckingController::enqueue(Range range, TextCheckingTypes types, Queueing queueing, Extent extent)
{
    bool waits = queueing != Queueing::now;
    // A queued range of the same kinds that meets this one joins it, and waits only if both did;
    // joined with paragraphs, words are checked with their paragraphs.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->types == types && it->range.start <= range.end && range.start <= it->range.end) {
            range = { std::min(range.start, it->range.start), std::max(range.end, it->range.end) };
            waits = waits && it->waitsForQuiet;
            if (it->extent == Extent::paragraphs)
                extent = Extent::paragraphs;
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    if (queueing == Queueing::whenIdle)
        m_pending.push_back({ range, types, waits, extent });
    else
        m_pending.push_front({ range, types, waits, extent });
    if (queueing != Queueing::now)
        m_quietTimer->start();
    dispatchNext();
}

void TextCheckingController::quietDidBegin()
{
    for (Pending& pending : m_pending)
        pending.waitsForQuiet = false;
    dispatchNext();
}

namespace {

std::vector<std::pair<qsizetype, qsizetype>> paragraphContents(const QString& text)
{
    std::vector<std::pair<qsizetype, qsizetype>> paragraphs;
    const QChar* units = text.constData();
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= size; ++i) {
        // Nearly every character is above the line ends' range: one comparison decides.
        if (i < size && (units[i].unicode() > u'\r' && units[i].unicode() != 0x2029))
            continue;
        if (i < size && !isLineEnd(units[i]))
            continue;
        if (i > start)
            paragraphs.emplace_back(start, i);
        if (i + 1 < size && units[i] == u'\r' && units[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    return paragraphs;
}

} // namespace

void TextCheckingController::dispatchNext()
{
    if (m_inFlight)
        return;
    while (true) {
        const auto ready = std::find_if(m_pending.begin(), m_pending.end(),
            [](const Pending& pending) { return !pending.waitsForQuiet; });
        if (ready == m_pending.end())
            break;
        const Pending next = *ready;
        m_pending.erase(ready);
        const qint64 length = m_client.textLength();
        const qint64 start = std::clamp<qint64>(next.range.start, 0, length);
        const qint64 end = std::clamp<qint64>(next.range.end, start, length);
        CharacterRange actual { start, end - start };
        if (next.extent == Extent::paragraphs) {
            // A range ending where a paragraph starts would take that paragraph too: the last one
            // it wants is the one holding its last character.
            const qint64 proposed
                = end - start > snapshotLength ? snapshotLength : std::max<qint64>(0, end - start - 1);
            m_client.viewForRange(CharacterRange { start, proposed }, nullptr, &actual);
        }
        const auto actualEnd = actual.end();
        if (actual.isNotFound() || actual.length <= 0 || !actualEnd)
            continue;
        if (*actualEnd < end)
            m_pending.push_front({ { *actualEnd, end }, next.types, false });

        // The worker needs the words only, not the annotations on them: one copy of the text.
        auto snapshot = std::make_shared<Snapshot>();
        snapshot->text = m_client.plainSubstring(actual);
        snapshot->types = next.types;
        snapshot->tag = spellCheckerDocumentTag();
        snapshot->cancelled = std::make_shared<std::atomic<bool>>(false);
        const quint64 job = ++m_lastJob;
        m_inFlight = InFlight { job, { actual.location, *actualEnd }, next.types, next.extent,
            m_editLog.hold(), snapshot->cancelled };

        const std::weak_ptr<TextCheckingController> weak = weak_from_this();
        SpellChecker* checker = &m_checker;
        m_queue->async([snapshot, weak, checker, job] {
            const auto post = [&](std::vector<ParagraphResults> paragraphs, bool last) {
                platform::DispatchQueue::main()->async([weak, job, last, paragraphs = std::move(paragraphs)] {
                    if (const auto self = weak.lock())
                        self->batchDidArrive(job, paragraphs, last);
                });
            };
            std::vector<ParagraphResults> batch;
            qsizetype batched = 0;
            for (const auto& [from, to] : paragraphContents(snapshot->text)) {
                // A long paragraph goes in pieces cut between words, each with its own results, so
                // that closing the text stops the work soon and no batch brings the marks of a whole
                // line of megabytes to the main thread at once.
                for (qsizetype at = from; at < to;) {
                    if (snapshot->cancelled->load())
                        return;
                    const qsizetype stop
                        = to - at > batchLength ? pieceEnd(snapshot->text, at, at + batchLength) : to;
                    batch.push_back({ { at, stop },
                        checker->check(snapshot->text, at, stop - at, snapshot->types, snapshot->tag) });
                    batched += stop - at;
                    at = stop;
                    // The marks show as the check goes on; the main thread takes each batch in one go.
                    if (batched >= batchLength) {
                        post(std::move(batch), false);
                        batch.clear();
                        batched = 0;
                    }
                }
            }
            post(std::move(batch), true);
        });
        return;
    }
    notifyIfIdle();
}

void TextCheckingController::batchDidArrive(
    quint64 job, const std::vector<ParagraphResults>& paragraphs, bool last)
{
    if (!m_inFlight || m_inFlight->job != job)
        return;
    const InFlight& inFlight = *m_inFlight;
    for (const ParagraphResults& paragraph : paragraphs) {
        const Range inText { inFlight.range.start + paragraph.range.start,
            inFlight.range.start + paragraph.range.end };
        if (const auto now = m_editLog.map(inText, inFlight.since))
            applyParagraph(*now, paragraph.results, now->start - paragraph.range.start);
    }
    if (!last)
        return;
    const Range checked = inFlight.range;
    m_editLog.release(inFlight.since);
    m_inFlight.reset();
    emit didCheck(checked.start, checked.end - checked.start);
    dispatchNext();
}

void TextCheckingController::applyParagraph(
    Range paragraph, const std::vector<TextCheckingResult>& results, qint64 offset)
{
    m_client.removeAnnotation(
        spellingStateKey, CharacterRange { paragraph.start, paragraph.end - paragraph.start });
    const CharacterRange selected = m_client.checkingSelectedRange();
    // Where the word being typed is, while the caret stays where typing left it; -1 otherwise.
    const qint64 typingAt
        = selected.length == 0 && !selected.isNotFound() && m_typingAt && selected.location == *m_typingAt
        ? selected.location
        : -1;
    // Sentences first: a misspelt word inside one keeps its own mark.
    std::vector<CharacterRange> marked;
    for (const TextCheckingType type : { TextCheckingType::grammar, TextCheckingType::spelling }) {
        marked.clear();
        for (const TextCheckingResult& result : results) {
            if (result.type != type)
                continue;
            const qint64 start = result.start + offset;
            const qint64 end = start + result.length;
            // The word being typed ends at the caret or holds it. A word that begins at the caret
            // is being edited after a deletion there, but follows what was typed (a line break, a
            // space) and is no part of it.
            if (type == TextCheckingType::spelling && typingAt >= 0
                && (start < typingAt || (start == typingAt && !m_typedInsertion)) && typingAt <= end) {
                m_deferred = paragraph;
                m_deferredExtent = m_inFlight ? m_inFlight->extent : Extent::paragraphs;
                continue;
            }
            if (type == TextCheckingType::grammar) {
                if (m_grammarDetails.size() > maxGrammarDetails)
                    m_grammarDetails.clear();
                m_grammarDetails.insert(m_client.plainSubstring({ start, result.length }), result);
            }
            marked.push_back({ start, result.length });
        }
        if (!marked.empty())
            m_client.addAnnotation(
                spellingStateKey, type == TextCheckingType::spelling ? spellingValue : grammarValue, marked);
    }
}

// Substitutions as the user types.

void TextCheckingController::substituteAfterTyping(CharacterRange range)
{
    if (m_client.smartQuotesType() != TextInputTraitType::yes
        && m_client.autocorrectionType() != TextInputTraitType::yes)
        return;
    const QString typed = m_client.plainSubstring(range);
    if (typed.size() != 1)
        return;
    const QChar c = typed.front();
    if ((c == u'\'' || c == u'"') && m_client.smartQuotesType() == TextInputTraitType::yes) {
        // An apostrophe belongs in a web address as typed ("wiki/Ender's_Game"); a double quote
        // never does, so it ends one.
        if (c == u'\'') {
            if (const auto run = runBefore(range.location); run && isWebAddress(*run))
                return;
        }
        std::optional<QChar> before;
        if (range.location > 0) {
            const QString previous = m_client.plainSubstring({ range.location - 1, 1 });
            if (!previous.isEmpty())
                before = previous.front();
        }
        // A quotation mark after a letter closes, which also makes the apostrophe of "don't".
        const bool opening = opensQuotation(before);
        const QChar curly = c == u'"' ? QChar(opening ? 0x201C : 0x201D) : QChar(opening ? 0x2018 : 0x2019);
        m_client.replaceCharacters(range, AttributedString(QString(curly)));
        return;
    }
    if (endsWord(c) && !mayContinueAddress(c) && m_client.autocorrectionType() == TextInputTraitType::yes)
        correctWordBefore(range.location);
}

void TextCheckingController::correctWordBefore(qint64 location)
{
    const qint64 from = std::max<qint64>(0, location - longestCorrectedWord);
    const QString before = m_client.plainSubstring({ from, location - from });
    // Sentence punctuation and closing marks after a word that waited for this character ("teh."
    // or "teh.\u201D" then a space).
    const auto closes = [](QChar c) {
        return endsWord(c) || c == u'"' || c == u'\'' || c == u']' || c == u'}' || c == QChar(0x2019)
            || c == QChar(0x201D) || c == QChar(0x00BB) || c == QChar(0x203A);
    };
    qsizetype wordEnd = before.size();
    while (wordEnd > 0 && closes(before[wordEnd - 1]) && !before[wordEnd - 1].isSpace())
        --wordEnd;
    qsizetype i = wordEnd;
    while (i > 0) {
        const QChar c = before[i - 1];
        if (isWordCharacter(c) || c.isSurrogate())
            --i;
        else if (isApostrophe(c) && i >= 2 && i < wordEnd && isWordCharacter(before[i - 2]))
            --i;
        else
            break;
    }
    const QString word = before.mid(i, wordEnd - i);
    // A word longer than what was read and a part of an address are left alone, and so are words
    // with digits or in capitals: codes, names and acronyms the dictionary does not know ("NASAA"
    // is no misspelt "NASAL").
    const bool inCapitals = std::any_of(word.begin(), word.end(), [](QChar c) { return c.isUpper(); })
        && std::none_of(word.begin(), word.end(), [](QChar c) { return c.isLower(); });
    if (word.isEmpty() || (i == 0 && from > 0) || inCapitals
        || std::any_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); }))
        return;
    if (const auto run = runBefore(from + i); !run || joinsAddress(*run))
        return;
    const SpellChecker::DocumentTag tag = spellCheckerDocumentTag();
    if (m_keptAsTyped.contains(word) || m_checker.isCorrect(word, tag))
        return;
    // Guessing can take a while: it runs on the worker, and the word is replaced only if it is
    // still there, untouched, when the guess comes back.
    const Range wordRange { from + i, from + wordEnd };
    const EditLog::Sequence since = m_editLog.hold();
    const std::weak_ptr<TextCheckingController> weak = weak_from_this();
    SpellChecker* checker = &m_checker;
    m_queue->async([weak, checker, word, wordRange, since] {
        const QStringList guesses = checker->guesses(word);
        platform::DispatchQueue::main()->async([weak, word, guesses, wordRange, since] {
            const auto self = weak.lock();
            if (!self)
                return;
            const auto now = self->m_editLog.map(wordRange, since);
            self->m_editLog.release(since);
            if (!now || guesses.isEmpty() || guesses.front() == word
                || self->m_client.plainSubstring({ now->start, now->end - now->start }) != word)
                return;
            const QString& guess = guesses.front();
            self->m_client.replaceCharacters({ now->start, now->end - now->start }, AttributedString(guess));
            // Refused by the view or its delegate, or already edited again: nothing to follow.
            if (self->m_client.plainSubstring({ now->start, guess.size() }) != guess)
                return;
            if (self->m_corrections.size() >= maxFollowedCorrections)
                self->m_corrections.erase(self->m_corrections.begin());
            self->m_corrections.push_back({ { now->start, now->start + guess.size() }, word });
        });
    });
}

void TextCheckingController::followCorrections(const Edit& edit)
{
    for (auto it = m_corrections.begin(); it != m_corrections.end();) {
        const Range range = it->range;
        if (edit.location == range.start && edit.oldLength == range.end - range.start
            && edit.newLength == it->typed.size()
            && m_client.plainSubstring({ edit.location, edit.newLength }) == it->typed) {
            m_keptAsTyped.insert(it->typed);
            it = m_corrections.erase(it);
        } else if (edit.location >= range.end) {
            ++it;
        } else if (edit.location + edit.oldLength <= range.start) {
            const qint64 delta = edit.newLength - edit.oldLength;
            it->range = { range.start + delta, range.end + delta };
            ++it;
        } else {
            // Edited by hand: the user took the correction over.
            it = m_corrections.erase(it);
        }
    }
}

std::optional<QString> TextCheckingController::runBefore(qint64 location) const
{
    const qint64 from = std::max<qint64>(0, location - longestRun);
    const QString before = m_client.plainSubstring({ from, location - from });
    qsizetype start = before.size();
    while (start > 0 && !before[start - 1].isSpace())
        --start;
    if (start == 0 && from > 0)
        return std::nullopt;
    return before.mid(start);
}

// Commands.

void TextCheckingController::checkTextInDocument(QObject*)
{
    TextCheckingTypes types = spellingType;
    if (m_client.grammarCheckingType() == TextInputTraitType::yes)
        types |= grammarType;
    checkTextInRange(CharacterRange { 0, m_client.textLength() }, types, {});
}

void TextCheckingController::checkTextInSelection(QObject*)
{
    const CharacterRange selected = m_client.checkingSelectedRange();
    if (selected.isNotFound())
        return;
    TextCheckingTypes types = spellingType;
    if (m_client.grammarCheckingType() == TextInputTraitType::yes)
        types |= grammarType;
    checkTextInRange(selected, types, {});
}

void TextCheckingController::checkSpelling(QObject*)
{
    TextCheckingTypes types = spellingType;
    if (m_client.grammarCheckingType() == TextInputTraitType::yes)
        types |= grammarType;
    const QString text = m_client.plainSubstring({ 0, m_client.textLength() });
    const CharacterRange selected = m_client.checkingSelectedRange();
    const qint64 from
        = selected.isNotFound() ? 0 : std::min<qint64>(selected.location + selected.length, text.size());
    const SpellChecker::DocumentTag tag = spellCheckerDocumentTag();
    const EditLog::Sequence since = m_editLog.hold();
    const std::weak_ptr<TextCheckingController> weak = weak_from_this();
    SpellChecker* checker = &m_checker;
    // Searching a long text, grammar above all, takes time: the worker searches a snapshot.
    m_queue->async([weak, checker, text, from, types, tag, since] {
        std::optional<TextCheckingResult> found;
        const auto paragraphs = paragraphContents(text);
        // From the selection's end to the end, then from the start round to it again.
        for (int pass = 0; pass < 2 && !found; ++pass) {
            for (const auto& [start, end] : paragraphs) {
                if ((pass == 0 && end < from) || (pass == 1 && start > from))
                    continue;
                for (const TextCheckingResult& result :
                    checker->check(text, start, end - start, types, tag)) {
                    if (pass == 1 || result.start >= from) {
                        found = result;
                        break;
                    }
                }
                if (found)
                    break;
            }
        }
        QStringList guesses;
        if (found && found->type == TextCheckingType::spelling)
            guesses = checker->guesses(text.mid(found->start, found->length));
        const QString word = found ? text.mid(found->start, found->length) : QString();
        platform::DispatchQueue::main()->async([weak, found, guesses, word, since] {
            const auto self = weak.lock();
            if (!self)
                return;
            std::optional<Range> now;
            if (found)
                now = self->m_editLog.map({ found->start, found->start + found->length }, since);
            self->m_editLog.release(since);
            SpellingPanel* panel = SpellingPanel::visiblePanel();
            if (!found || !now) {
                if (panel && !found)
                    panel->showNothingFound();
                return;
            }
            const Range moved = *now;
            const CharacterRange range { moved.start, moved.end - moved.start };
            self->m_client.addAnnotations(
                { { spellingStateKey,
                    found->type == TextCheckingType::spelling ? spellingValue : grammarValue } },
                range);
            self->m_client.selectAndShowRange(range);
            if (panel)
                panel->showFinding(word, *found, guesses);
        });
    });
}

void TextCheckingController::showGuessPanel(QObject* sender)
{
    SpellingPanel& panel = SpellingPanel::shared();
    panel.setTarget(view());
    panel.show();
    panel.raise();
    panel.activateWindow();
    checkSpelling(sender);
}

void TextCheckingController::orderFrontSubstitutionsPanel(QObject*)
{
    SubstitutionsPanel& panel = SubstitutionsPanel::shared();
    panel.setTarget(view());
    panel.show();
    panel.raise();
    panel.activateWindow();
}

void TextCheckingController::changeSpelling(QObject* sender)
{
    const QString replacement = sender ? sender->property("text").toString() : QString();
    const CharacterRange selected = m_client.checkingSelectedRange();
    if (replacement.isEmpty() || selected.isNotFound() || selected.length == 0)
        return;
    m_client.replaceCharacters(selected, AttributedString(replacement));
}

void TextCheckingController::ignoreSpelling(QObject* sender)
{
    const QString word = wordFromSender(sender);
    if (word.isEmpty())
        return;
    m_checker.ignoreWord(word, spellCheckerDocumentTag());
    unmarkWordsNowCorrect(word);
    m_checker.updatePanels();
}

void TextCheckingController::learnSpelling(const QString& word)
{
    if (word.trimmed().isEmpty())
        return;
    const auto learned = m_checker.learnWord(word);
    for (TextCheckingController* controller : liveControllers())
        controller->unmarkWordsNowCorrect(word);
    m_checker.updatePanels();
    if (learned.isFailure())
        alertWordListNotSaved(word.trimmed(), learned.error());
}

void TextCheckingController::alertWordListNotSaved(const QString& word, const platform::PlatformError& error)
{
    // The word holds for this run; without a word on the screen, the next run would mark it again
    // as if it had never been learnt.
    QWidget* parent = view();
    auto* box = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
        tr("\u201C%1\u201D could not be kept in your word list.").arg(word), QMessageBox::Close, parent);
    box->setObjectName(QStringLiteral("wordListNotSaved"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(tr("It counts as spelt right until you quit. %1").arg(error.description));
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString TextCheckingController::wordFromSender(QObject* sender) const
{
    if (sender) {
        const QString word = sender->property("spellingWord").toString();
        if (!word.isEmpty())
            return word;
        if (sender->inherits("QLineEdit"))
            return sender->property("text").toString().trimmed();
    }
    const CharacterRange selected = m_client.checkingSelectedRange();
    if (selected.isNotFound() || selected.length == 0)
        return {};
    return m_client.plainSubstring(selected).trimmed();
}

void TextCheckingController::unmarkWordsNowCorrect(const QString& word)
{
    restartCheckInFlight();
    // Only the places of the word can have changed: the others are not looked up again, which on a
    // long text with many marks would keep the window frozen for a second.
    const QString text = m_client.plainSubstring({ 0, m_client.textLength() });
    for (const SpellChecker::Occurrence& place :
        m_checker.occurrencesOf(word, text, spellCheckerDocumentTag())) {
        // A word inside a sentence marked for its grammar keeps that mark.
        if (!place.misspelt && m_client.annotationAt(spellingStateKey, place.start) == spellingValue)
            m_client.removeAnnotation(spellingStateKey, { place.start, place.length });
    }
}

void TextCheckingController::markWordAgain(const QString& word)
{
    if (!(continuousTypes() & spellingType))
        return;
    restartCheckInFlight();
    const QString text = m_client.plainSubstring({ 0, m_client.textLength() });
    std::vector<CharacterRange> marks;
    for (const SpellChecker::Occurrence& place :
        m_checker.occurrencesOf(word, text, spellCheckerDocumentTag())) {
        if (place.misspelt)
            marks.push_back({ place.start, place.length });
    }
    if (!marks.empty())
        m_client.addAnnotation(spellingStateKey, spellingValue, marks);
}

void TextCheckingController::restartCheckInFlight()
{
    if (!m_inFlight)
        return;
    const InFlight inFlight = *m_inFlight;
    inFlight.cancelled->store(true);
    m_inFlight.reset();
    const Range now = m_editLog.cover(inFlight.range, inFlight.since);
    m_editLog.release(inFlight.since);
    enqueue(now, inFlight.types, Queueing::now, inFlight.extent);
}

std::shared_ptr<QMenu> TextCheckingController::unlearnMenuAt(qint64 index)
{
    // Only the words around the index are read: a long paragraph is never copied for a menu.
    const qint64 from = std::max<qint64>(0, index - learntWordReach);
    const QString around = m_client.plainSubstring({ from, index + learntWordReach - from });
    const qint64 at = index - from;
    // The word at the offset or just before it, with the apostrophes inside it.
    const auto inWord = [&](qsizetype i) {
        return i >= 0 && i < around.size()
            && (isWordCharacter(around[i])
                || (isApostrophe(around[i]) && i > 0 && i + 1 < around.size()
                    && isWordCharacter(around[i - 1]) && isWordCharacter(around[i + 1])));
    };
    qsizetype start = std::clamp<qsizetype>(at, 0, around.size());
    if (!inWord(start))
        --start;
    if (!inWord(start))
        return nullptr;
    qsizetype end = start;
    while (inWord(start - 1))
        --start;
    while (inWord(end))
        ++end;
    const QString word = around.mid(start, end - start);
    // A word learnt by a slip of the hand would otherwise never be marked again.
    if (!m_checker.hasLearnedWord(word))
        return nullptr;
    auto menu = std::make_shared<QMenu>();
    QAction* unlearn = menu->addAction(tr("Unlearn Spelling"));
    const std::weak_ptr<TextCheckingController> weak = weak_from_this();
    connect(unlearn, &QAction::triggered, this, [word, weak] {
        if (const auto self = weak.lock())
            self->unlearnSpelling(word);
    });
    return menu;
}

void TextCheckingController::unlearnSpelling(const QString& word)
{
    const auto unlearned = m_checker.unlearnWord(word);
    for (TextCheckingController* controller : liveControllers())
        controller->markWordAgain(word);
    m_checker.updatePanels();
    if (unlearned.isFailure())
        alertWordListNotSaved(word, unlearned.error());
}

QWidget* TextCheckingController::view()
{
    return m_client.viewForRange(CharacterRange { 0, 0 }, nullptr, nullptr);
}

// The context menu.

std::shared_ptr<QMenu> TextCheckingController::menuAtIndex(qint64 index, bool, CharacterRange* effectiveRange)
{
    // The character at the index, or the one before it (a click on a word's right edge).
    CharacterRange range { 0, 0 };
    QString state;
    for (const qint64 at : { index, index - 1 }) {
        if (at < 0 || at >= m_client.textLength())
            continue;
        state = m_client.annotationAt(spellingStateKey, at, &range);
        if (state == spellingValue || state == grammarValue)
            break;
        state.clear();
    }
    if (state.isEmpty())
        return unlearnMenuAt(index);
    const QString marked = m_client.plainSubstring(range);
    if (effectiveRange)
        *effectiveRange = range;

    auto menu = std::make_shared<QMenu>();
    const std::weak_ptr<TextCheckingController> weak = weak_from_this();
    const bool editable = m_client.checkingAllowsEdits();
    const auto addReplacement = [&](const QString& replacement) {
        QAction* action = menu->addAction(replacement);
        action->setEnabled(editable);
        // The menu may outlive edits of the text: a guess replaces its word only while the word
        // still stands where the menu found it, never text that moved there since.
        connect(action, &QAction::triggered, this, [weak, range, replacement, marked] {
            const auto self = weak.lock();
            if (self && self->m_client.plainSubstring(range) == marked)
                self->m_client.replaceCharacters(range, AttributedString(replacement));
        });
    };
    if (state == spellingValue) {
        const QStringList guesses = m_checker.guesses(marked).mid(0, maxGuessesInMenu);
        for (const QString& guess : guesses)
            addReplacement(guess);
        if (guesses.isEmpty())
            menu->addAction(tr("No Guesses Found"))->setEnabled(false);
        menu->addSeparator();
        QAction* ignore = menu->addAction(tr("Ignore Spelling"));
        ignore->setProperty("spellingWord", marked);
        connect(ignore, &QAction::triggered, this, [weak, ignore] {
            if (const auto self = weak.lock())
                self->ignoreSpelling(ignore);
        });
        QAction* learn = menu->addAction(tr("Learn Spelling"));
        connect(learn, &QAction::triggered, this, [weak, marked] {
            if (const auto self = weak.lock())
                self->learnSpelling(marked);
        });
    } else {
        const auto detail = m_grammarDetails.constFind(marked);
        const QString description = detail != m_grammarDetails.constEnd() && !detail->description.isEmpty()
            ? detail->description
            : tr("This sentence may not be grammatical.");
        menu->addAction(description)->setEnabled(false);
        if (detail != m_grammarDetails.constEnd()) {
            for (const QString& correction : detail->corrections)
                addReplacement(correction);
        }
    }
    return menu;
}
