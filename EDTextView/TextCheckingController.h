#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextRange.h"
#include "platform/ui/SpellChecker.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantHash>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QRect;
class QTimer;
class QWidget;

namespace platform {
class DispatchQueue;
} // namespace platform

// The three values of a text input trait. A view answers only `no` or `yes`; `defaultValue` is
// what a setter may be given.
enum class TextInputTraitType { defaultValue = 0, no = 1, yes = 2 };

// What a text-checking controller asks of the text it checks. Ranges count UTF-16 units from the
// start of the text. Annotations are attribute keys with string values over ranges of the text,
// kept apart from the text itself (only drawn).
class TextCheckingClient {
public:
    virtual ~TextCheckingClient() = default;

    // The client's checking settings.
    virtual TextInputTraitType spellCheckingType() const = 0;
    virtual TextInputTraitType grammarCheckingType() const = 0;
    virtual TextInputTraitType autocorrectionType() const = 0;
    virtual TextInputTraitType textCompletionType() const = 0;
    virtual TextInputTraitType textReplacementType() const = 0;
    virtual TextInputTraitType smartQuotesType() const = 0;

    // The text of the paragraphs the proposed range touches, with the annotations on it; `actual`
    // receives the range returned. The range {notFound, 0} stands for the whole text.
    virtual std::optional<platform::AttributedString> annotatedSubstring(
        platform::CharacterRange proposed, platform::CharacterRange* actual)
        = 0;
    virtual void setAnnotations(const QHash<QString, QString>& annotations, platform::CharacterRange range)
        = 0;
    virtual void addAnnotations(const QHash<QString, QString>& annotations, platform::CharacterRange range)
        = 0;
    virtual void removeAnnotation(const QString& key, platform::CharacterRange range) = 0;
    // A user edit: the client may refuse it.
    virtual void replaceCharacters(platform::CharacterRange range, const platform::AttributedString& text)
        = 0;
    virtual void selectAndShowRange(platform::CharacterRange range) = 0;
    // The widget that shows the range; `firstRect` receives the range's first rectangle on the
    // screen and `actual` the paragraphs the range touches.
    virtual QWidget* viewForRange(
        platform::CharacterRange range, QRect* firstRect, platform::CharacterRange* actual)
        = 0;

    // What a controller of ours needs beyond that to check the way a typist expects.
    virtual qint64 textLength() const = 0;
    // Adds one annotation over each of the ranges (in text order): the marks of a paragraph
    // checked, in one call rather than one for each.
    virtual void addAnnotation(
        const QString& key, const QString& value, const std::vector<platform::CharacterRange>& ranges)
        = 0;
    // The value of the annotation on the character at `location`; empty where it has none. `run`
    // receives the whole range that value covers without a break.
    virtual QString annotationAt(
        const QString& key, qint64 location, platform::CharacterRange* run = nullptr) const = 0;
    // A few characters of the text, without attributes (clamped into the text).
    virtual QString plainSubstring(platform::CharacterRange range) const = 0;
    // The last range of the last selection; {notFound, 0} without one.
    virtual platform::CharacterRange checkingSelectedRange() const = 0;
    virtual bool checkingAllowsEdits() const = 0;
    // Whether the edit being reported comes from the keyboard or an input method.
    virtual bool checkingEditWasTyped() const = 0;
    // Whether it only shows what an input method is composing: such text is the input method's
    // until committed.
    virtual bool checkingEditIsProvisional() const { return false; }
};

// Checks a client's text for spelling and grammar, off the main thread, and keeps the client's
// annotations up to date: the whole text when checking is turned on or a new text is set, only the
// paragraphs an edit touched after that. It also offers the spelling items of a context menu, the
// spelling and substitutions panels, and the automatic substitutions the client's traits ask for
// (quotes, spelling correction), each an edit of its own that Undo takes back.
//
// Rules:
// - Everything but the checking itself runs on the main thread. A worker checks a snapshot of at
//   most `snapshotLength` units (whole paragraphs) at a time, one snapshot in flight per
//   controller, and sends its results back every `batchLength` units or so, so that marks show as
//   the check goes on and the main thread handles little at a time.
// - Results come back per paragraph. A paragraph an edit touched since its snapshot is dropped (the
//   edit queued it again); the others are moved by the edits made meanwhile, and replace every mark
//   of their paragraph.
// - An edit queues its paragraphs and waits `recheckDelayMilliseconds` of quiet before checking, so
//   that typing never waits and a word is not judged half typed. The misspelt word at the caret
//   being typed is not marked until the caret leaves it.
// - In a paragraph longer than `wholeRecheckLength`, an edit checked for spelling only queues the
//   words it touched (cut at white space) rather than the paragraph: a keystroke in a long line
//   must not re-mark the whole line on the main thread. Grammar needs whole paragraphs.
// - Turning a kind of checking on or off drops what was queued, clears every mark, and checks the
//   whole text again for what is still on.
class TextCheckingController : public QObject, public std::enable_shared_from_this<TextCheckingController> {
    Q_OBJECT
public:
    static constexpr qsizetype snapshotLength = 1024 * 1024;
    static constexpr qsizetype batchLength = 64 * 1024;
    static constexpr int recheckDelayMilliseconds = 250;
    static constexpr qsizetype wholeRecheckLength = batchLength;
    // The annotation key, and its values for a misspelt word and a sentence that does not parse.
    static const QString spellingStateKey;
    static inline const QString spellingValue = QStringLiteral("1");
    static inline const QString grammarValue = QStringLiteral("2");
    static constexpr int maxGuessesInMenu = 8;

    static std::shared_ptr<TextCheckingController> make(TextCheckingClient& client);
    ~TextCheckingController() override;

    TextCheckingClient& client() const { return m_client; }
    platform::SpellChecker& spellChecker() const { return m_checker; }
    // The annotation keys this controller writes and reads.
    static QStringList validAnnotations();
    // The tag of this text's ignored words; made on first use.
    platform::SpellChecker::DocumentTag spellCheckerDocumentTag();
    // What is checked as the text changes, from the client's traits.
    platform::TextCheckingTypes continuousTypes() const;

    // Told after every edit with the range of the new text.
    void didChangeTextInRange(platform::CharacterRange range);
    void didChangeSelection();
    // Told when the client's spelling or grammar setting changed.
    void didChangeTraits();
    // Checks the range's paragraphs soon, for what is checked continuously.
    void considerTextCheckingForRange(platform::CharacterRange range);
    // Checks the range's paragraphs now for `types`; no option is known.
    void checkTextInRange(
        platform::CharacterRange range, platform::TextCheckingTypes types, const QVariantHash& options);

    // Commands. `sender` gives the word where one is needed: a "spellingWord" property, else its
    // "text" (a menu item, a text field); otherwise the selected text is taken.
    void checkTextInDocument(QObject* sender);
    void checkTextInSelection(QObject* sender);
    // Selects and shows the next misspelt word (or sentence that does not parse) after the
    // selection, going round to the start, and shows it in the spelling panel when that is open.
    void checkSpelling(QObject* sender);
    void showGuessPanel(QObject* sender);
    void orderFrontSubstitutionsPanel(QObject* sender);
    // Replaces the selection with the sender's text.
    void changeSpelling(QObject* sender);
    void ignoreSpelling(QObject* sender);
    // Adds the word to the personal word list; every open text drops its marks on it.
    void learnSpelling(const QString& word);
    // Takes the word out of the personal word list; every open text marks it again.
    void unlearnSpelling(const QString& word);
    // Checks every open text again, after the dictionary changed.
    static void checkEveryTextAgain();

    // The spelling items for the character at `index` (or just before it): the guesses for a
    // misspelt word, "Ignore Spelling" and "Learn Spelling"; the engine's note and corrections for
    // a sentence that does not parse; "Unlearn Spelling" for a word learnt before. None anywhere
    // else. `effectiveRange` receives the marked range.
    std::shared_ptr<QMenu> menuAtIndex(
        qint64 index, bool clickedOnSelection, platform::CharacterRange* effectiveRange);

    // Nothing queued, nothing waiting for quiet, nothing being checked.
    bool isIdle() const;

signals:
    // A snapshot's results were applied over [location, location + length) of the text as it was
    // then.
    void didCheck(qint64 location, qint64 length);
    void becameIdle();

private:
    struct Range {
        qint64 start = 0;
        qint64 end = 0;
    };
    // What a queued range stands for.
    enum class Extent {
        // Every paragraph it touches.
        paragraphs,
        // Itself alone: whole words inside one long paragraph.
        words,
    };
    struct Pending {
        Range range;
        platform::TextCheckingTypes types = 0;
        // Edited text waits for a pause in typing; other work goes on meanwhile.
        bool waitsForQuiet = false;
        Extent extent = Extent::paragraphs;
    };
    enum class Queueing {
        // First in the queue, checked as soon as nothing is in flight.
        now,
        // First in the queue, after a pause in typing.
        afterQuiet,
        // Last in the queue, after a pause in typing.
        whenIdle,
    };
    struct Edit {
        qint64 location = 0;
        qint64 oldLength = 0;
        qint64 newLength = 0;
    };
    // The edits made since the oldest snapshot still in use, so that ranges of a snapshot can be
    // moved to the text as it is now.
    class EditLog {
    public:
        using Sequence = quint64;
        Sequence hold();
        void release(Sequence sequence);
        void record(const Edit& edit);
        // The range moved through every edit since `since`; none when an edit touched it.
        std::optional<Range> map(Range range, Sequence since) const;
        // The range moved through every edit since `since`, widened over the new text of any edit
        // that touched it.
        Range cover(Range range, Sequence since) const;

    private:
        Sequence m_count = 0; // edits recorded so far
        Sequence m_base = 0; // the sequence of m_edits.front()
        std::vector<Edit> m_edits;
        std::vector<Sequence> m_holders;
    };
    struct ParagraphResults {
        Range range; // in the snapshot: a paragraph without its line end, or a piece of a long one
        std::vector<platform::TextCheckingResult> results;
    };
    struct InFlight {
        quint64 job = 0;
        Range range;
        platform::TextCheckingTypes types = 0;
        Extent extent = Extent::paragraphs;
        EditLog::Sequence since = 0;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };

    TextCheckingController(TextCheckingClient& client, platform::SpellChecker& checker);

    static Range moved(Range range, const Edit& edit);
    // The paragraphs the range touches, in the text as it is now.
    std::optional<Range> paragraphsOf(platform::CharacterRange range);
    // What an edit of `edited` in `paragraphs` gets checked again: the words it touched where the
    // paragraphs are long and only spelling is checked, else the paragraphs.
    std::pair<Range, Extent> recheckRange(
        Range paragraphs, platform::CharacterRange edited, platform::TextCheckingTypes types) const;
    // Queues the range and starts what can start.
    void enqueue(Range range, platform::TextCheckingTypes types, Queueing queueing,
        Extent extent = Extent::paragraphs);
    void quietDidBegin();
    void dispatchNext();
    void batchDidArrive(quint64 job, const std::vector<ParagraphResults>& paragraphs, bool last);
    // `offset` takes the results' offsets (in the snapshot) to the text as it is now.
    void applyParagraph(
        Range paragraph, const std::vector<platform::TextCheckingResult>& results, qint64 offset);
    void cancelEverything();
    void notifyIfIdle();
    // Tells the user that a change of the personal word list holds for this run only.
    void alertWordListNotSaved(const QString& word, const platform::PlatformError& error);
    // "Unlearn Spelling" for a learnt word at the index or just before it; none for any other word.
    std::shared_ptr<QMenu> unlearnMenuAt(qint64 index);
    // Drops the marks of the words that learning or ignoring `word` made correct.
    void unmarkWordsNowCorrect(const QString& word);
    // Marks the places of `word` that unlearning it made misspelt.
    void markWordAgain(const QString& word);
    // A check in flight may have looked the word up before the change: its range is checked again.
    void restartCheckInFlight();
    void substituteAfterTyping(platform::CharacterRange range);
    void correctWordBefore(qint64 location);
    void followCorrections(const Edit& edit);
    // The text from the white space before `location` up to it; none when there is no white
    // space within reach (a run that long is no prose).
    std::optional<QString> runBefore(qint64 location) const;
    QString wordFromSender(QObject* sender) const;
    QWidget* view();
    static std::vector<TextCheckingController*>& liveControllers();

    TextCheckingClient& m_client;
    platform::SpellChecker& m_checker;
    std::shared_ptr<platform::DispatchQueue> m_queue;
    platform::SpellChecker::DocumentTag m_documentTag = platform::SpellChecker::noDocument;
    platform::TextCheckingTypes m_continuousTypes = 0;
    quint64 m_lastJob = 0;
    qint64 m_textLength = 0;
    EditLog m_editLog;
    std::deque<Pending> m_pending;
    std::optional<InFlight> m_inFlight;
    QTimer* m_quietTimer = nullptr;
    // Where the last typed edit ended, while the caret has not moved away from it.
    std::optional<qint64> m_typingAt;
    // Whether that edit put text in (rather than only taking some out).
    bool m_typedInsertion = false;
    // The paragraph (or the words) of a misspelt word left unmarked because it was being typed.
    std::optional<Range> m_deferred;
    Extent m_deferredExtent = Extent::paragraphs;
    // What the grammar engine said about the sentences it marked, by their text.
    QHash<QString, platform::TextCheckingResult> m_grammarDetails;
    // The latest automatic corrections, followed through the edits since: one that an edit puts
    // back as typed (Undo) was not wanted.
    struct Correction {
        Range range;
        QString typed;
    };
    std::vector<Correction> m_corrections;
    // Words whose automatic correction the user took back: left as typed in this text from then on.
    QSet<QString> m_keptAsTyped;
};
