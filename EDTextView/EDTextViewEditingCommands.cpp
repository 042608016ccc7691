#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"

#include <QGuiApplication>
#include <QHash>
#include <QInputMethod>
#include <QLocale>
#include <QScreen>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QThread>

using platform::AttributedString;
using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;

namespace {

// Completion pop-ups open this far left of the caret, at the bottom of its line.
constexpr double completionAnchorOffsetX = -14.0;

// Where a completion pop-up for a caret goes, in global coordinates: the top-left of the list, and
// the top of the caret's line for a list with no room below it. None when the caret is not laid
// out.
struct CompletionPlace {
    QPoint topLeft;
    int lineTop = 0;
    bool caretIsInView = false;
    // A line at the foot of the screen puts the point just past it.
    QScreen* screen = nullptr;
};

std::optional<CompletionPlace> completionPlace(EDTextView& view, TextLocation caret)
{
    // Below the letters, where the caret stands, not the foot of a row a line-height multiple made
    // taller.
    const auto frame = edtextview::glyphSegmentFrame(
        view.textLayoutManager(), TextRange(caret), platform::TextLayoutManager::upstreamAffinity);
    if (!frame)
        return std::nullopt;
    const QPointF anchor = frame->topLeft() + QPointF(completionAnchorOffsetX, frame->height());
    const QPointF caretTop = view.viewToViewport(frame->topLeft());
    QWidget* viewport = view.viewport();
    const QPoint topLeft = viewport->mapToGlobal(view.viewToViewport(anchor)).toPoint();
    QScreen* screen = QGuiApplication::screenAt(topLeft);
    return CompletionPlace { topLeft, viewport->mapToGlobal(caretTop).toPoint().y(),
        viewport->rect().contains(caretTop.toPoint()), screen ? screen : view.screen() };
}

// Kept on the screen, a list with no room below the line would be pushed up over the letters
// being completed: it goes above the line instead, where there is room for it.
void keepOffTheLine(QWidget& popUp, const CompletionPlace& place)
{
    if (!place.screen)
        return;
    const QRect available = place.screen->availableGeometry();
    QPoint position(std::clamp(place.topLeft.x(), available.left(),
                        std::max(available.left(), available.right() + 1 - popUp.width())),
        place.topLeft.y());
    if (position.y() + popUp.height() > available.bottom() + 1) {
        position.setY(place.lineTop - popUp.height() >= available.top()
                ? place.lineTop - popUp.height()
                : std::max(available.top(), available.bottom() + 1 - popUp.height()));
    }
    popUp.move(position);
}

QString uppercased(const QString& text)
{
    return QLocale().toUpper(text);
}

QString lowercased(const QString& text)
{
    return QLocale().toLower(text);
}

// The title case of a word's first character: "\u01C5" for "\u01C6", "Fi" for the ligature
// "\uFB01"; else the locale's capital ("\u0130" for "i" in Turkish).
QString titleCased(const QLocale& locale, const QString& first)
{
    const char32_t c = first.size() == 2 ? QChar::surrogateToUcs4(first[0], first[1]) : first[0].unicode();
    if (QChar::toTitleCase(c) != QChar::toUpper(c)) {
        const char32_t title = QChar::toTitleCase(c);
        return QString::fromUcs4(&title, 1);
    }
    const QString upper = locale.toUpper(first);
    if (upper.size() <= first.size())
        return upper;
    // A character that becomes several capitals keeps only the first of them a capital.
    const qsizetype head = upper.front().isHighSurrogate() && upper.size() > 1 ? 2 : 1;
    return upper.left(head) + locale.toLower(upper.mid(head));
}

// Whether lower case changes any character of `text`. Only capitals and title-case letters have
// lower cases that depend on the language or on what stands around them (a Turkish "I", a final
// Greek sigma, the one capital whose lower case is two characters): the others change only where
// they have a lower case of their own.
bool changesInLowerCase(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Letter_Uppercase || category == QChar::Letter_Titlecase
            || QChar::toLower(c) != c)
            return true;
    }
    return false;
}

// Each word's first character in title case, the rest in lower case. Over a long text most words
// are in lower case after their first letter already: those stay as they are, and each first
// character's title case is worked out once.
QString capitalized(const QString& text)
{
    const QLocale locale;
    QHash<char32_t, QString> titles;
    QString result;
    result.reserve(text.size());
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    qsizetype done = 0;
    for (qsizetype at = words.toNextBoundary(); at != -1; at = words.toNextBoundary()) {
        const QStringView piece = QStringView(text).sliced(done, at - done);
        const bool isWord
            = !piece.isEmpty() && (piece.front().isLetterOrNumber() || piece.front().isSurrogate());
        if (isWord) {
            const qsizetype first = piece.front().isHighSurrogate() && piece.size() > 1 ? 2 : 1;
            const QStringView head = piece.first(first);
            const char32_t key = first == 2 ? QChar::surrogateToUcs4(head[0], head[1]) : head[0].unicode();
            auto title = titles.constFind(key);
            if (title == titles.constEnd())
                title = titles.insert(key, titleCased(locale, head.toString()));
            result += *title;
            const QStringView rest = piece.sliced(first);
            if (changesInLowerCase(rest))
                result += locale.toLower(rest.toString());
            else
                result += rest;
        } else {
            result += piece;
        }
        done = at;
    }
    result += QStringView(text).sliced(done);
    return result;
}

// The transformed text with the formatting it had: character by character when the length stays,
// else the formatting of its first character throughout.
AttributedString transformed(const AttributedString& original, const QString& text)
{
    if (text.size() == original.length()) {
        AttributedString result(text);
        original.enumerateAttributes({ 0, original.length() },
            [&](const platform::TextAttributes& attributes, AttributedString::Span span) {
                result.setAttributes(attributes, span.start, span.length);
                return true;
            });
        return result;
    }
    return AttributedString(text, original.attributes(0));
}

} // namespace

void EDTextView::uppercaseWord(QObject*)
{
    transformWords(uppercased);
}

void EDTextView::lowercaseWord(QObject*)
{
    transformWords(lowercased);
}

void EDTextView::capitalizeWord(QObject*)
{
    transformWords(capitalized);
}

void EDTextView::transformWords(QString (*transform)(const QString&))
{
    if (!m_isEditable)
        return;
    // The words are read with their formatting: provisional text in them is typed text first.
    if (commitMarkedTextForEdit())
        QGuiApplication::inputMethod()->reset();
    // Every selection covers whole words: a caret its word, a range the words it touches.
    platform::TextSelectionNavigation& navigation = m_textLayoutManager->textSelectionNavigation();
    std::vector<TextSelection> words;
    for (const TextSelection& selection : m_textLayoutManager->textSelections())
        words.push_back(navigation.textSelection(TextSelection::Granularity::word, selection));
    m_textLayoutManager->setTextSelections(std::move(words));

    const std::vector<TextRange> ranges
        = mergedTextRanges(edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true));
    if (ranges.empty())
        return;
    std::vector<AttributedString> replacements;
    std::vector<QString> plain;
    for (const TextRange& range : ranges) {
        const AttributedString original = m_textContentStorage->attributedString(range);
        replacements.push_back(transformed(original, transform(original.string())));
        plain.push_back(replacements.back().string());
    }
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (!shouldChangeText(ranges[i], plain[i]))
            return;
    }
    // Undone, words changed at several selections leave a caret at each.
    const bool wasEditing = m_editingAtSeveralCarets;
    m_editingAtSeveralCarets = ranges.size() > 1;
    // Last to first: a change of length (German "ß" is "SS" in upper case) moves only what follows
    // it, which is done by then. A delegate told of a change may set a whole new text, in which
    // the words left are no longer where they were.
    const quint64 textsSet = m_textsSet;
    for (size_t i = ranges.size(); i-- > 0 && m_textsSet == textsSet;) {
        if (replacements[i].string() != m_textContentStorage->substring(ranges[i]))
            replaceCharacters(ranges[i], replacements[i], false);
    }
    m_editingAtSeveralCarets = wasEditing;
    if (m_textsSet != textsSet)
        return;
    // The changed words stay selected, where they are now.
    std::vector<TextSelection> selections;
    qint64 shift = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const TextLocation start = ranges[i].location + shift;
        selections.emplace_back(TextRange(start, start + replacements[i].length()),
            TextSelection::Affinity::downstream, TextSelection::Granularity::word);
        shift += replacements[i].length() - ranges[i].length();
    }
    m_textLayoutManager->setTextSelections(std::move(selections));
    updateTypingAttributes();
    m_needsScrollToSelection = true;
    setNeedsLayout();
}

EDCompletionWindowController& EDTextView::completionWindowController()
{
    if (!m_completionWindowController) {
        m_completionWindowController = std::make_unique<EDCompletionWindowController>(
            m_delegateProxy->completionViewController(*this));
        // The items were asked for at a caret in the text as it was: once either changes by any
        // other way than a typed key (which closes the pop-up itself), a chosen item would land
        // where it no longer fits.
        EDCompletionWindowController* controller = m_completionWindowController.get();
        const auto close = [controller] { controller->close(); };
        connect(m_textContentStorage.get(), &platform::TextContentStorage::textDidChange, controller, close);
        connect(
            m_textLayoutManager.get(), &platform::TextLayoutManager::selectionDidChange, controller, close);
        // Scrolled, the list goes with its caret, and closes once the caret is out of sight. After
        // the layout pass the scroll asks for, which lays out what came into view.
        const auto follow = [this, controller] {
            QMetaObject::invokeMethod(
                controller,
                [this, controller] {
                    if (!controller->isVisible() || !controller->window())
                        return;
                    layoutIfNeeded();
                    const std::vector<TextLocation> carets
                        = edtextview::insertionPointLocations(*m_textLayoutManager);
                    const auto place = carets.empty() ? std::nullopt : completionPlace(*this, carets.front());
                    if (!place || !place->caretIsInView) {
                        controller->close();
                        return;
                    }
                    keepOffTheLine(*controller->window(), *place);
                },
                Qt::QueuedConnection);
        };
        connect(verticalScrollBar(), &QScrollBar::valueChanged, controller, follow);
        connect(horizontalScrollBar(), &QScrollBar::valueChanged, controller, follow);
        connect(controller, &EDCompletionWindowController::hostGeometryChanged, controller, follow);
    }
    return *m_completionWindowController;
}

bool EDTextView::hasCompletions() const
{
    if (m_completionWindowController && m_completionWindowController->isVisible())
        return true;
    const std::vector<TextLocation> carets = edtextview::insertionPointLocations(*m_textLayoutManager);
    if (carets.empty() || !delegate())
        return false;
    const auto items = m_delegateProxy->completionItems(const_cast<EDTextView&>(*this), carets.front());
    return items && !items->empty();
}

void EDTextView::closeCompletion()
{
    // A pop-up never made needs no closing.
    if (m_completionWindowController)
        m_completionWindowController->close();
}

void EDTextView::complete(QObject*)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_completionWindowController && m_completionWindowController->isVisible()) {
        m_completionWindowController->close();
        return;
    }
    const std::vector<TextLocation> carets = edtextview::insertionPointLocations(*m_textLayoutManager);
    if (carets.empty()) {
        closeCompletion();
        return;
    }
    const TextLocation location = carets.front();
    layoutIfNeeded();
    const std::optional<CompletionPlace> place = completionPlace(*this, location);
    if (!place) {
        closeCompletion();
        return;
    }
    const EDCompletionItems items
        = m_delegateProxy->completionItems(*this, location).value_or(EDCompletionItems());
    if (items.empty()) {
        closeCompletion();
        return;
    }
    if (!window())
        return;
    EDCompletionWindowController& controller = completionWindowController();
    controller.show(items, this, place->topLeft);
    controller.setDelegate(this);
    if (controller.window())
        keepOffTheLine(*controller.window(), *place);
}

void EDTextView::cancelOperation(QObject* sender)
{
    // Escape closes what is open over the text: the completion pop-up first, then the find bar.
    if (!(m_completionWindowController && m_completionWindowController->isVisible())
        && m_textFinder->isFindBarVisible()) {
        hideFindInterface(sender);
        return;
    }
    complete(sender);
}

void EDTextView::completionWindowController(
    EDCompletionWindowController&, const std::shared_ptr<EDCompletionItem>& item, EDTextMovement)
{
    m_delegateProxy->insertCompletionItem(*this, item);
}
