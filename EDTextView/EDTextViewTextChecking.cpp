#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/TextContentStorage.h"

#include <QCoreApplication>
#include <QMenu>
#include <QRect>

using platform::AttributedString;
using platform::CharacterRange;
using platform::SpellChecker;
using platform::TextAttributes;
using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;

namespace {

TextInputTraitType trait(bool on)
{
    return on ? TextInputTraitType::yes : TextInputTraitType::no;
}

TextAttributes annotationsOnly(const TextAttributes& attributes, const QStringList& valid)
{
    TextAttributes kept;
    for (auto it = attributes.begin(); it != attributes.end(); ++it) {
        if (valid.contains(it.key()))
            kept.insert(it.key(), it.value());
    }
    return kept;
}

} // namespace

void EDTextView::setUpTextChecking()
{
    m_textCheckingController = TextCheckingController::make(*this);
    connect(m_textLayoutManager.get(), &EDTextLayoutManager::didChangeSelection, this, [this] {
        if (m_textCheckingController)
            m_textCheckingController->didChangeSelection();
    });
}

// Settings and traits.

void EDTextView::setIsContinuousSpellCheckingEnabled(bool enabled)
{
    m_isContinuousSpellCheckingEnabled = enabled;
    if (m_textCheckingController)
        m_textCheckingController->didChangeTraits();
}

void EDTextView::setIsGrammarCheckingEnabled(bool enabled)
{
    m_isGrammarCheckingEnabled = enabled;
    if (m_textCheckingController)
        m_textCheckingController->didChangeTraits();
}

TextInputTraitType EDTextView::spellCheckingType() const
{
    return trait(isContinuousSpellCheckingEnabled());
}

void EDTextView::setSpellCheckingType(TextInputTraitType type)
{
    setIsContinuousSpellCheckingEnabled(type == TextInputTraitType::yes);
}

TextInputTraitType EDTextView::grammarCheckingType() const
{
    return trait(isGrammarCheckingEnabled());
}

void EDTextView::setGrammarCheckingType(TextInputTraitType type)
{
    setIsGrammarCheckingEnabled(type == TextInputTraitType::yes);
}

TextInputTraitType EDTextView::autocorrectionType() const
{
    return trait(isAutomaticSpellingCorrectionEnabled());
}

void EDTextView::setAutocorrectionType(TextInputTraitType type)
{
    setIsAutomaticSpellingCorrectionEnabled(type == TextInputTraitType::yes);
}

TextInputTraitType EDTextView::textCompletionType() const
{
    return trait(isAutomaticTextCompletionEnabled());
}

void EDTextView::setTextCompletionType(TextInputTraitType type)
{
    setIsAutomaticTextCompletionEnabled(type == TextInputTraitType::yes);
}

TextInputTraitType EDTextView::textReplacementType() const
{
    return trait(isAutomaticTextReplacementEnabled());
}

void EDTextView::setTextReplacementType(TextInputTraitType type)
{
    setIsAutomaticTextReplacementEnabled(type == TextInputTraitType::yes);
}

TextInputTraitType EDTextView::smartQuotesType() const
{
    return trait(isAutomaticQuoteSubstitutionEnabled());
}

void EDTextView::setSmartQuotesType(TextInputTraitType type)
{
    setIsAutomaticQuoteSubstitutionEnabled(type == TextInputTraitType::yes);
}

// Toggles: each flips its setting (a setting never read takes the user's choice first) and tells
// the spelling panels. A substitution turned on or off is the user's choice from then on, so the
// next note opens with it as well.

void EDTextView::toggleContinuousSpellChecking(QObject*)
{
    setIsContinuousSpellCheckingEnabled(!isContinuousSpellCheckingEnabled());
    SpellChecker::shared().updatePanels();
}

void EDTextView::toggleGrammarChecking(QObject*)
{
    setIsGrammarCheckingEnabled(!isGrammarCheckingEnabled());
    SpellChecker::shared().updatePanels();
}

void EDTextView::toggleAutomaticSpellingCorrection(QObject*)
{
    setIsAutomaticSpellingCorrectionEnabled(!isAutomaticSpellingCorrectionEnabled());
    SpellChecker::setAutomaticSpellingCorrectionEnabled(isAutomaticSpellingCorrectionEnabled());
    SpellChecker::shared().updatePanels();
}

void EDTextView::toggleAutomaticTextCompletion(QObject*)
{
    setIsAutomaticTextCompletionEnabled(!isAutomaticTextCompletionEnabled());
    SpellChecker::setAutomaticTextCompletionEnabled(isAutomaticTextCompletionEnabled());
    SpellChecker::shared().updatePanels();
}

void EDTextView::toggleAutomaticQuoteSubstitution(QObject*)
{
    setIsAutomaticQuoteSubstitutionEnabled(!isAutomaticQuoteSubstitutionEnabled());
    SpellChecker::setAutomaticQuoteSubstitutionEnabled(isAutomaticQuoteSubstitutionEnabled());
    SpellChecker::shared().updatePanels();
}

// Commands the controller carries out.

void EDTextView::checkTextInDocument(QObject* sender)
{
    m_textCheckingController->checkTextInDocument(sender);
}

void EDTextView::checkTextInSelection(QObject* sender)
{
    m_textCheckingController->checkTextInSelection(sender);
}

void EDTextView::checkSpelling(QObject* sender)
{
    m_textCheckingController->checkSpelling(sender);
}

void EDTextView::showGuessPanel(QObject* sender)
{
    m_textCheckingController->showGuessPanel(sender);
}

void EDTextView::orderFrontSubstitutionsPanel(QObject* sender)
{
    m_textCheckingController->orderFrontSubstitutionsPanel(sender);
}

void EDTextView::changeSpelling(QObject* sender)
{
    m_textCheckingController->changeSpelling(sender);
}

void EDTextView::ignoreSpelling(QObject* sender)
{
    m_textCheckingController->ignoreSpelling(sender);
}

void EDTextView::checkTextIn(
    CharacterRange range, platform::TextCheckingTypes types, const QVariantHash& options)
{
    m_textCheckingController->checkTextInRange(range, types, options);
}

void EDTextView::considerTextCheckingFor(CharacterRange range)
{
    m_textCheckingController->considerTextCheckingForRange(range);
}

SpellChecker::DocumentTag EDTextView::spellCheckerDocumentTag() const
{
    return m_textCheckingController->spellCheckerDocumentTag();
}

// The controller's client.

std::optional<CharacterRange> EDTextView::checkingRange(CharacterRange proposed) const
{
    const qint64 length = m_textContentStorage->length();
    if (proposed.isNotFound()) {
        if (proposed.length != 0)
            return std::nullopt;
        proposed = { 0, length };
    }
    const qint64 start = std::clamp<qint64>(proposed.location, 0, length);
    const auto proposedEnd = proposed.end();
    const qint64 end = proposedEnd ? std::clamp<qint64>(*proposedEnd, start, length)
                                   : (proposed.location < 0 ? start : length);
    TextRange range(start, end);
    // The paragraph of an insertion point at the end.
    const TextSelection caret(TextLocation(end), TextSelection::Affinity::upstream);
    const TextSelection paragraph = m_textLayoutManager->textSelectionNavigation().textSelection(
        TextSelection::Granularity::paragraph, caret);
    for (const TextRange& each : paragraph.textRanges)
        range = range.united(each);
    return edtextview::characterRange(range, *m_textContentStorage);
}

std::optional<AttributedString> EDTextView::annotatedSubstring(
    CharacterRange proposed, CharacterRange* actual)
{
    const auto checking = checkingRange(proposed);
    if (!checking)
        return std::nullopt;
    if (checking->length == 0) {
        if (actual)
            *actual = *checking;
        return AttributedString();
    }
    CharacterRange used = *checking;
    const auto text = attributedSubstring(*checking, &used);
    if (!text)
        return std::nullopt;
    if (actual)
        *actual = used;
    const auto usedRange = edtextview::textRange(used, *m_textContentStorage);
    if (!usedRange)
        return std::nullopt;

    // The annotations drawn over the range, measured from its start; runs that begin before it
    // or at its end are not its own.
    const QStringList valid = TextCheckingController::validAnnotations();
    struct Overlay {
        qsizetype start;
        qsizetype end;
        TextAttributes attributes;
    };
    std::vector<Overlay> overlays;
    m_textLayoutManager->enumerateRenderingAttributes(
        usedRange->location, false, [&](const TextAttributes& attributes, TextRange run) {
            if (run.location >= usedRange->endLocation)
                return false;
            if (run.location < usedRange->location)
                return true;
            TextAttributes kept = annotationsOnly(attributes, valid);
            if (!kept.isEmpty()) {
                overlays.push_back({ qsizetype(run.location - usedRange->location),
                    qsizetype(std::min(run.endLocation, usedRange->endLocation) - usedRange->location),
                    std::move(kept) });
            }
            return true;
        });

    // One pass over the text's runs and the annotations together: only annotation keys are kept.
    const QString& string = text->string();
    AttributedString result;
    qsizetype position = 0;
    size_t overlay = 0;
    for (const AttributedString::Run& run : text->runs()) {
        const qsizetype runEnd = position + run.length;
        const TextAttributes base = annotationsOnly(run.attributes, valid);
        while (position < runEnd) {
            while (overlay < overlays.size() && overlays[overlay].end <= position)
                ++overlay;
            qsizetype end = runEnd;
            TextAttributes attributes = base;
            if (overlay < overlays.size() && overlays[overlay].start <= position) {
                end = std::min(end, overlays[overlay].end);
                for (auto it = overlays[overlay].attributes.begin(); it != overlays[overlay].attributes.end();
                     ++it)
                    attributes.insert(it.key(), it.value());
            } else if (overlay < overlays.size()) {
                end = std::min(end, overlays[overlay].start);
            }
            result.append(AttributedString(string.mid(position, end - position), attributes));
            position = end;
        }
    }
    return result;
}

void EDTextView::setAnnotations(const QHash<QString, QString>& annotations, CharacterRange range)
{
    if (range.length <= 0)
        return;
    const auto textRange = edtextview::textRange(range, *m_textContentStorage);
    if (!textRange)
        return;
    // What is set replaces what was there, so that a word checked again and found correct loses
    // its old mark.
    for (const QString& key : TextCheckingController::validAnnotations())
        m_textLayoutManager->removeRenderingAttribute(key, *textRange);
    for (auto it = annotations.begin(); it != annotations.end(); ++it)
        m_textLayoutManager->addRenderingAttribute(it.key(), it.value(), *textRange);
    annotationsDidChange(*textRange);
}

void EDTextView::addAnnotations(const QHash<QString, QString>& annotations, CharacterRange range)
{
    const auto textRange = edtextview::textRange(range, *m_textContentStorage);
    if (!textRange)
        return;
    for (auto it = annotations.begin(); it != annotations.end(); ++it)
        m_textLayoutManager->addRenderingAttribute(it.key(), it.value(), *textRange);
    annotationsDidChange(*textRange);
}

void EDTextView::addAnnotation(
    const QString& key, const QString& value, const std::vector<CharacterRange>& ranges)
{
    const QVariant variant(value);
    std::optional<TextRange> changed;
    for (const CharacterRange& range : ranges) {
        const auto textRange = edtextview::textRange(range, *m_textContentStorage);
        if (!textRange)
            continue;
        m_textLayoutManager->addRenderingAttribute(key, variant, *textRange);
        changed = changed ? changed->united(*textRange) : *textRange;
    }
    if (changed)
        annotationsDidChange(*changed);
}

void EDTextView::removeAnnotation(const QString& key, CharacterRange range)
{
    const auto textRange = edtextview::textRange(range, *m_textContentStorage);
    if (!textRange)
        return;
    // A check goes over every paragraph again, most of them unmarked: nothing to remove, nothing
    // to repaint.
    bool marked = textRange->isEmpty();
    m_textLayoutManager->enumerateRenderingAttributes(
        textRange->location, false, [&](const TextAttributes& attributes, TextRange run) {
            if (marked || run.location >= textRange->endLocation)
                return false;
            marked = attributes.contains(key);
            return !marked;
        });
    if (!marked)
        return;
    m_textLayoutManager->removeRenderingAttribute(key, *textRange);
    annotationsDidChange(*textRange);
}

void EDTextView::annotationsDidChange(TextRange range)
{
    // Marks are drawn for the fragments of the last layout pass only; a pending pass repaints
    // the whole viewport anyway. Marks elsewhere show when they scroll into view.
    if (!m_needsLayout && !m_fragmentViews.empty()) {
        const TextLocation first = m_fragmentViews.front().fragment->rangeInElement().location;
        const TextLocation last = m_fragmentViews.back().fragment->rangeInElement().endLocation;
        if (range.endLocation < first || range.location > last)
            return;
    }
    setNeedsDisplay();
}

void EDTextView::replaceCharacters(CharacterRange range, const AttributedString& text)
{
    // As a user edit: refused by a view that may not be edited, and by the delegate.
    m_textFinderClient->replaceCharacters(range, text.string());
}

void EDTextView::selectAndShowRange(CharacterRange range)
{
    const qint64 length = m_textContentStorage->length();
    const qint64 start = std::clamp<qint64>(range.location, 0, length);
    const auto end = range.end();
    const qint64 stop = end ? std::clamp<qint64>(*end, start, length) : length;
    m_textFinderClient->scrollRangeToVisible({ start, stop - start });
    setSelectedTextRange(TextRange(start, stop), true);
}

QWidget* EDTextView::viewForRange(CharacterRange range, QRect* rect, CharacterRange* actual)
{
    if (actual)
        *actual = checkingRange(range).value_or(range);
    if (rect)
        *rect = firstRect(range);
    return this;
}

qint64 EDTextView::textLength() const
{
    return m_textContentStorage->length();
}

QString EDTextView::annotationAt(const QString& key, qint64 location, CharacterRange* run) const
{
    const auto character = edtextview::textRange(CharacterRange { location, 1 }, *m_textContentStorage);
    if (!character || character->isEmpty())
        return {};
    QString value;
    TextRange covered;
    m_textLayoutManager->enumerateRenderingAttributes(
        character->location, false, [&](const TextAttributes& attributes, TextRange each) {
            if (each.location > character->location)
                return false;
            if (each.endLocation <= character->location)
                return true;
            value = attributes.value(key).toString();
            covered = each;
            return false;
        });
    if (value.isEmpty() || !run)
        return value;
    // Runs split where other drawing attributes (a found match) begin or end; the value goes on
    // over runs that touch.
    const auto sameValue
        = [&](const TextAttributes& attributes) { return attributes.value(key).toString() == value; };
    m_textLayoutManager->enumerateRenderingAttributes(
        covered.endLocation, false, [&](const TextAttributes& attributes, TextRange each) {
            if (each.endLocation <= covered.endLocation)
                return true;
            if (each.location != covered.endLocation || !sameValue(attributes))
                return false;
            covered.endLocation = each.endLocation;
            return true;
        });
    m_textLayoutManager->enumerateRenderingAttributes(
        covered.location, true, [&](const TextAttributes& attributes, TextRange each) {
            if (each.location >= covered.location)
                return true;
            if (each.endLocation != covered.location || !sameValue(attributes))
                return false;
            covered.location = each.location;
            return true;
        });
    *run = edtextview::characterRange(covered, *m_textContentStorage);
    return value;
}

QString EDTextView::plainSubstring(CharacterRange range) const
{
    const qint64 length = m_textContentStorage->length();
    const qint64 start = std::clamp<qint64>(range.location, 0, length);
    const auto end = range.end();
    const qint64 stop = end ? std::clamp<qint64>(*end, start, length) : length;
    return m_textContentStorage->substring(TextRange(start, stop));
}

// After an edit, and the context menu.

void EDTextView::textCheckingDidChangeText(CharacterRange range)
{
    if (m_textCheckingController)
        m_textCheckingController->didChangeTextInRange(range);
    const auto textRange = edtextview::textRange(range, *m_textContentStorage);
    if (!textRange)
        return;
    // The mark of the word being edited goes at once: the run that ends at or holds the edit's
    // start, and the run at the edit. Runs further away are not the edit's: the re-check covers
    // only the edited paragraph and would not put them back.
    const QStringList valid = TextCheckingController::validAnnotations();
    const auto clear = [&](TextRange run) {
        for (const QString& key : valid)
            m_textLayoutManager->removeRenderingAttribute(key, run);
        setNeedsDisplay();
    };
    m_textLayoutManager->enumerateRenderingAttributes(
        textRange->location, true, [&](const TextAttributes&, TextRange run) {
            if (run.endLocation >= textRange->location)
                clear(run);
            return false;
        });
    m_textLayoutManager->enumerateRenderingAttributes(
        textRange->location, false, [&](const TextAttributes&, TextRange run) {
            if (run.location <= textRange->endLocation)
                clear(run);
            return false;
        });
    // Completions offer themselves as a word is typed when the user asked for that.
    if (m_processingKeyEvent && range.length > 0 && isAutomaticTextCompletionEnabled()
        && plainSubstring(range).back().isLetter()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!(m_completionWindowController && m_completionWindowController->isVisible())
                    && hasCompletions())
                    complete(this);
            },
            Qt::QueuedConnection);
    }
}

std::shared_ptr<QMenu> EDTextView::textCheckingMenu(qint64 index, CharacterRange* effectiveRange)
{
    if (!m_textCheckingController)
        return nullptr;
    bool onSelection = false;
    for (const TextRange& range : edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true))
        onSelection = onSelection || range.contains(index);
    return m_textCheckingController->menuAtIndex(index, onSelection, effectiveRange);
}

void EDTextView::addTextCheckingMenus(QMenu& menu)
{
    const auto add = [](QMenu* submenu, const char* title, EDTextViewCommand command, bool toggle) {
        QAction* action = submenu->addAction(QCoreApplication::translate("EDTextView", title));
        action->setData(EDTextViewCommands::name(command));
        action->setCheckable(toggle);
    };
    QMenu* spelling = menu.addMenu(QCoreApplication::translate("EDTextView", "Spelling and Grammar"));
    add(spelling, "Show Spelling and Grammar", EDTextViewCommand::showGuessPanel, false);
    add(spelling, "Check Document Now", EDTextViewCommand::checkTextInDocument, false);
    spelling->addSeparator();
    add(spelling, "Check Spelling While Typing", EDTextViewCommand::toggleContinuousSpellChecking, true);
    add(spelling, "Check Grammar With Spelling", EDTextViewCommand::toggleGrammarChecking, true);
    add(spelling, "Correct Spelling Automatically", EDTextViewCommand::toggleAutomaticSpellingCorrection,
        true);
    QMenu* substitutions = menu.addMenu(QCoreApplication::translate("EDTextView", "Substitutions"));
    add(substitutions, "Show Substitutions", EDTextViewCommand::orderFrontSubstitutionsPanel, false);
    substitutions->addSeparator();
    add(substitutions, "Smart Quotes", EDTextViewCommand::toggleAutomaticQuoteSubstitution, true);
    add(substitutions, "Text Completion", EDTextViewCommand::toggleAutomaticTextCompletion, true);
}
